// Every cable against the virtual board, opened through the port client as the link opens it
// (USB and GPIO cables on their emulated chips): random clocks give the TDO bits of the design's
// per-clock cycle on a board of its own, the link moves memory through each, and a remote cable
// that loses its server says why at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/FtdiDriver.h"
#include "port/GpioDriver.h"
#include "port/PortTalk.h"
#include "port/RemoteBitbangDriver.h"
#include "port/SimGpio.h"
#include "port/SimPortDriver.h"
#include "port/SimUsbBus.h"
#include "sim/RemoteBitbang.h"
#include "support/BoardData.h"
#include "support/SimLinkFixture.h"

namespace {

// Each cable; the emulated adapters cover each chip's answer buffer, another channel and
// reset pins.
struct Kind {
    const char* name;
    const char* driver;  // null: the parallel-port cable on the virtual board
    bool fast = false;
};
void PrintTo(const Kind& kind, std::ostream* out) {
    *out << kind.name;
}
const Kind kKinds[] = {
    {"Exact", nullptr},
    {"FastClock", nullptr, true},
    {"RemoteBitbang", "remote"},
    {"Ft2232h", "ftdi-sim,khz=30000"},
    {"Ft232h", "ftdi-sim:0403:6014,khz=1000@chip=ft232h"},
    {"Ft4232hChannelB",
     "ftdi-sim:0403:6011,channel=B,trst=BDBUS6,srst=none@chip=ft4232h,channel=B,"
     "trst=6,srst=none"},
    {"Gpiod", "gpiod-sim"},
};

// Random unless TAPWRIGHT_SEED repeats a run; tests print it.
unsigned Seed() {
    const char* text = std::getenv("TAPWRIGHT_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 0))
                           : std::random_device{}();
}

// One step of a clock script: a clock with the TDO the design's cycle read, or a change.
struct Step {
    enum Type : uint8_t { kClock, kTrst, kPark } type = kClock;
    bool tms = false, tdi = false, want = false;  // kTrst: tms is the new nTRST level
    bool tdo = false;
};

// Random TAP traffic with structure in it (IDCODE and DCU-link scans, random runs, nTRST
// pulses, parks), run as it is made through the design's clock on a board of its own: read
// TDO, then data, data|TCK, data. That cycle reads before it drives a new nTRST level, so the
// clock after nTRST goes low is not wanted.
std::vector<Step> RandomScript(std::mt19937& rng, size_t length) {
    using B = sim::Board;
    B board{sim::Options{}};
    uint8_t trst = 0;
    std::vector<Step> s;
    auto put = [&](Step st) {
        if (st.type == Step::kTrst) trst = st.tms ? B::kPinTrst : 0;
        if (st.type == Step::kPark) board.WriteData(static_cast<uint8_t>(B::kPinReset | trst));
        if (st.type == Step::kClock) {
            st.tdo = (board.ReadStatus() & B::kStatusTdo) != 0;
            const auto data = static_cast<uint8_t>((st.tms ? B::kPinTms : 0) |
                                                   (st.tdi ? B::kPinTdi : 0) | trst | B::kPinReset);
            for (uint8_t tck : {0, 1, 0})
                board.WriteData(static_cast<uint8_t>(data | tck * B::kPinTck));
        }
        s.push_back(st);
    };
    auto clock = [&](bool tms, bool tdi, bool want) { put({Step::kClock, tms, tdi, want}); };
    auto bit = [&](unsigned percent) { return rng() % 100 < percent; };
    auto pulse = [&] {  // nTRST low for a few clocks
        put({Step::kTrst, false});
        clock(bit(50), bit(50), false);
        for (unsigned n = rng() % 3; n > 0; --n) clock(bit(50), bit(50), true);
        put({Step::kTrst, true});
    };
    put({Step::kTrst, true});
    while (s.size() < length) {
        switch (rng() % 5) {
            case 0:
            case 1:
                // TDI low: random bits would garble the DCU link's framing for good.
                for (unsigned n = 1 + rng() % 64; n > 0; --n) clock(bit(30), false, bit(70));
                break;
            case 2: {
                for (bool t : {true, true, true, true, true, false, true, true, false, false})
                    clock(t, false, true);
                const uint32_t ir = rng() % 3 == 0 ? rng() % 32 : rng() % 2 ? 2 : 16;
                for (int i = 0; i < 5; ++i) clock(i == 4, (ir >> i) & 1, true);
                for (bool t : {true, true, false, false}) clock(t, false, true);
                const bool dcu = ir == B::kIrDcuLink, leave = !dcu && bit(50);
                for (unsigned n = 32 + rng() % 40; n > 0; --n)  // or stay for what comes next
                    clock(leave && n == 1, !dcu && bit(50), true);
                if (!dcu) break;
                // A 4-byte peek in RAM, then its reply acknowledged as the host does (TDI 1 on
                // data bit 4), cut short by nTRST at a random clock.
                const auto low = static_cast<uint32_t>(rng());
                const uint32_t request[5] = {0x05, low & 0xFC, (low >> 8) & 0xFF, 0, 0x80};
                for (int k = 0; k < 5; ++k)  // start, flag, data, stop, the acknowledge's window
                    for (int b = -2; b < (k == 4 ? 9 : 25); ++b)
                        clock(false, b < 0 || (b < 8 && ((request[k] >> b) & 1)), true);
                for (int n = rng() % 70, history = 0, next = -1; n > 0; --n) {
                    clock(false, next == 4, true);  // next: the data bit this clock carries
                    history = ((history << 1) | s.back().tdo) & 3;
                    next = next >= 0 ? (next < 8 ? next + 1 : -1) : (history == 3 ? 0 : -1);
                }
                pulse();
                break;
            }
            case 3:
                pulse();
                break;
            default:
                put({Step::kPark});
                break;
        }
    }
    return s;
}

// The virtual board served over remote_bitbang on loopback, from a thread of its own.
struct ServedBoard {
    explicit ServedBoard(uint64_t dropAfter = 0) : board(sim::Options{}), server(board) {
        server.DropAfter(dropAfter);
        if (server.Listen(0, error)) thread = std::thread([this] { server.Run(stop, error); });
    }
    ~ServedBoard() { Stop(); }
    // After this the board may be looked at from this thread.
    sim::Board& Stop() {
        stop = true;
        if (thread.joinable()) thread.join();
        return board;
    }
    sim::Board board;
    sim::RemoteBitbangServer server;
    std::atomic<bool> stop{false};
    std::string error;
    std::thread thread;
};

// The virtual board behind one kind of cable.
class CableTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        port::CableOptions cable;
        cable.fastClock = GetParam().fast;
        port::SetCableOptions(cable);
        const std::string spec = GetParam().driver != nullptr ? GetParam().driver : "";
        if (spec == "remote") {
            served_ = std::make_unique<ServedBoard>();
            ASSERT_TRUE(served_->thread.joinable()) << served_->error;
            port::SelectPortDriver(
                std::make_unique<port::RemoteBitbangDriver>("127.0.0.1", served_->server.port()));
        } else if (!spec.empty()) {
            std::string error;
            auto driver = port::CreatePortDriver(spec, error);
            ASSERT_NE(driver, nullptr) << error;
            if (spec == "gpiod-sim")
                board_ = &static_cast<port::SimGpioSystem*>(
                              static_cast<port::GpioDriver&>(*driver).system())
                              ->board();
            else
                board_ =
                    static_cast<port::SimUsbBus*>(static_cast<port::FtdiDriver&>(*driver).bus())
                        ->board();
            port::SelectPortDriver(std::move(driver));
        } else {
            auto sim = std::make_unique<port::SimPortDriver>(sim::Options{});
            board_ = &sim->board();
            port::SelectPortDriver(std::move(sim));
        }
        ASSERT_EQ(OpenPortDriver(), 0);
    }
    void TearDown() override {
        EndSession();
        port::SelectPortDriver(nullptr);
        port::SetCableOptions({});
    }
    // After this the board may be looked at from this thread.
    sim::Board& EndSession() {
        if (!served_) return *board_;
        port::SelectPortDriver(nullptr);
        return served_->Stop();
    }

