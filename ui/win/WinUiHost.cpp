#include "ui/win/WinUiHost.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>

#include "ui/DialogTemplate.h"

namespace winui {

std::wstring Wide(const std::string& text) {
    const int n =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(std::max(n, 0)), L'\0');
    if (n > 0)
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

std::string Narrow(const std::wstring& text) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                      nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(std::max(n, 0)), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), n,
                            nullptr, nullptr);
    return narrow;
}

std::wstring ToWinFilter(const std::string& filter) {
    std::wstring out = Wide(filter);
    std::replace(out.begin(), out.end(), L'|', L'\0');
    while (out.size() >= 2 && out[out.size() - 1] == L'\0' && out[out.size() - 2] == L'\0')
        out.pop_back();
    if (out.empty()) return {};
    if (out.back() != L'\0') out.push_back(L'\0');
    out.push_back(L'\0');
    return out;
}

// --- The in-memory dialog template ---

namespace {

class TemplateWriter {
  public:
    void Word(WORD w) { m_words.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void Text(const std::wstring& s) {
        for (wchar_t c : s) Word(static_cast<WORD>(c));
        Word(0);
    }
    void Ordinal(WORD value) {
        Word(0xFFFF);
        Word(value);
    }
    // Each control starts on a DWORD boundary.
    void Align() {
        if (m_words.size() % 2 != 0) Word(0);
    }
    std::vector<WORD> Take() { return std::move(m_words); }

  private:
    std::vector<WORD> m_words;
};

DWORD ControlStyleOf(const ControlTemplate& c, DWORD& exStyle) {
    const uint32_t s = c.style;
    DWORD style = WS_CHILD | WS_VISIBLE;
    if (s & ControlStyle::TabStop) style |= WS_TABSTOP;
    if (s & ControlStyle::Group) style |= WS_GROUP;
    if (s & ControlStyle::Disabled) style |= WS_DISABLED;
    if (s & ControlStyle::VScroll) style |= WS_VSCROLL;
    exStyle = 0;
    switch (c.kind) {
        case ControlKind::GroupBox:
            return style | BS_GROUPBOX;
        case ControlKind::PushButton:
            return style | BS_PUSHBUTTON;
        case ControlKind::DefPushButton:
            return style | BS_DEFPUSHBUTTON;
        case ControlKind::Radio:
            return style | BS_RADIOBUTTON;  // the model unchecks the rest of the group
        case ControlKind::Edit:
            // Always scrolling sideways: a status text longer than its field is still whole.
            style |= ES_AUTOHSCROLL;
            if (s & ControlStyle::ReadOnly) style |= ES_READONLY;
            if (s & ControlStyle::Centered) style |= ES_CENTER;
            if (s & ControlStyle::RightAligned) style |= ES_RIGHT;
            if (s & ControlStyle::Border) exStyle |= WS_EX_CLIENTEDGE;
            return style;
        case ControlKind::Static:
            if (s & ControlStyle::Centered) return style | SS_CENTER;
            if (s & ControlStyle::RightAligned) return style | SS_RIGHT;
            return style | SS_LEFT;
        case ControlKind::Icon:
            return style | SS_ICON;
        case ControlKind::DropList:
            return style | CBS_DROPDOWNLIST;
        case ControlKind::Tab:
            // The pages are its children: it must not paint over them, and Tab reaches them.
            exStyle |= WS_EX_CONTROLPARENT;
            return style | WS_CLIPCHILDREN | WS_TABSTOP;
        case ControlKind::Progress:
            return style | ((s & ControlStyle::Border) ? WS_BORDER : 0);
    }
    return style;
}

void ControlClass(TemplateWriter& w, ControlKind kind) {
    switch (kind) {
        case ControlKind::GroupBox:
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::Radio:
            return w.Ordinal(0x0080);
        case ControlKind::Edit:
            return w.Ordinal(0x0081);
        case ControlKind::Static:
        case ControlKind::Icon:
            return w.Ordinal(0x0082);
        case ControlKind::DropList:
            return w.Ordinal(0x0085);
        case ControlKind::Tab:
            return w.Text(WC_TABCONTROLW);
        case ControlKind::Progress:
            return w.Text(PROGRESS_CLASSW);
    }
}

}  // namespace

std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t, bool controls) {
    TemplateWriter w;
    DWORD style = DS_SETFONT;
    DWORD exStyle = 0;
    if (t.child) {
        style |= WS_CHILD | DS_CONTROL;
        exStyle |= WS_EX_CONTROLPARENT;
    } else {
        style |= WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    }
    const size_t count = controls ? t.controls.size() : 0;
    w.Word(1);       // DLGTEMPLATEEX
    w.Word(0xFFFF);  // its signature
    w.Dword(0);      // help id
    w.Dword(exStyle);
    w.Dword(style);
    w.Word(static_cast<WORD>(count));
    w.Word(0);
    w.Word(0);
    w.Word(static_cast<WORD>(t.cx));
    w.Word(static_cast<WORD>(t.cy));
    w.Word(0);  // no menu
    w.Word(0);  // the dialog class
    w.Text(Wide(t.caption));
    w.Word(static_cast<WORD>(t.pointSize > 0 ? t.pointSize : 8));
    w.Word(FW_NORMAL);
    w.Word(MAKEWORD(FALSE, DEFAULT_CHARSET));
    w.Text(Wide(t.font));
    for (size_t i = 0; i < count; ++i) {
        const ControlTemplate& c = t.controls[i];
        DWORD ex = 0;
        const DWORD cs = ControlStyleOf(c, ex);
        w.Align();
        w.Dword(0);
        w.Dword(ex);
        w.Dword(cs);
        w.Word(static_cast<WORD>(c.x));
        w.Word(static_cast<WORD>(c.y));
        w.Word(static_cast<WORD>(c.cx));
        w.Word(static_cast<WORD>(c.cy));
        w.Dword(static_cast<DWORD>(c.id));
        ControlClass(w, c.kind);
        if (c.kind == ControlKind::Icon)
            w.Ordinal(static_cast<WORD>(std::atoi(c.text.c_str())));
        else
            w.Text(Wide(c.text));
        w.Word(0);  // no creation data
    }
    return w.Take();
}

