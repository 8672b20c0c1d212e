// The USB and GPIO adapters' chips on the virtual board: facts from FTDI's and libgpiod's
// documentation that a host could get wrong. IDCODE reads and TMS/TDI shifting go through the
// host's cables (tests/port/CableTest.cpp).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "sim/Board.h"
#include "sim/FtdiDevice.h"
#include "sim/GpioChip.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kIdcode = 0x0D4C9041;

// Reset via TMS, IR = 2 (IDCODE), then 32 DR bits read back: 3 bytes, 7 bits, 1 bit with TMS.
// The bit reads, LSB first, land in the top of their byte.
const Bytes kReadIdcode = {0x4B, 5, 0x1F,  // TMS 1,1,1,1,1,0: Run-Test/Idle
                           0x4B, 3, 0x03,  // TMS 1,1,0,0: Shift-IR
                           0x1B, 3, 0x02,  // IR bits 0-3 of 2
                           0x4B, 0, 0x01,  // IR bit 4 (TDI 0) with TMS 1: Exit1-IR
                           0x4B, 3, 0x03,  // TMS 1,1,0,0: Update-IR to Shift-DR
                           0x28, 2, 0,     // 24 bits in
                           0x2A, 6,        // 7 bits in
                           0x6B, 0, 0x01,  // last bit, TMS 1: Exit1-DR
                           0x4B, 1, 0x01,  // Update-DR, Run-Test/Idle
                           0x87};

uint32_t IdcodeOf(const Bytes& a) {
    return a.size() != 5 ? 0
                         : a[0] | a[1] << 8 | a[2] << 16 | static_cast<uint32_t>(a[3] >> 1) << 24 |
                               static_cast<uint32_t>(a[4] >> 7) << 31;
}

struct Adapter : ::testing::Test {
    sim::Board board{sim::Options{}};
    std::unique_ptr<sim::FtdiDevice> dev;
    uint8_t in = 0x81, out = 0x02, port = 1;

    void Make(const std::string& knobs) {
        sim::FtdiOptions o;
        std::string error;
        ASSERT_TRUE(sim::ParseFtdiOptions(knobs, o, error)) << error;
        dev = std::make_unique<sim::FtdiDevice>(o, &board);
        in = static_cast<uint8_t>(0x81 + 2 * o.channel);
        out = static_cast<uint8_t>(0x02 + 2 * o.channel);
        port = static_cast<uint8_t>(o.channel + 1);
    }
    // Open, claim, MPSSE mode, TCK/TDI/TMS and nTRST/nRESET (ADBUS4/5) out, TMS high.
    void Start(const std::string& knobs = "") {
        Make(knobs);
        ASSERT_EQ(dev->Open(), 0);
        ASSERT_EQ(dev->ClaimInterface(port - 1), 0);
        ASSERT_EQ(Control(sim::FtdiDevice::kRequestSetBitmode, 0x0200), 0);
        ASSERT_EQ(Send({0x85, 0x80, 0x38, 0x3B}), 0);
    }
    int Control(uint8_t request, uint16_t value) {
        return dev->ControlTransfer(0x40, request, value, port, nullptr, 0, 1000);
    }
    int Send(Bytes b, int* taken = nullptr) {
        int n = 0;
        const int r = dev->BulkTransfer(out, b.data(), static_cast<int>(b.size()), &n, 1000);
        if (taken) *taken = n;
        return r;
    }
    // One bulk IN transfer, raw.
    Bytes Raw(int size = 4096, int* result = nullptr) {
        Bytes b(static_cast<size_t>(size));
        int n = 0;
        const int r = dev->BulkTransfer(in, b.data(), size, &n, 1000);
        if (result) *result = r;
        b.resize(static_cast<size_t>(n));
        return b;
    }
    // Answers with the status bytes of every 512-byte packet checked and stripped.
    Bytes Answers(int size = 4096) {
        const Bytes raw = Raw(size);
        Bytes a;
        for (size_t p = 0; p < raw.size(); p += 512) {
            EXPECT_EQ(raw[p], sim::FtdiDevice::kStatus0) << "packet at " << p;
            EXPECT_EQ(raw[p + 1], sim::FtdiDevice::kStatus1) << "packet at " << p;
            a.insert(a.end(), raw.begin() + static_cast<long>(p) + 2,
                     raw.begin() + static_cast<long>(std::min(p + 512, raw.size())));
        }
        return a;
    }
};

