// The JTAG adapter and TAP sequences, bit by bit on the wire.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "ScriptedLink.h"
#include "port/PortTalk.h"
#include "support/TestProcess.h"

namespace {

using test::WireClock;

std::vector<int> Tms(const std::vector<WireClock>& clocks) {
    std::vector<int> out;
    for (const WireClock& c : clocks) out.push_back(c.tms);
    return out;
}

std::vector<int> Tdi(const std::vector<WireClock>& clocks) {
    std::vector<int> out;
    for (const WireClock& c : clocks) out.push_back(c.tdi);
    return out;
}

TEST_F(ScriptedLinkTest, ClockIsOneReadThenThreeWritesWithTckPulse) {
    wire->ScriptTdo({1});
    EXPECT_EQ(link.ClockTap(1, 1), 1);
    ASSERT_EQ(wire->requests.size(), 4u);
    EXPECT_EQ(wire->requests[0].code, port::kIoctlReadPort);
    EXPECT_EQ(wire->requests[0].port, 0x379);
    // TMS | TDI | nTRST | nRESET, then with TCK, then without.
    const uint8_t expected[3] = {0x1D, 0x1F, 0x1D};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(wire->requests[1 + i].code, port::kIoctlWritePort);
        EXPECT_EQ(wire->requests[1 + i].port, 0x378);
        EXPECT_EQ(wire->requests[1 + i].value, expected[i]);
    }
    EXPECT_EQ(link.ClockTap(0, 0), 0);
    EXPECT_EQ(wire->requests[2 + 3 + 1].value, 0x1A);  // TCK high, nothing else but resets
}

TEST_F(ScriptedLinkTest, TdoHistoryKeepsTheLastTwoSamples) {
    wire->ScriptTdo({1, 0, 1, 1});
    link.ClockTap(0, 0);
    EXPECT_EQ(link.m_nTdoHistory, 1u);
    link.ClockTap(0, 0);
    EXPECT_EQ(link.m_nTdoHistory, 2u);
    link.ClockTap(0, 0);
    EXPECT_EQ(link.m_nTdoHistory, 1u);
    link.ClockTap(0, 0);
    EXPECT_EQ(link.m_nTdoHistory, 3u);
}

TEST_F(ScriptedLinkTest, TapResetIsFiveTmsHighThenIdle) {
    link.TapReset();
    const auto clocks = wire->Clocks();
    EXPECT_EQ(Tms(clocks), (std::vector<int>{1, 1, 1, 1, 1, 0}));
    EXPECT_EQ(Tdi(clocks), (std::vector<int>{0, 0, 0, 0, 0, 0}));
}

