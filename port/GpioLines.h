// The GPIO seam below the gpiod cable: the few line calls it makes, so the cable runs on
// libgpiod (port/gpio/LibGpiodV1.cpp, the v1 API of Debian 12; a v2 file can sit beside it)
// or on the emulated chip (port/SimGpio.cpp). Results are 0 or an errno number.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace port {

// An opened chip; destroying it releases its lines and closes it.
class IGpioChip {
  public:
    virtual ~IGpioChip() = default;
    virtual unsigned NumLines() = 0;
    // The consumer holding a line, "" when it is free.
    virtual std::string LineConsumer(unsigned offset) = 0;
    // The output lines, requested together with their first levels.
    virtual int RequestOutputs(const unsigned* offsets, const int* values, size_t n) = 0;
    virtual int RequestInput(unsigned offset) = 0;
    // New levels for every output line at once: one access.
    virtual int SetOutputs(const int* values) = 0;
    // The input line's level: one access.
    virtual int GetInput(int& value) = 0;
};

class IGpioSystem {
  public:
    virtual ~IGpioSystem() = default;
    virtual int Open(const std::string& chip, std::unique_ptr<IGpioChip>& out) = 0;
    // The chips this machine has, for messages.
    virtual std::vector<std::string> Chips() = 0;
};

// libgpiod, or null when this build has none (`error` says how to get it).
std::unique_ptr<IGpioSystem> OpenLibGpiod(std::string& error);

}  // namespace port
