// How the link and the pages show status, addresses, progress and messages, and lock and
// unlock the operator's controls. Implemented by the main window.
#pragma once

#include <cstdint>
#include <string>

class ILinkObserver {
  public:
    virtual ~ILinkObserver() = default;
    virtual void ShowStatus(std::string text) = 0;
    virtual void ShowAddress(std::string text) = 0;
    virtual void SetProgress(uint32_t count) = 0;
    virtual void StartProgress(uint32_t total) = 0;  // 0 ends a transfer
    virtual void ShowMessage(std::string text, std::string caption) = 0;
    virtual void ApplyDutProfile() = 0;
    virtual void LockControls() = 0;
    virtual void UnlockControls() = 0;
    virtual void EnableExitButton(bool flag) = 0;
    virtual void EnableCpuIdButton(bool flag) = 0;
    virtual void EnableLoadButton(bool flag) = 0;
    virtual void EnableDutSelector(bool flag) = 0;
    virtual void EnableFlashPage(bool flag) = 0;
    virtual void EnableEepromPage(bool flag) = 0;
};
