// Opening and closing the link: what the board cannot see (sleeps, trace file, destructor).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "ScriptedLink.h"
#include "port/PortTalk.h"
#include "support/TestProcess.h"

namespace {

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
