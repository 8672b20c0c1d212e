// The virtual board behind a device that counts the port requests, and optionally behind a
// cable that counts its flushes, so that a benchmark can report requests, clocks and round
// trips per byte.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "port/ParallelCable.h"
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

// Round trips as a USB or network cable would pay them: one per flush, and a per-clock
// Clock or a Park is a flush of its own.
class CountingCable final : public port::ICable {
  public:
    explicit CountingCable(std::unique_ptr<port::ICable> inner) : inner_(std::move(inner)) {}
    void SetPortBase(uint16_t base) override { inner_->SetPortBase(base); }
    void SetTrst(bool released) override { inner_->SetTrst(released); }
    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override {
        inner_->QueueClocks(count, tms, tdi, want, tdo);
    }
    bool Flush() override {
        ++flushes;
        return inner_->Flush();
    }
    int Clock(bool tms, bool tdi) override {
        ++flushes;
        return inner_->Clock(tms, tdi);
    }
    void Park() override {
        ++flushes;
        inner_->Park();
    }
    uint64_t flushes = 0;

  private:
    std::unique_ptr<port::ICable> inner_;
};

class CountingSimDriver final : public port::IPortDriver {
  public:
    explicit CountingSimDriver(bool countFlushes = false)
        : sim_(sim::Options{}), countFlushes_(countFlushes) {}
    const char* Name() const override { return "sim"; }
    std::unique_ptr<port::IPortDevice> OpenDevice() override {
        auto d = std::make_unique<CountingDevice>(sim_.OpenDevice());
        device = d.get();
        return d;
    }
    std::unique_ptr<port::ICable> OpenCable(const port::CableOptions& options) override {
        if (!countFlushes_) return nullptr;  // the client's own parallel-port cable
        auto c = std::make_unique<CountingCable>(
            std::make_unique<port::ParallelCable>(device, options.fastClock));
        cable = c.get();
        return c;
    }
    port::IServiceControl* Services() override { return nullptr; }
    sim::Board& board() { return sim_.board(); }
    CountingDevice* device = nullptr;
    CountingCable* cable = nullptr;

  private:
    port::SimPortDriver sim_;
    bool countFlushes_;
};

}  // namespace bench
