// tapwright-cli: the command-line front end.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cli/Commands.h"
#include "cli/FlashCommands.h"
#include "cli/FrontEnd.h"
#include "cli/PageCommands.h"
#include "config/Settings.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "port/ResourceLock.h"

int main(int argc, char** argv) {
    // The command line never changes a bench's settings file, not even on a usage error.
    CSettings::DisableSaving();

    CLI::App app{"Tapwright: service and production work on STi set-top-box boards over JTAG",
                 "tapwright-cli"};
    app.require_subcommand(1);
    app.footer(
        "Exit codes: 0 done; 1 the operation failed or was refused; 2 a wrong option; 3 done, "
        "but the log could not be written; 130 interrupted by Ctrl-C.");

    CliOptions options;
    options.command = "tapwright-cli";
    for (int i = 1; i < argc; ++i) options.command += std::string(" ") + argv[i];
    std::string lptBase;
    app.add_option("--driver", options.driver,
                   "port backend: " + port::DriverHelp() + "\n(default: $" +
                       std::string(port::kDriverEnvVar) + ", else " + port::DefaultDriverName() +
                       ")");
    app.add_option("--lpt", options.lptIndex, "parallel port: 0 = 0x378, 1 = 0x278, 2 = 0x3BC")
        ->check(CLI::Range(0, 2));
    app.add_option("--lpt-base", lptBase,
                   "any other parallel-port base address in hexadecimal (PCI/PCIe cards)");
    app.add_option("--dut", options.dut, "DUT profile index of Tapwright.ini (this run only)");
    port::CableOptions cable;
    app.add_flag("--fast-clock", cable.fastClock,
                 "parallel port: 3 port accesses per JTAG clock instead of 4 (same bits)");
    bool noPipeline = false;
    app.add_flag("--no-pipeline", noPipeline,
                 "one round trip per JTAG clock on queued cables such as remote-bitbang");

    app.add_option("--log", options.log, "operation log to append to (default: log.txt)");
    bool noReadCheck = false;
    app.add_flag("--no-read-check", noReadCheck,
                 "read once, without confirming each read by a second one (for a cable known "
                 "clean)");
    int lockWait = port::LockWait();
    app.add_option("--lock-wait", lockWait,
                   "seconds to wait for a board folder or port another process uses "
                   "(default: 5)")
        ->check(CLI::Range(0, 3600));

    auto* cpuid = app.add_subcommand("cpuid", "CPU ID: read the processor's IDCODE and name it");
    auto* load = app.add_subcommand(
        "load", "CPU ID, then LOAD: start the general trap handler and show the DCU state");

    app.add_subcommand("settings", "print the profiles and chip tables of Tapwright.ini");

    FlashArgs flashArgs;
    auto* flash = AddFlashCommands(app, flashArgs);
    AddPageCommands(app);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help exits 0; every usage error exits 2, like the tool's own checks.
        return app.exit(e) == 0 ? 0 : 2;
    }

    port::SetPortMessageStream(stderr);
    cable.pipeline = !noPipeline;
    port::SetCableOptions(cable);
    port::SetLockWait(lockWait);
    options.readCheck = !noReadCheck;

    if (!lptBase.empty()) {
        std::string digits;
        const unsigned long base =
            HexDigits(lptBase, digits) ? std::strtoul(digits.c_str(), nullptr, 16) : 0;
        if (base == 0 || base > 0xFFFC) {
            std::fprintf(stderr, "tapwright-cli: --lpt-base %s is not a port address (e.g. D010)\n",
                         lptBase.c_str());
            return 2;
        }
        options.lptBase = static_cast<int>(base);
    }
    if (app.got_subcommand("settings")) return RunSettings(options);
    if (*flash) return RunFlashCommand(options, flashArgs);
    if (*cpuid) return RunWindowCommand(options, WindowCommand::CpuId);
    if (*load) return RunWindowCommand(options, WindowCommand::Load);
    if (const int rc = RunPageCommands(options); rc >= 0) return rc;
    return 2;
}