    std::unique_ptr<ServedBoard> served_;
    sim::Board* board_ = nullptr;
};

// Clocks queued in random pieces, flushed at random points, some one Clock at a time: every
// wanted bit is the design's, every other bit of tdo is left as it was.
TEST_P(CableTest, RandomClocksGiveTheDesignsTdo) {
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::vector<Step> script = RandomScript(rng, 6000);
    // Each queued piece's TDO bits from a word of its own in `tdo`; where each step's bit is.
    std::vector<uint32_t> tdo(script.size() / 32 + script.size()), before;
    for (uint32_t& w : tdo) w = static_cast<uint32_t>(rng());
    before = tdo;
    std::vector<uint32_t> at(script.size(), ~0u);
    port::ICable& cable = port::OpenedCable();
    uint32_t word = 0;
    for (size_t i = 0; i < script.size();) {
        size_t n = 0;
        const size_t most = 1 + rng() % 200;
        while (i + n < script.size() && script[i + n].type == Step::kClock && n < most) ++n;
        if (n == 0) {
            if (script[i].type == Step::kTrst) cable.SetTrst(script[i].tms);
            if (script[i].type == Step::kPark) cable.Park();
            ++i;
        } else if (rng() % 8 == 0) {  // the per-clock path
            for (; n > 0; --n, ++i) {
                const int got = cable.Clock(script[i].tms, script[i].tdi);
                ASSERT_TRUE(!script[i].want || got == script[i].tdo) << "step " << i;
            }
        } else {
            std::vector<uint32_t> tms(n / 32 + 1), tdi(n / 32 + 1), want(n / 32 + 1);
            for (uint32_t k = 0; k < n; ++k) {
                port::SetClockBit(tms.data(), k, script[i + k].tms);
                port::SetClockBit(tdi.data(), k, script[i + k].tdi);
                port::SetClockBit(want.data(), k, script[i + k].want);
                at[i + k] = word * 32 + k;
            }
            cable.QueueClocks(static_cast<uint32_t>(n), tms.data(), tdi.data(), want.data(),
                              tdo.data() + word);
            word += static_cast<uint32_t>(n / 32 + 1);
            i += n;
            ASSERT_TRUE(rng() % 4 != 0 || cable.Flush());  // now and then
        }
    }
    ASSERT_TRUE(cable.Flush());
    for (size_t i = 0; i < script.size(); ++i) {
        if (at[i] == ~0u) continue;
        ASSERT_EQ(port::ClockBit(tdo.data(), at[i]),
                  script[i].want ? script[i].tdo : port::ClockBit(before.data(), at[i]))
            << "step " << i << (script[i].want ? "" : ", not wanted: left as it was");
    }
}

