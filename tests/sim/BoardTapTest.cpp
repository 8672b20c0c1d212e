// The board's TAP, seen from the pins.
#include <gtest/gtest.h>

#include "PinHost.h"

using sim::Board;
using simtest::PinHost;

namespace {

struct BoardTap : ::testing::Test {
    sim::Options options;
    std::unique_ptr<Board> board;
    std::unique_ptr<PinHost> host;
    void Open() {
        board = std::make_unique<Board>(options);
        host = std::make_unique<PinHost>(*board);
    }
    void SetUp() override { Open(); }
};

TEST_F(BoardTap, WalksTheStateDiagram) {
    host->TapReset();
    EXPECT_EQ(board->tap_state(), Board::kRunTestIdle);
    // Run-Test/Idle -> Select-DR -> Capture-DR -> Shift-DR -> Exit1 -> Pause -> Exit2 ->
    // Shift-DR -> Exit1 -> Update-DR -> Select-DR -> Select-IR -> Capture-IR -> Shift-IR ->
    // Exit1-IR -> Pause-IR -> Exit2-IR -> Update-IR -> Run-Test/Idle.
    const int tms[] = {1, 0, 0, 1, 0, 1, 0, 1, 1, 1, 1, 0, 0, 1, 0, 1, 1, 0};
    const Board::TapState want[] = {
        Board::kSelectDrScan, Board::kCaptureDr,    Board::kShiftDr,      Board::kExit1Dr,
        Board::kPauseDr,      Board::kExit2Dr,      Board::kShiftDr,      Board::kExit1Dr,
        Board::kUpdateDr,     Board::kSelectDrScan, Board::kSelectIrScan, Board::kCaptureIr,
        Board::kShiftIr,      Board::kExit1Ir,      Board::kPauseIr,      Board::kExit2Ir,
        Board::kUpdateIr,     Board::kRunTestIdle};
    for (size_t i = 0; i < std::size(tms); ++i) {
        host->Clock(tms[i], 0);
        EXPECT_EQ(board->tap_state(), want[i]) << "step " << i;
    }
    // Five TMS-high clocks reach Test-Logic-Reset from anywhere, e.g. Shift-IR.
    host->Clock(1, 0), host->Clock(1, 0), host->Clock(0, 0), host->Clock(0, 0);
    ASSERT_EQ(board->tap_state(), Board::kShiftIr);
    for (int i = 0; i < 5; ++i) host->Clock(1, 0);
    EXPECT_EQ(board->tap_state(), Board::kTestLogicReset);
    EXPECT_EQ(board->Clocks(), host->clocks());
}

TEST_F(BoardTap, ReadsIdcodeAndIrCapture) {
    EXPECT_EQ(host->ReadIdCode(), 0x0D4C9041u);
    host->TapReset();
    // Capture value 0b00001 comes out first, LSB first.
    EXPECT_EQ(host->ShiftIR(5, 16), 0b00001u);
    EXPECT_EQ(board->instruction(), Board::kIrDcuLink);
    // Test-Logic-Reset selects IDCODE again without an IR scan.
    host->TapReset();
    EXPECT_EQ(board->instruction(), Board::kIrIdcode);
    EXPECT_EQ(host->ShiftDR32(0), 0x0D4C9041u);
}

TEST_F(BoardTap, IdcodeKnobAndRuntimeChange) {
    options.idcode = 0x3D4C9041;
    Open();
    EXPECT_EQ(host->ReadIdCode(), 0x3D4C9041u);
    board->mutable_options().idcode = 0x12345678;
    EXPECT_EQ(host->ReadIdCode(), 0x12345678u);
}

TEST_F(BoardTap, IdcodeShiftsTdiThrough) {
    host->TapReset();
    host->ShiftIR(5, 2);
    // 64 bits through the 32-bit register: the first 32 out are the IDCODE, the next 32 are
    // the first 32 that went in.
    host->Clock(1, 0), host->Clock(0, 0), host->Clock(0, 0);
    uint64_t out = 0;
    const uint64_t in = 0xA5A5F00Full;
    for (int i = 0; i < 64; ++i)
        out |= static_cast<uint64_t>(host->Clock(i == 63, (in >> i) & 1)) << i;
    EXPECT_EQ(out & 0xFFFFFFFF, 0x0D4C9041u);
    EXPECT_EQ(out >> 32, 0xA5A5F00Fu);
}

TEST_F(BoardTap, BypassIsOneBitDelayForOtherInstructions) {
    for (uint32_t ir : {0u, 1u, 3u, 17u, 31u}) {
        host->TapReset();
        host->ShiftIR(5, ir);
        // Pattern 1011...: out is captured 0 then the input delayed by one clock.
        const uint32_t in = 0xB5;
        EXPECT_EQ(host->ShiftDR32(in, 9), (in << 1) & 0x1FF) << "IR " << ir;
    }
}

TEST_F(BoardTap, TrstLowHoldsReset) {
    host->TapReset();
    host->ShiftIR(5, 16);
    host->SetTrst(false);
    host->Clock(0, 0);
    EXPECT_EQ(board->tap_state(), Board::kTestLogicReset);
    host->Clock(1, 0), host->Clock(0, 0);  // clocks are ignored while held
    EXPECT_EQ(board->tap_state(), Board::kTestLogicReset);
    EXPECT_EQ(board->instruction(), Board::kIrIdcode);
    host->SetTrst(true);
    host->Clock(0, 0);
    EXPECT_EQ(board->tap_state(), Board::kRunTestIdle);
}

TEST_F(BoardTap, TdoChangesOnTheFallingEdge) {
    host->TapReset();
    host->ShiftIR(5, 2);
    host->Clock(1, 0), host->Clock(0, 0);  // Capture-DR
    board->WriteData(0x18);                // TMS 0, TCK low
    board->WriteData(0x1A);                // rising edge: into Shift-DR
    const uint8_t beforeFall = board->ReadStatus();
    board->WriteData(0x18);  // falling edge puts out IDCODE bit 0 (1)
    EXPECT_EQ(board->ReadStatus(), 0x10);
    EXPECT_EQ(beforeFall & ~0x10, 0);  // only bit 4 is ever used
    board->WriteData(0x1A);            // rising edge shifts, TDO holds until the fall
    EXPECT_EQ(board->ReadStatus(), 0x10);
    board->WriteData(0x18);
    EXPECT_EQ(board->ReadStatus(), 0x00);  // bit 1 of 0x...41 is 0
}

TEST_F(BoardTap, NoTargetKnobs) {
    options.tdo = sim::Options::Tdo::StuckHigh;
    Open();
    EXPECT_EQ(host->ReadIdCode(), 0xFFFFFFFFu);
    board->mutable_options().tdo = sim::Options::Tdo::StuckLow;
    EXPECT_EQ(host->ReadIdCode(), 0u);
    board->mutable_options().tdo = sim::Options::Tdo::Live;
    EXPECT_EQ(host->ReadIdCode(), 0x0D4C9041u);
}

TEST_F(BoardTap, CablePulledAfterTheGivenClocks) {
    EXPECT_EQ(host->ReadIdCode(), 0x0D4C9041u);
    const uint64_t used = board->Clocks();
    board->mutable_options().unplugAfter = used + used / 2;
    EXPECT_NE(host->ReadIdCode(), 0x0D4C9041u) << "pulled half-way through the scan";
    const uint64_t atPull = board->Clocks();
    EXPECT_EQ(atPull, used + used / 2);
    EXPECT_EQ(host->ReadIdCode(), 0xFFFFFFFFu);
    EXPECT_EQ(board->Clocks(), atPull) << "the board hears no more clocks";
}

}  // namespace