TEST_F(Adapter, ReadsIdcodeOnEveryChipAndChannelAtTheDivisorsClock) {
    // TCK = 60 MHz / ((1 + divisor) * 2), 12 MHz base with divide-by-5 (on after reset, divisor
    // 0); a three-phase bit lasts one and a half periods. 53 clocks read the IDCODE.
    struct Row {
        const char* knobs;
        Bytes setup;
        uint64_t clockNs;
    } const rows[] = {
        {"", {}, 53 * 1000 / 6},                            // 6 MHz
        {"channel=B", {0x8A, 0x86, 2, 0}, 53 * 100},        // 10 MHz
        {"chip=ft232h", {0x8A, 0x86, 0, 0}, 53 * 100 / 3},  // 30 MHz
        {"chip=ft4232h,channel=B", {0x8C}, 53 * 250},       // 6 MHz, three-phase
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.knobs);
        Start(row.knobs);
        Bytes cmd = row.setup;
        cmd.insert(cmd.end(), kReadIdcode.begin(), kReadIdcode.end());
        ASSERT_EQ(Send(cmd), 0);
        EXPECT_EQ(IdcodeOf(Answers()), kIdcode);
        EXPECT_EQ(board.tap_state(), sim::Board::kRunTestIdle);
        EXPECT_EQ(dev->Clocks(), 53u);
        // Plus two round trips: the bitmode request and the read.
        EXPECT_EQ(dev->NowNs(), 2 * 250000u + row.clockNs);
    }
}

TEST_F(Adapter, AnswersUnknownOpcodesWithBadCommandAndGoesOn) {
    Start();
    ASSERT_EQ(Send({0xAA, 0x81, 0xAB, 0x91, 0x87}), 0);
    // 0x81 reads the low pins: TMS, nTRST, nRESET driven high, TDO high in Test-Logic-Reset,
    // GPIOL2-3 pulled up.
    EXPECT_EQ(Answers(), (Bytes{0xFA, 0xAA, 0xFC, 0xFA, 0xAB, 0xFA, 0x91}));
}

TEST_F(Adapter, FramesPacketsWithStatusBytesAndHoldsShortOnesForTheLatencyTimer) {
    Start();
    // 600 answer bytes: a full packet (510 data) and a short one (90) that ends the transfer.
    ASSERT_EQ(Send({0x28, 0x57, 0x02, 0x87}), 0);
    EXPECT_EQ(Raw().size(), 512u + 2 + 90);
    EXPECT_EQ(Answers().size(), 0u);
    // A buffer that ends inside a packet: overflow, the rest of that packet lost.
    ASSERT_EQ(Send({0x28, 0x09, 0x00, 0x87}), 0);
    int result = 0;
    EXPECT_EQ(Raw(8, &result).size(), 8u);
    EXPECT_EQ(result, sim::kUsbErrorOverflow);
    EXPECT_EQ(Answers().size(), 0u);
    // Without a send-immediate a short packet waits for the latency timer (16 ms by default);
    // a timeout shorter than the timer gets nothing.
    ASSERT_EQ(Send({0x81}), 0);
    const uint64_t t0 = dev->NowNs();
    EXPECT_EQ(Answers().size(), 1u);
    EXPECT_GE(dev->NowNs() - t0, 16 * sim::kNsPerMs);
    ASSERT_EQ(Control(sim::FtdiDevice::kRequestSetLatency, 2), 0);
    ASSERT_EQ(Send({0x81}), 0);
    uint8_t b[512];
    int n = -1;
    EXPECT_EQ(dev->BulkTransfer(in, b, 512, &n, 1), sim::kUsbErrorTimeout);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(Answers().size(), 1u);
}

