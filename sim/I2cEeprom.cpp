#include "sim/I2cEeprom.h"

#include <algorithm>
#include <stdexcept>

namespace sim {
namespace {

bool PowerOfTwo(uint32_t v) {
    return v != 0 && (v & (v - 1)) == 0;
}

}  // namespace

std::string I2cEeprom::Validate(const I2cEepromOptions& o) {
    if (o.addressBytes != 1 && o.addressBytes != 2) return "EEPROM address bytes must be 1 or 2";
    if (!PowerOfTwo(o.sizeBytes)) return "EEPROM size must be a power of two";
    if (o.sizeBytes > (uint32_t{1} << (8 * o.addressBytes))) {
        return "EEPROM size is beyond what its address bytes can reach";
    }
    if (!PowerOfTwo(o.pageBytes) || o.pageBytes > o.sizeBytes) {
        return "EEPROM page size must be a power of two no larger than the part";
    }
    if (o.slowFactor == 0) return "EEPROM slow factor must be at least 1";
    return {};
}

I2cEeprom::I2cEeprom(const I2cEepromOptions& options) : options_(options) {
    if (std::string error = Validate(options_); !error.empty()) {
        throw std::invalid_argument(error);
    }
    array_.assign(options_.sizeBytes, 0xFF);
}

bool I2cEeprom::Addressed(uint8_t devAddr, uint64_t now) const {
    return (devAddr & 0xFE) == (options_.deviceAddress & 0xFE) && !Busy(now);
}

bool I2cEeprom::LatchAddress(const uint8_t* bytes, size_t len) {
    // A partial word address leaves the counter as it was.
    if (len < options_.addressBytes) return false;
    uint32_t a = 0;
    for (unsigned i = 0; i < options_.addressBytes; ++i) a = (a << 8) | bytes[i];
    address_ = a & (options_.sizeBytes - 1);
    return true;
}

bool I2cEeprom::Write(uint8_t devAddr, const uint8_t* addrBytes, size_t addrLen,
                      const uint8_t* data, size_t n, uint64_t now) {
    if ((addrLen != 0 && addrBytes == nullptr) || (n != 0 && data == nullptr)) return false;
    if (!Addressed(devAddr, now)) return false;

    // The part sees one byte stream; split it by its own address length.
    const size_t total = addrLen + n;
    auto at = [&](size_t i) { return i < addrLen ? addrBytes[i] : data[i - addrLen]; };
    uint8_t addr[2] = {0, 0};
    const size_t addrTaken = std::min<size_t>(total, options_.addressBytes);
    for (size_t i = 0; i < addrTaken; ++i) addr[i] = at(i);
    if (!LatchAddress(addr, addrTaken) || total == addrTaken) return true;

    // Page write: the low address bits roll over inside the page; a later byte for the same
    // cell overwrites an earlier one, as in the part's page buffer.
    const uint32_t pageMask = options_.pageBytes - 1;
    const uint32_t pageBase = address_ & ~pageMask;
    uint32_t column = address_ & pageMask;
    for (size_t i = addrTaken; i < total; ++i) {
        array_[pageBase + column] = at(i);
        column = (column + 1) & pageMask;
    }
    address_ = pageBase + column;
    busyUntil_ = AddNs(now, ScaleNs(options_.writeCycleNs, options_.slowFactor));
    return true;
}

bool I2cEeprom::Read(uint8_t devAddr, const uint8_t* addrBytes, size_t addrLen, uint8_t* out,
                     size_t n, uint64_t now) {
    if ((addrLen != 0 && addrBytes == nullptr) || (n != 0 && out == nullptr)) return false;
    if (!Addressed(devAddr, now)) return false;
    if (addrLen != 0) LatchAddress(addrBytes, addrLen);  // extra bytes die at the repeated START
    const uint32_t mask = options_.sizeBytes - 1;
    for (size_t i = 0; i < n; ++i) {
        out[i] = array_[address_];
        address_ = (address_ + 1) & mask;
    }
    return true;
}

}  // namespace sim
