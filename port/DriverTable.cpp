// Every backend is listed once; platform-only ones drop out of other builds.
#include "port/DriverTable.h"

#include <cstdlib>
#include <filesystem>

#include "port/FtdiDriver.h"
#include "port/GpioDriver.h"
#include "port/RemoteBitbangDriver.h"
#include "port/ResourceLock.h"
#include "port/SimGpio.h"
#include "port/SimPortDriver.h"
#include "port/SimUsbBus.h"
#include "sim/Board.h"

#ifdef _WIN32
#include "port/win/PortTalkDriver.h"
#else
#include "port/linux/DirectIoDriver.h"
#include "port/linux/PpdevDriver.h"
#endif

namespace port {

namespace {

using Factory = std::unique_ptr<IPortDriver> (*)(const std::string& name, const std::string& args,
                                                 std::string& error);

struct Backend {
    const char* name;
    const char* usage;
    const char* help;
    Factory create;
};

bool g_inUse = false;  // the last virtual board created found its folder held

bool NoArguments(const std::string& name, const std::string& args, std::string& error) {
    if (args.empty()) return true;
    error = "driver '" + name + "' takes no arguments (got '" + args + "')";
    return false;
}

std::unique_ptr<IPortDriver> CreateSim(const std::string&, const std::string& args,
                                       std::string& error) {
    sim::Options options;
    std::string why;
    if (!sim::ParseOptions(args, options, why)) {
        error = "driver 'sim': " + why;
        return nullptr;
    }
    // Two processes on one board folder would each save their own copy at exit: one waits.
    ResourceLock lock;
    if (!LockBoardFolder(options.dir, lock, error)) {
        g_inUse = true;
        return nullptr;
    }
    return std::make_unique<SimPortDriver>(options, std::move(lock));
}

std::unique_ptr<IPortDriver> CreateRemote(const std::string& name, const std::string& args,
                                          std::string& error) {
    const std::string usage = "use " + name + ":HOST:PORT, e.g. " + name + ":127.0.0.1:5555";
    if (args.size() < 2 || args[0] != ':') {
        error = "driver '" + name + "' needs a host and a port: " + usage;
        return nullptr;
    }
    const std::string rest = args.substr(1);
    const size_t colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == rest.size()) {
        error = "driver '" + name + "' needs a host and a port: " + usage;
        return nullptr;
    }
    std::string host = rest.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);  // [::1]
    const std::string portText = rest.substr(colon + 1);
    unsigned long port = 0;
    for (char c : portText) {
        if (c < '0' || c > '9' || port > 65535) {
            port = 0;
            break;
        }
        port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (port == 0 || port > 65535) {
        error = "driver '" + name + "': '" + portText + "' is not a TCP port (1-65535)";
        return nullptr;
    }
    return std::make_unique<RemoteBitbangDriver>(host, static_cast<uint16_t>(port));
}

std::unique_ptr<IPortDriver> CreateFtdi(const std::string&, const std::string& args,
                                        std::string& error) {
    FtdiSpec spec;
    if (!ParseFtdiSpec(args, spec, error)) return nullptr;
    std::string busError;
    auto bus = OpenLibUsbBus(busError);
    return std::make_unique<FtdiDriver>("ftdi", spec, std::move(bus), busError);
}
std::unique_ptr<IPortDriver> CreateFtdiSim(const std::string&, const std::string& args,
                                           std::string& error) {
    return CreateFtdiSimDriver(args, error, &g_inUse);
}
std::unique_ptr<IPortDriver> CreateGpiod(const std::string&, const std::string& args,
                                         std::string& error) {
    GpioSpec spec;
    if (!ParseGpioSpec(args, spec, error)) return nullptr;
    std::string why;
    auto system = OpenLibGpiod(why);
    return std::make_unique<GpioDriver>("gpiod", spec, std::move(system), why);
}
std::unique_ptr<IPortDriver> CreateGpiodSim(const std::string&, const std::string& args,
                                            std::string& error) {
    return CreateGpiodSimDriver(args, error, &g_inUse);
}

#ifdef _WIN32
std::unique_ptr<IPortDriver> CreatePortTalk(const std::string& name, const std::string& args,
                                            std::string& error) {
    if (!NoArguments(name, args, error)) return nullptr;
    return std::make_unique<PortTalkDriver>();
}
#else
std::unique_ptr<IPortDriver> CreatePpdev(const std::string& name, const std::string& args,
                                         std::string& error) {
    if (!NoArguments(name, args, error)) return nullptr;
    return std::make_unique<PpdevDriver>();
}
std::unique_ptr<IPortDriver> CreateDirect(const std::string& name, const std::string& args,
                                          std::string& error) {
    if (!NoArguments(name, args, error)) return nullptr;
    return std::make_unique<DirectIoDriver>();
}
#endif

const Backend kBackends[] = {
#ifdef _WIN32
    {"porttalk", "porttalk", "the PortTalk kernel driver (installed and started when needed)",
     CreatePortTalk},
#else
    {"ppdev", "ppdev", "Linux ppdev (/dev/parportN), no root needed with the lp group",
     CreatePpdev},
    {"direct", "direct", "Linux direct port I/O (ioperm), root only, fastest", CreateDirect},
#endif
    {"remote-bitbang", "remote-bitbang:HOST:PORT", "OpenOCD remote_bitbang server over TCP",
     CreateRemote},
    {"ftdi", "ftdi[:VID:PID][,serial=S][,channel=A-D][,khz=N][,trst=PIN][,srst=PIN]",
     "FTDI MPSSE USB adapter (FT2232H/FT232H/FT4232H), default 0403:6010 channel A, 6000 kHz",
     CreateFtdi},
    {"gpiod", "gpiod:CHIP,tck=N,tms=N,tdi=N,tdo=N[,trst=N][,srst=N]",
     "GPIO lines through libgpiod (e.g. a Raspberry Pi's header)", CreateGpiod},
    {"sim", "sim[:DIR][,knob...]", "the virtual board, in process", CreateSim},
    {"ftdi-sim", "ftdi-sim[ftdi options][@ADAPTER-KNOBS...][@sim...]",
     "the ftdi cable on emulated adapters, the first wired to the virtual board", CreateFtdiSim},
    {"gpiod-sim", "gpiod-sim[gpiod options][@CHIP-KNOBS][@sim...]",
     "the gpiod cable on an emulated GPIO chip wired to the virtual board", CreateGpiodSim},
};

std::string ValidNames() {
    std::string names;
    for (const Backend& b : kBackends) names += (names.empty() ? "" : ", ") + std::string(b.usage);
    return names;
}

std::unique_ptr<IPortDriver> CreateNamedDriver(const std::string& spec, std::string& error) {
    const size_t end = spec.find_first_of(":,@");
    const std::string name = spec.substr(0, end);
    const std::string args = end == std::string::npos ? std::string() : spec.substr(end);
    for (const Backend& b : kBackends)
        if (name == b.name) return b.create(name, args, error);
#ifndef _WIN32
    if (name == "porttalk") {
        error =
            "driver 'porttalk' exists only on Windows; here use --driver ppdev (or direct "
            "as root)";
        return nullptr;
    }
#endif
    error = "unknown driver '" + name + "': valid drivers are " + ValidNames();
    return nullptr;
}

}  // namespace

std::unique_ptr<IPortDriver> CreatePortDriver(const std::string& spec, std::string& error,
                                              bool* inUse) {
    g_inUse = false;
    auto driver = CreateNamedDriver(spec, error);
    if (inUse != nullptr) *inUse = g_inUse;
    return driver;
}

const char* DefaultDriverName() {
#ifdef _WIN32
    return "porttalk";
#else
    return "ppdev";
#endif
}

std::string ResolveDriverSpec(const std::string& option) {
    if (!option.empty()) return option;
    const char* env = std::getenv(kDriverEnvVar);
    if (env != nullptr && *env != '\0') return env;
    return DefaultDriverName();
}

std::string DriverHelp() {
    std::string help;
    for (const Backend& b : kBackends)
        help += std::string(help.empty() ? "" : "\n") + b.usage + ": " + b.help;
    return help;
}

}  // namespace port
