// The window's dialogs on a running main window and the simulated bench.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "gui/ConfigDialog.h"
#include "gui/PortTestPanel.h"
#include "gui/TMain.h"
#include "gui/TModifyDataFrm.h"
#include "gui/TchipManageFrm.h"
#include "gui/WindowDialogs.h"
#include "sim/Bench.h"
#include "sim/backend/BenchBackEnd.h"

using namespace tondrel;
using namespace tondrel::gui;

namespace {

struct Window {
    QTemporaryDir dir;
    std::unique_ptr<TMain> main;
    explicit Window(const std::string& bench) {
        TMainOptions options;
        options.Port.Port = bench;
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        main = std::make_unique<TMain>(options);
        main->LanguageChooser = [] { return 1; };
        main->Question = [](const QString&) { return false; };
        main->Information = [](const QString&) {};
        InstallWindowDialogs(*main);
        QString error;
        if (!main->Initialize(error)) qFatal("window did not start: %s", qPrintable(error));
    }
};

// Every text a dialog shows: its title, captions, list entries and column titles.
QStringList ShownTexts(const QWidget& dialog) {
    QStringList texts{dialog.windowTitle()};
    for (const auto* b : dialog.findChildren<QAbstractButton*>()) texts << b->text();
    for (const auto* g : dialog.findChildren<QGroupBox*>()) texts << g->title();
    for (const auto* l : dialog.findChildren<QLabel*>()) texts << l->text();
    for (const auto* list : dialog.findChildren<QListWidget*>())
        for (int i = 0; i < list->count(); ++i) texts << list->item(i)->text();
    for (const auto* t : dialog.findChildren<QTableWidget*>())
        for (int c = 0; c < t->columnCount(); ++c)
            if (t->horizontalHeaderItem(c)) texts << t->horizontalHeaderItem(c)->text();
    return texts;
}

// The first text holding a Chinese character, or nothing.
QString FirstChinese(const QStringList& texts) {
    for (const QString& t : texts)
        for (const QChar c : t)
            if (c.unicode() >= 0x2E80 && c.unicode() <= 0xFFEF) return t;
    return {};
}

}  // namespace

class DialogsTest : public QObject {
    Q_OBJECT

  private slots:
    // The windows here run on the simulated bench.
    void initTestCase() { tondrel::sim::RegisterBenchBackEnd(); }

    void ChipDialogFiltersAndChooses() {
        Window w("sim:ATmega16");
        TchipManageFrm dialog(*w.main->Db(), w.main.get());
        const int all = dialog.ListedCount();
        QVERIFY(all > 40);

        auto* categories = dialog.findChild<QListWidget*>("ListChipCat");
        categories->setCurrentRow(2);  // "AT89"
        dialog.ListChipCatClick();
        const auto names = dialog.ListedNames();
        QVERIFY(!names.empty());
        for (const auto& n : names) QVERIFY2(n.find("AT89") != std::string::npos, n.c_str());
        QCOMPARE(names.front(), std::string("AT89S51"));  // method code 1 comes first

        // "选定" without a selected row chooses nothing and keeps the dialog open.
        dialog.findChild<QPushButton*>("Button1")->click();
        QVERIFY(!dialog.Chosen());

        dialog.findChild<QLineEdit*>("edtChipName")->setText("mega8");
        for (const auto& n : dialog.ListedNames()) QVERIFY(n.find("mega8") != std::string::npos);
        dialog.findChild<QLineEdit*>("edtChipName")->setText("no such chip");
        QCOMPARE(dialog.ListedCount(), 0);
        dialog.findChild<QPushButton*>("Button1")->click();
        QVERIFY(!dialog.Chosen());

        dialog.findChild<QLineEdit*>("edtChipName")->setText("ATmega16");
        auto* grid = dialog.findChild<QTableWidget*>("DBGrid1");
        grid->selectRow(0);
        dialog.findChild<QPushButton*>("Button1")->click();
        QVERIFY(dialog.Chosen());
        QCOMPARE(dialog.Chosen()->Name, std::string("ATmega16"));
        // Only the name column is wide enough to read.
        QVERIFY(grid->columnWidth(2) > 50);
        QCOMPARE(grid->columnWidth(0), 1);
    }

