#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "sim/FlashBus.h"

namespace sim {
namespace {

constexpr uint32_t kBase = 0x7FF00000;

// The host's preparation of a value for the bus: bit i moves to bit map[i] (16 lines).
uint32_t Map(const DataWiring& map, uint32_t v) {
    uint32_t out = 0;
    for (unsigned i = 0; i < 16; ++i) out |= ((v >> i) & 1u) << map[i];
    return out;
}
DataWiring Wiring16(std::function<unsigned(unsigned)> line) {
    DataWiring m = IdentityWiring();
    for (unsigned i = 0; i < 16; ++i) m[i] = static_cast<uint8_t>(line(i));
    return m;
}

FlashBusOptions Bank(unsigned width, DataWiring wiring = IdentityWiring()) {
    FlashBusOptions o;
    o.width = width;
    o.wiring = wiring;
    o.chip.wordMode = width != 8;
    return o;
}

// The host's identification sequence, command words prepared by `prepare`; {maker, device}.
std::pair<uint32_t, uint32_t> Identify(FlashBus& bus, std::function<uint32_t(uint32_t)> prepare) {
    const unsigned w = bus.width();
    const uint32_t lanes = w == 8 ? 0xFF : w == 16 ? 0xFFFF : 0xFFFFFFFF;
    const uint32_t a1 = w == 8 ? 0x555 : w == 16 ? 0xAAA : 0x1554;
    auto put = [&](uint32_t addr, uint32_t byte) {
        bus.BusWrite(addr, prepare(byte * 0x01010101u & lanes), w, 0);
    };
    put(kBase, 0xF0);
    put(kBase, 0xFF);
    put(kBase | a1, 0xAA);
    put(kBase | a1 * 2, 0x55);
    put(kBase | a1, 0x90);
    const auto ids = std::make_pair(bus.BusRead(kBase, w, 0), bus.BusRead(kBase + w / 8, w, 0));
    put(kBase, 0xF0);
    put(kBase, 0xFF);
    return ids;
}
uint32_t Plain(uint32_t v) {
    return v;
}

TEST(FlashBusIdentify, IdentityWiringOnEachWidth) {
    FlashBus bus8(Bank(8)), bus16(Bank(16)), bus32(Bank(32));
    EXPECT_EQ(Identify(bus8, Plain), std::make_pair(0x20u, 0xD7u));
    EXPECT_EQ(Identify(bus16, Plain), std::make_pair(0x0020u, 0x00D7u));
    EXPECT_EQ(Identify(bus32, Plain), std::make_pair(0x00200020u, 0x00D700D7u));
    EXPECT_EQ(bus8.size(), 0x100000u);
    EXPECT_EQ(bus32.size(), 0x200000u);
    EXPECT_EQ(bus32.BusRead(kBase, 32, 0), 0xFFFFFFFFu);  // back to the array
}

TEST(FlashBusIdentify, ReversedWiringIsItsOwnInverse) {
    const DataWiring map = Wiring16([](unsigned i) { return 15 - i; });
    FlashBus bus(Bank(16, map));
    const auto [maker, device] = Identify(bus, [&](uint32_t v) { return Map(map, v); });
    EXPECT_EQ(maker, 0x0400u);  // 0x0020 on reversed lines
    EXPECT_EQ(Map(map, maker), 0x0020u);
    EXPECT_EQ(Map(map, device), 0x00D7u);
}

TEST(FlashBusIdentify, RotatedWiringNeedsTheInverseForCommands) {
    const DataWiring map = Wiring16([](unsigned i) { return (i + 1) % 16; });
    const DataWiring inverse = Wiring16([](unsigned i) { return (i + 15) % 16; });
    FlashBus good(Bank(16, map)), bad(Bank(16, map));
    // Answers come back through the wiring's inverse, so the forward map rebuilds them.
    const auto ids = Identify(good, [&](uint32_t v) { return Map(inverse, v); });
    EXPECT_EQ(Map(map, ids.first), 0x0020u);
    EXPECT_EQ(Map(map, ids.second), 0x00D7u);
    EXPECT_EQ(Map(map, Identify(bad, [&](uint32_t v) { return Map(map, v); }).first), 0xFFFFu);

    bad.chip(0).mutable_data()[0] = 0x01;  // chip bit 0 is on bus line 15
    EXPECT_EQ(bad.Peek(kBase, 16), 0xFF80u);
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
