// The DCU link inside instruction 16, driven bit by bit from the pins.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "PinHost.h"

using sim::Board;
using simtest::PinHost;

namespace {

std::vector<uint8_t> Bytes(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int b : v) out.push_back(static_cast<uint8_t>(b));
    return out;
}

struct Link : ::testing::Test {
    sim::Options options;
    std::unique_ptr<Board> board;
    std::unique_ptr<PinHost> host;
    void Open(bool fixedHost = true) {
        board = std::make_unique<Board>(options);
        host = std::make_unique<PinHost>(*board, fixedHost);
    }
    void SetUp() override { Open(); }
    // Parks the TAP in Shift-DR of the link register without the host's idle wait.
    void Park() {
        host->TapReset();
        host->ShiftIR(5, 16);
        host->Clock(1, 0), host->Clock(0, 0), host->Clock(0, 0);
    }
    // Sends one byte's 11 clocks and returns the TDO samples of those clocks and `extra` more.
    std::vector<int> SendRaw(uint8_t value, int extra) {
        std::vector<int> tdo;
        tdo.push_back(host->Clock(0, 1));
        tdo.push_back(host->Clock(0, 1));
        for (int i = 0; i < 8; ++i) tdo.push_back(host->Clock(0, (value >> i) & 1));
        tdo.push_back(host->Clock(0, 0));
        for (int i = 0; i < extra; ++i) tdo.push_back(host->Clock(0, 0));
        return tdo;
    }
};

TEST_F(Link, AcknowledgeComesExactlyAfterTheDelay) {
    for (int delay = sim::kAckDelayMin; delay <= 20; ++delay) {
        board->mutable_options().ackDelay = delay;
        Park();
        const std::vector<int> tdo = SendRaw(0x00, 30);
        // Sample k (1-based) shows what the board put out at the falling edge of clock k-1.
        std::vector<int> ones;
        for (size_t i = 0; i < tdo.size(); ++i)
            if (tdo[i]) ones.push_back(static_cast<int>(i) + 1);
        ASSERT_EQ(ones.size(), 1u) << "delay " << delay;
        EXPECT_EQ(ones[0], 12 + delay) << "delay " << delay;
        host->EndSession();
    }
}

TEST_F(Link, EveryAcceptedDelayWorksEndToEnd) {
    const std::vector<uint8_t> data = Bytes({0x11, 0x22, 0x33, 0x44, 0xA5, 0x5A, 0xFF, 0x00});
    for (int delay = sim::kAckDelayMin; delay <= sim::kAckDelayLastAccepted; ++delay) {
        for (bool fixed : {true, false}) {
            options.ackDelay = delay;
            Open(fixed);
            const bool ok = host->WriteMemory(0xC0000100, data);
            std::vector<uint8_t> back;
            if (delay == -2 && !fixed) {
                // 1 on the last data bit, 0 on the stop bit: only the fixed host sees it.
                EXPECT_FALSE(ok);
                EXPECT_EQ(host->error(), simtest::kSendFailed);
                continue;
            }
            ASSERT_TRUE(ok) << "delay " << delay << " fixed " << fixed << " err " << host->error();
            ASSERT_TRUE(host->ReadMemory(0xC0000100, 8, back)) << "delay " << delay;
            EXPECT_EQ(back, data) << "delay " << delay;
        }
    }
}

TEST_F(Link, SlowAcknowledgeIsMissed) {
    for (int delay : {sim::kAckDelayLastAccepted + 1, 40, sim::kAckDelayMax}) {
        options.ackDelay = delay;
        Open();
        EXPECT_FALSE(host->WriteMemory(0xC0000000, Bytes({1, 2, 3, 4}))) << delay;
        EXPECT_EQ(host->error(), simtest::kSendFailed);
    }
}

TEST_F(Link, PromptAcknowledgeCostsElevenClocksPerByte) {
    ASSERT_TRUE(host->BeginSession());
    const uint64_t before = host->clocks();
    ASSERT_TRUE(host->Poke(0xC0000000, std::vector<uint8_t>(256, 0x5A)));
    EXPECT_EQ(host->clocks() - before, 261u * 11);
    std::vector<uint8_t> back;
    const uint64_t mid = host->clocks();
    ASSERT_TRUE(host->Peek(0xC0000000, 256, back));
    // Request, then the reply's 257 packets back to back (one clock to see each start).
    EXPECT_LE(host->clocks() - mid, 5u * 11 + 257u * 11 + 2);
    EXPECT_EQ(back, std::vector<uint8_t>(256, 0x5A));
}

