// Tapwright on Windows: the main window as native dialogs. `Tapwright [--driver SPEC]` opens it
// on the chosen port backend; `--driver sim` runs every page against the virtual board.
#include <windows.h>

#include <string>

#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "ui/AppState.h"
#include "ui/MainApp.h"
#include "ui/win/WinUiHost.h"

namespace {

// A window program has no console: what it has to say goes into a message box.
int Say(const std::string& text, UINT icon, int status) {
    MessageBoxW(nullptr, winui::Wide(text).c_str(), L"Tapwright", MB_OK | icon);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string option;
    port::CableOptions cable;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--fast-clock") {
            cable.fastClock = true;
        } else if (arg == "--driver" && i + 1 < argc) {
            option = argv[++i];
        } else if (arg.rfind("--driver=", 0) == 0) {
            option = arg.substr(9);
        } else if (arg == "--help" || arg == "-h" || arg == "/?") {
            return Say(
                "Tapwright [--driver SPEC] [--fast-clock]\n\nport backend: " + port::DriverHelp() +
                    "\n(default: %" + port::kDriverEnvVar + "%, else " + port::DefaultDriverName() +
                    ")\n--fast-clock: parallel port, 3 port accesses per JTAG clock "
                    "instead of 4 (same bits)",
                MB_ICONINFORMATION, 0);
        } else {
            return Say("unexpected argument '" + arg + "' (see --help)", MB_ICONERROR, 2);
        }
    }

    std::string error;
    const std::string spec = port::ResolveDriverSpec(option);
    auto driver = port::CreatePortDriver(spec, error);
    if (!driver) return Say(error, MB_ICONERROR, 2);
    port::SelectPortDriver(std::move(driver));
    port::SetCableOptions(cable);

    // The operation log and the link's trace go into the working folder.
    SetLogTarget("log.txt", false);
    SetLogSession("window", spec);
    SetStartDriverSpec(spec);
    g_link.SetTraceFile("trace.txt");

    winui::WinUiHost host;
    SetUiHost(&host);
    theApp.InitInstance();
    SetUiHost(nullptr);
    return 0;
}
