// What the machine offers besides the parallel ports: the FTDI adapters on the USB bus and the
// GPIO chips, found through the cables' own seams, each as the driver string that opens it.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/PortDevice.h"

namespace port {

struct PortOffer {
    std::string label;  // what the port list shows
    std::string key;    // what the settings keep: the driver string, an emulator's groups left out
    std::string spec;   // the driver string that opens it
};

// ppdev, direct and porttalk drive a parallel port at the base the operator chooses.
bool IsParallelBackend(const std::string& name);

// The FTDI adapters with an MPSSE (channel A) and the GPIO chips (with the Raspberry Pi wiring)
// of this machine, or of the emulator when `given` is an emulated twin (its `givenSpec` gives
// the emulator's groups). A found device that `saved` names keeps the saved options and lines.
std::vector<PortOffer> FindMachinePorts(IPortDriver* given, const std::string& givenSpec,
                                        const std::string& saved);

// Stands for a chosen port that is not there: it never opens, and says `why`.
std::unique_ptr<IPortDriver> AbsentPortDriver(std::string why);

}  // namespace port
