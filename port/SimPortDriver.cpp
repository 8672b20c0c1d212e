#include "port/SimPortDriver.h"

namespace port {

namespace {
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidFunction = 1;
}  // namespace

SimPortDriver::SimPortDriver(const sim::Options& options)
    : board_(std::make_unique<sim::Board>(options)) {}

SimPortDriver::~SimPortDriver() = default;

std::unique_ptr<IPortDevice> SimPortDriver::OpenDevice() {
    return std::make_unique<SimPortDevice>(*board_);
}

bool SimPortDevice::DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen,
                                    uint8_t* out, uint32_t outLen) {
    if (code == kIoctlWritePort) {
        if (in == nullptr || inLen != 3) {
            lastError_ = kErrorInvalidParameter;
            return false;
        }
        const uint16_t portAddr = static_cast<uint16_t>(in[0] | (in[1] << 8));
        if ((portAddr & 3) == 0) board_.WriteData(in[2]);
        return true;  // writes to other registers are accepted and have no effect on the board
    }
    if (code == kIoctlReadPort) {
        if (in == nullptr || inLen != 2 || out == nullptr || outLen != 1) {
            lastError_ = kErrorInvalidParameter;
            return false;
        }
        const uint16_t portAddr = static_cast<uint16_t>(in[0] | (in[1] << 8));
        switch (portAddr & 3) {
            case 0: out[0] = board_.ReadData(); break;
            case 1: out[0] = board_.ReadStatus(); break;
            default: out[0] = 0; break;
        }
        return true;
    }
    lastError_ = kErrorInvalidFunction;
    return false;
}

}  // namespace port
