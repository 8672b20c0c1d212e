// Parallel port through direct port I/O (ioperm + inb/outb): root only, the fastest path.
#pragma once

#include <memory>
#include <string>

#include "port/PortDevice.h"
#include "port/linux/PosixOs.h"

namespace port {

class DirectIoDriver final : public IPortDriver {
  public:
    explicit DirectIoDriver(IPosixOs& os = RealPosixOs());
    const char* Name() const override { return "direct"; }
    // Access to a port range is asked for when a request first names its base, and only
    // for that base's three registers.
    std::unique_ptr<IPortDevice> OpenDevice() override;
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return *error_; }

  private:
    IPosixOs& os_;
    std::shared_ptr<std::string> error_;
};

}  // namespace port