// Random data at random places in SDRAM, written and read back by the link through the cable.
TEST_P(CableTest, LinkMovesMemoryThroughIt) {
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    SetLinkSleepFunction(test::NoSleep);
    const uint32_t address = 0xC0000000 + (rng() % 0x10000) * 4 + rng() % 4;
    const auto data = test::Pattern(1 + rng() % 700, static_cast<uint8_t>(rng()));
    const auto length = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> back(length);
    {
        CTargetLink link;
        link.m_nPort = 0x278;
        ASSERT_EQ(link.Open(nullptr), 0u);
        EXPECT_EQ(link.ReadIdCode(), 0x0D4C9041u);
        EXPECT_TRUE(link.WriteMemory(address, length, data.data()));
        EXPECT_TRUE(link.ReadMemory(address, length, back.data()));
        link.Close();
    }
    SetLinkSleepFunction(nullptr);
    EXPECT_EQ(back, data);
    EXPECT_EQ(test::Backdoor(EndSession(), address, length), data);
}

// A server that hangs up in the middle of a batch: the flush fails and says why, the bits
// never read come back as 1, and the cable stays failed without waiting again.
TEST(RemoteBitbangCable, DroppedMidBatchIsNamedWithoutHanging) {
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    ServedBoard served(1000 + seed % 50000);
    ASSERT_TRUE(served.thread.joinable()) << served.error;
    port::RemoteBitbangDriver driver("127.0.0.1", served.server.port());
    auto cable = driver.OpenCable({});
    ASSERT_NE(cable, nullptr);
    port::ResetPortRequestFailures(false);
    // Idle, then Shift-DR for good: IDCODE bits, then the zeros shifted in; after the drop,
    // ones. tdo starts as neither.
    std::vector<uint32_t> tms(1024), tdo(1024, 0x55555555);
    tms[0] = 0x2;
    cable->QueueClocks(32 * 1024, tms.data(), nullptr, nullptr, tdo.data());
    EXPECT_FALSE(cable->Flush());
    uint32_t firstOne = 40, lastZero = 0;
    while (firstOne < 32 * 1024 && !port::ClockBit(tdo.data(), firstOne)) ++firstOne;
    for (uint32_t i = firstOne; i < 32 * 1024; ++i)
        if (!port::ClockBit(tdo.data(), i)) lastZero = i;
    EXPECT_GT(firstOne, 100u);  // read before the drop
    EXPECT_EQ(lastZero, 0u);    // every bit after it is 1
    EXPECT_EQ(cable->Clock(false, false), 1);
    EXPECT_FALSE(cable->Flush());
    EXPECT_GE(port::PortRequestFailures().count, 3u);
    EXPECT_EQ(driver.LastErrorText(), "remote-bitbang: the connection to 127.0.0.1:" +
                                          std::to_string(served.server.port()) +
                                          " was closed (server stopped, or the network went down)");
    port::ResetPortRequestFailures();
    cable = driver.OpenCable({});  // the server takes the next client, though this one just went
    ASSERT_NE(cable, nullptr);
    cable->Clock(true, false);
    EXPECT_TRUE(cable->Flush());
}

