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

// The ppdev kernel module in the role of the driver service: "manager" = root rights,
// driver file = the module under /lib/modules/<release>, service running = module loaded,
// start = modprobe.
class PpdevModuleServices final : public IServiceControl {
  public:
    explicit PpdevModuleServices(IPosixOs& os) : os_(os) {}
    uint32_t OpenManager() override;
    bool SystemDirectory(std::string& out, size_t maxLen) override;
    bool FileReadable(const std::string& path) override;
    bool CopyDriverFile(const std::string& from, const std::string& to) override;
    uint32_t CreateDriverService(const std::string& name, const std::string& display,
                                 uint32_t access, uint32_t type, uint32_t start,
                                 uint32_t errorControl, const std::string& binaryPath) override;
    uint32_t OpenDriverService(const std::string& name, uint32_t access) override;
    uint32_t StartDriverService() override;
    void CloseDriverService() override {}
    std::string DriverFileSuffix() const override { return "/kernel/drivers/char/ppdev.ko"; }

  private:
    bool ModuleAvailable();
    IPosixOs& os_;
};

class PpdevDriver final : public IPortDriver {
  public:
    explicit PpdevDriver(IPosixOs& os = RealPosixOs());
    const char* Name() const override { return "ppdev"; }
    // Succeeds when at least one /dev/parportN can be opened; each port is claimed only
    // when a request first names its base.
    std::unique_ptr<IPortDevice> OpenDevice() override;
    IServiceControl* Services() override { return &services_; }
    std::string LastErrorText() const override { return *error_; }

  private:
    IPosixOs& os_;
    PpdevModuleServices services_;
    // Shared with the devices, which report late failures (unknown base, busy port) here.
    std::shared_ptr<std::string> error_;
};

// The kernel's parallel ports, from /proc/sys/dev/parport/parportN/base-addr.
int ListParports(IPosixOs& os, ParportInfo* out, int maxCount);

}  // namespace port
