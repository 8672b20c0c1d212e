#include "ui/NativeSystemMenu.h"

#ifdef _WIN32
#include <windows.h>

#include <string>
#endif

namespace {
INativeSystemMenu* g_standIn = nullptr;
}

void SetNativeSystemMenu(INativeSystemMenu* standIn) {
    g_standIn = standIn;
}

namespace {

#ifdef _WIN32

constexpr bool kPlatformMenu = true;

std::wstring Wide(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

bool PlatformAppend(std::uintptr_t window, const std::vector<CDialog::MenuItem>& items) {
    HWND hwnd = reinterpret_cast<HWND>(window);
    if (hwnd == nullptr || !IsWindow(hwnd)) return false;
    if ((GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_SYSMENU) == 0) return false;
    HMENU menu = GetSystemMenu(hwnd, FALSE);
    if (menu == nullptr) return false;
    for (const CDialog::MenuItem& item : items)
        if (!item.text.empty() && GetMenuState(menu, item.id, MF_BYCOMMAND) != UINT(-1))
            return true;
    for (const CDialog::MenuItem& item : items) {
        const BOOL ok = item.text.empty()
                            ? AppendMenuW(menu, MF_SEPARATOR, 0, nullptr)
                            : AppendMenuW(menu, MF_STRING, item.id, Wide(item.text).c_str());
        if (!ok) return false;
    }
    return true;
}

bool PlatformCommand(const void* message, const std::vector<CDialog::MenuItem>& items,
                     unsigned& id) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg == nullptr || msg->message != WM_SYSCOMMAND) return false;
    const unsigned command = static_cast<unsigned>(msg->wParam);
    for (const CDialog::MenuItem& item : items) {
        if (!item.text.empty() && item.id == (command & 0xFFF0u)) {
            id = command;
            return true;
        }
    }
    return false;
}

#else

constexpr bool kPlatformMenu = false;

bool PlatformAppend(std::uintptr_t, const std::vector<CDialog::MenuItem>&) {
    return false;
}

bool PlatformCommand(const void*, const std::vector<CDialog::MenuItem>&, unsigned&) {
    return false;
}

#endif

}  // namespace

bool HasNativeSystemMenu() {
    return g_standIn != nullptr || kPlatformMenu;
}

bool AppendNativeSystemMenu(std::uintptr_t window, const std::vector<CDialog::MenuItem>& items) {
    return g_standIn != nullptr ? g_standIn->Append(window, items) : PlatformAppend(window, items);
}

bool NativeSystemCommand(const void* message, const std::vector<CDialog::MenuItem>& items,
                         unsigned& id) {
    return g_standIn != nullptr ? g_standIn->Command(message, items, id)
                                : PlatformCommand(message, items, id);
}
