#include "port/ParallelCable.h"

#include "port/PortTalk.h"

namespace port {

ParallelCable::ParallelCable(IPortDevice* device, bool fastClock)
    : device_(device), fast_(fastClock), failuresSeen_(RequestFailureTotal()) {}

int ParallelCable::ExactClock(bool tms, bool tdi) {
    const int tdo = (ReadPortByte(device_, status_) & cable::kTdo) != 0 ? 1 : 0;
    const uint8_t data = Data(tms, tdi);
    WritePortByte(device_, data_, data);
    WritePortByte(device_, data_, static_cast<uint8_t>(data | cable::kTck));
    WritePortByte(device_, data_, data);
    last_ = data;
    return tdo;
}

int ParallelCable::FastClock(bool tms, bool tdi, bool read) {
    const uint8_t data = Data(tms, tdi);
    WritePortByte(device_, data_, data);
    last_ = static_cast<uint8_t>(data | cable::kTck);
    WritePortByte(device_, data_, last_);
    tckHigh_ = true;
    return read && (ReadPortByte(device_, status_) & cable::kTdo) == 0 ? 0 : 1;
}

void ParallelCable::QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi,
                                const uint32_t* want, uint32_t* tdo) {
    for (uint32_t i = 0; i < count; ++i) {
        const bool wanted = tdo != nullptr && (want == nullptr || ClockBit(want, i));
        const bool t = ClockBit(tms, i);
        const bool d = ClockBit(tdi, i);
        const int level = fast_ ? FastClock(t, d, wanted) : ExactClock(t, d);
        if (wanted) SetClockBit(tdo, i, level != 0);
    }
}

bool ParallelCable::Flush() {
    const uint64_t failures = RequestFailureTotal();
    const bool ok = failures == failuresSeen_;
    failuresSeen_ = failures;
    return ok;
}

void ParallelCable::EndClock() {
    if (!tckHigh_) return;
    last_ = static_cast<uint8_t>(last_ & ~cable::kTck);
    WritePortByte(device_, data_, last_);
    tckHigh_ = false;
}

void ParallelCable::SetTrst(bool released) {
    const uint8_t trst = released ? cable::kNTrst : 0;
    if (trst == trst_) return;
    EndClock();
    trst_ = trst;
}

void ParallelCable::SetPortBase(uint16_t base) {
    const auto data = static_cast<uint16_t>(base + cable::kDataRegister);
    if (data == data_) return;
    EndClock();
    data_ = data;
    status_ = static_cast<uint16_t>(base + cable::kStatusRegister);
}

void ParallelCable::Park() {
    last_ = static_cast<uint8_t>(cable::kNReset | trst_);
    WritePortByte(device_, data_, last_);
    tckHigh_ = false;
}

}  // namespace port