TEST_F(Link, ReplyWaitsForTheHostsAcknowledge) {
    board->WriteWord(0xC0000000, 0x04030201);
    Park();
    ASSERT_TRUE(host->SendRequest(0x05, 0xC0000000));  // peek 4
    // Receive without acknowledging: only the header comes, then the line stays idle.
    std::vector<int> tdo;
    for (int i = 0; i < 40; ++i) tdo.push_back(host->Clock(0, 0));
    int ones = 0;
    for (int v : tdo) ones += v;
    const int headerOnes = 2 + __builtin_popcount(0x06);
    EXPECT_EQ(ones, headerOnes);
    EXPECT_EQ(board->link().pending_reply(), 4);
    // A bare acknowledge (1, 0) releases the next byte.
    host->Clock(0, 1), host->Clock(0, 0);
    uint8_t b;
    ASSERT_TRUE(host->ReceiveByte(b));
    EXPECT_EQ(b, 0x01);
}

TEST_F(Link, PeekAndPokeMessages) {
    ASSERT_TRUE(host->BeginSession());
    // Length field 0 = 256 both ways.
    std::vector<uint8_t> data(256);
    for (int i = 0; i < 256; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
    ASSERT_TRUE(host->Poke(0x80000400, data));
    std::vector<uint8_t> back(256);
    board->ReadBytes(0x80000400, back.data(), back.size());
    EXPECT_EQ(back, data);
    ASSERT_TRUE(host->Peek(0x80000400, 256, back));
    EXPECT_EQ(host->lastHeader(), 0x02);
    EXPECT_EQ(back, data);
    // Little-endian words.
    board->WriteWord(0xC0000040, 0xCAFEBABE);
    ASSERT_TRUE(host->Peek(0xC0000040, 4, back));
    EXPECT_EQ(back, Bytes({0xBE, 0xBA, 0xFE, 0xCA}));
    EXPECT_EQ(host->lastHeader(), 0x06);
    // A peek ignores address bits 0-1.
    ASSERT_TRUE(host->SendRequest(0x05, 0xC0000043));
    uint8_t h, b0;
    ASSERT_TRUE(host->ReceiveByte(h));
    ASSERT_TRUE(host->ReceiveByte(b0));
    EXPECT_EQ(b0, 0xBE);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(host->ReceiveByte(b0));
    host->EndSession();
}

TEST_F(Link, UnalignedPokeWritesFromThatByte) {
    board->WriteWord(0xC0000100, 0x11111111);
    board->WriteWord(0xC0000104, 0x22222222);
    ASSERT_TRUE(host->WriteMemory(0xC0000102, Bytes({0xA1, 0xA2, 0xA3, 0xA4})));
    EXPECT_EQ(board->ReadWord(0xC0000100), 0xA2A11111u);
    EXPECT_EQ(board->ReadWord(0xC0000104), 0x2222A4A3u);
}

TEST_F(Link, UnmappedAccessReadsPatternAndIsCounted) {
    std::vector<uint8_t> back;
    ASSERT_TRUE(host->ReadMemory(0x10000000, 8, back));
    EXPECT_EQ(back, Bytes({0xDE, 0xC0, 0xAD, 0xDE, 0xDE, 0xC0, 0xAD, 0xDE}));
    EXPECT_EQ(board->UnmappedReads(), 8u);
    ASSERT_TRUE(host->WriteMemory(0x10000000, Bytes({1, 2, 3, 4})));
    EXPECT_EQ(board->UnmappedWrites(), 4u);
    EXPECT_EQ(board->ReadWord(0x10000000), sim::Memory::kUnmappedPattern);
    // A block that runs off the end of SDRAM: half mapped.
    board->WriteWord(0xC07FFFFC, 0x01020304);
    ASSERT_TRUE(host->ReadMemory(0xC07FFFFC, 8, back));
    EXPECT_EQ(back, Bytes({4, 3, 2, 1, 0xDE, 0xC0, 0xAD, 0xDE}));
    EXPECT_EQ(board->UnmappedReads(), 12u);
    // Mapped blocks count nothing: DCU, EMI, internal RAM, flash.
    for (uint32_t a : {0x3000u, 0x2000u, 0x80000000u, 0x7FF00000u})
        ASSERT_TRUE(host->ReadMemory(a, 64, back));
    ASSERT_TRUE(host->ReadMemory(0x3000, 144, back));
    EXPECT_EQ(board->UnmappedReads(), 12u);
}

TEST_F(Link, DcuControlAndStatusAndFlash) {
    std::vector<uint32_t> controls;
    board->memory().onControl = [&](uint32_t v) { controls.push_back(v); };
    board->WriteWord(sim::Memory::kDcuControl, 0x60000);  // what the CPU reports
    ASSERT_TRUE(host->WriteMemory(0x3004, Bytes({0xFF, 0xFF, 0xFF, 0xFF})));
    ASSERT_TRUE(host->WriteMemory(0x3004, Bytes({0, 0, 0, 0x20})));
    EXPECT_EQ(controls, (std::vector<uint32_t>{0xFFFFFFFF, 0x20000000}));
    EXPECT_EQ(board->memory().dcuControl, 0x20000000u);
    std::vector<uint8_t> back;
    ASSERT_TRUE(host->ReadMemory(0x3004, 4, back));
    EXPECT_EQ(back, Bytes({0, 0, 6, 0}));
    // EMI registers are plain storage.
    ASSERT_TRUE(host->WriteMemory(0x203C, Bytes({1, 2, 3, 4})));
    EXPECT_EQ(board->ReadWord(0x203C), 0x04030201u);
    // Flash reads erased; a plain bus write does not store.
    ASSERT_TRUE(host->ReadMemory(0x7FFFFFFC, 4, back));
    EXPECT_EQ(back, Bytes({0xFF, 0xFF, 0xFF, 0xFF}));
    ASSERT_TRUE(host->WriteMemory(0x7FF00000, Bytes({0, 0, 0, 0})));
    EXPECT_EQ(board->ReadWord(0x7FF00000), 0xFFFFFFFFu);
    EXPECT_EQ(board->UnmappedWrites(), 0u);
}

TEST_F(Link, MessageSurvivesFramingReset) {
    ASSERT_TRUE(host->BeginSession());
    ASSERT_TRUE(host->SendByte(0x04));  // poke 4
    ASSERT_TRUE(host->SendByte(0x20));
    ASSERT_TRUE(host->SendByte(0x00));
    // TAP reset and back in the middle of the address; a half-sent byte is dropped.
    host->Clock(0, 1), host->Clock(0, 1), host->Clock(0, 1);
    host->LinkResync();
    host->Clock(0, 0);
    for (uint8_t b : Bytes({0x00, 0xC0, 9, 8, 7, 6})) ASSERT_TRUE(host->SendByte(b));
    host->EndSession();
    EXPECT_EQ(board->ReadWord(0xC0000020), 0x06070809u);
}

TEST_F(Link, SessionStartDrainsAnAbandonedReply) {
    ASSERT_TRUE(host->BeginSession());
    ASSERT_TRUE(host->SendRequest(0x11, 0xC0000000));  // peek 16
    uint8_t h;
    ASSERT_TRUE(host->ReceiveByte(h));
    host->EndSession();  // reply abandoned mid-way
    EXPECT_EQ(board->link().pending_reply(), 16);
    ASSERT_TRUE(host->BeginSession());
    EXPECT_EQ(host->drained(), 16);
    EXPECT_EQ(board->link().pending_reply(), 0);
    std::vector<uint8_t> back;
    board->WriteWord(0xC0000000, 0x12345678);
    ASSERT_TRUE(host->Peek(0xC0000000, 4, back));
    EXPECT_EQ(back, Bytes({0x78, 0x56, 0x34, 0x12}));
    host->EndSession();
}

TEST_F(Link, SendingIntoTrafficResyncsAndFailsWhileTheTargetKeepsSending) {
    ASSERT_TRUE(host->BeginSession());
    ASSERT_TRUE(host->SendRequest(0x09, 0xC0000000));  // peek 8
    uint8_t h;
    ASSERT_TRUE(host->ReceiveByte(h));  // the board goes on with byte 0 at once
    EXPECT_FALSE(host->SendByte(0x04));
    EXPECT_EQ(host->error(), simtest::kSendFailed);
    EXPECT_EQ(host->resyncs(), 1);
    host->EndSession();
    // Nothing is lost for good: the next session drains the reply and works.
    ASSERT_TRUE(host->WriteMemory(0xC0000000, Bytes({5, 6, 7, 8})));
    EXPECT_EQ(board->ReadWord(0xC0000000), 0x08070605u);
}

TEST_F(Link, BadStopBitResyncKeepsThePlaceInTheReply) {
    board->WriteWord(0xC0000000, 0x44332211);
    ASSERT_TRUE(host->BeginSession());
    ASSERT_TRUE(host->SendRequest(0x05, 0xC0000000));
    // Receive the header by hand and flip the stop bit the board puts out.
    ASSERT_TRUE(host->WaitData());
    for (int i = 0; i < 8; ++i) {
        if (i == 7) board->mutable_options().noise = 1.0;  // this clock's fall is the stop bit
        host->Clock(0, i == 4);
    }
    board->mutable_options().noise = 0.0;
    ASSERT_EQ(host->Clock(0, 0), 1);  // framing error seen
    host->LinkResync();
    // The resync's trailing 1, 0 re-acknowledges; the reply goes on from data byte 0.
    std::vector<uint8_t> rest;
    for (int i = 0; i < 4; ++i) {
        uint8_t b;
        ASSERT_TRUE(host->ReceiveByte(b));
        rest.push_back(b);
    }
    EXPECT_EQ(rest, Bytes({0x11, 0x22, 0x33, 0x44}));
    EXPECT_EQ(board->link().pending_reply(), 0);
    host->EndSession();
}

TEST_F(Link, NoAckKnob) {
    options.noAck = true;
    Open();
    EXPECT_FALSE(host->WriteMemory(0xC0000000, Bytes({1, 2, 3, 4})));
    EXPECT_EQ(host->error(), simtest::kSendFailed);
    board->mutable_options().noAck = false;
    EXPECT_TRUE(host->WriteMemory(0xC0000000, Bytes({1, 2, 3, 4})));
}

TEST_F(Link, BadHeaderKnob) {
    options.badHeader = true;
    Open();
    std::vector<uint8_t> back;
    EXPECT_FALSE(host->ReadMemory(0xC0000000, 16, back));
    EXPECT_EQ(host->error(), simtest::kBadHeader);
    EXPECT_EQ(host->lastHeader(), 0x13);
}

TEST_F(Link, BadLengthKnob) {
    options.badLength = true;
    Open();
    std::vector<uint8_t> back;
    EXPECT_FALSE(host->ReadMemory(0xC0000000, 16, back));
    EXPECT_EQ(host->error(), simtest::kBadLength);
    EXPECT_EQ(host->lastHeader(), 0x0A);  // 8 announced
    EXPECT_FALSE(host->ReadMemory(0xC0000000, 4, back));
    EXPECT_EQ(host->lastHeader(), 0x0A);
    EXPECT_FALSE(host->ReadMemory(0xC0000000, 256, back));
    EXPECT_EQ(host->lastHeader(), 0x82);
    // The announced bytes are drained by the next session.
    board->mutable_options().badLength = false;
    ASSERT_TRUE(host->ReadMemory(0xC0000000, 4, back));
}

TEST_F(Link, BusyKnobNeverIdles) {
    options.busy = true;
    Open();
    EXPECT_FALSE(host->BeginSession());
    EXPECT_EQ(host->error(), simtest::kNotIdle);
    EXPECT_EQ(host->ReadIdCode(), 0x0D4C9041u);  // the TAP itself is fine
    board->mutable_options().busy = false;
    EXPECT_TRUE(host->BeginSession());
}

TEST_F(Link, NoiseIsSeededAndDeterministic) {
    auto run = [](double noise, uint64_t seed) {
        sim::Options o;
        o.noise = noise;
        o.seed = seed;
        Board b(o);
        PinHost h(b);
        h.TapReset();
        h.ShiftIR(5, 16);
        h.Clock(1, 0), h.Clock(0, 0), h.Clock(0, 0);
        std::vector<int> tdo;
        for (int i = 0; i < 2000; ++i) tdo.push_back(h.Clock(0, 0));
        return tdo;
    };
    const auto quiet = run(0.0, 1);
    EXPECT_EQ(std::count(quiet.begin(), quiet.end(), 1), 0);
    const auto a = run(0.1, 5), b = run(0.1, 5), c = run(0.1, 6);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    const auto flips = std::count(a.begin(), a.end(), 1);
    EXPECT_GT(flips, 120);
    EXPECT_LT(flips, 280);
    const auto all = run(1.0, 3);
    EXPECT_EQ(std::count(all.begin(), all.end(), 1), 2000);
}

TEST_F(Link, SystemResetClearsTheLink) {
    ASSERT_TRUE(host->BeginSession());
    ASSERT_TRUE(host->SendRequest(0x11, 0xC0000000));
    host->EndSession();
    EXPECT_GT(board->link().pending_reply(), 0);
    board->WriteData(0x08);  // nRESET low
    board->WriteData(0x18);
    EXPECT_EQ(board->link().pending_reply(), 0);
}

}  // namespace
