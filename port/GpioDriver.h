// The GPIO cable: JTAG bit-banged on four GPIO lines (and nTRST, nRESET when wired), e.g. a
// Raspberry Pi's header. A clock is one write of TCK low with its TMS and TDI (the previous
// clock's falling edge too), one read of TDO when it is wanted, one write of TCK high: the same
// three accesses as the parallel port's fast clock, the TDO being the level before the edge.
#pragma once

#include <memory>
#include <string>

#include "port/GpioLines.h"
#include "port/PortDevice.h"

namespace port {

// gpiod:CHIP,tck=N,tms=N,tdi=N,tdo=N[,trst=N][,srst=N]
struct GpioSpec {
    std::string chip;
    int tck = -1;
    int tms = -1;
    int tdi = -1;
    int tdo = -1;
    int trst = -1;  // -1: not wired
    int srst = -1;
};

// `args` is what follows "gpiod" (":gpiochip0,tck=11,...").
bool ParseGpioSpec(const std::string& args, GpioSpec& out, std::string& error);

class GpioDriver final : public IPortDriver {
  public:
    // `system` null: this build has no GPIO library; `systemError` says how to get it.
    GpioDriver(const char* name, const GpioSpec& spec, std::unique_ptr<IGpioSystem> system,
               std::string systemError = {});
    ~GpioDriver() override;
    const char* Name() const override { return name_; }
    std::unique_ptr<IPortDevice> OpenDevice() override { return nullptr; }
    std::unique_ptr<ICable> OpenCable(const CableOptions& options) override;
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return *error_; }
    IGpioSystem* system() { return system_.get(); }

  private:
    const char* name_;
    GpioSpec spec_;
    std::unique_ptr<IGpioSystem> system_;
    std::shared_ptr<std::string> error_ = std::make_shared<std::string>();
};

}  // namespace port
