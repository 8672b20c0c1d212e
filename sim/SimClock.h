// The virtual board's time base: simulated nanoseconds, advanced by the board on every JTAG
// clock. Devices are handed `now` from here; nothing on the board reads a wall clock, so poll
// counts and timings are the same on every machine.
#pragma once

#include <cstdint>
#include <limits>

namespace sim {

inline constexpr uint64_t kNsPerUs = 1000;
inline constexpr uint64_t kNsPerMs = 1000 * kNsPerUs;
inline constexpr uint64_t kNsPerS = 1000 * kNsPerMs;

// Saturating add, so that a huge knob can never wrap time back to zero.
constexpr uint64_t AddNs(uint64_t a, uint64_t b) {
    return b > std::numeric_limits<uint64_t>::max() - a ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

// Saturating multiply, for durations scaled by a "slow device" factor.
constexpr uint64_t ScaleNs(uint64_t ns, uint64_t factor) {
    if (factor != 0 && ns > std::numeric_limits<uint64_t>::max() / factor) {
        return std::numeric_limits<uint64_t>::max();
    }
    return ns * factor;
}

class SimClock {
  public:
    // A parallel port takes about 1 us per access and a JTAG clock costs four accesses.
    static constexpr uint64_t kDefaultNsPerClock = 4 * kNsPerUs;

    explicit SimClock(uint64_t nsPerClock = kDefaultNsPerClock) : step_(nsPerClock) {}

    uint64_t now() const { return now_; }
    uint64_t clocks() const { return clocks_; }
    uint64_t ns_per_clock() const { return step_; }
    void set_ns_per_clock(uint64_t ns) { step_ = ns; }

    // One JTAG clock. On the per-clock path: no allocation, no branches beyond saturation.
    void Tick() {
        now_ = AddNs(now_, step_);
        ++clocks_;
    }
    // Time that passes without clocks (e.g. the host sleeping between polls).
    void Advance(uint64_t ns) { now_ = AddNs(now_, ns); }

  private:
    uint64_t step_;
    uint64_t now_ = 0;
    uint64_t clocks_ = 0;
};

}  // namespace sim
