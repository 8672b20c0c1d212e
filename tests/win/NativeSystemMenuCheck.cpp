// Checks the native system-menu items on real Win32 windows. Built by the Windows cross-build
// and run under Wine (no GoogleTest there): prints each failure, exits non-zero on any.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ui/DialogTemplate.h"
#include "ui/MainDlg.h"
#include "ui/NativeSystemMenu.h"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

// What the window procedure saw of the last system command.
struct Seen {
    bool claimed = false;
    unsigned id = 0;
};
Seen g_seen;
std::vector<CDialog::MenuItem> g_items;

LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOMMAND || message == WM_COMMAND) {
        MSG msg{};
        msg.hwnd = hwnd;
        msg.message = message;
        msg.wParam = wParam;
        msg.lParam = lParam;
        g_seen.id = 0;
        g_seen.claimed = NativeSystemCommand(&msg, g_items, g_seen.id);
        return 0;  // never let a test command close or move the window
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

HWND MakeWindow(DWORD style) {
    return CreateWindowExW(0, L"TapwrightCheck", L"check", style, 0, 0, 200, 100, nullptr, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

std::wstring ItemText(HMENU menu, UINT id) {
    wchar_t buf[128] = {};
    GetMenuStringW(menu, id, buf, 128, MF_BYCOMMAND);
    return buf;
}

bool IsSeparatorAt(HMENU menu, int position) {
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE;
    return GetMenuItemInfoW(menu, static_cast<UINT>(position), TRUE, &info) != 0 &&
           (info.fType & MFT_SEPARATOR) != 0;
}

}  // namespace

int main() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"TapwrightCheck";
    if (RegisterClassW(&wc) == 0) {
        std::printf("FAIL cannot register a window class\n");
        return 1;
    }

    // The items the main window puts in its system menu.
    g_items = {{0, ""}, {kIdmAboutBox, LoadResourceString(kIdsAboutBox)}};
    Check(HasNativeSystemMenu(), "Windows has a native system menu");

    HWND main = MakeWindow(WS_OVERLAPPEDWINDOW);
    Check(main != nullptr, "a window with a system menu is created");
    if (main == nullptr) return 1;
    HMENU sys = GetSystemMenu(main, FALSE);
    const int before = GetMenuItemCount(sys);
    Check(AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(main), g_items),
          "the items are appended");
    sys = GetSystemMenu(main, FALSE);
    const int after = GetMenuItemCount(sys);
    Check(after == before + 2, "a separator and one item are added");
    Check(IsSeparatorAt(sys, after - 2), "the separator comes first");
    Check(ItemText(sys, kIdmAboutBox) == L"&A propos de Tapwright...",
          "the item carries string 101 under command 0x0010");
    Check(AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(main), g_items) &&
              GetMenuItemCount(GetSystemMenu(main, FALSE)) == after,
          "a window shown again keeps one copy");

    // The command as the system sends it: low four bits are the system's own.
    SendMessageW(main, WM_SYSCOMMAND, kIdmAboutBox | 0x2, 0);
    Check(g_seen.claimed && g_seen.id == (kIdmAboutBox | 0x2),
          "the item's system command is recognised, sent as it came");
    SendMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
    Check(!g_seen.claimed, "the system's own commands are left to the window");
    SendMessageW(main, WM_COMMAND, kIdmAboutBox, 0);
    Check(!g_seen.claimed, "a control command with the same number is not a system command");
    Check(!NativeSystemCommand(nullptr, g_items, g_seen.id), "no message, no command");

    // Non-ASCII text reaches the menu intact.
    HWND other = MakeWindow(WS_OVERLAPPEDWINDOW);
    Check(AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(other),
                                 {{0x0020, "\xC3\x80 propos \xC3\xA9t\xC3\xA9"}}),
          "an item with accents is appended");
    Check(ItemText(GetSystemMenu(other, FALSE), 0x0020) == L"\u00C0 propos \u00E9t\u00E9",
          "accents survive the conversion");
    DestroyWindow(other);

    HWND bare = MakeWindow(WS_POPUP);
    Check(!AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(bare), g_items),
          "a window without a system menu is refused");
    DestroyWindow(bare);
    Check(!AppendNativeSystemMenu(0, g_items), "no window is refused");
    Check(!AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(other), g_items),
          "a destroyed window is refused");

    DestroyWindow(main);
    std::printf("%s\n", g_failures == 0 ? "all native system-menu checks passed"
                                        : "native system-menu checks FAILED");
    return g_failures == 0 ? 0 : 1;
}
