// How the link shows status, addresses, progress and messages. Implemented by the main window;
// what the pages ask of the window besides this is ui/MainWindow.h.
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
};