TEST_F(ScriptedLinkTest, ShiftIrSixteenPutsInstructionLsbFirstWithTmsOnLastBit) {
    wire->ScriptTdo({0, 0, 0, 0, 1, 0, 0, 0, 1});
    const uint32_t captured = link.ShiftIR(5, 16);
    const auto clocks = wire->Clocks();
    ASSERT_EQ(clocks.size(), 10u);
    EXPECT_EQ(Tms(clocks), (std::vector<int>{1, 1, 0, 0, 0, 0, 0, 0, 1, 1}));
    EXPECT_EQ(Tdi(clocks), (std::vector<int>{0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    EXPECT_EQ(captured, 0x11u);  // TDO of the five shift clocks: 1, 0, 0, 0, 1
}

TEST_F(ScriptedLinkTest, ShiftDrPacksBitsLsbFirstAcrossWords) {
    std::vector<int> tdo(33, 0);
    tdo[0] = 1;
    tdo[31] = 1;
    tdo[32] = 1;
    wire->ScriptTdo(tdo);
    const uint32_t input[2] = {0x80000001u, 0x1u};
    uint32_t output[3] = {0xDEADBEEF, 0xDEADBEEF, 0xDEADBEEF};
    EXPECT_EQ(link.ShiftDR(33, input, output, false, true), 33);
    EXPECT_EQ(output[0], 0x80000001u);
    EXPECT_EQ(output[1], 0x1u);         // only bit 0 of the second word
    EXPECT_EQ(output[2], 0xDEADBEEFu);  // nothing beyond
    const auto clocks = wire->Clocks();
    ASSERT_EQ(clocks.size(), 34u);
    EXPECT_EQ(clocks[0].tdi, 1);
    EXPECT_EQ(clocks[31].tdi, 1);
    EXPECT_EQ(clocks[32].tdi, 1);
    EXPECT_EQ(clocks[32].tms, 1);  // Exit1-DR with the last bit
    EXPECT_EQ(clocks[33].tms, 1);  // Update-DR
    for (int i = 0; i < 32; ++i) EXPECT_EQ(clocks[i].tms, 0) << i;
}

TEST_F(ScriptedLinkTest, ShiftDrWithoutInputShiftsZerosAndParksWithoutLeave) {
    wire->idleTdo = 1;
    EXPECT_EQ(link.ShiftDR(40, nullptr, nullptr, true, false), 40);
    const auto clocks = wire->Clocks();
    ASSERT_EQ(clocks.size(), 43u);
    EXPECT_EQ(Tms(clocks).at(0), 1);
    for (size_t i = 0; i < clocks.size(); ++i) EXPECT_EQ(clocks[i].tdi, 0) << i;
    for (size_t i = 1; i < clocks.size(); ++i) EXPECT_EQ(clocks[i].tms, 0) << i;
}

TEST_F(ScriptedLinkTest, ReadIdCodeWithAllOnesTdoClearsPendingError) {
    wire->idleTdo = 1;
    link.m_nError = 108;
    EXPECT_EQ(link.ReadIdCode(), 0xFFFFFFFFu);
    EXPECT_EQ(link.m_nError, 0);
    EXPECT_TRUE(observer.calls.empty());
    // Reset, IR 2 on the wire as 0, 1, 0, 0, 0, then a 32-bit DR scan shifting zeros.
    std::vector<int> tdi(6 + 10 + 36, 0);
    tdi[6 + 4 + 1] = 1;
    EXPECT_EQ(Tdi(wire->Clocks()), tdi);
}

TEST_F(ScriptedLinkTest, CloseHoldsTapInResetAndLeavesNresetReleased) {
    link.m_nError = -1;  // an error was shown: no session at close
    link.Close();
    const auto clocks = wire->Clocks();
    ASSERT_EQ(clocks.size(), 1u);
    EXPECT_EQ(clocks[0].trst, 0);
    EXPECT_EQ(wire->LastDataWrite(), 0x10);
    EXPECT_EQ(link.m_pTrace, nullptr);
}

TEST_F(ScriptedLinkTest, SecondCloseDoesNothing) {
    link.m_nError = 104;
    link.Close();
    wire->Clear();
    observer.Clear();
    link.Close();
    EXPECT_TRUE(wire->requests.empty());
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(ScriptedLinkTest, CloseWithNothingLoadedOnlyHoldsTheTapInReset) {
    wire->idleTdo = 0;  // an idle line: a session would start
    link.Close();
    const auto clocks = wire->Clocks();
    // No handler to leave, no vectors to put back: no session, one clock with nTRST low.
    ASSERT_EQ(clocks.size(), 1u);
    EXPECT_EQ(clocks.back().trst, 0);
    EXPECT_EQ(wire->LastDataWrite(), 0x10);
    EXPECT_TRUE(observer.calls.empty());
}

// Declared at namespace scope so the destructor runs at the end of the test body.
TEST(LinkLifetime, NeverOpenedLinkClosesWithoutPortTraffic) {
    auto driver = std::make_unique<test::RecordingPortDriver>();
    test::RecordingPortDriver* wire = driver.get();
    port::SelectPortDriver(std::move(driver));
    ASSERT_EQ(OpenPortDriver(), 0);
    {
        CTargetLink link;
        link.Close();
    }
    EXPECT_TRUE(wire->requests.empty());
    port::SelectPortDriver(nullptr);
}

TEST(LinkLifetime, DestructorClosesOpenLinkWithoutCallingObserver) {
    SetLinkSleepFunction(test::NoSleep);
    auto driver = std::make_unique<test::RecordingPortDriver>();
    test::RecordingPortDriver* wire = driver.get();
    port::SelectPortDriver(std::move(driver));
    test::ObserverRecorder observer;
    {
        CTargetLink link;
        link.Open(&observer);
        link.m_bVectorsSaved = true;
        wire->idleTdo = 1;  // dead line: the vector restore fails and would show an error
    }
    EXPECT_TRUE(observer.calls.empty());
    EXPECT_EQ(wire->LastDataWrite(), 0x10);
    port::SelectPortDriver(nullptr);
    SetLinkSleepFunction(nullptr);
}

uint32_t g_sleeps[4];
int g_sleepCount;
void CountSleep(uint32_t ms) {
    if (g_sleepCount < 4) g_sleeps[g_sleepCount] = ms;
    ++g_sleepCount;
}

TEST(LinkOpen, PulsesTrstWithTwoSleepsAndCreatesEmptyTrace) {
    const auto trace = test::ScratchDir() / "open-trace.txt";
    g_sleepCount = 0;
    SetLinkSleepFunction(CountSleep);
    auto driver = std::make_unique<test::RecordingPortDriver>();
    test::RecordingPortDriver* wire = driver.get();
    port::SelectPortDriver(std::move(driver));
    CTargetLink link;
    link.SetTraceFile(trace.string());
    link.m_nError = 112;
    link.m_bSession = true;
    link.m_bProgressFlash = true;
    EXPECT_EQ(link.Open(nullptr), 0u);
    EXPECT_EQ(link.m_nError, 0);
    EXPECT_FALSE(link.m_bSession);
    EXPECT_TRUE(link.m_bProgressFlash);  // kept across Open
    EXPECT_EQ(g_sleepCount, 2);
    EXPECT_EQ(g_sleeps[0], 100u);
    EXPECT_EQ(g_sleeps[1], 100u);
    const auto clocks = wire->Clocks();
    ASSERT_EQ(clocks.size(), 2u);
    EXPECT_EQ(clocks[0].trst, 0);
    EXPECT_EQ(clocks[1].trst, 1);
    ASSERT_TRUE(std::filesystem::exists(trace));
    EXPECT_EQ(std::filesystem::file_size(trace), 0u);
    link.m_nError = -1;
    link.Close();
    port::SelectPortDriver(nullptr);
    SetLinkSleepFunction(nullptr);
}

TEST(LinkOpen, UnavailableDriverGives255AndStillCreatesTrace) {
    const auto trace = test::ScratchDir() / "unavailable-trace.txt";
    SetLinkSleepFunction(test::NoSleep);
    std::FILE* sink = std::tmpfile();
    port::SetPortMessageStream(sink);
    auto driver = std::make_unique<test::RecordingPortDriver>();
    driver->available = false;
    port::SelectPortDriver(std::move(driver));
    {
        CTargetLink link;
        link.SetTraceFile(trace.string());
        EXPECT_EQ(link.Open(nullptr), 255u);
        EXPECT_TRUE(std::filesystem::exists(trace));
        link.ReadIdCode();  // every request fails; no crash
        link.Close();
    }
    port::SetPortMessageStream(nullptr);
    std::fclose(sink);
    port::SelectPortDriver(nullptr);
    SetLinkSleepFunction(nullptr);
}

}  // namespace
