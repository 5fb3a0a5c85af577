// The main window on the simulated bench, found by its component names.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include "gui/SingleInstance.h"
#include "gui/TMain.h"

using namespace tondrel;
using namespace tondrel::gui;

namespace {

const QString kSamples = QStringLiteral(TONDREL_SOURCE_ROOT "/samples/");

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<TMain> main;
    int languageAsked = 0;
    QStringList questions;

    explicit Window(const std::string& bench, int language = 2) {
        TMainOptions options;
        options.Port.Port = bench;
        options.Port.SimState = (dir.path() + "/chip.state").toStdString();
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        main = std::make_unique<TMain>(options);
        main->LanguageChooser = [this, language] {
            ++languageAsked;
            return language;
        };
        main->Question = [this](const QString& q) {
            questions << q;
            return false;
        };
        main->Information = [this](const QString& q) { questions << q; };
        QString error;
        if (!main->Initialize(error)) qFatal("window did not start: %s", qPrintable(error));
    }
    QString Board() const { return main->findChild<QPlainTextEdit*>("msgboard")->toPlainText(); }
    QAction* Action(const char* name) const { return main->findChild<QAction*>(name); }
    QMenu* Menu(const char* name) const { return main->findChild<QMenu*>(name); }
};

}  // namespace

class TMainTest : public QObject {
    Q_OBJECT

  private slots:
    void FirstStartAsksForTheLanguage() {
        Window w("sim:ATmega16", 2);
        QCOMPARE(w.languageAsked, 1);
        QVERIFY(w.Action("Mchinese")->isChecked());
        QVERIFY(!w.Action("Menglish")->isChecked());
        QCOMPARE(w.Menu("Moper")->title(), QString::fromUtf8("芯片操作"));
        // Chip commands wait for a chip; the search is open because the adapter answered.
        QVERIFY(!w.Menu("Moper")->isEnabled());
        QVERIFY(w.Menu("MSearchChip")->isEnabled());
        QVERIFY(w.Board().contains(QString::fromUtf8("单片机 下载状态")));
    }

    void TheRealLanguageDialogOffersItsTwoEntries() {
        QTemporaryDir dir;
        TMainOptions options;
        options.Port.Port = "sim:ATmega16";
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        TMain main(options);
        QStringList entries;
        QTimer::singleShot(0, [&] {
            auto* dialog = main.findChild<QDialog*>("TLanguageFrm");
            QVERIFY(dialog);
            auto* combo = dialog->findChild<QComboBox*>("ComboBox1");
            QVERIFY(!combo->isEditable());  // typed text could name no language at all
            for (int i = 0; i < combo->count(); ++i) entries << combo->itemText(i);
            combo->setCurrentIndex(1);
            dialog->findChild<QPushButton*>("BitBtn1")->click();
        });
        QString error;
        QVERIFY(main.Initialize(error));
        QCOMPARE(entries, (QStringList{"English Version", QString::fromUtf8("简 体 中 文")}));
        QVERIFY(main.findChild<QAction*>("Mchinese")->isChecked());
    }

