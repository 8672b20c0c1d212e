// The board's driver-string knobs: every knob reaches its field, and a bad text is named in
// the message and changes nothing.
#include <gtest/gtest.h>

#include <string>

#include "sim/BoardKnobs.h"

namespace {

TEST(BoardKnobs, EveryKnobSetsItsField) {
    sim::Options o;
    std::string error;
    ASSERT_TRUE(sim::ParseOptions(
        ":/tmp/b,idcode=0x3D4C9041,ack-delay=-2,no-ack,bad-header,bad-length,busy,noise=0.25,"
        "seed=7,unplug-after=123456,ready-polls=0,handler-dead,keep-running,slow=3,erase-fails,"
        "flash-stuck=7FF00010,procid=1D402041,flash-width=32,flash-cmdset=intel,flash-mode=word,"
        "flash-boot=bottom,flash-wiring=rotate,eeprom=24c512,clock-ns=1000,tdo=0,link-reset=drop",
        o, error))
        << error;
    EXPECT_EQ(o.dir, "/tmp/b");
    EXPECT_EQ(o.idcode, 0x3D4C9041u);
    EXPECT_EQ(o.ackDelay, -2);
    EXPECT_TRUE(o.noAck && o.badHeader && o.badLength && o.busy && o.dropOnReset);
    EXPECT_DOUBLE_EQ(o.noise, 0.25);
    EXPECT_EQ(o.seed, 7u);
    EXPECT_EQ(o.unplugAfter, 123456u);
    EXPECT_EQ(o.readyPolls, 0u);
    EXPECT_TRUE(o.handlerDead && o.keepRunning && o.eraseFails && o.eeprom512);
    EXPECT_EQ(o.slow, 3u);
    EXPECT_EQ(*o.flashStuck, 0x7FF00010u);
    EXPECT_EQ(*o.procid, 0x1D402041u);
    EXPECT_EQ(o.flashWidth, 32u);
    EXPECT_EQ(o.flashCmdset, sim::CommandSet::Intel);
    EXPECT_TRUE(o.flashWordMode);
    EXPECT_FALSE(o.flashTopBoot);
    EXPECT_EQ(o.flashWiring, "rotate");
    EXPECT_EQ(o.clockNs, 1000u);
    EXPECT_EQ(o.tdo, sim::Options::Tdo::StuckLow);
    ASSERT_TRUE(sim::ParseOptions(",no-target,idcode=d4c9041", o, error));
    EXPECT_EQ(o.tdo, sim::Options::Tdo::StuckHigh);
    EXPECT_EQ(o.idcode, 0x0D4C9041u);
    sim::Options fresh;
    EXPECT_TRUE(sim::ParseOptions(",flash-width=8,flash-wiring=7/6/5/4/3/2/1/0", fresh, error))
        << error;
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
