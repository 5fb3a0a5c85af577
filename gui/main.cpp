// tondrel: the programmer's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QSessionManager>
#include <QStandardPaths>
#include <QTimer>
#include <cstdio>

#include "common/Version.h"
#include "db/Database.h"
#include "ftdi/FtdiBackEnd.h"
#include "gui/QuitSignals.h"
#include "gui/SingleInstance.h"
#include "gui/TMain.h"
#include "gui/WindowDialogs.h"
#include "sim/backend/BenchBackEnd.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("tondrel");
    QApplication::setApplicationVersion(tondrel::kVersion);
    // --port sim:..., and the bench the window falls back to without a parallel port.
    tondrel::sim::RegisterBenchBackEnd();
    tondrel::ftdi::RegisterFtdiBackEnd();  // --port ftdi..., and the USB adapters menu

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "tondrel: in-system programmer for AT89S, AVR and PIC16 chips");
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption port(
        "port", "sim:CHIP, sim:none, ppdev[:DEVICE], direct[:0xBASE] or ftdi[:VID:PID[:SERIAL]]",
        "PORT");
    QCommandLineOption lpt("lpt", "parallel port 1, 2 or 3", "N");
    QCommandLineOption database("database", "the chip database", "PATH");
    QCommandLineOption simState("sim-state", "keep the simulated chip's memory in FILE", "FILE");
    parser.addOptions({port, lpt, database, simState});
    parser.process(app);

    tondrel::gui::TMainOptions options;
    if (parser.isSet(lpt)) {
        bool number = false;
        options.Port.Lpt = parser.value(lpt).toInt(&number);
        if (!number || options.Port.Lpt < 1 || options.Port.Lpt > 3) {
            std::fprintf(stderr, "tondrel: --lpt takes 1, 2 or 3, not '%s'\n",
                         qPrintable(parser.value(lpt)));
            return 2;
        }
    }

    tondrel::gui::SingleInstance instance;
    if (instance.RaiseRunning()) return 0;

    options.Port.Port = parser.value(port).toStdString();
    options.Port.SimState = parser.value(simState).toStdString();
    // A desk without a parallel port still gets a working window, on the simulated bench; the
    // window says so plainly. A port asked for by name is never replaced.
    options.Port.FallBackToBench = options.Port.Port.empty();
    options.DatabasePath = tondrel::db::ResolveDatabasePath(
        parser.value(database).toStdString(), QCoreApplication::applicationDirPath().toStdString());

    options.WindowStatePath =
        QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) + "/window.ini";

    tondrel::gui::TMain window(options);
    tondrel::gui::InstallWindowDialogs(window);
    // Listen before the start-up work: a second start during the first-start language question
    // must find this window, not open another.
    if (!instance.Listen([&window] { window.BringToFront(); }) && instance.RaiseRunning())
        return 0;  // another start won the race for the name
    QString error;
    if (!window.Initialize(error)) {
        std::fprintf(stderr, "tondrel: %s\n", qPrintable(error));
        QMessageBox::critical(nullptr, "tondrel", error);
        return 1;
    }
    // A signal or the desktop session ending closes the window as the quit command does.
    tondrel::gui::QuitSignals quitSignals([&window] { window.RequestClose(); });
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager&) { window.RequestClose(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &window,
                     [&window] { window.Shutdown(); });
    window.show();
    return app.exec();
}
