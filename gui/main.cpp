// tondrel: the programmer's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QTimer>

#include "db/Database.h"
#include "gui/SingleInstance.h"
#include "gui/TMain.h"
#include "gui/WindowDialogs.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("tondrel");
    QApplication::setApplicationVersion("2.3");

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "tondrel: in-system programmer for AT89S, AVR and PIC16 chips");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption port("port", "sim:CHIP, sim:none, ppdev[:DEVICE] or direct[:0xBASE]",
                            "PORT");
    QCommandLineOption lpt("lpt", "parallel port 1, 2 or 3", "N");
    QCommandLineOption database("database", "the chip database", "PATH");
    QCommandLineOption simState("sim-state", "keep the simulated chip's memory in FILE", "FILE");
    parser.addOptions({port, lpt, database, simState});
    parser.process(app);

    tondrel::gui::SingleInstance instance;
    if (instance.RaiseRunning()) return 0;

    tondrel::gui::TMainOptions options;
    options.Port.Port = parser.value(port).toStdString();
    options.Port.Lpt = parser.value(lpt).toInt();
    options.Port.SimState = parser.value(simState).toStdString();
    // A desk without a parallel port still gets a working window, on the simulated bench; the
    // window says so plainly. A port asked for by name is never replaced.
    options.Port.FallBackToBench = options.Port.Port.empty();
    options.DatabasePath = tondrel::db::ResolveDatabasePath(
        parser.value(database).toStdString(), QCoreApplication::applicationDirPath().toStdString());

    tondrel::gui::TMain window(options);
    tondrel::gui::InstallWindowDialogs(window);
    QString error;
    if (!window.Initialize(error)) {
        QMessageBox::critical(nullptr, "tondrel", error);
        return 1;
    }
    instance.Listen([&window] { window.BringToFront(); });
    window.show();
    return app.exec();
}
