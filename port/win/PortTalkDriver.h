// The PortTalk kernel driver, through its device and the Windows service control manager.
#pragma once

#include <memory>
#include <string>

#include "port/PortDevice.h"

namespace port {

class PortTalkServices;

class PortTalkDriver final : public IPortDriver {
  public:
    PortTalkDriver();
    ~PortTalkDriver() override;
    const char* Name() const override { return "porttalk"; }
    std::unique_ptr<IPortDevice> OpenDevice() override;
    IServiceControl* Services() override;
    std::string LastErrorText() const override { return error_; }

  private:
    std::unique_ptr<PortTalkServices> services_;
    std::string error_;
};

}  // namespace port