    // In English the chip dialog and every family's configuration dialog speak English only.
    void EnglishDialogsHaveNoChineseText() {
        {
            Window w("sim:ATmega16");
            TchipManageFrm dialog(*w.main->Db(), w.main.get(), Language::English);
            QCOMPARE(FirstChinese(ShownTexts(dialog)), QString());
        }
        // Enter and a double click choose the row, as the button does.
        for (const bool enter : {true, false}) {
            Window w("sim:ATmega16");
            TchipManageFrm dialog(*w.main->Db(), w.main.get(), Language::English);
            dialog.findChild<QLineEdit*>("edtChipName")->setText("ATtiny85");
            auto* grid = dialog.findChild<QTableWidget*>("DBGrid1");
            grid->selectRow(0);
            if (enter)
                QTest::keyClick(dialog.findChild<QLineEdit*>("edtChipName"), Qt::Key_Return);
            else
                emit grid->cellDoubleClicked(0, 2);
            QVERIFY(dialog.Chosen());
            QCOMPARE(dialog.Chosen()->Name, std::string("ATtiny85"));
        }
        for (const char* bench : {"sim:ATmega16", "sim:AT89S52", "sim:PIC16F877A", "sim:ATtiny2313",
                                  "sim:ATmega328P", "sim:ATtiny85"}) {
            Window w(bench);
            QVERIFY2(w.main->Session()->AutoSearch(), bench);
            auto dialog = MakeConfigDialog(*w.main);
            QVERIFY2(dialog, bench);
            QVERIFY2(FirstChinese(ShownTexts(*dialog)).isEmpty(),
                     qPrintable(QString(bench) + ": " + FirstChinese(ShownTexts(*dialog))));
        }
    }

