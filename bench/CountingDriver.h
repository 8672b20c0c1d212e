// The virtual board behind a device that counts the port requests, so that a benchmark can
// report requests and clocks per byte.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "port/PortTalk.h"
#include "port/SimPortDriver.h"

namespace bench {

class CountingDevice final : public port::IPortDevice {
  public:
    explicit CountingDevice(std::unique_ptr<port::IPortDevice> inner) : inner_(std::move(inner)) {}
    bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                         uint32_t outLen) override {
        ++requests;
        return inner_->DeviceIoControl(code, in, inLen, out, outLen);
    }
    uint32_t LastError() const override { return inner_->LastError(); }
    uint64_t requests = 0;

  private:
    std::unique_ptr<port::IPortDevice> inner_;
};

class CountingSimDriver final : public port::IPortDriver {
  public:
    CountingSimDriver() : sim_(sim::Options{}) {}
    const char* Name() const override { return "sim"; }
    std::unique_ptr<port::IPortDevice> OpenDevice() override {
        auto d = std::make_unique<CountingDevice>(sim_.OpenDevice());
        device = d.get();
        return d;
    }
    port::IServiceControl* Services() override { return nullptr; }
    CountingDevice* device = nullptr;

  private:
    port::SimPortDriver sim_;
};

}  // namespace bench
