#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "sim/I2cEeprom.h"

namespace sim {
namespace {

constexpr uint8_t kDev = 0xA0;
constexpr uint64_t kCycle = 5 * kNsPerMs;

bool WriteAt(I2cEeprom& e, uint8_t addr, std::vector<uint8_t> data, uint64_t now) {
    return e.Write(kDev, &addr, 1, data.data(), data.size(), now);
}
std::vector<uint8_t> ReadAt(I2cEeprom& e, uint8_t addr, size_t n, uint64_t now) {
    std::vector<uint8_t> out(n, 0xEE);
    EXPECT_TRUE(e.Read(kDev, &addr, 1, out.data(), n, now));
    return out;
}

TEST(I2cEeprom, PageWriteWrapsInsideItsPage) {
    I2cEeprom e;
    ASSERT_TRUE(WriteAt(e, 0x06, {1, 2, 3, 4}, 0));
    EXPECT_EQ(ReadAt(e, 0x00, 9, kCycle),
              (std::vector<uint8_t>{3, 4, 0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 0xFF}));
    // More than a page: later bytes overwrite earlier ones in the page buffer.
    ASSERT_TRUE(WriteAt(e, 0x10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, kCycle));
    EXPECT_EQ(ReadAt(e, 0x10, 8, 2 * kCycle), (std::vector<uint8_t>{8, 9, 2, 3, 4, 5, 6, 7}));
}

TEST(I2cEeprom, WriteCycleNaksUntilDone) {
    I2cEepromOptions o;
    o.slowFactor = 2;
    I2cEeprom e(o);
    ASSERT_TRUE(WriteAt(e, 0x20, {0x5A}, 1000));
    const uint64_t done = 1000 + 2 * kCycle;
    EXPECT_TRUE(e.Busy(done - 1));
    EXPECT_FALSE(e.Write(kDev, nullptr, 0, nullptr, 0, done - 1));  // ACK poll
    uint8_t b = 0x77;
    const uint8_t addr = 0x20;
    EXPECT_FALSE(e.Read(kDev, &addr, 1, &b, 1, done - 1));
    EXPECT_EQ(b, 0x77);
    EXPECT_FALSE(WriteAt(e, 0x20, {0x00}, done - 1));  // refused, not queued
    EXPECT_TRUE(e.Write(kDev, nullptr, 0, nullptr, 0, done));
    EXPECT_EQ(ReadAt(e, 0x20, 1, done)[0], 0x5A);
    EXPECT_FALSE(e.Write(0xA2, &addr, 1, &b, 1, done));    // another device
    EXPECT_FALSE(e.Write(kDev, nullptr, 1, &b, 1, done));  // unusable arguments

    // An address-only write (the first half of a random read) starts no cycle.
    ASSERT_TRUE(e.Write(kDev, &addr, 1, nullptr, 0, done));
    EXPECT_FALSE(e.Busy(done));
}

TEST(I2cEeprom, SequentialReadRunsAcrossPagesAndWraps) {
    I2cEeprom e;
    for (size_t i = 0; i < e.size(); ++i) e.mutable_data()[i] = static_cast<uint8_t>(i);
    const auto out = ReadAt(e, 0xFC, 8, 0);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFC, 0xFD, 0xFE, 0xFF, 0, 1, 2, 3}));
    // Current-address read continues where the last one stopped.
    uint8_t next = 0;
    ASSERT_TRUE(e.Read(kDev, nullptr, 0, &next, 1, 0));
    EXPECT_EQ(next, 4);
}

TEST(I2cEeprom, ThreeCycleAddressing) {
    I2cEeprom e(I2cEepromOptions::At24c512());
    ASSERT_EQ(e.size(), 65536u);
    const uint8_t addr[2] = {0x12, 0x7E};
    const std::vector<uint8_t> data = {1, 2, 3, 4};
    ASSERT_TRUE(e.Write(kDev, addr, 2, data.data(), data.size(), 0));
    EXPECT_EQ(e.data()[0x127E], 1);
    EXPECT_EQ(e.data()[0x127F], 2);
    EXPECT_EQ(e.data()[0x1200], 3);  // 128-byte page wraps
    EXPECT_EQ(e.data()[0x1280], 0xFF);
    uint8_t out = 0;
    ASSERT_TRUE(e.Read(kDev, addr, 2, &out, 1, kCycle));
    EXPECT_EQ(out, 1);
}

TEST(I2cEeprom, WrongAddressCycleCountMissesTheTarget) {
    // A three-cycle host on a two-cycle part: the low address byte is taken as data.
    I2cEeprom small;
    const uint8_t addr[2] = {0x00, 0x40};
    const uint8_t data = 0x99;
    ASSERT_TRUE(small.Write(kDev, addr, 2, &data, 1, 0));
    EXPECT_EQ(small.data()[0x00], 0x40);
    EXPECT_EQ(small.data()[0x01], 0x99);
    EXPECT_EQ(small.data()[0x40], 0xFF);

    // A two-cycle host on a three-cycle part: the address is never complete.
    I2cEeprom large(I2cEepromOptions::At24c512());
    const uint8_t one = 0x40;
    ASSERT_TRUE(large.Write(kDev, &one, 1, nullptr, 0, 0));
    EXPECT_FALSE(large.Busy(0));
    for (size_t i = 0; i < large.size(); ++i) ASSERT_EQ(large.data()[i], 0xFF);

    I2cEepromOptions o;
    o.sizeBytes = 512;  // one address byte reaches 256
    EXPECT_THROW(I2cEeprom{o}, std::invalid_argument);
}

}  // namespace
}  // namespace sim
