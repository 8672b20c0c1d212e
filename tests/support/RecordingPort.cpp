#include "support/RecordingPort.h"

#include "port/ParallelCable.h"

namespace test {

namespace {

class RecordingPortDevice final : public port::IPortDevice {
  public:
    RecordingPortDevice(RecordingPortDriver& driver, std::unique_ptr<port::IPortDevice> inner)
        : driver_(driver), inner_(std::move(inner)) {}

    bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                         uint32_t outLen) override {
        PortRequest request;
        request.code = code;
        if (in != nullptr && inLen >= 2) request.port = static_cast<uint16_t>(in[0] | in[1] << 8);
        bool ok = true;
        if (code == port::kIoctlReadPort) {
            if (driver_.beforeRead) driver_.beforeRead(driver_.readCount);
            ++driver_.readCount;
        }
        if (code == port::kIoctlWritePort && inLen == 3) request.value = in[2];
        if (inner_) {
            ok = inner_->DeviceIoControl(code, in, inLen, out, outLen);
        } else if (code == port::kIoctlReadPort && out != nullptr && outLen >= 1) {
            int tdo = driver_.idleTdo;
            if (!driver_.tdoScript.empty()) {
                tdo = driver_.tdoScript.front();
                driver_.tdoScript.pop_front();
            } else if (driver_.tdoSource) {
                tdo = driver_.tdoSource();
            }
            out[0] = static_cast<uint8_t>(tdo != 0 ? 0x10 : 0x00);
        }
        if (code == port::kIoctlReadPort && out != nullptr && outLen >= 1) request.value = out[0];
        if (driver_.recording) driver_.requests.push_back(request);
        return ok;
    }
    uint32_t LastError() const override { return inner_ ? inner_->LastError() : 0; }

  private:
    RecordingPortDriver& driver_;
    std::unique_ptr<port::IPortDevice> inner_;
};

// Keeps clocks until Flush and only then runs them (through the parallel-port cycle) and
// stores their TDO: a link that read TDO before flushing would read stale bits.
class QueuedCable final : public port::ICable {
  public:
    QueuedCable(port::IPortDevice* device, uint64_t& flushes)
        : inner_(device, false), flushes_(flushes) {}
    void SetPortBase(uint16_t base) override {
        Run();
        inner_.SetPortBase(base);
    }
    void SetTrst(bool released) override {
        Run();
        inner_.SetTrst(released);
    }
    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override {
        for (uint32_t i = 0; i < count; ++i) {
            if (size_ == kCapacity) Run();
            const bool wanted = tdo != nullptr && (want == nullptr || port::ClockBit(want, i));
            queue_[size_++] = {port::ClockBit(tms, i), port::ClockBit(tdi, i),
                               wanted ? tdo : nullptr, i};
        }
    }
    bool Flush() override {
        ++flushes_;
        Run();
        return inner_.Flush();
    }
    void Park() override {
        Run();
        inner_.Park();
    }

  private:
    struct Queued {
        bool tms, tdi;
        uint32_t* tdo;
        uint32_t bit;
    };
    void Run() {
        for (size_t i = 0; i < size_; ++i) {
            const Queued& q = queue_[i];
            const int level = inner_.Clock(q.tms, q.tdi);
            if (q.tdo != nullptr) port::SetClockBit(q.tdo, q.bit, level != 0);
        }
        size_ = 0;
    }
    static constexpr size_t kCapacity = 4096;
    port::ParallelCable inner_;
    uint64_t& flushes_;
    Queued queue_[kCapacity];
    size_t size_ = 0;
};

}  // namespace

std::unique_ptr<port::ICable> RecordingPortDriver::OpenCable(const port::CableOptions&) {
    if (!queued || device_ == nullptr) return nullptr;
    return std::make_unique<QueuedCable>(device_, flushes);
}

RecordingPortDriver::RecordingPortDriver(std::unique_ptr<port::IPortDriver> inner)
    : inner_(std::move(inner)) {}

RecordingPortDriver::~RecordingPortDriver() = default;

std::unique_ptr<port::IPortDevice> RecordingPortDriver::OpenDevice() {
    if (!available) return nullptr;
    std::unique_ptr<port::IPortDevice> innerDevice;
    if (inner_) {
        innerDevice = inner_->OpenDevice();
        if (!innerDevice) return nullptr;
    }
    auto device = std::make_unique<RecordingPortDevice>(*this, std::move(innerDevice));
    device_ = device.get();
    return device;
}

std::vector<WireClock> RecordingPortDriver::Clocks() const {
    std::vector<WireClock> clocks;
    auto is = [this](size_t k, uint32_t code) { return requests[k].code == code; };
    for (size_t i = 0; i + 3 < requests.size(); ++i) {
        const uint8_t edge = requests[i + 2].value;
        if (!is(i, port::kIoctlReadPort) || !is(i + 1, port::kIoctlWritePort) ||
            !is(i + 2, port::kIoctlWritePort) || !is(i + 3, port::kIoctlWritePort) ||
            (edge & 0x02) == 0)
            continue;
        clocks.push_back(
            {edge & 0x01, (edge & 0x04) != 0, (requests[i].value & 0x10) != 0, (edge & 0x08) != 0});
        i += 3;
    }
    return clocks;
}

int RecordingPortDriver::LastDataWrite() const {
    for (auto it = requests.rbegin(); it != requests.rend(); ++it)
        if (it->code == port::kIoctlWritePort && (it->port & 3) == 0) return it->value;
    return -1;
}

}  // namespace test
