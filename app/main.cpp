// Tapwright: the desktop program. `Tapwright [--driver SPEC]` opens the main window on the
// chosen port backend; `--driver sim` runs every page against the virtual board.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "ui/AppState.h"
#include "ui/DialogTemplate.h"
#include "ui/MainApp.h"
#include "ui/qt/QtUiHost.h"

int main(int argc, char** argv) {
    // --help and --version print and exit: they need no display (man pages are made from them
    // on build machines without one) and leave the folder's settings file alone.
    for (int i = 1; i < argc; ++i)
        for (const char* printOnly : {"--help", "-h", "-?", "--help-all", "--version", "-v"})
            if (std::strcmp(argv[i], printOnly) == 0) {
                qputenv("QT_QPA_PLATFORM", "offscreen");
                CSettings::DisableSaving();
            }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tapwright"));
    QApplication::setApplicationVersion(QString::fromLatin1(VersionText()));
    QApplication::setWindowIcon(QIcon(qtui::IconPath(kIdiMainIcon)));
    // The main window is a modal dialog; the program ends when it does, not before.
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Service and production work on STi set-top-box boards over JTAG"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption driverOption(
        QStringLiteral("driver"),
        QString::fromStdString("port backend: " + port::DriverHelp() + "\n(default: $" +
                               port::kDriverEnvVar + ", else " + port::DefaultDriverName() + ")"),
        QStringLiteral("spec"));
    parser.addOption(driverOption);
    const QCommandLineOption fastClockOption(
        QStringLiteral("fast-clock"),
        QStringLiteral("parallel port: 3 port accesses per JTAG clock instead of 4 (same bits)"));
    parser.addOption(fastClockOption);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        CSettings::DisableSaving();  // the window never opened
        std::fprintf(stderr, "Tapwright: unexpected argument '%s' (see --help)\n",
                     parser.positionalArguments().first().toLocal8Bit().constData());
        return 2;
    }

    std::string error;
    const std::string spec = port::ResolveDriverSpec(parser.value(driverOption).toStdString());
    auto driver = port::CreatePortDriver(spec, error);
    if (!driver) {
        std::fprintf(stderr, "Tapwright: %s\n", error.c_str());
        QMessageBox::critical(nullptr, QStringLiteral("Tapwright"), QString::fromStdString(error));
        return 2;
    }
    port::SelectPortDriver(std::move(driver));
    port::CableOptions cable;
    cable.fastClock = parser.isSet(fastClockOption);
    port::SetCableOptions(cable);

    // The operation log and the link's trace go into the working folder.
    SetLogTarget("log.txt", false);
    SetLogSession("window", spec);
    SetStartDriverSpec(spec);
    g_link.SetTraceFile("trace.txt");

    qtui::QtUiHost host;
    SetUiHost(&host);
    theApp.InitInstance();
    SetUiHost(nullptr);
    return 0;
}
