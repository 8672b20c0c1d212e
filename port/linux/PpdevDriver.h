// Parallel port through the Linux ppdev driver (/dev/parportN), for users without root.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port/PortDevice.h"
#include "port/linux/PosixOs.h"

namespace port {

// One parallel port the kernel knows: /dev/parport<index> at I/O base <base>.
struct ParportInfo {
    int index = -1;
    uint16_t base = 0;
};

class PpdevDriver final : public IPortDriver {
  public:
    explicit PpdevDriver(IPosixOs& os = RealPosixOs());
    const char* Name() const override { return "ppdev"; }
    // Succeeds when at least one /dev/parportN can be opened; each port is claimed only
    // when a request first names its base, and held by one process at a time. Root loads
    // the modules when the kernel shows no port; nothing of the Windows driver procedure
    // applies.
    std::unique_ptr<IPortDevice> OpenDevice() override;
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return *error_; }

  private:
    IPosixOs& os_;
    // Shared with the devices, which report late failures (unknown base, busy port) here.
    std::shared_ptr<std::string> error_;
};

// The kernel's parallel ports, from /proc/sys/dev/parport/parportN/base-addr.
int ListParports(IPosixOs& os, ParportInfo* out, int maxCount);

}  // namespace port
