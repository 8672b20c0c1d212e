// The port driver client: opens the port driver's device (installing and starting its
// service when needed) and offers the two port primitives the JTAG adapter is built on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

#include "port/Cable.h"
#include "port/PortDevice.h"

// 0 when the device is open, 255 when it could not be opened.
uint8_t OpenPortDriver();
void outportb(uint16_t port, uint8_t value);
uint8_t inportb(uint16_t port);
bool StartPortDriver();
void InstallPortDriver();
int CheckPortDriverFile();

namespace port {

// Chooses the driver that OpenPortDriver opens (the platform's real driver by default).
// Closes any device opened before and gives back the driver it replaces.
std::unique_ptr<IPortDriver> SelectPortDriver(std::unique_ptr<IPortDriver> driver);
IPortDriver* SelectedPortDriver();
// The opened device, or null. Tests and benchmarks look through it.
IPortDevice* OpenedPortDevice();
// Whether the last OpenPortDriver opened the port: a device, or a backend's own cable.
bool PortOpened();
// The options every cable OpenPortDriver opens from now on follows.
void SetCableOptions(const CableOptions& options);
const CableOptions& SelectedCableOptions();
namespace detail {
extern ICable* g_openedCable;
extern uint32_t g_openedCableSerial;
}  // namespace detail
// The cable the last OpenPortDriver opened: the backend's own, or the parallel-port cable over
// its device; when nothing could be opened, or before the first open, a parallel-port cable
// whose every access fails as the primitives do. Valid until the next OpenPortDriver or
// SelectPortDriver; OpenedCableSerial changes whenever that happens, so a caller that set a
// cable up can tell when it has a new one to set up. Inline: the link asks on every clock.
inline ICable& OpenedCable() {
    return *detail::g_openedCable;
}
inline uint32_t OpenedCableSerial() {
    return detail::g_openedCableSerial;
}
// Where the client's progress and failure lines go (standard output by default).
void SetPortMessageStream(std::FILE* stream);

// Port requests that failed since the last reset: how many, and the system error code of the
// first (the number its message line ends with).
struct RequestFailures {
    uint64_t count = 0;
    uint32_t firstError = 0;
};
const RequestFailures& PortRequestFailures();
// Starts counting afresh; `writeLines` false keeps failed requests off the message stream, for
// a front end that reports them itself, once.
void ResetPortRequestFailures(bool writeLines = true);
// Failed requests since the process started, never reset: a cable compares it across a flush.
uint64_t RequestFailureTotal();
// A failed request, named after the primitive that carried it (or would have, for a cable
// without port registers), with its system error code: counted, and written as a line
// unless the front end reports failures itself.
void RequestFailed(const char* primitive, uint32_t error);

// outportb and inportb on a given device (null: none is open): one request each, a failure
// reported through RequestFailed. A failed read gives 0xFF, as an unplugged cable reads.
// Inline: the parallel-port cable makes four of them per clock.
inline void WritePortByte(IPortDevice* device, uint16_t port, uint8_t value) {
    const uint8_t buffer[3] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8), value};
    if (device != nullptr && device->DeviceIoControl(kIoctlWritePort, buffer, 3, nullptr, 0))
        return;
    RequestFailed("outportb", device != nullptr ? device->LastError() : kErrorInvalidHandle);
}
inline uint8_t ReadPortByte(IPortDevice* device, uint16_t port) {
    uint8_t buffer[2] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
    if (device != nullptr && device->DeviceIoControl(kIoctlReadPort, buffer, 2, buffer, 1))
        return buffer[0];
    RequestFailed("inportb", device != nullptr ? device->LastError() : kErrorInvalidHandle);
    return 0xFF;
}

}  // namespace port
