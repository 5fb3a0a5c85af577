// The configuration dialog's question before a write that ends serial programming: the real
// message box, with the question icon and No as the default button.
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "gui/ConfigDialog.h"
#include "gui/TMain.h"
#include "gui/WindowDialogs.h"
#include "sim/backend/BenchBackEnd.h"

using namespace tondrel;
using namespace tondrel::gui;

class ConfigQuestionTest : public QObject {
    Q_OBJECT

    struct Seen {
        bool Shown = false;
        QMessageBox::Icon Icon = QMessageBox::NoIcon;
        bool NoIsDefault = false;
        QString Text;
    };

    // Answers the next modal message box with `answer`, noting how it looked.
    static void AnswerNextBox(QMessageBox::StandardButton answer, Seen& seen) {
        QTimer::singleShot(0, [answer, &seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            seen.Shown = true;
            seen.Icon = box->icon();
            seen.NoIsDefault = box->defaultButton() == box->button(QMessageBox::No);
            seen.Text = box->text();
            box->button(answer)->click();
        });
    }

  private slots:
    // The windows here run on the simulated bench.
    void initTestCase() { tondrel::sim::RegisterBenchBackEnd(); }

    void RstdisblOnATtiny2313AsksWithNoAsDefault() {
        QTemporaryDir dir;
        TMainOptions options;
        options.Port.Port = "sim:ATtiny2313";
        options.DatabasePath = (dir.path() + "/chip.db").toStdString();
        TMain main(options);
        main.LanguageChooser = [] { return 1; };
        int routine = 0;
        main.Question = [&routine](const QString&) {
            ++routine;
            return true;
        };
        QStringList shown;
        main.Information = [&shown](const QString& t) { shown << t; };
        InstallWindowDialogs(main);
        QString error;
        QVERIFY2(main.Initialize(error), qPrintable(error));
        QVERIFY(main.Session()->AutoSearch());

        auto dialog = MakeConfigDialog(main);
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), QString("TTiny2313otherFrm"));
        // Bit 0 of the ATtiny2313's fuse high byte is RSTDISBL.
        auto* rstdisbl = dialog->findChild<QCheckBox*>("fh0");
        QVERIFY(rstdisbl);
        QCOMPARE(rstdisbl->text(), QString("RSTDISBL"));
        rstdisbl->click();
        QVERIFY(rstdisbl->isChecked());

        Seen no;
        AnswerNextBox(QMessageBox::No, no);
        dialog->findChild<QPushButton*>("Button4")->click();
        QVERIFY(no.Shown);
        QCOMPARE(no.Icon, QMessageBox::Question);
        QVERIFY(no.NoIsDefault);
        QVERIFY(no.Text.contains("RSTDISBL"));
        QVERIFY(shown.isEmpty());  // nothing written, nothing reported
        QCOMPARE(routine, 0);      // not asked through the window's routine box

        Seen yes;
        AnswerNextBox(QMessageBox::Yes, yes);
        dialog->findChild<QPushButton*>("Button4")->click();
        QVERIFY(yes.Shown);
        // The dialog reports in the window's language.
        QCOMPARE(shown, QStringList{QString::fromUtf8("command completed!")});
    }
};

QTEST_MAIN(ConfigQuestionTest)
#include "ConfigQuestionTest.moc"
