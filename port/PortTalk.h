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
// Closes any device opened before.
void SelectPortDriver(std::unique_ptr<IPortDriver> driver);
IPortDriver* SelectedPortDriver();
// The opened device, or null. Tests and benchmarks look through it.
IPortDevice* OpenedPortDevice();
// The options every cable OpenPortDriver opens from now on follows.
void SetCableOptions(const CableOptions& options);
const CableOptions& SelectedCableOptions();
// The cable the last OpenPortDriver opened: the backend's own, or the parallel-port cable over
// its device; when nothing could be opened, or before the first open, a parallel-port cable
// whose every access fails as the primitives do. Valid until the next OpenPortDriver or
// SelectPortDriver; OpenedCableSerial changes whenever that happens, so a caller that set a
// cable up can tell when it has a new one to set up.
ICable& OpenedCable();
uint32_t OpenedCableSerial();
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
// A cable without port registers reports a failed request here, named after the primitive
// that would have carried it, with its system error code; it is counted and written as the
// primitives' own failures are.
void RequestFailed(const char* primitive, uint32_t error);

}  // namespace port
