// The main window on the simulated bench, found by its component names.
#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <csignal>

#include "core/Maker.h"
#include "gui/QuitSignals.h"
#include "gui/SingleInstance.h"
#include "gui/TAboutBox.h"
#include "gui/TMain.h"
#include "sim/AvrChip.h"
#include "sim/Bench.h"
#include "sim/backend/BenchBackEnd.h"

using namespace tondrel;
using namespace tondrel::gui;

namespace {

const QString kSamples = QStringLiteral(TONDREL_SOURCE_ROOT "/samples/");

// The names a file dialog's list shows, once its folder has been read.
QStringList Listed(QFileDialog* dialog) {
    auto* view = dialog->findChild<QListView*>("listView");
    if (!view) return {};
    QStringList names;
    QAbstractItemModel* model = view->model();
    for (int i = 0; i < model->rowCount(view->rootIndex()); ++i)
        names << model->index(i, 0, view->rootIndex()).data().toString();
    names.sort();
    return names;
}

// Answers the next file dialog the window opens, the real one: opens `folder` in it (with
// `filter` chosen, when given), waits until its list shows `expect` (when given), then types
// `name` and presses Enter.
void AnswerFileDialog(const QString& folder, const QString& name, QStringList expect = {},
                      QStringList* shown = nullptr, const QString& filter = {}) {
    QTimer::singleShot(0, [=] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->setDirectory(folder);
        if (!filter.isEmpty()) dialog->selectNameFilter(filter);
        if (!expect.isEmpty()) QTRY_COMPARE_WITH_TIMEOUT(Listed(dialog), expect, 10000);
        if (shown) *shown = Listed(dialog);
        auto* edit = dialog->findChild<QLineEdit*>("fileNameEdit");
        QVERIFY(edit);
        // Typing goes where the user types: the name box, with the keyboard focus.
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog));
        edit->setFocus();
        QTRY_VERIFY(edit->hasFocus());
        edit->clear();
        QTest::keyClicks(edit, name);
        // A box the dialog raises over the name (not found, overwrite?) is a failure: close it
        // so the test ends instead of waiting.
        QTimer::singleShot(0, [] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                qWarning("file dialog said: %s", qPrintable(box->text()));
                box->reject();
            }
        });
        QTest::keyClick(edit, Qt::Key_Return);
        if (dialog->isVisible()) dialog->reject();  // a name it did not take: fail, not hang
    });
}

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<TMain> main;
    int languageAsked = 0;
    QStringList questions;

    explicit Window(const std::string& bench, int language = 2, QString statePath = {}) {
        TMainOptions options;
        options.Port.Port = bench;
        options.Port.SimState = (dir.path() + "/chip.state").toStdString();
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        options.WindowStatePath = statePath;
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
    QTableView* Grid(const char* name) const { return main->findChild<QTableView*>(name); }
    // A Flash image made of `byte(address)`, loaded as a raw binary file is.
    template <typename Byte>
    void LoadImage(Byte byte) {
        const size_t size = static_cast<size_t>(main->Session()->Chip().FlashSize);
        std::string image(size, '\0');
        for (size_t i = 0; i < size; ++i) image[i] = static_cast<char>(byte(i));
        const QString path = dir.filePath("image.bin");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(image.data(), static_cast<qint64>(image.size()));
        file.close();
        QVERIFY(main->Session()->LoadFile(Memory::Flash, path.toStdString()));
    }
    void Load(const char* sample) {
        AnswerFileDialog(kSamples, sample);
        Action("MopenFlashFile")->trigger();
    }
};

}  // namespace

class TMainTest : public QObject {
    Q_OBJECT

  private slots:
    // The windows here run on the simulated bench.
    void initTestCase() { tondrel::sim::RegisterBenchBackEnd(); }

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

    void SerialDialogTakesOnlyWhatReadsAsAFieldAndTwoNumbers() {
        SerialDialog dialog(nullptr, {}, Language::English);
        auto* ok = dialog.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        auto* field = dialog.findChild<QLineEdit*>("SerialField");
        auto* step = dialog.findChild<QLineEdit*>("SerialStep");
        QVERIFY(ok->isEnabled());  // empty: no serial numbers
        field->setText("eeprom:0x10:9");
        QVERIFY(!ok->isEnabled());
        // The part that is wrong, not the format the help already shows.
        QVERIFY(dialog.findChild<QLabel*>("SerialProblem")->text().contains("'9' is not 1 to 8"));
        field->setText("eeprom:0x10:4:big");
        step->setText("0");
        QVERIFY(!ok->isEnabled());
        step->setText("10");
        QVERIFY(ok->isEnabled());
        QCOMPARE(dialog.Choice()->Field, std::string("eeprom:0x10:4:big"));
        QCOMPARE(dialog.Choice()->Step, int64_t{10});
    }