// A network whose server is a script: Recv hands out `answers`, then fails with `error`.
class ScriptedNet final : public port::INetOs {
  public:
    const char* refuse = nullptr;  // Connect fails: "unknown host" or another reason
    std::string answers;
    uint32_t error = 0;
    Socket Connect(const std::string&, uint16_t, std::string& reason, bool& unknown) override {
        reason = refuse != nullptr ? refuse : "";
        unknown = reason == "unknown host";
        return refuse != nullptr ? kInvalidSocket : 3;
    }
    long Send(Socket, const char*, size_t length) override { return static_cast<long>(length); }
    long Recv(Socket, char* data, size_t length) override {
        if (answers.empty()) return -1;
        *data = answers[0];
        answers.erase(0, 1);
        return length > 0 ? 1 : 0;
    }
    void Close(Socket) override {}
    uint32_t LastError() override { return error; }
};

TEST(RemoteBitbangCable, EachFailureNamesItsCauseAndFix) {
    const std::string at = "nowhere.invalid:5555";
    const struct {
        const char* refuse;
        const char* answers;
        std::string text;
    } cases[] = {
        {"unknown host", "",
         "remote-bitbang: unknown host 'nowhere.invalid' in " + at +
             ": check the name, or run `tapwright-sim --listen 5555` here "
             "and use 127.0.0.1"},
        {"connection refused", "",
         "remote-bitbang: cannot connect to " + at +
             " (connection refused): start the server with `tapwright-sim --listen 5555`"},
        {nullptr, "1x",
         "remote-bitbang: " + at +
             " answered 'x' to a TDO read (expected '0' or '1'): is it a remote_bitbang server?"},
        {nullptr, "01",
         "remote-bitbang: the connection to " + at + " timed out: no answer within 5 s"},
    };
    port::ResetPortRequestFailures(false);
    for (const auto& c : cases) {
        ScriptedNet net;
        net.refuse = c.refuse;
        net.answers = c.answers;
        net.error = EAGAIN;
        port::RemoteBitbangDriver driver("nowhere.invalid", 5555, net);
        auto cable = driver.OpenCable({});
        ASSERT_EQ(cable == nullptr, c.refuse != nullptr) << c.text;
        for (size_t i = 0; cable && i < 3; ++i)  // answered bits, then 1 once failed
            EXPECT_EQ(cable->Clock(false, true), i < 2 && c.answers[i] == '0' ? 0 : 1) << c.text;
        EXPECT_EQ(driver.LastErrorText(), c.text);
    }
    port::ResetPortRequestFailures();
}

INSTANTIATE_TEST_SUITE_P(Each, CableTest, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
