// tapwright-sim: the virtual board served over OpenOCD's remote_bitbang protocol.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim/Board.h"
#include "sim/RemoteBitbang.h"
#include "sim/StandInHandlers.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) {
    g_stop.store(true);
}

void PrintHelp() {
    std::printf(
        "Usage: tapwright-sim [--board OPTIONS] [--drop-after N] [--stats] --listen PORT\n"
        "       tapwright-sim --write-handlers DIR\n"
        "Serves a virtual STi board over OpenOCD's remote_bitbang protocol on 127.0.0.1.\n"
        "\n"
        "  --listen PORT     TCP port to listen on; 0 picks a free one. The line\n"
        "                    \"listening on 127.0.0.1:PORT\" is printed once ready.\n"
        "  --board OPTIONS   board options as after \"sim\" in --driver:\n"
        "                    [:DIR][,knob[=value]]...  e.g. \":/tmp/board,idcode=0x3D4C9041\"\n"
        "  --write-handlers DIR  write the nine stand-in trap handler images the board\n"
        "                    runs (TrapHandler.bin, Flash0Bus08.bin ... I2C_3Cycles.bin)\n"
        "                    into DIR and exit\n"
        "  --drop-after N    close each client's connection after N letters, as a cable\n"
        "                    pulled mid-operation\n"
        "  --stats           print one line per client session: letters, TCK clocks and\n"
        "                    the time it was busy (its pauses of 50 ms or more left out)\n"
        "  --help            this text\n"
        "\n"
        "One client at a time; 'Q' or a closed connection ends its session and the next\n"
        "client is accepted. SIGINT or SIGTERM stops the server and saves DIR.\n"
        "\n"
        "Board knobs:\n%s",
        sim::OptionsHelp().c_str());
}

int Usage(const std::string& why) {
    std::fprintf(stderr, "tapwright-sim: %s (try --help)\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string boardText;
    long port = -1;
    unsigned long long dropAfter = 0;
    bool stats = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        }
        if ((arg == "--board" || arg == "--listen" || arg == "--write-handlers" ||
             arg == "--drop-after") &&
            i + 1 >= argc)
            return Usage(arg + " needs a value");
        if (arg == "--write-handlers") {
            std::string error;
            if (!sim::WriteStandInHandlers(argv[++i], error)) {
                std::fprintf(stderr, "tapwright-sim: %s\n", error.c_str());
                return 1;
            }
            return 0;
        }
        if (arg == "--board") {
            boardText = argv[++i];
            if (!boardText.empty() && boardText[0] != ':' && boardText[0] != ',')
                boardText = "," + boardText;
        } else if (arg == "--listen") {
            const char* text = argv[++i];
            char* end = nullptr;
            port = std::strtol(text, &end, 10);
            if (*text == '\0' || *end != '\0' || port < 0 || port > 65535)
                return Usage(std::string("bad port '") + text + "'");
        } else if (arg == "--stats") {
            stats = true;
        } else if (arg == "--drop-after") {
            const char* text = argv[++i];
            char* end = nullptr;
            dropAfter = std::strtoull(text, &end, 10);
            if (*text < '1' || *text > '9' || *end != '\0')
                return Usage(std::string("bad letter count '") + text + "'");
        } else {
            return Usage("unknown argument '" + arg + "'");
        }
    }
    if (port < 0) return Usage("--listen PORT is required");

    sim::Options options;
    std::string error;
    if (!sim::ParseOptions(boardText, options, error)) return Usage(error);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    sim::Board board(options);
    sim::RemoteBitbangServer server(board);
    server.DropAfter(dropAfter);
    if (stats) server.ReportSessionsTo(stdout);
    if (!server.Listen(static_cast<uint16_t>(port), error)) {
        std::fprintf(stderr, "tapwright-sim: %s\n", error.c_str());
        return 1;
    }
    std::printf("listening on 127.0.0.1:%u\n", static_cast<unsigned>(server.port()));
    std::fflush(stdout);
    if (!server.Run(g_stop, error)) {
        std::fprintf(stderr, "tapwright-sim: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
