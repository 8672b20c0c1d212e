#include "port/SimPortDriver.h"

namespace port {

SimPortDriver::SimPortDriver(const sim::Options& options)
    : board_(std::make_unique<sim::Board>(options)) {}

SimPortDriver::~SimPortDriver() = default;

std::unique_ptr<IPortDevice> SimPortDriver::OpenDevice() {
    return std::make_unique<SimPortDevice>(*board_);
}

bool SimPortDevice::DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                                    uint32_t outLen) {
    PortRequest request;
    if (const uint32_t error = DecodePortRequest(code, in, inLen, out, outLen, request)) {
        lastError_ = error;
        return false;
    }
    const unsigned reg = request.address & 3u;
    if (request.write) {
        if (reg == 0) board_.WriteData(in[2]);
        return true;  // writes to other registers have no effect on the board
    }
    switch (reg) {
        case 0:
            out[0] = board_.ReadData();
            break;
        case 1:
            out[0] = board_.ReadStatus();
            break;
        default:
            out[0] = 0;
            break;
    }
    return true;
}

}  // namespace port
