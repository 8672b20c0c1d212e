// The ppdev backend against a fake OS: what a real port needs, and the users' classic traps.
#include <gtest/gtest.h>

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cstdio>

#include "FakePosixOs.h"
#include "PortRequests.h"
#include "port/PortTalk.h"
#include "port/ResourceLock.h"
#include "port/linux/PpdevDriver.h"

namespace {

using port::test::Read;
using port::test::Write;

using port::test::FakePosixOs;
using Log = std::vector<std::string>;

// Two ports, the driver's device open on them.
class Ppdev : public ::testing::Test {
  protected:
    void SetUp() override {
        os.AddParport(0, 0x378);
        os.AddParport(1, 0x278);
        device = driver.OpenDevice();
        ASSERT_NE(device, nullptr) << driver.LastErrorText();
    }
    FakePosixOs os;
    port::PpdevDriver driver{os};
    std::unique_ptr<port::IPortDevice> device;
};

TEST_F(Ppdev, ClaimsBeforeAnyRequestSetsCompatModeAndReleasesAtClose) {
    EXPECT_TRUE(Write(*device, 0x378, 0x1A));
    device.reset();
    EXPECT_EQ(os.log, (Log{"open /dev/parport0", "close /dev/parport0", "open /dev/parport0",
                           "ioctl PPCLAIM /dev/parport0", "ioctl PPSETMODE /dev/parport0",
                           "ioctl PPWDATA /dev/parport0", "ioctl PPRELEASE /dev/parport0",
                           "close /dev/parport0"}));
    ASSERT_GE(os.ioctls.size(), 2u);
    EXPECT_EQ(os.ioctls[1].value, IEEE1284_MODE_COMPAT);
    EXPECT_EQ(os.ioctls[2].value, 0x1A);
    EXPECT_TRUE(os.openFds.empty());
}

TEST_F(Ppdev, RegistersMapToTheirRequests) {
    os.statusValue = 0x6F;
    uint8_t value = 0;
    ASSERT_TRUE(Read(*device, 0x379, value));
    EXPECT_EQ(value, 0x6F);
    for (const auto& [at, written] : {std::pair{0x37A, 0x04}, std::pair{0x378, 0x15}}) {
        ASSERT_TRUE(Write(*device, static_cast<uint16_t>(at), static_cast<uint8_t>(written)));
        ASSERT_TRUE(Read(*device, static_cast<uint16_t>(at), value));
        EXPECT_EQ(value, written);
    }
    EXPECT_TRUE(Write(*device, 0x379, 0x00));  // read-only register: no request
    const unsigned long want[] = {PPCLAIM,    PPSETMODE, PPRSTATUS, PPWCONTROL,
                                  PPRCONTROL, PPWDATA,   PPRDATA};
    ASSERT_EQ(os.ioctls.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) EXPECT_EQ(os.ioctls[i].request, want[i]) << i;
}

TEST_F(Ppdev, SwitchingBaseWhileOpenClaimsTheOtherPortOnce) {
    for (const uint16_t base : {0x378, 0x278, 0x378, 0x278}) EXPECT_TRUE(Write(*device, base, 1));
    EXPECT_EQ(os.Calls("ioctl PPCLAIM"), 2);
    EXPECT_EQ(os.log.back(), "ioctl PPWDATA /dev/parport1");
    device.reset();
    EXPECT_TRUE(os.openFds.empty());
    EXPECT_EQ(os.Calls("ioctl PPRELEASE"), 2);
}

TEST_F(Ppdev, UnknownBaseFailsAndListsTheBasesFound) {
    uint8_t value = 0;
    EXPECT_FALSE(Read(*device, 0x3BD, value));
    EXPECT_EQ(device->LastError(), static_cast<uint32_t>(ENODEV));
    EXPECT_EQ(driver.LastErrorText(),
              "ppdev: no parallel port at base 0x3BC; found: /dev/parport0 at 0x378 "
              "/dev/parport1 at 0x278 (choose one with --lpt or --lpt-base)");
    EXPECT_TRUE(Write(*device, 0x278, 0));  // the others still work
}

TEST_F(Ppdev, MalformedRequestsAreRefused) {
    const uint8_t in[3] = {0x78, 0x03, 0};
    uint8_t out = 0;
    EXPECT_FALSE(device->DeviceIoControl(port::kIoctlWritePort, in, 2, nullptr, 0));
    EXPECT_FALSE(device->DeviceIoControl(port::kIoctlReadPort, in, 2, &out, 2));
    EXPECT_FALSE(device->DeviceIoControl(0x12345678, in, 3, nullptr, 0));
    EXPECT_EQ(device->LastError(), 1u);
}

// Each classic set-up trap refuses the open with a message that names the fix.
TEST(PpdevTraps, OpenFailuresNameTheFix) {
    const struct {
        void (*arrange)(FakePosixOs&);
        std::vector<std::string> says;  // the whole message, or parts of it
    } cases[] = {
        {[](FakePosixOs& os) { os.uid = 1000; },
         {"ppdev: no parallel port found (/dev/parport0 missing): load the drivers with "
          "`sudo modprobe parport_pc ppdev`"}},
        {[](FakePosixOs&) {}, {"modules loaded: this machine has none", "PCI/PCIe"}},
        {[](FakePosixOs& os) { os.paths.insert("/dev/usb/lp0"); },
         {"USB printer adapter (/dev/usb/lp*)", "cannot drive a JTAG cable"}},
        {[](FakePosixOs& os) {
             os.AddParport(0, 0x378);
             os.openErrors["/dev/parport0"] = EACCES;
         },
         {"ppdev: permission denied on /dev/parport0: add yourself to the lp group with "
          "`sudo usermod -aG lp $USER` and log in again"}},
        {[](FakePosixOs& os) {
             os.AddParport(0, 0x378);
             os.paths.erase("/dev/parport0");
         },
         {"ppdev: /dev/parport0 missing: load the drivers with `sudo modprobe parport_pc "
          "ppdev`"}},
    };
    for (const auto& c : cases) {
        FakePosixOs os;
        c.arrange(os);
        port::PpdevDriver driver(os);
        EXPECT_EQ(driver.OpenDevice(), nullptr);
        if (c.says.size() == 1) {
            EXPECT_EQ(driver.LastErrorText(), c.says[0]);
        }
        for (const auto& part : c.says)
            EXPECT_NE(driver.LastErrorText().find(part), std::string::npos) << part;
    }
}

// Held by another kernel driver, or by another process of ours: said, and not retried every
// clock.
TEST(PpdevTraps, PortHeldElsewhereIsReportedOnce) {
    for (const bool byProcess : {false, true}) {
        FakePosixOs os;
        os.AddParport(0, 0x378);
        if (byProcess)
            os.lockHolders[port::DeviceLockPath("port-0378")] = 4321;
        else
            os.ioctlErrors[PPCLAIM] = EBUSY;
        port::PpdevDriver driver(os);
        auto device = driver.OpenDevice();
        ASSERT_NE(device, nullptr);
        EXPECT_FALSE(Write(*device, 0x378, 0));
        EXPECT_FALSE(Write(*device, 0x378, 0));
        EXPECT_EQ(device->LastError(), static_cast<uint32_t>(EBUSY));
        EXPECT_NE(driver.LastErrorText().find(byProcess ? "/dev/parport0 is in use by process 4321"
                                                        : "sudo rmmod lp"),
                  std::string::npos)
            << driver.LastErrorText();
        EXPECT_EQ(os.Calls("ioctl PPCLAIM"), byProcess ? 0 : 1);
        EXPECT_TRUE(os.openFds.empty());
    }
}

// Root loads the modules when the kernel shows no port, and says nothing of a driver service.
FakePosixOs* g_loading = nullptr;

TEST(PpdevModules, RootLoadsThemQuietly) {
    FakePosixOs os;
    g_loading = &os;
    os.onRun = [](const std::string& command) {
        if (command == "modprobe ppdev") g_loading->AddParport(0, 0x378);
    };
    std::FILE* out = std::tmpfile();
    port::SetPortMessageStream(out);
    port::SelectPortDriver(std::make_unique<port::PpdevDriver>(os));
    EXPECT_EQ(OpenPortDriver(), 0);
    EXPECT_EQ(os.commands, (Log{"modprobe parport_pc", "modprobe ppdev"}));
    EXPECT_EQ(std::ftell(out), 0L);
    port::SelectPortDriver(nullptr);
    port::SetPortMessageStream(nullptr);
    std::fclose(out);
}

}  // namespace
