// The window's own system menu, where the platform lets a program extend it (Windows): the
// dialog's system-menu items are appended to it and its commands are picked out of the
// window's native messages. Elsewhere nothing is appended and the caller offers the items
// another way.
#pragma once

#include <cstdint>
#include <vector>

#include "ui/Dialog.h"

// True where a program can extend a window's native system menu.
bool HasNativeSystemMenu();

// Appends items (empty text: a separator) to the system menu of the native window handle.
// A window shown again keeps one copy: when an item's command is already in the menu nothing
// is added. False when the window has no system menu, or on a platform without one.
bool AppendNativeSystemMenu(std::uintptr_t window, const std::vector<CDialog::MenuItem>& items);

// When message (the platform's native message) is a system command for one of items, sets id
// to the command as sent (its low four bits are the system's own) and returns true.
bool NativeSystemCommand(const void* message, const std::vector<CDialog::MenuItem>& items,
                         unsigned& id);

// Stands in for the platform's system menu, so the window's side can be tried on any platform.
class INativeSystemMenu {
  public:
    virtual ~INativeSystemMenu() = default;
    virtual bool Append(std::uintptr_t window, const std::vector<CDialog::MenuItem>& items) = 0;
    virtual bool Command(const void* message, const std::vector<CDialog::MenuItem>& items,
                         unsigned& id) = 0;
};
// Null goes back to the platform's own.
void SetNativeSystemMenu(INativeSystemMenu* standIn);