    void AutoSearchFillsTheBoardAndOpensTheChipMenus() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        QVERIFY(w.Board().contains("chip detected:ATmega16"));
        QVERIFY(w.Menu("Mfile")->isEnabled());
        QVERIFY(w.Menu("Moper")->isEnabled());
        QCOMPARE(w.main->findChild<QLabel*>("StatusPanel0")->text(), QString("chip: ATmega16"));
        auto* grid = w.main->findChild<QTableView*>("FlashDataBoard");
        // 16 KiB as words, sixteen words a row, plus the header row.
        QCOMPARE(grid->model()->rowCount(), 16384 / 32 + 1);
        QCOMPARE(grid->model()->index(1, 1).data().toString(), QString("FFFF"));
    }

    void NoAdapterSaysSoAndKeepsChipMenusShut() {
        Window w("sim:none", 1);
        w.Action("Mautosearch")->trigger();
        QVERIFY(w.Board().contains("hardware disconnected or no electricity !"));
        QVERIFY(!w.Menu("Moper")->isEnabled());
        QCOMPARE(w.main->findChild<QLabel*>("HardwareVer")->text(), QString("unknown hardware!"));
    }

    void LoadingAHexFileFillsTheGridAndAutoProgrammingCompletes() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        w.main->FileChooser = [](const QString&, const QString&, bool) {
            return kSamples + "atmega16-blink.hex";
        };
        w.Action("MopenFlashFile")->trigger();
        auto* grid = w.main->findChild<QTableView*>("FlashDataBoard");
        QVERIFY(grid->model()->index(1, 1).data().toString() != "FFFF");
        QVERIFY(w.Board().contains("open Flash file already"));
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel1")->text().endsWith("atmega16-blink.hex"));

        w.Action("MautoProgram")->trigger();
        QVERIFY(w.Board().contains(QString::fromUtf8(">>auto program completed！")));
        auto* pb = w.main->findChild<QProgressBar*>("PB");
        QCOMPARE(pb->value(), pb->maximum());
        // Operation controls are back once the run ended.
        QVERIFY(w.Menu("Moper")->isEnabled());

        w.Action("MverifyFlash")->trigger();
        QVERIFY(w.Board().contains("FLASH verified successfully"));
    }

    void AdapterLostDuringAWriteKeepsTheChipMenusShut() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        QVERIFY(w.Menu("Moper")->isEnabled());
        // The adapter goes away: the write's own detection finds nothing and shuts the chip
        // menus; the end of the run must not open them again.
        w.main->Session()->PortBase = 0x3BC;  // a connector with nothing on it
        w.Action("MwriteFlash")->trigger();
        QVERIFY(w.Board().contains("hardware disconnected or no electricity !"));
        QVERIFY(!w.Menu("Moper")->isEnabled());
        QVERIFY(!w.Menu("Mfile")->isEnabled());
        QVERIFY(!w.main->findChild<QToolBar*>("FlashToolBar")->isEnabled());
    }

    void AnOperationLocksTheWindowAndRefusesToCloseUntilItEnds() {
        Window w("sim:ATmega16", 1);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        // A full 16 KiB image, so the write runs long enough to take events in between.
        auto& flash = w.main->Session()->Bufs.FlashBuffer;
        for (size_t i = 0; i < flash.size(); ++i) flash[i] = uint8_t(i * 7 + 1);
        bool busy = false, locked = false, closed = true;
        QTimer::singleShot(0, [&] {
            busy = w.main->Session()->Busy();
            locked = !w.Menu("Moper")->isEnabled() && !w.Menu("Mfile")->isEnabled() &&
                     !w.main->findChild<QToolBar*>("FlashToolBar")->isEnabled() &&
                     !w.main->findChild<QWidget*>("speedbar")->isEnabled();
            closed = w.main->close();
        });
        w.Action("MwriteFlash")->trigger();
        QVERIFY(busy);
        QVERIFY(locked);
        QVERIFY(!closed);
        QVERIFY(
            w.questions.contains("An operation is running; wait for it to end before quitting."));
        QVERIFY(w.main->isVisible());
        QVERIFY(w.Board().contains(">>write FLASH successfully"));
        QVERIFY(w.Menu("Moper")->isEnabled());
        QVERIFY(w.main->findChild<QWidget*>("speedbar")->isEnabled());
        QVERIFY(w.main->close());
    }

    void LptOptionPutsTheSessionOnThatConnector() {
        // The bench sits on LPT2; the stored choice (LPT1 on a new database) must not win.
        QTemporaryDir dir;
        TMainOptions options;
        options.Port.Port = "sim:ATmega16";
        options.Port.Lpt = 2;
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        TMain main(options);
        main.LanguageChooser = [] { return 1; };
        QString error;
        QVERIFY(main.Initialize(error));
        QVERIFY(main.findChild<QAction*>("Mp2")->isChecked());
        QVERIFY(!main.findChild<QAction*>("Mp1")->isChecked());
        main.findChild<QAction*>("Mautosearch")->trigger();
        QVERIFY(main.findChild<QPlainTextEdit*>("msgboard")
                    ->toPlainText()
                    .contains("chip detected:ATmega16"));
        QCOMPARE(main.findChild<QLabel*>("StatusPort")->text(),
                 QString("port: ") + QString::fromStdString(main.Ports()->Describe()));
    }

    void ShippedPicturesAndSoundsAreThere() {
        Window w("sim:ATmega16", 1);
        for (const char* wav : {":/wav/detect.wav", ":/wav/err.wav", ":/wav/ok.wav"})
            QVERIFY2(QFile::exists(wav), wav);
        for (auto* bar : w.main->findChildren<QToolBar*>()) {
            for (QAction* a : bar->actions())
                QVERIFY2(!a->icon().pixmap(24, 24).isNull(), qPrintable(a->objectName()));
        }
        QCOMPARE(w.main->findChild<QAction*>("autoSearchBtn")->toolTip(),
                 QString("search chip ID automatically"));
        w.Action("Mchinese")->trigger();
        QCOMPARE(w.main->findChild<QAction*>("autoSearchBtn")->toolTip(),
                 QString::fromUtf8("自动搜索"));
        QVERIFY(!w.main->windowIcon().isNull());
    }

    void SavingWritesTheFile() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        const QString target = w.dir.path() + "/saved.hex";
        w.main->FileChooser = [&](const QString&, const QString&, bool save) {
            return save ? target : kSamples + "atmega16-blink.hex";
        };
        w.Action("MopenFlashFile")->trigger();
        w.Action("MsaveFlashHex")->trigger();
        QFile saved(target);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().startsWith(":"));
    }

    void SwitchingLanguageSwapsEveryCaptionAndEmptiesTheNotes() {
        Window w("sim:ATmega16", 2);
        auto* memo = w.main->findChild<QPlainTextEdit*>("Memo1");
        QVERIFY(memo->toPlainText().startsWith(QString::fromUtf8("[自动编程] 的流程设置说明：")));
        QCOMPARE(memo->toPlainText().split('\n').size(), 6);

        w.Action("Menglish")->trigger();
        QVERIFY(w.Action("Menglish")->isChecked());
        QVERIFY(memo->toPlainText().isEmpty());
        QCOMPARE(w.Action("Mearse")->text(), QString("chip earse"));
        QCOMPARE(w.Action("Mmaunal")->text(), QString("select chip maunally/management..."));
        QCOMPARE(w.main->findChild<QCheckBox*>("isEraseAll")->text(),
                 QString::fromUtf8("3.  erase all（FLASH+EEPROM）"));
        QCOMPARE(w.main->findChild<QGroupBox*>("GBspeed")->title(),
                 QString("speed and progression"));
        // Items outside the table keep their caption in both languages.
        QCOMPARE(w.Action("Mp2")->text(), QString::fromUtf8("LPT2（0X278）"));

        // Clicking the checked item also swaps: back to Chinese.
        w.Action("Menglish")->trigger();
        QVERIFY(w.Action("Mchinese")->isChecked());
        QCOMPARE(w.Action("Mearse")->text(), QString::fromUtf8("擦除"));
        QCOMPARE(memo->toPlainText().split('\n').size(), 6);
    }

    void SettingsSurviveARestart() {
        QTemporaryDir dir;
        TMainOptions options;
        options.Port.Port = "sim:ATmega16";
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        {
            TMain first(options);
            first.LanguageChooser = [] { return 1; };
            QString error;
            QVERIFY(first.Initialize(error));
            first.findChild<QCheckBox*>("isEraseAll")->setChecked(false);
            first.findChild<QAction*>("Msound")->trigger();
            first.close();
        }
        TMain second(options);
        int asked = 0;
        second.LanguageChooser = [&] { return ++asked; };
        QString error;
        QVERIFY(second.Initialize(error));
        QCOMPARE(asked, 0);
        QVERIFY(second.findChild<QAction*>("Menglish")->isChecked());
        QVERIFY(!second.findChild<QCheckBox*>("isEraseAll")->isChecked());
        QVERIFY(!second.findChild<QAction*>("Msound")->isChecked());
    }

    void AboutBoxFollowsTheLanguage() {
        Window w("sim:ATmega16", 1);
        QTimer::singleShot(0, [&] {
            auto* about = w.main->findChild<QDialog*>("TAboutBox");
            QVERIFY(about);
            QCOMPARE(about->findChild<QLabel*>("ProductName")->text(), QString("tondrel software"));
            QVERIFY(about->findChild<QLabel*>("WebAddress")->text().contains("manual.html"));
            about->accept();
        });
        w.Action("Mabout")->trigger();
    }

    // The README's picture: the window after an auto programming on the bench, in Chinese.
    void Screenshot() {
        const QString target = qEnvironmentVariable("TONDREL_SCREENSHOT");
        if (target.isEmpty()) QSKIP("set TONDREL_SCREENSHOT=FILE.png to write the picture");
        Window w("sim:ATmega16", 2);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        w.main->FileChooser = [](const QString&, const QString&, bool) {
            return kSamples + "atmega16-blink.hex";
        };
        w.Action("MopenFlashFile")->trigger();
        w.Action("MautoProgram")->trigger();
        w.main->ShowTab("sheetFlash");
        w.main->resize(900, 560);
        QTest::qWait(100);
        QVERIFY(w.main->grab().save(target));
    }

    void SecondInstanceRaisesTheFirst() {
        const QString name = QString("tondrel-test-%1").arg(QCoreApplication::applicationPid());
        SingleInstance first(name);
        int raised = 0;
        QVERIFY(first.Listen([&] { ++raised; }));
        SingleInstance second(name);
        QVERIFY(second.RaiseRunning());
        QTRY_COMPARE(raised, 1);
        SingleInstance nobody(name + "-none");
        QVERIFY(!nobody.RaiseRunning(100));
    }

    // The program itself: a second start finds the first, which is still waiting in its
    // first-start language dialog, and ends at once; a bad option is refused by name.
    void SecondStartOfTheProgramEndsAndLeavesTheFirstRunning() {
        const QString program = QStringLiteral(TONDREL_BINARY_ROOT "/gui/tondrel");
        if (!QFile::exists(program)) QSKIP("the tondrel program is not built");
        QTemporaryDir dir;
        const QString name = QString("tondrel-child-%1").arg(QCoreApplication::applicationPid());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TONDREL_INSTANCE", name);
        const QStringList args = {"--port", "sim:ATmega16", "--database", dir.path() + "/chip.db"};

        QProcess bad;
        bad.setProcessEnvironment(env);
        bad.start(program, {"--lpt", "9"});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("--lpt takes 1, 2 or 3, not '9'"));

        QProcess first;
        first.setProcessEnvironment(env);
        first.start(program, args);
        QVERIFY(first.waitForStarted(10000));
        SingleInstance probe(name);
        QTRY_VERIFY_WITH_TIMEOUT(probe.RaiseRunning(200), 10000);

        QProcess second;
        second.setProcessEnvironment(env);
        second.start(program, args);
        QVERIFY(second.waitForFinished(10000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        first.terminate();
        if (!first.waitForFinished(5000)) {
            first.kill();
            first.waitForFinished(5000);
        }
    }
};

QTEST_MAIN(TMainTest)
#include "TMainTest.moc"
