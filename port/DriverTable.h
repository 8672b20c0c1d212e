// Backends selected by name: --driver sim[:DIR][,knob...] | ppdev | direct |
// remote-bitbang:HOST:PORT | porttalk (Windows).
#pragma once

#include <memory>
#include <string>

#include "port/PortDevice.h"

namespace port {

// Environment variable read when no --driver option is given.
constexpr const char* kDriverEnvVar = "TAPWRIGHT_DRIVER";

// Builds the backend the driver string names. On failure returns null and sets error to one line
// that names the cause and the fix; `inUse`, when given, tells a board another process holds
// from a wrong driver string.
std::unique_ptr<IPortDriver> CreatePortDriver(const std::string& spec, std::string& error,
                                              bool* inUse = nullptr);
// The platform's real driver: "porttalk" on Windows, "ppdev" on Linux.
const char* DefaultDriverName();
// spec from --driver, else TAPWRIGHT_DRIVER, else the default.
std::string ResolveDriverSpec(const std::string& option);
// One line per backend for --help.
std::string DriverHelp();

}  // namespace port
