// Shows what the link reports on a terminal: status and error texts on stderr, progress as
// a bar when stderr is a terminal, plain lines otherwise.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "link/LinkObserver.h"

class CCliObserver final : public ILinkObserver {
  public:
    explicit CCliObserver(std::FILE* out = stderr);

    void ShowStatus(std::string text) override;
    void ShowAddress(std::string text) override;
    void SetProgress(uint32_t count) override;
    void StartProgress(uint32_t total) override;
    void ShowMessage(std::string text, std::string caption) override;
    void ApplyDutProfile() override {}
    void LockControls() override {}
    void UnlockControls() override {}
    void EnableExitButton(bool) override {}
    void EnableCpuIdButton(bool) override {}
    void EnableLoadButton(bool) override {}
    void EnableDutSelector(bool) override {}
    void EnableFlashPage(bool) override {}
    void EnableEepromPage(bool) override {}

    // Texts shown since construction; the link shows only error texts through ShowStatus.
    int statusCount() const { return statusCount_; }
    const std::string& lastStatus() const { return lastStatus_; }

  private:
    void EndBar();

    std::FILE* out_;
    bool tty_;
    bool barOpen_ = false;
    uint32_t total_ = 0;
    int lastPercent_ = -1;
    int statusCount_ = 0;
    std::string lastStatus_;
};
