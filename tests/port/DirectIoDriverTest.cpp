// Direct port I/O against a fake OS: only the selected range is opened, and refusals are named.
#include <gtest/gtest.h>

#include "FakePosixOs.h"
#include "PortRequests.h"
#include "port/linux/DirectIoDriver.h"

namespace {

using port::test::Read;
using port::test::Write;

using port::test::FakePosixOs;
using Log = std::vector<std::string>;

TEST(DirectIo, OpensOnlyTheSelectedRangesAndClosesThem) {
    FakePosixOs os;
    os.statusValue = 0x10;
    port::DirectIoDriver driver(os);
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr) << driver.LastErrorText();
    os.log.clear();
    EXPECT_TRUE(Write(*device, 0x378, 0x1F));
    uint8_t value = 0;
    EXPECT_TRUE(Read(*device, 0x379, value));
    EXPECT_EQ(value, 0x10);
    EXPECT_TRUE(Write(*device, 0x27A, 0x04));
    EXPECT_TRUE(Write(*device, 0x378, 0x00));
    device.reset();
    EXPECT_EQ(os.log,
              (Log{"ioperm 0x378 3 1", "outb 0x378 0x1F", "inb 0x379", "ioperm 0x278 3 1",
                   "outb 0x27A 0x4", "outb 0x378 0x0", "ioperm 0x378 3 0", "ioperm 0x278 3 0"}));
}

TEST(DirectIo, RegisterOutsideTheRangeIsRefused) {
    FakePosixOs os;
    port::DirectIoDriver driver(os);
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(Write(*device, 0x37B, 0));
    EXPECT_EQ(device->LastError(), 87u);
}

TEST(DirectIo, NonRootIsToldToUseRootOrPpdev) {
    FakePosixOs os;
    os.uid = 1000;
    port::DirectIoDriver driver(os);
    EXPECT_EQ(driver.OpenDevice(), nullptr);
    EXPECT_EQ(driver.LastErrorText(),
              "direct: port I/O needs root: run as root or use --driver ppdev");
}

TEST(DirectIo, KernelWithoutPortIoIsNamed) {
    FakePosixOs os;
    os.iopermErrno = ENOSYS;
    port::DirectIoDriver driver(os);
    EXPECT_EQ(driver.OpenDevice(), nullptr);
    EXPECT_EQ(driver.LastErrorText(),
              "direct: this kernel offers no port I/O (ioperm: function not implemented); use "
              "--driver ppdev");
}

TEST(DirectIo, RefusedRangeFailsEveryRequestWithoutRetrying) {
    FakePosixOs os;
    os.iopermErrno = EPERM;
    port::DirectIoDriver driver(os);
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr);
    uint8_t value = 0;
    EXPECT_FALSE(Write(*device, 0x378, 0));
    EXPECT_FALSE(Read(*device, 0x379, value));
    EXPECT_EQ(device->LastError(), static_cast<uint32_t>(EPERM));
    EXPECT_EQ(driver.LastErrorText(),
              "direct: port I/O needs root: run as root or use --driver ppdev");
    EXPECT_EQ(os.Calls("ioperm 0x378 3 1"), 1);
    EXPECT_EQ(os.Calls("outb"), 0);
}

}  // namespace
