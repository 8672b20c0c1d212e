#include "support/SimLinkFixture.h"

#include <memory>

#include "port/PortTalk.h"

namespace test {

void NoSleep(uint32_t) {}

void SimLinkFixture::SetUp() {
    SetLinkSleepFunction(NoSleep);
}

void SimLinkFixture::TearDown() {
    CloseBoard();
    SetLinkSleepFunction(nullptr);
}

bool SimLinkFixture::OpenBoard(const std::string& knobs, CTargetLink* other) {
    CloseBoard();
    sim::Options options;
    std::string error;
    if (!sim::ParseOptions(knobs, options, error)) {
        ADD_FAILURE() << "board knobs \"" << knobs << "\": " << error;
        return false;
    }
    auto sim = std::make_unique<port::SimPortDriver>(options);
    sim_ = sim.get();
    auto recorder = std::make_unique<RecordingPortDriver>(std::move(sim));
    recorder->recording = false;
    recorder->queued = queued;
    recorder_ = recorder.get();
    port::SelectPortDriver(std::move(recorder));
    opened_ = other != nullptr ? other : &link;
    opened_->m_nPort = 0x378;
    const uint32_t result = opened_->Open(&observer);
    EXPECT_EQ(result, 0u);
    return result == 0;
}

void SimLinkFixture::CloseBoard() {
    if (recorder_ == nullptr) return;
    opened_->Close();
    port::SelectPortDriver(nullptr);
    recorder_ = nullptr;
    sim_ = nullptr;
}

}  // namespace test