// --- The host ---

namespace {

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

}  // namespace

WinUiHost::WinUiHost() {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);

    // The dialog manager's own base units for the templates' font: those of a bare dialog
    // made with it.
    const DialogTemplate& main = GetDialogTemplate(kIddMain);
    const DialogTemplate bare{0, "", 4, 8, main.font, main.pointSize, false, {}};
    const std::vector<WORD> words = BuildDialogTemplate(bare, false);
    HWND probe = CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                            reinterpret_cast<LPCDLGTEMPLATEW>(words.data()),
                                            nullptr, NoDialogProc, 0);
    RECT units{0, 0, 4, 8};
    if (probe != nullptr && MapDialogRect(probe, &units)) {
        m_baseUnits.x = units.right;
        m_baseUnits.y = units.bottom;
    } else {
        const LONG system = GetDialogBaseUnits();
        m_baseUnits.x = LOWORD(system);
        m_baseUnits.y = HIWORD(system);
    }
    if (probe != nullptr) DestroyWindow(probe);
}

WinUiHost::~WinUiHost() = default;

std::unique_ptr<IDialogView> WinUiHost::CreateView(CDialog& dialog) {
    return std::make_unique<WinDialogView>(*this, dialog);
}

void WinUiHost::RemoveTopLevel(HWND hwnd) {
    m_topLevel.erase(std::remove(m_topLevel.begin(), m_topLevel.end(), hwnd), m_topLevel.end());
}

HWND WinUiHost::OwnerWindow(CDialog* owner) const {
    if (owner != nullptr)
        if (auto* view = dynamic_cast<WinDialogView*>(owner->View()))
            if (view->Window() != nullptr) return GetAncestor(view->Window(), GA_ROOT);
    for (auto it = m_topLevel.rbegin(); it != m_topLevel.rend(); ++it)
        if (IsWindowVisible(*it) && IsWindowEnabled(*it)) return *it;
    return nullptr;
}

void WinUiHost::Dispatch(MSG& msg) {
    // The dialog manager's keys (Tab, Enter, Escape, arrows) for the dialogs' windows.
    HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
    if (root != nullptr &&
        std::find(m_topLevel.begin(), m_topLevel.end(), root) != m_topLevel.end() &&
        IsDialogMessageW(root, &msg))
        return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void WinUiHost::PumpMessages() {
    // Never waits: repaints and delivers whatever input is pending, then returns.
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));  // for the loop that waits on it
            return;
        }
        Dispatch(msg);
    }
}

int WinUiHost::RunModal(CDialog& dialog) {
    auto* view = dynamic_cast<WinDialogView*>(dialog.View());
    HWND hwnd = view != nullptr ? view->Window() : nullptr;
    // Like the system's dialog boxes: the owner takes no input until this one has ended.
    HWND owner = hwnd != nullptr ? GetWindow(hwnd, GW_OWNER) : nullptr;
    const bool disabled = owner != nullptr && IsWindowEnabled(owner);
    if (disabled) EnableWindow(owner, FALSE);
    MSG msg;
    while (hwnd != nullptr && !dialog.IsEnded()) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (got < 0) break;
        Dispatch(msg);
    }
    if (disabled) EnableWindow(owner, TRUE);
    return dialog.IsEnded() ? dialog.EndResult() : -1;
}

int WinUiHost::MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                          unsigned type) {
    const int answer =
        MessageBoxW(OwnerWindow(owner), Wide(text).c_str(), Wide(caption).c_str(), type);
    if ((type & 0xF) != kMbYesNo) return kIdOk;
    return answer == IDYES ? kIdYes : kIdNo;
}

bool WinUiHost::FileDialog(CDialog* owner, const FileDialogRequest& request, std::string& path) {
    const std::wstring filter = ToWinFilter(request.filter);
    const std::wstring ext = Wide(request.defaultExt);
    std::vector<wchar_t> file(4096, L'\0');
    const std::wstring initial = Wide(request.initialName);
    std::copy_n(initial.begin(), std::min(initial.size(), file.size() - 1), file.begin());
    wchar_t folder[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, folder);

    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = OwnerWindow(owner);
    ofn.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = static_cast<DWORD>(file.size());
    ofn.lpstrInitialDir = folder;
    ofn.lpstrDefExt = ext.empty() ? nullptr : ext.c_str();
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST;
    if (request.hideReadOnly) ofn.Flags |= OFN_HIDEREADONLY;
    if (request.open && request.mustExist) ofn.Flags |= OFN_FILEMUSTEXIST;
    if (!request.open && request.overwritePrompt) ofn.Flags |= OFN_OVERWRITEPROMPT;
    if (!(request.open ? GetOpenFileNameW(&ofn) : GetSaveFileNameW(&ofn))) return false;

    const std::wstring chosen = file.data();
    // The chosen folder becomes the current folder, so the next dialog starts there.
    if (ofn.nFileOffset > 0 && ofn.nFileOffset <= chosen.size())
        SetCurrentDirectoryW(chosen.substr(0, ofn.nFileOffset).c_str());
    path = Narrow(chosen);
    return true;
}

}  // namespace winui
