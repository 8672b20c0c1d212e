// A fixture that puts the virtual board behind the port-device seam (with a recording
// device in between) and opens a CTargetLink on it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "link/TargetLink.h"
#include "port/SimPortDriver.h"
#include "sim/Board.h"
#include "support/BoardData.h"
#include "support/ObserverRecorder.h"
#include "support/RecordingPort.h"

namespace test {

class SimLinkFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Selects a fresh board with the given knobs (",no-ack,seed=3" ...) and opens the link.
    // Returns false (and fails the test) when the knobs do not parse.
    // `other` opens that link instead of `link` (a fresh link for each run of a comparison).
    bool OpenBoard(const std::string& knobs = "", CTargetLink* other = nullptr);
    // Closes the link and drops the board.
    void CloseBoard();

    sim::Board& board() { return sim_->board(); }
    RecordingPortDriver& wire() { return *recorder_; }
    std::vector<uint8_t> Backdoor(uint32_t address, size_t n) {
        return test::Backdoor(board(), address, n);
    }

    CTargetLink link;
    ObserverRecorder observer;
    // OpenBoard puts the board behind a cable that runs clocks only when flushed.
    bool queued = false;

  private:
    RecordingPortDriver* recorder_ = nullptr;
    CTargetLink* opened_ = nullptr;
    port::SimPortDriver* sim_ = nullptr;
};

// The link's 100 ms sleeps are skipped while a test runs.
void NoSleep(uint32_t ms);

}  // namespace test
