// An I2C serial EEPROM of the AT24Cxx family, at byte-transaction level: a device address byte,
// one or two word-address bytes, then data. Page writes wrap inside their page, a write cycle
// follows every STOP that ends a write with data, and the device does not acknowledge its
// address until the cycle is over (ACK polling). Reads run on across the whole array.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/SimClock.h"

namespace sim {

struct I2cEepromOptions {
    uint32_t sizeBytes = 256;      // a power of two, reachable with addressBytes
    uint32_t pageBytes = 8;        // a power of two, at most sizeBytes
    unsigned addressBytes = 1;     // 1: two address cycles ("CYCLES_2"); 2: three ("CYCLES_3")
    uint8_t deviceAddress = 0xA0;  // write form; bit 0 (R/W) is ignored when matching
    uint64_t writeCycleNs = 5 * kNsPerMs;
    uint32_t slowFactor = 1;  // multiplies the write-cycle time

    static I2cEepromOptions At24c02() { return {}; }
    static I2cEepromOptions At24c512() {
        I2cEepromOptions o;
        o.sizeBytes = 64 * 1024;
        o.pageBytes = 128;
        o.addressBytes = 2;
        return o;
    }
};

class I2cEeprom {
  public:
    // Throws std::invalid_argument with Validate's text on bad options.
    explicit I2cEeprom(const I2cEepromOptions& options = {});
    // "" when the options describe a part, else what is wrong with them.
    static std::string Validate(const I2cEepromOptions& options);

    // START, devAddr, the address bytes then the data bytes, STOP. The part takes its own
    // number of address bytes from the front of that stream (high byte first) and the rest
    // as data, so a host that sends the wrong number of address bytes writes elsewhere, as
    // on hardware. With no bytes at all this is an ACK poll. Returns false on NAK (another
    // device address, write cycle running) or on unusable arguments (null with a length);
    // nothing changes then.
    bool Write(uint8_t devAddr, const uint8_t* addrBytes, size_t addrLen, const uint8_t* data,
               size_t n, uint64_t now);
    // With address bytes: a dummy write of them, repeated START, then n bytes read from the
    // address (bytes beyond the part's address length are discarded, no write starts). With
    // none: a current-address read. Same false cases as Write; `out` is untouched then.
    bool Read(uint8_t devAddr, const uint8_t* addrBytes, size_t addrLen, uint8_t* out, size_t n,
              uint64_t now);

    bool Busy(uint64_t now) const { return now < busyUntil_; }
    uint32_t address() const { return address_; }  // the internal address counter
    const I2cEepromOptions& options() const { return options_; }
    void set_slow_factor(uint32_t factor) { options_.slowFactor = factor; }

    // Contents for persistence.
    const uint8_t* data() const { return array_.data(); }
    uint8_t* mutable_data() { return array_.data(); }
    size_t size() const { return array_.size(); }

  private:
    bool Addressed(uint8_t devAddr, uint64_t now) const;
    // Takes the word address from the first bytes of a write stream; false if it is short.
    bool LatchAddress(const uint8_t* bytes, size_t len);

    I2cEepromOptions options_;
    std::vector<uint8_t> array_;
    uint32_t address_ = 0;
    uint64_t busyUntil_ = 0;
};

}  // namespace sim
