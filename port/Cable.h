// The cable seam: what the link drives the JTAG lines through. The link says which clocks to
// run and which TDO levels it needs; how many round trips that costs is the cable's business.
// A parallel port reads TDO at once; a network or USB cable queues its clocks and reads the
// answers back in batches. One file per backend below this seam: ParallelCable (any port
// device), RemoteBitbangDriver (OpenOCD's remote_bitbang protocol).
#pragma once

#include <cstdint>

namespace port {

// Chosen by the front end before the link opens; every cable opened later follows them.
struct CableOptions {
    // Parallel port: 3 port accesses per clock instead of 4 (see ParallelCable.h).
    bool fastClock = false;
    // The link may put several link bytes in one flush; false keeps it to the per-clock path.
    bool pipeline = true;
};

// One opened cable.
//
// What a caller may rely on:
// - Clocks run on the wire in the order they are queued. SetTrst and Park take their place
//   in that order.
// - Clock i of a QueueClocks call drives TMS = bit i of tms and TDI = bit i of tdi into the
//   TAP at its rising TCK edge. Bit i of a vector is bit i % 32 of word i / 32 (the first
//   clock in bit 0 of word 0); a null vector drives 0 on every clock.
// - The TDO of a clock is the level before its rising edge: the bit the TAP shifts out on
//   that clock. It is stored at bit i of tdo when tdo is given and bit i of want is set (a
//   null want: every clock). The other bits of tdo are left as they were.
// - The vectors are read during the call. tdo must stay valid until the next Flush returns,
//   and holds its bits only then: a cable may run the clocks at once or keep them queued.
// - Flush runs whatever is still queued and returns true when everything since the previous
//   Flush went through. After a failure the TDO bits not read come back as 1 (an open TDO
//   line), every later call fails at once, Flush keeps returning false, and each failure is
//   counted in the port client's RequestFailures; the driver's LastErrorText says why.
// - Clock(tms, tdi) is one queued clock with its TDO, then Flush: the per-clock path. It
//   returns that TDO (1 after a failure).
// - Queueing never allocates and never blocks for long: queues have a fixed capacity and a
//   cable sends or drains by itself when one fills, so any number of clocks may be queued
//   between two flushes. Every wait is bounded (a cable that waits gives up and fails).
// - SetTrst sets the nTRST line (true = released) for the clocks queued after it. The clocks
//   queued before it end first, falling edge included, so a reset never swallows an edge the
//   target was due. nRESET is never asserted: the link never resets the target system.
// - After a Flush, TCK may be left high: its falling edge then comes with the next clock or
//   with Park. A TAP changes state only on rising edges, so a caller cannot tell.
// - Park drives TCK, TMS and TDI low with the current nTRST level and returns when the lines
//   are there: the state the link leaves the cable in when it closes.
// - SetPortBase tells a cable on port registers where they are (the operator may switch
//   ports while the cable is open); other cables ignore it.
// Destroying a cable ends its session (a remote cable says goodbye to its server).
class ICable {
  public:
    virtual ~ICable() = default;
    virtual void SetPortBase(uint16_t base) { (void)base; }
    virtual void SetTrst(bool released) = 0;
    virtual void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi,
                             const uint32_t* want, uint32_t* tdo) = 0;
    virtual bool Flush() = 0;
    virtual int Clock(bool tms, bool tdi) {
        const uint32_t t = tms ? 1 : 0;
        const uint32_t d = tdi ? 1 : 0;
        uint32_t tdo = 1;
        QueueClocks(1, &t, &d, nullptr, &tdo);
        return Flush() ? static_cast<int>(tdo & 1) : 1;
    }
    virtual void Park() = 0;
    // True when every clock is on the wire as it is queued and reading TDO costs no round trip
    // (a port device): the link then keeps to its per-clock sequence exactly.
    virtual bool ClocksAtOnce() const { return false; }
};

// Bit i of a clock vector (see ICable).
inline bool ClockBit(const uint32_t* bits, uint32_t i) {
    return bits != nullptr && ((bits[i / 32] >> (i % 32)) & 1) != 0;
}
inline void SetClockBit(uint32_t* bits, uint32_t i, bool value) {
    const uint32_t mask = 1u << (i % 32);
    bits[i / 32] = value ? bits[i / 32] | mask : bits[i / 32] & ~mask;
}

}  // namespace port
