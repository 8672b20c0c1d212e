#include <gtest/gtest.h>

#include <stdexcept>

#include "sim/FlashBus.h"

namespace sim {
namespace {

constexpr uint32_t kBase = 0x7FF00000;

FlashBusOptions Bank(unsigned width, DataWiring wiring = IdentityWiring()) {
    FlashBusOptions o;
    o.width = width;
    o.wiring = wiring;
    o.chip.wordMode = width != 8;
    return o;
}

TEST(FlashBusAccess, ByteAndWideAccessesOnASixteenBitBus) {
    // An 8-bit sequence lands on the wrong lanes and chip addresses: no autoselect.
    FlashBus bus(Bank(16));
    bus.BusWrite(kBase | 0x555, 0xAA, 8, 0);
    bus.BusWrite(kBase | 0xAAA, 0x55, 8, 0);
    bus.BusWrite(kBase | 0x555, 0x90, 8, 0);
    EXPECT_EQ(bus.BusRead(kBase, 16, 0), 0xFFFFu);
    // A wide read is two bus cycles; a narrow one picks its lane.
    bus.BusWrite(kBase | 0xAAA, 0xAA, 16, 0);
    bus.BusWrite(kBase | 0x1554, 0x55, 16, 0);
    bus.BusWrite(kBase | 0xAAA, 0x90, 16, 0);
    EXPECT_EQ(bus.BusRead(kBase, 32, 0), 0x00D70020u);
    EXPECT_EQ(bus.BusRead(kBase + 2, 8, 0), 0xD7u);
}

TEST(FlashBusAccess, ChipPairProgramsBothHalvesAndPeeksTheArray) {
    FlashBus bus(Bank(32));
    auto program = [&](uint32_t addr, uint32_t value, uint64_t t) {
        bus.BusWrite(kBase | 0x1554, 0x00AA00AA, 32, t);
        bus.BusWrite(kBase | 0x2AA8, 0x00550055, 32, t);
        bus.BusWrite(kBase | 0x1554, 0x00A000A0, 32, t);
        bus.BusWrite(addr, value, 32, t);
    };
    program(kBase + 8, 0x44332291, 0);
    EXPECT_EQ(bus.BusRead(kBase + 8, 32, 1) & 0x00800080, 0x00800000u);  // DQ7 per chip
    EXPECT_EQ(bus.BusRead(kBase + 8, 32, kNsPerMs), 0x44332291u);
    EXPECT_EQ(bus.chip(0).data()[4], 0x91);
    EXPECT_EQ(bus.chip(1).data()[5], 0x44);
    program(kBase + 12, 0, 2 * kNsPerMs);  // status on the bus, the array in a peek
    EXPECT_EQ(bus.Peek(kBase + 9, 16), 0x3322u);
}

TEST(FlashBusAccess, OutsideTheWindowBadWidthOrBadOptions) {
    FlashBus bus(Bank(16));
    EXPECT_TRUE(bus.Contains(kBase + 0xFFFFF));
    EXPECT_FALSE(bus.Contains(kBase + 0x100000));
    EXPECT_FALSE(bus.Contains(kBase - 1));
    EXPECT_EQ(bus.BusRead(kBase + 0xFFFFE, 16, 0), 0xFFFFu);
    EXPECT_EQ(bus.BusRead(kBase + 0xFFFFE, 32, 0), 0u);  // runs past the end
    EXPECT_EQ(bus.BusRead(kBase, 24, 0), 0u);
    bus.BusWrite(kBase | 0xAAA, 0xAA, 12, 0);
    bus.BusWrite(kBase | 0x1554, 0x55, 16, 0);
    bus.BusWrite(kBase | 0xAAA, 0x90, 16, 0);
    EXPECT_EQ(bus.BusRead(kBase, 16, 0), 0xFFFFu);  // the 12-bit write was no cycle

    FlashBusOptions o = Bank(16);
    o.wiring[3] = 4;  // two lines on chip bit 4
    EXPECT_THROW(FlashBus{o}, std::invalid_argument);
    o.wiring[3] = 16;  // beyond the bus
    EXPECT_NE(FlashBus::Validate(o), "");
    o = Bank(8);
    o.wiring[9] = 0;  // lines above the bus width do not matter
    EXPECT_EQ(FlashBus::Validate(o), "");
    o.base = 0xFFF80000;  // 1 MiB does not fit below 4 GiB
    EXPECT_NE(FlashBus::Validate(o), "");
}

}  // namespace
}  // namespace sim