    void ChipAfterChipWithSerialNumbersUntilStopAndTheJsonLog() {
        Window w("sim:ATmega16@swap2", 1);
        w.Action("Mautosearch")->trigger();
        QVERIFY(w.main->Session()->LoadFile(Memory::Flash,
                                            (kSamples + "atmega16-blink.hex").toStdString()));
        w.main->SerialAsker = [] { return SerialChoice{"eeprom:0x10:2:big", 500, 1}; };
        w.Action("Mserial")->trigger();
        w.main->findChild<QCheckBox*>("isRepeat")->setChecked(true);
        // Stop once the third (and last) chip is done, while the loop waits for a fourth; the
        // other operations stay shut meanwhile.
        bool stopOpen = false, operOpen = true;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            if (!w.Board().contains("chip 3:")) return;
            stopOpen = w.Action("Mstop")->isEnabled();
            operOpen = w.Menu("Moper")->isEnabled();
            if (qEnvironmentVariableIsSet("TONDREL_LOOP_SHOT")) {
                w.main->findChild<QTabWidget*>()->setCurrentIndex(2);
                w.main->grab().save(qEnvironmentVariable("TONDREL_LOOP_SHOT"));
            }
            w.Action("Mstop")->trigger();
        });
        watch.start(20);
        w.Action("MautoProgram")->trigger();
        watch.stop();
        QVERIFY(stopOpen);
        QVERIFY(!operOpen);
        QVERIFY(!w.Action("Mstop")->isEnabled());
        QVERIFY(w.Menu("Moper")->isEnabled());
        for (const char* line : {">>chip 1: pass #500", ">>chip 2: pass #501",
                                 ">>chip 3: pass #502", ">>3 chips: 3 passed, 0 failed"})
            QVERIFY2(w.Board().contains(line), qPrintable(w.Board()));
        AnswerFileDialog(w.dir.path(), "log.jsonl");
        w.Action("MsaveLog")->trigger();
        QFile log(w.dir.filePath("log.jsonl"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
        QCOMPARE(lines.size(), 4);
        for (int i = 0; i < 3; ++i) {
            const QJsonObject o = QJsonDocument::fromJson(lines[i]).object();
            QCOMPARE(o["serial"].toInt(), 500 + i);
            QCOMPARE(o["result"].toString(), QString("pass"));
        }
        QCOMPARE(QJsonDocument::fromJson(lines[3]).object()["passed"].toInt(), 3);
    }

    void AutoSearchFillsTheBoardAndOpensTheChipMenus() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        QVERIFY(w.Board().contains("chip detected:ATmega16"));
        QVERIFY(w.Menu("Mfile")->isEnabled());
        QVERIFY(w.Menu("Moper")->isEnabled());
        QCOMPARE(w.main->findChild<QLabel*>("StatusPanel0")->text(), QString("chip: ATmega16"));
        auto* grid = w.main->findChild<QTableView*>("FlashDataBoard");
        // 16 KiB as words, sixteen words a row.
        QCOMPARE(grid->model()->rowCount(), 16384 / 32);
        QCOMPARE(grid->model()->index(0, 0).data().toString(), QString("FFFF"));
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
        w.Load("atmega16-blink.hex");
        auto* grid = w.main->findChild<QTableView*>("FlashDataBoard");
        QVERIFY(grid->model()->index(0, 0).data().toString() != "FFFF");
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
        // The adapter is not where the port now points: the search there finds nothing and
        // shuts the chip menus, and a write started from the keyboard opens nothing again.
        w.Action("Mp3")->trigger();  // a connector with nothing on it
        w.Action("MwriteFlash")->trigger();
        QVERIFY(w.Board().contains("hardware disconnected or no electricity !"));
        QVERIFY(!w.Menu("Moper")->isEnabled());
        QVERIFY(!w.Menu("Mfile")->isEnabled());
        QVERIFY(!w.main->findChild<QToolBar*>("FlashToolBar")->isEnabled());
    }

    // Closing mid-operation neither ends nor pauses it: a notice that is not modal says the
    // window closes at the end, and it does.
    void AnOperationLocksTheWindowAndClosesWhenItEnds() {
        Window w("sim:ATmega16", 1);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        // A full 16 KiB image, so the write runs long enough to take events in between.
        w.LoadImage([](size_t i) { return uint8_t(i * 7 + 1); });
        bool busy = false, locked = false, closed = true, stopOn = false, noticeShown = false;
        int progressAtClose = 0;
        auto* pb = w.main->findChild<QProgressBar*>("PB");
        QTimer::singleShot(0, [&] {
            busy = w.main->Session()->State().Busy;
            locked = !w.Menu("Moper")->isEnabled() && !w.Menu("Mfile")->isEnabled() &&
                     !w.main->findChild<QToolBar*>("FlashToolBar")->isEnabled() &&
                     !w.main->findChild<QWidget*>("speedbar")->isEnabled();
            stopOn = w.Action("Mstop")->isEnabled();
            progressAtClose = pb->value();
            closed = w.main->close();
            auto* notice = w.main->findChild<QMessageBox*>("BusyCloseNotice");
            noticeShown = notice && notice->isVisible() && !notice->isModal() &&
                          QApplication::activeModalWidget() == nullptr;
        });
        w.Action("MwriteFlash")->trigger();
        QVERIFY(busy);
        QVERIFY(locked);
        QVERIFY(stopOn);
        QVERIFY(!closed);
        QVERIFY(noticeShown);
        QVERIFY(w.questions.isEmpty());
        // The write went on to its end while the notice stood, nobody clicking it.
        QVERIFY(progressAtClose < pb->maximum());
        QVERIFY(w.Board().contains(">>write FLASH successfully"));
        QVERIFY(!w.Action("Mstop")->isEnabled());
        QTRY_VERIFY(!w.main->isVisible());
    }

    // Stop (the button or Esc) ends a slow write at the next byte: programming mode left,
    // "stopped" said and never success, auto programming goes no further, a second run works.
    void StopEndsTheRunningOperation() {
        for (const bool autoProgram : {false, true}) {
            Window w("sim:ATmega16", 1);
            w.main->show();
            QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
            w.Action("Mautosearch")->trigger();
            w.LoadImage([](size_t i) { return uint8_t(i * 3 + 1); });
            w.main->findChild<QSlider*>("speedbar")->setValue(core::kSpeedMax / 4);  // slow
            QElapsedTimer clock;
            qint64 stoppedAfter = -1;
            QTimer::singleShot(300, [&] {
                QVERIFY(w.main->Session()->State().Busy);
                clock.start();
                if (autoProgram)
                    QTest::keyClick(w.main.get(), Qt::Key_Escape);
                else
                    w.Action("Mstop")->trigger();
            });
            w.Action(autoProgram ? "MautoProgram" : "MwriteFlash")->trigger();
            stoppedAfter = clock.elapsed();
            QVERIFY(clock.isValid());
            QVERIFY2(stoppedAfter < 1000, qPrintable(QString::number(stoppedAfter)));
            const QString board = w.Board();
            QVERIFY(board.contains(QString::fromStdString(Tr("CoreStopped", Language::English))));
            QVERIFY(!board.contains(">>write FLASH successfully"));
            QVERIFY(!board.contains(QString::fromUtf8(">>auto program completed！")));
            QVERIFY(!board.contains(">>write EEPROM"));
            QVERIFY(!w.main->findChild<QLabel*>("ProgressText")->text().isEmpty());
            sim::Bench* bench = w.main->Ports()->GetBench();
            auto* chip = bench ? dynamic_cast<sim::AvrChip*>(bench->Chip()) : nullptr;
            QVERIFY(chip && !chip->InProgrammingMode());
            // The next operation runs to its end.
            w.main->findChild<QSlider*>("speedbar")->setValue(0);
            w.Action("MwriteFlash")->trigger();
            QVERIFY(w.Board().contains(">>write FLASH successfully"));
        }
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

    // A name typed without folder or extension is taken in the dialog's folder, with the
    // format's extension.
    void SavingTakesATypedBareName() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        w.Load("atmega16-blink.hex");
        AnswerFileDialog(w.dir.path(), "saved");
        w.Action("MsaveFlashHex")->trigger();
        QFile hex(w.dir.path() + "/saved.hex");
        QVERIFY(hex.open(QIODevice::ReadOnly));
        QVERIFY(hex.readAll().startsWith(":"));
        AnswerFileDialog(w.dir.path(), "plain");
        w.Action("MsaveEEProm")->trigger();
        QFile idf(w.dir.path() + "/plain.idf");
        QVERIFY(idf.open(QIODevice::ReadOnly));
        QCOMPARE(idf.readLine(), QByteArray("255\r\n"));
        // The plain save's other formats take their own extension.
        AnswerFileDialog(w.dir.path(), "raw", {}, nullptr, "raw binary (*.bin)");
        w.Action("MsaveEEProm")->trigger();
        QFile bin(w.dir.path() + "/raw.bin");
        QVERIFY(bin.open(QIODevice::ReadOnly));
        QCOMPARE(bin.readAll(), QByteArray(512, '\xFF'));
    }

    // The open dialogs list the files their masks name, .bin as well, and nothing else.
    void OpenDialogsListTheirFilesAndTakeATypedName() {
        Window w("sim:ATmega16", 1);
        w.Action("Mautosearch")->trigger();
        QTemporaryDir folder;
        const QStringList hex = {"a.hex", "b.hex", "c.hex", "d.hex"};
        for (const QString& name : hex)
            QVERIFY(QFile::copy(kSamples + "atmega16-blink.hex", folder.filePath(name)));
        QVERIFY(QFile::copy(kSamples + "atmega16-blink.eep", folder.filePath("e.eep")));
        for (const char* other : {"f.bin", "g.idf", "notes.txt"}) {
            QFile f(folder.filePath(other));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("1\r\n");
        }
        AnswerFileDialog(folder.path(), "c.hex", hex + QStringList{"f.bin", "g.idf"});
        w.Action("MopenFlashFile")->trigger();
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel1")->text().endsWith("c.hex"));
        QVERIFY(w.Grid("FlashDataBoard")->model()->index(0, 0).data().toString() != "FFFF");

        QStringList shown;
        AnswerFileDialog(folder.path(), "e.eep",
                         QStringList{"a.hex", "b.hex", "c.hex", "d.hex", "e.eep", "f.bin", "g.idf"},
                         &shown);
        w.Action("MopenEEPROMfile")->trigger();
        QVERIFY(!shown.contains("notes.txt"));
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel2")->text().endsWith("e.eep"));
    }

    // The 0…F legend and the addresses are the view's headers: they stay while the grid
    // scrolls, and the cells hold data only.
    void GridsKeepTheirHeadings() {
        Window w("sim:ATmega16", 1);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        w.main->ShowBuffer(Memory::Flash, true);
        QTableView* grid = w.Grid("FlashDataBoard");
        QAbstractItemModel* model = grid->model();
        QCOMPARE(model->columnCount(), 17);
        QCOMPARE(model->headerData(0, Qt::Horizontal).toString(), QString("0"));
        QCOMPARE(model->headerData(15, Qt::Horizontal).toString(), QString("F"));
        QCOMPARE(model->headerData(16, Qt::Horizontal).toString(), QString("ASCII"));
        QCOMPARE(model->headerData(0, Qt::Vertical).toString(), QString("0000"));
        QCOMPARE(model->headerData(511, Qt::Vertical).toString(), QString("1FF0"));
        grid->scrollToBottom();
        QVERIFY(grid->horizontalHeader()->isVisible());
        QVERIFY(grid->verticalHeader()->isVisible());
        QCOMPARE(grid->verticalHeader()->logicalIndexAt(grid->viewport()->height() - 1), 511);
    }

    // Enter and F2 on the selected cell open its editor, as a click does; the ASCII column
    // opens nothing.
    void KeysOpenTheByteEditor() {
        Window w("sim:ATmega16", 1);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        QList<std::pair<int32_t, bool>> opened;
        w.main->CellEditor = [&](int32_t position, bool flash) {
            opened.append({position, flash});
        };
        const struct {
            const char* grid;
            int row, column;
            Qt::Key key;
            int32_t position;  // -1: no editor
        } cases[] = {
            {"FlashDataBoard", 2, 3, Qt::Key_Return, 2 * 16 + 3},
            {"FlashDataBoard", 0, 15, Qt::Key_F2, 15},
            {"EEPROMdataBoard", 1, 0, Qt::Key_Enter, 16},
            {"EEPROMdataBoard", 1, 16, Qt::Key_Return, -1},
        };
        for (const auto& c : cases) {
            opened.clear();
            QTableView* grid = w.Grid(c.grid);
            w.main->ShowBuffer(
                c.grid == std::string("FlashDataBoard") ? Memory::Flash : Memory::EEPROM, true);
            grid->setCurrentIndex(grid->model()->index(c.row, c.column));
            QTest::keyClick(grid, c.key);
            if (c.position < 0) {
                QVERIFY(opened.isEmpty());
            } else {
                QCOMPARE(opened.size(), 1);
                QCOMPARE(opened.front().first, c.position);
                QCOMPARE(opened.front().second, c.grid == std::string("FlashDataBoard"));
            }
        }
    }

    // At its first size the window shows all sixteen word cells and the ASCII column without a
    // sideways scroll, fits a 1366×768 screen, and what it gains later goes to the grids.
    void WindowFitsTheGridAndGrows() {
        Window w("sim:ATmega16", 1);
        const QSize first = w.main->DefaultSize(QSize(1366, 768));
        QVERIFY(first.width() <= 1366 && first.height() <= 768);
        w.main->resize(first);
        w.main->show();
        w.Action("Mautosearch")->trigger();
        w.main->ShowBuffer(Memory::Flash, true);
        QTableView* grid = w.Grid("FlashDataBoard");
        QTRY_VERIFY(grid->isVisible());
        QTRY_COMPARE(grid->horizontalScrollBar()->maximum(), 0);
        auto* panel = w.main->findChild<QWidget*>("Panel1");
        const int panelWidth = panel->width(), gridWidth = grid->width();
        w.main->resize(first + QSize(200, 100));
        QTRY_COMPARE(grid->width(), gridWidth + 200);
        QCOMPARE(panel->width(), panelWidth);
    }

    void WindowSizeAndPlaceSurviveARestart() {
        QTemporaryDir dir;
        const QString kept = dir.filePath("window.ini");
        {
            Window w("sim:ATmega16", 1, kept);
            w.main->show();
            w.main->resize(1001, 655);
            QTRY_COMPARE(w.main->size(), QSize(1001, 655));
            QVERIFY(w.main->close());
        }
        Window again("sim:ATmega16", 1, kept);
        QCOMPARE(again.main->size(), QSize(1001, 655));
    }

    // The status panels speak the window's language, and follow a switch.
    void StatusPanelsFollowTheLanguage() {
        Window w("sim:ATmega16", 2);
        auto* port = w.main->findChild<QLabel*>("StatusPort");
        auto* chip = w.main->findChild<QLabel*>("StatusPanel0");
        const QString bench = QString::fromStdString(w.main->Ports()->GetBench()->Name());
        QCOMPARE(port->text(), QString::fromUtf8("端口：模拟编程器 ") + bench);
        w.Action("Mautosearch")->trigger();
        QCOMPARE(chip->text(), QString::fromUtf8("芯片：ATmega16"));
        w.Load("atmega16-blink.hex");
        auto* file = w.main->findChild<QLabel*>("StatusPanel1");
        QCOMPARE(file->text(), QString::fromUtf8("FLASH文件：") + kSamples + "atmega16-blink.hex");
        // Qt's own dialogs speak Chinese too.
        QVERIFY(QCoreApplication::translate("QFileDialog", "File &name:") != "File &name:");
        w.Action("Menglish")->trigger();
        QCOMPARE(chip->text(), QString("chip: ATmega16"));
        QCOMPARE(port->text(), "port: simulated bench " + bench);
        QCOMPARE(file->text(), "Flash File:" + kSamples + "atmega16-blink.hex");
        QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:"), QString("File &name:"));
    }

    // "选定" leaves the target out of programming mode: a target held by the adapter (enable
    // line low) is let go.
    void ChoosingAChipByHandReleasesTheTarget() {
        Window w("sim:ATmega16", 1);
        sim::Bench* bench = w.main->Ports()->GetBench();
        core::Session* s = w.main->Session();
        QVERIFY(s->SetTestPin(14, false));
        QVERIFY(bench->TargetConnected());
        auto chip = w.main->Db()->ChipByName("ATmega16");
        QVERIFY(chip && *chip);
        s->SelectChip(**chip);
        QVERIFY(!bench->TargetConnected());
    }

    // The Intel HEX saves follow the designed saves: shut for a chip without EEPROM.
    void HexSavesFollowTheBuffersTheChipHas() {
        const struct {
            const char* bench;
            bool eeprom;
        } cases[] = {{"sim:AT89S52", false}, {"sim:ATmega16", true}};
        for (const auto& c : cases) {
            Window w(c.bench, 1);
            w.Action("Mautosearch")->trigger();
            QVERIFY2(w.Action("MsaveFlashHex")->isEnabled(), c.bench);
            QCOMPARE(w.Action("MsaveEEProm")->isEnabled(), c.eeprom);
            QCOMPARE(w.Action("MsaveEEPromHex")->isEnabled(), c.eeprom);
        }
    }

    // SIGTERM (a logout, kill) runs the quit command's close: settings and the simulated chip
    // kept; during a write, the write stops at its next byte first, as Stop does.
    void TermSignalClosesInOrder() {
        for (const bool duringWrite : {false, true}) {
            Window w("sim:ATmega16", 1);
            QuitSignals quit([&] { w.main->RequestClose(); });
            QVERIFY(quit.Installed());
            w.main->show();
            w.Action("Mautosearch")->trigger();
            w.Action("Msound")->trigger();  // a setting to find again
            if (duringWrite) {
                w.LoadImage([](size_t i) { return uint8_t(i * 5 + 3); });
                QTimer::singleShot(0, [] { std::raise(SIGTERM); });
                w.Action("MwriteFlash")->trigger();
                QVERIFY(w.Board().contains(
                    QString::fromStdString(Tr("CoreStopped", Language::English))));
                QVERIFY(!w.Board().contains(">>write FLASH successfully"));
            } else {
                std::raise(SIGTERM);
            }
            QTRY_VERIFY(!w.main->isVisible());
            QVERIFY(w.questions.isEmpty());  // no "an operation is running" box
            QVERIFY(QFile::exists(w.dir.filePath("chip.state")));
            TMainOptions options;
            options.Port.Port = "sim:ATmega16";
            options.Port.SimState = w.dir.filePath("chip.state").toStdString();
            options.DatabasePath = w.dir.filePath("chip.db").toStdString();
            TMain again(options);
            again.LanguageChooser = [] { return 2; };
            QString error;
            QVERIFY(again.Initialize(error));
            QVERIFY(again.findChild<QAction*>("Menglish")->isChecked());
            QVERIFY(!again.findChild<QAction*>("Msound")->isChecked());
            if (duringWrite) {
                again.findChild<QAction*>("Mautosearch")->trigger();
                again.findChild<QAction*>("MreadFlash")->trigger();
                // The chip answers again and keeps what was written before the stop.
                QCOMPARE(int(again.Session()->Buffer(Memory::Flash)[0]), 3);
            }
        }
    }

    // Questions whose Yes can cost data carry the question icon, and Enter and Escape give the
    // answer that destroys nothing: No, but Yes to "terminate?"; routine ones keep the designed
    // information box.
    void DestructiveQuestionsDefaultToNo() {
        Window w("sim:ATmega16", 1);
        w.main->Question = nullptr;
        const struct {
            QuestionKind kind;
            QMessageBox::Icon icon;
            QMessageBox::StandardButton harmless;  // NoButton: not checked
        } cases[] = {
            {QuestionKind::Destructive, QMessageBox::Question, QMessageBox::No},
            {QuestionKind::EndsSerialProgramming, QMessageBox::Question, QMessageBox::No},
            {QuestionKind::StopsOperation, QMessageBox::Question, QMessageBox::Yes},
            {QuestionKind::Routine, QMessageBox::Information, QMessageBox::NoButton},
        };
        for (const auto& c : cases) {
            QMessageBox::Icon icon = QMessageBox::NoIcon;
            bool defaultIsHarmless = false, escapeIsHarmless = false, noIsDefault = true;
            QTimer::singleShot(0, [&] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                QVERIFY(box);
                icon = box->icon();
                noIsDefault = box->defaultButton() == box->button(QMessageBox::No);
                defaultIsHarmless = box->defaultButton() == box->button(c.harmless);
                escapeIsHarmless = box->escapeButton() == box->button(c.harmless);
                box->button(QMessageBox::No)->click();
            });
            QVERIFY(!w.main->Ask(Verbatim("erase?"), c.kind));
            QCOMPARE(icon, c.icon);
            if (c.harmless == QMessageBox::NoButton) {
                QVERIFY(!noIsDefault);
                continue;
            }
            QVERIFY2(defaultIsHarmless, std::to_string(int(c.kind)).c_str());
            QVERIFY2(escapeIsHarmless, std::to_string(int(c.kind)).c_str());
        }
    }

    // A chip chosen by hand that is not the one in the socket: nothing happens to the chip,
    // and the box offers to select the chip found.
    void AnotherChipInTheSocketIsOfferedForSelection() {
        Window w("sim:ATmega16", 1);
        core::Session* s = w.main->Session();
        auto chosen = w.main->Db()->ChipByName("ATmega8");
        QVERIFY(chosen && *chosen);
        s->SelectChip(**chosen);
        w.main->Question = [&w](const QString& q) {
            w.questions << q;
            return true;
        };
        w.Action("Mearse")->trigger();
        QCOMPARE(w.questions.size(), 1);
        QVERIFY2(w.questions.front().contains("ATmega16 (1E9403), not the chosen ATmega8"),
                 qPrintable(w.questions.front()));
        QVERIFY(!w.Board().contains("erase successfully"));
        QCOMPARE(s->State().ChipName, std::string("ATmega16"));
    }

    // The manual is the one installed beside the program; the source tree's only when the
    // program runs from its build tree; else the maker's address.
    void ManualIsFoundFromTheProgram() {
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath("bin")));
        QVERIFY(QDir().mkpath(prefix.filePath("share/tondrel")));
        QFile manual(prefix.filePath("share/tondrel/manual.html"));
        QVERIFY(manual.open(QIODevice::WriteOnly));
        manual.close();
        QCOMPARE(ManualUrl(prefix.filePath("bin")),
                 QUrl::fromLocalFile(QFileInfo(manual).absoluteFilePath()));
        QTemporaryDir bare;
        QCOMPARE(ManualUrl(bare.path()).toString(), QString::fromUtf8(core::kMakerAddress.data()));
        // From the build tree: the manual generated there, laid out as it will be installed.
        QCOMPARE(
            ManualUrl(QStringLiteral(TONDREL_BINARY_ROOT "/gui")),
            QUrl::fromLocalFile(QStringLiteral(TONDREL_BINARY_ROOT "/share/tondrel/manual.html")));
    }

    // A .hex/.eep/.idf/.bin dropped on a grid loads into that grid's buffer; other files and
    // drops on a shut grid are refused.
    void DroppedFilesLoadIntoTheirGrid() {
        Window w("sim:ATmega16", 1);
        w.main->show();
        auto drop = [&](const char* grid, const QString& file) {
            QMimeData data;
            data.setUrls({QUrl::fromLocalFile(file)});
            // As a drag arrives: entering names the target, the drop goes to that target.
            QWidget* target = w.Grid(grid)->viewport();
            QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton,
                                  Qt::NoModifier);
            QApplication::sendEvent(target, &enter);
            if (!enter.isAccepted()) return false;
            QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(target, &drop);
            return drop.isAccepted();
        };
        QVERIFY(!drop("FlashDataBoard", kSamples + "atmega16-blink.hex"));  // no chip yet
        w.Action("Mautosearch")->trigger();
        QVERIFY(!drop("EEPROMdataBoard", kSamples + "atmega16-blink.c"));
        QVERIFY(drop("EEPROMdataBoard", kSamples + "atmega16-blink.eep"));
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel2")->text().endsWith("atmega16-blink.eep"));
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel1")->text().isEmpty() ||
                !w.main->findChild<QLabel*>("StatusPanel1")->text().endsWith(".eep"));
        QVERIFY(drop("FlashDataBoard", kSamples + "atmega16-blink.hex"));
        QVERIFY(w.main->findChild<QLabel*>("StatusPanel1")->text().endsWith("atmega16-blink.hex"));
        QVERIFY(w.Grid("FlashDataBoard")->model()->index(0, 0).data().toString() != "FFFF");
    }

    // No caption, tool tip, tab or label of the window shows a message key in either language:
    // a key without a row in the table would show as itself.
    void EveryCaptionHasItsText() {
        Window w("sim:ATmega16", 1);
        for (int round = 0; round < 2; ++round) {
            QStringList texts{w.main->windowTitle()};
            for (const auto* a : w.main->findChildren<QAction*>())
                texts << a->text() << a->toolTip();
            for (const auto* m : w.main->findChildren<QMenu*>()) texts << m->title();
            for (const auto* g : w.main->findChildren<QGroupBox*>()) texts << g->title();
            for (const auto* c : w.main->findChildren<QAbstractButton*>()) texts << c->text();
            for (const auto* l : w.main->findChildren<QLabel*>()) texts << l->text();
            auto* tabs = w.main->findChild<QTabWidget*>("PageControl1");
            for (int i = 0; i < tabs->count(); ++i) texts << tabs->tabText(i);
            texts << w.main->findChild<QPlainTextEdit*>("Memo1")->toPlainText().split('\n');
            static const QRegularExpression key(
                "^(Cap|Gui|Chip|Core|Phase|Memo1)\\.?[A-Za-z0-9.]+$");
            for (const QString& t : texts) QVERIFY2(!key.match(t).hasMatch(), qPrintable(t));
            w.Action("Menglish")->trigger();  // the other language
        }
    }

    // Help, reset, go to address, the speed's value, menu mnemonics and the folder kept for the
    // next start: each reaches the user.
    void CommandsAnswerTheUser() {
        QTemporaryDir keep;
        const QString state = keep.filePath("window.ini");
        {
            Window w("sim:ATmega16", 1, state);
            auto said = [&](const char* key) {
                return w.Board().contains(
                    QString::fromStdString(Tr(key, Language::English)).section('{', 0, 0));
            };
            QUrl opened;
            w.main->ManualOpener = [&](const QUrl& url) {
                opened = url;
                return true;
            };
            w.Action("Mmanual")->trigger();
            QVERIFY(opened.isLocalFile() && opened.toLocalFile().endsWith("manual.html"));
            QVERIFY(!said("Gui.ManualNoBrowser"));
            w.main->ManualOpener = [](const QUrl&) { return false; };
            w.Action("Mmanual")->trigger();
            QVERIFY(said("Gui.ManualNoBrowser"));
            QVERIFY(w.Board().contains(opened.toLocalFile()));

            w.Action("Mautosearch")->trigger();
            w.Action("Mreset")->trigger();
            QVERIFY(said("Gui.ResetDone"));

            w.main->AddressAsker = [] { return QString("1a3"); };
            w.main->ShowBuffer(Memory::Flash, true);
            w.Action("MgoTo")->trigger();
            const QModelIndex at = w.Grid("FlashDataBoard")->currentIndex();
            QCOMPARE(at.row(), 0x1A);
            QCOMPARE(at.column(), 3);

            w.main->findChild<QSlider*>("speedbar")->setValue(5000);
            QVERIFY(w.main->findChild<QLabel*>("SpeedValue")->text().contains("5000"));

            QString letters;
            for (QAction* top : w.main->menuBar()->actions()) {
                const int amp = top->text().indexOf('&');
                QVERIFY2(amp >= 0, qPrintable(top->text()));
                const QChar letter = top->text()[amp + 1].toLower();
                QVERIFY2(!letters.contains(letter), qPrintable(top->text()));
                letters += letter;
            }
            w.Load("atmega16-blink.hex");
            w.Load("atmega16-blink.hex");  // once in the list however often it loads
            auto* flashPanel = w.main->findChild<QLabel*>("StatusPanel1");
            QVERIFY(flashPanel->text().endsWith("atmega16-blink.hex"));
            // Another chip: the last one's file leaves the status bar.
            auto other = w.main->Db()->ChipByName("ATmega32");
            QVERIFY(other && *other);
            w.main->Session()->SelectChip(**other);
            QVERIFY(flashPanel->text().isEmpty());
            auto* recent = w.Menu("Mrecent");
            emit recent->aboutToShow();
            QCOMPARE(recent->actions().size(), 1);
            QVERIFY(recent->actions().front()->text().endsWith("atmega16-blink.hex"));
            w.main->close();
        }
        const QSettings kept(state, QSettings::IniFormat);
        QCOMPARE(QDir(kept.value("window/folder").toString()), QDir(kSamples));
        QCOMPARE(kept.value("recent/flash").toStringList().size(), 1);
    }

    void SwitchingLanguageSwapsEveryCaptionAndEmptiesTheNotes() {
        Window w("sim:ATmega16", 2);
        auto* memo = w.main->findChild<QPlainTextEdit*>("Memo1");
        QVERIFY(memo->toPlainText().startsWith(QString::fromUtf8("[自动编程] 的流程设置说明：")));
        QCOMPARE(memo->toPlainText().split('\n').size(), 10);  // the heading and nine options

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
        QCOMPARE(memo->toPlainText().split('\n').size(), 10);
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
            first.findChild<QCheckBox*>("isWriteFileFuses")->setChecked(true);
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
        // Writing a file's fuses is asked for each time, never a stored default.
        QVERIFY(!second.findChild<QCheckBox*>("isWriteFileFuses")->isChecked());
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

    // On a laptop screen and on a netbook's, the window as it first comes up shows the sixteen
    // cells and the whole ASCII column of a Flash row in words and of an EEPROM row.
    void GridsFitSmallScreens() {
        for (const QSize screen : {QSize(1366, 768), QSize(1024, 600)}) {
            for (const int language : {1, 2}) {
                Window w("sim:ATmega16", language);
                w.main->resize(w.main->DefaultSize(screen));
                w.main->show();
                QVERIFY(QTest::qWaitForWindowExposed(w.main.get()));
                w.Action("Mautosearch")->trigger();
                w.LoadImage([](size_t i) { return uint8_t('A' + i % 26); });
                QVERIFY(w.main->width() <= screen.width());
                QVERIFY(w.main->height() <= screen.height());
                for (const char* name : {"FlashDataBoard", "EEPROMdataBoard"}) {
                    QTableView* grid = w.Grid(name);
                    w.main->ShowBuffer(
                        std::string(name) == "FlashDataBoard" ? Memory::Flash : Memory::EEPROM,
                        true);
                    QTest::qWait(50);
                    const QString where =
                        QString("%1 at %2x%3").arg(name).arg(screen.width()).arg(screen.height());
                    const int visible = grid->viewport()->width();
                    if (!qEnvironmentVariableIsEmpty("TONDREL_SHOTS"))
                        w.main->grab().save(QString("%1/window-%2-%3-%4.png")
                                                .arg(qEnvironmentVariable("TONDREL_SHOTS"))
                                                .arg(screen.width())
                                                .arg(language == 1 ? "en" : "zh")
                                                .arg(name));
                    for (int c = 0; c < 17; ++c) {
                        const int right = grid->columnViewportPosition(c) + grid->columnWidth(c);
                        QVERIFY2(right <= visible,
                                 qPrintable(where + QString(" column %1: %2 > %3, %4 pt, window %5")
                                                        .arg(c)
                                                        .arg(right)
                                                        .arg(visible)
                                                        .arg(grid->font().pointSizeF())
                                                        .arg(w.main->width())));
                    }
                    // As much as the item delegate keeps beside a text, so nothing is elided.
                    const int margin =
                        2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin) + 1);
                    const QString ascii = grid->model()->index(0, 16).data().toString();
                    QVERIFY2(grid->columnWidth(16) >=
                                 QFontMetrics(grid->font()).horizontalAdvance(ascii) + margin,
                             qPrintable(where + " ASCII"));
                    const QString cell = grid->model()->index(0, 15).data().toString();
                    QVERIFY2(grid->columnWidth(15) >=
                                 QFontMetrics(grid->font()).horizontalAdvance(cell) + margin,
                             qPrintable(where +
                                        QString(" cell %1 < %2 + %3, %4 pt")
                                            .arg(grid->columnWidth(15))
                                            .arg(QFontMetrics(grid->font()).horizontalAdvance(cell))
                                            .arg(margin)
                                            .arg(grid->font().pointSizeF())));
                }
            }
        }
    }

    // The README's picture: the window after an auto programming on the bench, in Chinese.
    void Screenshot() {
        const QString target = qEnvironmentVariable("TONDREL_SCREENSHOT");
        if (target.isEmpty()) QSKIP("set TONDREL_SCREENSHOT=FILE.png to write the picture");
        Window w("sim:ATmega16", 2);
        w.main->show();
        w.main->resize(w.main->DefaultSize(QSize(1366, 768)));
        w.Action("Mautosearch")->trigger();
        // Loaded by its bare name from the current folder: no machine's paths in the picture.
        const QString saved = QDir::currentPath();
        const QString picture = QFileInfo(target).absoluteFilePath();
        QVERIFY(QFile::copy(kSamples + "atmega16-blink.hex", w.dir.filePath("atmega16-blink.hex")));
        QDir::setCurrent(w.dir.path());
        QVERIFY(w.main->Session()->LoadFile(Memory::Flash, "atmega16-blink.hex"));
        w.Action("MautoProgram")->trigger();
        QDir::setCurrent(saved);
        w.main->ShowBuffer(Memory::Flash, true);
        QTest::qWait(100);
        QVERIFY(w.main->grab().save(picture));
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

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Qt's own file dialog, the one the tests can look into, on every platform.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    TMainTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "TMainTest.moc"
