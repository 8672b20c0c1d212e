// The passive JTAG cable on the parallel port (CableWiring.h), over a port device with the
// port client's two primitives: every clock is done at once, so Flush only reports. Serves every
// backend that has port registers (PortTalk, ppdev, direct I/O, the virtual board in process).
//
// The default clock is the design's exact cycle, 1 read + 3 writes:
//   read status (TDO before the edge), write data, write data|TCK (the TAP samples TMS and
//   TDI), write data (TCK low: the TAP moves TDO).
// The fast clock is 3 accesses, 2 writes and a read only where TDO is wanted:
//   write data (TCK low: the previous clock's falling edge and this clock's TMS/TDI in one
//   access), write data|TCK, read status.
// Both give the same TDO: a TAP moves TDO on falling edges only, so with TCK high the line
// still holds the bit it showed before the rising edge. The fast clock leaves TCK high
// between clocks; Park, a change of nTRST (so that a reset never swallows a falling edge), or
// a switch to another port base brings it down first.
#pragma once

#include <cstdint>

#include "port/Cable.h"
#include "port/CableWiring.h"
#include "port/PortDevice.h"

namespace port {

class ParallelCable final : public ICable {
  public:
    // The device may be null: every access then fails as the port client's primitives do.
    ParallelCable(IPortDevice* device, bool fastClock);
    void SetPortBase(uint16_t base) override;
    void SetTrst(bool released) override;
    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override;
    bool Flush() override;
    int Clock(bool tms, bool tdi) override {
        return fast_ ? FastClock(tms, tdi, true) : ExactClock(tms, tdi);
    }
    void Park() override;
    bool ClocksAtOnce() const override { return true; }

  private:
    uint8_t Data(bool tms, bool tdi) const {
        // nRESET stays released: the link never resets the target system.
        return static_cast<uint8_t>((tms ? cable::kTms : 0) | (tdi ? cable::kTdi : 0) | trst_ |
                                    cable::kNReset);
    }
    int ExactClock(bool tms, bool tdi);
    int FastClock(bool tms, bool tdi, bool read);
    // The falling edge a fast clock left for later.
    void EndClock();

    IPortDevice* device_;
    bool fast_;
    bool tckHigh_ = false;
    uint8_t trst_ = 0;
    uint8_t last_ = cable::kNReset;  // last byte written to the data register
    uint16_t data_ = 0x378 + cable::kDataRegister;
    uint16_t status_ = 0x378 + cable::kStatusRegister;
    uint64_t failuresSeen_;  // the port client's failure total at the last Flush
};

}  // namespace port
