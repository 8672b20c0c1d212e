// The two port requests as the client sends them: a register write and a register read.
#pragma once

#include <cstdint>

#include "port/PortDevice.h"

namespace port::test {

inline bool Write(IPortDevice& d, uint16_t address, uint8_t value) {
    const uint8_t in[3] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                           value};
    return d.DeviceIoControl(kIoctlWritePort, in, 3, nullptr, 0);
}

inline bool Read(IPortDevice& d, uint16_t address, uint8_t& value) {
    uint8_t buffer[2] = {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8)};
    const bool ok = d.DeviceIoControl(kIoctlReadPort, buffer, 2, buffer, 1);
    value = buffer[0];
    return ok;
}

}  // namespace port::test
