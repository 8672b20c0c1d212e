#include "support/RecordingPort.h"

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

}  // namespace

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
    return std::make_unique<RecordingPortDevice>(*this, std::move(innerDevice));
}

std::vector<WireClock> RecordingPortDriver::Clocks() const {
    std::vector<WireClock> clocks;
    for (size_t i = 0; i + 3 < requests.size(); ++i) {
        const PortRequest& r = requests[i];
        if (r.code != port::kIoctlReadPort) continue;
        const PortRequest& a = requests[i + 1];
        const PortRequest& b = requests[i + 2];
        const PortRequest& c = requests[i + 3];
        if (a.code != port::kIoctlWritePort || b.code != port::kIoctlWritePort ||
            c.code != port::kIoctlWritePort || (b.value & 0x02) == 0) {
            continue;
        }
        WireClock clock;
        clock.tdo = (r.value & 0x10) != 0 ? 1 : 0;
        clock.tms = b.value & 0x01;
        clock.tdi = (b.value & 0x04) != 0 ? 1 : 0;
        clock.trst = (b.value & 0x08) != 0 ? 1 : 0;
        clocks.push_back(clock);
        i += 3;
    }
    return clocks;
}

int RecordingPortDriver::LastDataWrite() const {
    for (auto it = requests.rbegin(); it != requests.rend(); ++it) {
        if (it->code == port::kIoctlWritePort && (it->port & 3) == 0) return it->value;
    }
    return -1;
}

}  // namespace test