TEST_F(Adapter, StopsTakingCommandsWhileUnreadAnswersFillItsBuffer) {
    Start("chip=ft232h");                  // 1 KiB buffers
    Bytes cmd = {0x84, 0x39, 0xFF, 0x0F};  // loopback, then 4 KiB out and in
    for (int i = 0; i < 4096; ++i) cmd.push_back(static_cast<uint8_t>(i * 7 + i / 256));
    int taken = 0;
    EXPECT_EQ(Send(cmd, &taken), sim::kUsbErrorTimeout);
    EXPECT_EQ(taken, 4 + 1024 + 1024);  // run until answers filled the IN buffer, then queued
    size_t sent = static_cast<size_t>(taken);
    Bytes got;
    for (int round = 0; round < 8 && got.size() < 4096; ++round) {
        const Bytes a = Answers();
        got.insert(got.end(), a.begin(), a.end());
        if (sent < cmd.size()) {
            Send(Bytes(cmd.begin() + static_cast<long>(sent), cmd.end()), &taken);
            sent += static_cast<size_t>(taken);
        }
    }
    EXPECT_EQ(got, Bytes(cmd.begin() + 4, cmd.end())) << "nothing lost or repeated";
}

TEST_F(Adapter, FaultKnobsFailAsLibusbDoes) {
    struct Case {
        const char* knobs;
        int open, claim;
    } const cases[] = {
        {"absent", sim::kUsbErrorNoDevice, sim::kUsbErrorNoDevice},
        {"denied", sim::kUsbErrorAccess, sim::kUsbErrorIo},
        {"busy", 0, sim::kUsbErrorBusy},
        {"driver-bound", 0, sim::kUsbErrorBusy},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.knobs);
        Make(c.knobs);
        EXPECT_EQ(dev->Present(), c.open != sim::kUsbErrorNoDevice);
        EXPECT_EQ(dev->Open(), c.open);
        EXPECT_EQ(dev->ClaimInterface(0), c.claim);
    }
    EXPECT_EQ(dev->KernelDriverActive(0), 1);
    EXPECT_EQ(dev->DetachKernelDriver(0), 0);
    EXPECT_EQ(dev->ClaimInterface(0), 0);

    // Pulled out mid-scan: that transfer and every later call fail, the pins are let go.
    Start("unplug-after-clocks=20");
    EXPECT_EQ(Send(kReadIdcode), sim::kUsbErrorNoDevice);
    EXPECT_EQ(dev->Clocks(), 20u);
    EXPECT_FALSE(dev->Present());
    EXPECT_EQ(Send({0x87}), sim::kUsbErrorNoDevice);
    EXPECT_EQ(board.ReadData(), sim::Board::kPinsPulled);
}

struct Gpio : ::testing::Test {
    sim::Board board{sim::Options{}};
    std::unique_ptr<sim::GpioChip> chip;
    sim::GpioOptions o;
};

TEST_F(Gpio, RefusesBusyLinesMissingChipsAndUnrequestedAccess) {
    o.busy = {9};
    chip = std::make_unique<sim::GpioChip>(o, &board);
    EXPECT_EQ(chip->RequestInput(9, "x"), sim::GpioStatus::kInvalid) << "chip not open";
    EXPECT_EQ(chip->Open("gpiochip1"), sim::GpioStatus::kNoChip);
    ASSERT_EQ(chip->Open("gpiochip0"), sim::GpioStatus::kOk);
    EXPECT_EQ(chip->RequestInput(9, "x"), sim::GpioStatus::kBusy);
    EXPECT_EQ(chip->LineConsumer(9), "kernel");
    ASSERT_EQ(chip->RequestInput(11, "x"), sim::GpioStatus::kOk);
    EXPECT_EQ(chip->RequestOutput(11, "y", 0), sim::GpioStatus::kBusy);
    EXPECT_EQ(chip->SetValue(11, 1), sim::GpioStatus::kNotOutput);
    int v = 0;
    EXPECT_EQ(chip->GetValue(25, v), sim::GpioStatus::kNotRequested);
    EXPECT_EQ(chip->Accesses(), 0u);
    chip->mutable_options().denied = true;
    EXPECT_EQ(chip->Open("gpiochip0"), sim::GpioStatus::kAccess);
    chip->mutable_options().absent = true;
    EXPECT_EQ(chip->Open("gpiochip0"), sim::GpioStatus::kNoChip);
}

}  // namespace
