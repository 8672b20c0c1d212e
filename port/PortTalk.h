// The port driver client: opens the port driver's device (installing and starting its
// service when needed) and offers the two port primitives the JTAG adapter is built on.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

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

}  // namespace port