    void ConfigDialogShowsTheSimulatedChipsFuses() {
        Window w("sim:ATmega16");
        QVERIFY(w.main->Session()->AutoSearch());
        auto dialog = MakeConfigDialog(*w.main);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QString("Tmega16otherFrm"));
        // Factory fuses of an ATmega16: low 0xE1, high 0x99; a programmed (0) bit is ticked.
        const uint8_t low = 0xE1, high = 0x99;
        for (int bit = 0; bit < 8; ++bit) {
            if (auto* box = dialog->findChild<QCheckBox*>(QString("FL%1").arg(bit)))
                QCOMPARE(box->isChecked(), ((low >> bit) & 1) == 0);
            if (auto* box = dialog->findChild<QCheckBox*>(QString("fh%1").arg(bit)))
                QCOMPARE(box->isChecked(), ((high >> bit) & 1) == 0);
        }
        QVERIFY(dialog->findChild<QCheckBox*>("FL0"));
        // The clock source as a choice beside its boxes, the two in step both ways: CKSEL 0001
        // (1 MHz RC) as the factory sets it; choosing 0100 (8 MHz RC) ticks FL0, clears FL2.
        auto* cksel = dialog->findChild<QComboBox*>("GroupBox3.CKSEL");
        QVERIFY(cksel);
        QVERIFY(cksel->currentText().startsWith("0001  internal 1 MHz RC"));
        emit cksel->activated(cksel->findData(0x4));
        QVERIFY(dialog->findChild<QCheckBox*>("FL0")->isChecked());
        QVERIFY(!dialog->findChild<QCheckBox*>("FL2")->isChecked());
        QVERIFY(cksel->currentText().startsWith("0100"));
        dialog->findChild<QCheckBox*>("FL0")->click();
        QVERIFY(cksel->currentText().startsWith("0101"));
        dialog->findChild<QCheckBox*>("FL2")->click();
        QVERIFY(cksel->currentText().startsWith("0001"));
        // Programming BODEN (ticking FL6) and writing changes the chip's low fuse. (CKSEL0
        // would switch it to an external clock, and this board has none.)
        dialog->findChild<QCheckBox*>("FL6")->click();
        dialog->findChild<QPushButton*>("Button6")->click();
        auto again = MakeConfigDialog(*w.main);
        QVERIFY(again);
        QVERIFY(again->findChild<QCheckBox*>("FL6")->isChecked());
    }

    void WordEditorStoresTheCell() {
        Window w("sim:ATmega16");
        core::Session* s = w.main->Session();
        QVERIFY(s->AutoSearch());
        const auto& flash = s->Buffer(Memory::Flash);
        TModifyDataFrm editor(
            flash, Memory::Flash, GridMode::Word, 3, Language::English,
            [s](const std::string& text) { s->EditBuffer(Memory::Flash, GridMode::Word, 3, text); },
            w.main.get());
        QCOMPARE(editor.objectName(), QString("TModifyFlashDataFrm"));
        QCOMPARE(editor.Editor()->text(), QString("FFFF"));
        editor.Editor()->clear();
        QTest::keyClicks(editor.Editor(), "1zA2g");  // z and g are dropped
        QCOMPARE(editor.Editor()->text(), QString("1A2"));
        editor.accept();
        // Left-padded to 0x01A2, stored low byte first at word 3.
        QCOMPARE(int(flash[6]), 0xA2);
        QCOMPARE(int(flash[7]), 0x01);
        w.main->ShowBuffer(Memory::Flash, false);
        QCOMPARE(w.main->FlashModel()->index(0, 3).data().toString(), QString("01A2"));
    }

    // Only OK and Enter store what was typed; Escape and the close box leave the byte alone.
    void ByteEditorStoresOnlyWhenAccepted() {
        const struct {
            const char* how;
            int stored;
        } cases[] = {{"enter", 0x01}, {"ok", 0x01}, {"escape", 0x5A}, {"closebox", 0x5A}};
        for (const auto& c : cases) {
            Window w("sim:ATmega16");
            core::Session* s = w.main->Session();
            QVERIFY(s->AutoSearch());
            s->EditBuffer(Memory::EEPROM, GridMode::Byte, 2, "5A");
            TModifyDataFrm editor(
                s->Buffer(Memory::EEPROM), Memory::EEPROM, GridMode::Byte, 2, Language::English,
                [s](const std::string& text) {
                    s->EditBuffer(Memory::EEPROM, GridMode::Byte, 2, text);
                },
                w.main.get());
            editor.show();
            QVERIFY(QTest::qWaitForWindowExposed(&editor));
            editor.Editor()->clear();
            QTest::keyClicks(editor.Editor(), "zz1");
            const QString how = c.how;
            if (how == "enter")
                QTest::keyClick(editor.Editor(), Qt::Key_Return);
            else if (how == "ok")
                editor.findChild<QPushButton*>("BitBtn1")->click();
            else if (how == "escape")
                QTest::keyClick(editor.Editor(), Qt::Key_Escape);
            else
                editor.close();
            QVERIFY2(!editor.isVisible(), c.how);
            QCOMPARE(int(s->Buffer(Memory::EEPROM)[2]), c.stored);
        }
    }

    void PortTestDrivesPinsAndReadsInputs() {
        Window w("sim:ATmega16");
        core::Session* s = w.main->Session();
        sim::Bench* bench = w.main->Ports()->GetBench();
        QVERIFY(bench);
        PortTestPanel panel(*s, w.main.get());
        auto* enable = panel.findChild<QCheckBox*>("pin14");
        enable->setChecked(true);
        QVERIFY(!bench->TargetConnected());
        enable->setChecked(false);
        QVERIFY(bench->TargetConnected());
        // The five inputs are shown.
        for (int pin : {10, 11, 12, 13, 15})
            QVERIFY(panel.findChild<QLabel*>(QString("pin%1").arg(pin))->text().contains("pin"));
        panel.show();
        panel.findChild<QPushButton*>("PortTestClose")->click();
        QVERIFY(!panel.isVisible());
    }

    // The window reaches the chip only through the session: no engine is built or driven here.
    void NoWindowFileIncludesAnEngine() {
        const QDir gui(QStringLiteral(TONDREL_SOURCE_ROOT "/gui"));
        const QStringList files = gui.entryList({"*.h", "*.cpp"}, QDir::Files);
        QVERIFY(files.size() > 10);
        for (const QString& name : files) {
            QFile file(gui.filePath(name));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(!file.readAll().contains("#include \"engines/"), qPrintable(name));
        }
    }
};

QTEST_MAIN(DialogsTest)
#include "DialogsTest.moc"
