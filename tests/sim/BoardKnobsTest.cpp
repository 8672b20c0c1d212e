// The board's driver-string knobs: a bad text is named in the message and changes nothing.
#include <gtest/gtest.h>

#include <string>

#include "sim/BoardKnobs.h"

namespace {

// Most knobs are read through the host's tests that need their fault; these few are not.
TEST(BoardKnobs, KnobsNoHostTestUsesSetTheirFields) {
    sim::Options o;
    std::string error;
    ASSERT_TRUE(
        sim::ParseOptions(":/tmp/b,flash-stuck=7FF00010,flash-boot=bottom,tdo=0,seed=7", o, error))
        << error;
    EXPECT_EQ(o.dir, "/tmp/b");
    EXPECT_EQ(*o.flashStuck, 0x7FF00010u);
    EXPECT_FALSE(o.flashTopBoot);
    EXPECT_EQ(o.tdo, sim::Options::Tdo::StuckLow);
    EXPECT_EQ(o.seed, 7u);
    o = sim::Options{};
    ASSERT_TRUE(sim::ParseOptions(
        ",no-target,idcode=d4c9041,flash-width=8,flash-wiring=7/6/5/4/3/2/1/0", o, error))
        << error;
    EXPECT_EQ(o.flashWiring, "7/6/5/4/3/2/1/0");
    EXPECT_EQ(o.tdo, sim::Options::Tdo::StuckHigh);
    EXPECT_EQ(o.idcode, 0x0D4C9041u);
}

TEST(BoardKnobs, BadTextIsNamedAndChangesNothing) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"x", "board options must start with ':DIR' or ',knob' (got 'x')"},
        {":,busy", "empty board directory after ':'"},
        {",busy,,no-ack", "empty board knob in ',busy,,no-ack'"},
        {",bogus=1", "unknown board knob 'bogus' (see --help for the list)"},
        {",idcode", "board knob 'idcode' needs a value (idcode=...)"},
        {",no-target=1", "board knob 'no-target' takes no value"},
        {",idcode=123456789", "board knob 'idcode': '123456789' is not a 32-bit hexadecimal value"},
        {",ack-delay=-10",
         "board knob 'ack-delay': '-10' is not a whole number from -9 to 1000000"},
        {",noise=2", "board knob 'noise': '2' is not a probability from 0 to 1"},
        {",tdo=2", "board knob 'tdo': '2' is not 0, 1 or live"},
        {",unplug-after=0",
         "board knob 'unplug-after': '0' is not a whole number of clocks from 1"},
        {",slow=0", "board knob 'slow': '0' is not a whole number from 1 to 1000000"},
        {",seed=-1", "board knob 'seed': '-1' is not an unsigned number"},
        {",flash-width=12", "board knob 'flash-width': '12' is not 8, 16 or 32"},
        {",flash-stuck=10", "flash-stuck address is outside the flash window"},
        {",flash-wiring=1/0",
         "flash-wiring '1/0' is not identity, reversed, rotate or 16 chip bit "
         "numbers L0/L1/... (one per bus data line)"},
        {",flash-width=8,flash-wiring=0/0/1/2/3/4/5/6", "flash data lines share chip bit 0"},
    };
    for (const auto& c : cases) {
        sim::Options o;
        o.idcode = 42;
        std::string error;
        EXPECT_FALSE(sim::ParseOptions(c.text, o, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
        EXPECT_EQ(o.idcode, 42u) << c.text;
        EXPECT_EQ(o.flashWidth, 16u) << c.text;
    }
}

}  // namespace
