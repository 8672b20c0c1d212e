#include "ui/win/WinUiHost.h"

#include <commctrl.h>

#include <algorithm>
#include <limits>

#include "ui/NativeSystemMenu.h"

namespace winui {

namespace {

constexpr size_t kNoControl = std::numeric_limits<size_t>::max();

std::wstring WindowText(HWND hwnd) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), int(text.size()))));
    return text;
}

}  // namespace

WinDialogView::WinDialogView(WinUiHost& host, CDialog& dialog) : m_host(host), m_dialog(dialog) {
    CDialog* parent = dialog.GetParent();
    if (!dialog.Template().child) {
        // Every top-level dialog of this program is modal: it belongs to the one on top.
        m_parent = m_host.OwnerWindow(parent);
    } else if (auto* view =
                   parent != nullptr ? dynamic_cast<WinDialogView*>(parent->View()) : nullptr) {
        m_parent = view->ControlWindow(dialog.HostControl());
        if (m_parent == nullptr) m_parent = view->Window();
    }
}

WinDialogView::~WinDialogView() {
    OnDestroyed();
}

void WinDialogView::OnCreated() {
    const DialogTemplate& t = m_dialog.Template();
    const std::vector<WORD> words = BuildDialogTemplate(t);
    ++m_syncing;
    CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                               reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), m_parent,
                               DialogProc, reinterpret_cast<LPARAM>(this));
    // The dialog manager makes the controls in template order, each last in the Z order.
    const auto& controls = m_dialog.Controls();
    m_controls.assign(controls.size(), nullptr);
    m_dropped.assign(controls.size(), 0);
    HWND child = m_hwnd != nullptr ? GetWindow(m_hwnd, GW_CHILD) : nullptr;
    for (size_t i = 0; i < controls.size() && child != nullptr; ++i) {
        m_controls[i] = child;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    --m_syncing;
    if (m_hwnd == nullptr) return;
    if (!t.child) m_host.AddTopLevel(m_hwnd);
    for (size_t i = 0; i < m_controls.size(); ++i) SyncAll(i);
}

HWND WinDialogView::ControlWindow(int id) const {
    if (id == kNoControlId) return nullptr;
    const auto& controls = m_dialog.Controls();
    for (size_t i = 0; i < controls.size() && i < m_controls.size(); ++i)
        if (controls[i].id == id) return m_controls[i];
    return nullptr;
}

INT_PTR CALLBACK WinDialogView::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* view = reinterpret_cast<WinDialogView*>(lParam);
        view->m_hwnd = hwnd;
        return view->m_dialog.Template().child ? FALSE : TRUE;  // a page takes no focus
    }
    auto* view = reinterpret_cast<WinDialogView*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (view == nullptr) return FALSE;
    if (message == WM_DESTROY) {
        SetWindowLongPtrW(hwnd, DWLP_USER, 0);
        view->m_host.RemoveTopLevel(hwnd);
        view->m_hwnd = nullptr;
        return FALSE;
    }
    return view->Handle(message, wParam, lParam);
}

INT_PTR WinDialogView::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_NOTIFY: {
            const auto* header = reinterpret_cast<const NMHDR*>(lParam);
            const int id = static_cast<int>(header->idFrom);
            const ControlState* s = m_dialog.GetDlgItem(id);
            if (header->code != TCN_SELCHANGE || s == nullptr || s->kind != ControlKind::Tab)
                return FALSE;
            const int index = TabCtrl_GetCurSel(header->hwndFrom);
            const size_t i = static_cast<size_t>(s - m_dialog.Controls().data());
            SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, 0);
            // Switching pages is harmless during an operation.
            if (index >= 0) Act(i, true, [this, id, index] { m_dialog.Select(id, index); });
            return TRUE;
        }
        case WM_CLOSE:  // the close box: the cancel command, which the model may refuse
            Act(kNoControl, true, [this] { m_dialog.RequestClose(); });
            return TRUE;
        case WM_SYSCOMMAND: {
            const MSG msg{m_hwnd, message, wParam, lParam, 0, {}};
            unsigned id = 0;
            if (!NativeSystemCommand(&msg, m_dialog.SystemMenu(), id)) return FALSE;
            Act(kNoControl, false, [this, id] { m_dialog.SystemCommand(id); });
            return TRUE;
        }
        default:
            return FALSE;
    }
}

void WinDialogView::Command(int id, int code, HWND from) {
    if (id == IDCANCEL && (from == nullptr || code == BN_CLICKED)) {
        // "Fin", Escape and the close box are one cancel command.
        Act(kNoControl, true, [this] { m_dialog.RequestClose(); });
        return;
    }
    const ControlState* s = m_dialog.GetDlgItem(id);
    // Enter sends IDOK: without such a control (the main window) it does nothing.
    if (s == nullptr) return;
    const size_t i = static_cast<size_t>(s - m_dialog.Controls().data());
    HWND control = i < m_controls.size() ? m_controls[i] : nullptr;
    switch (s->kind) {
        case ControlKind::PushButton:
        case ControlKind::DefPushButton:
        case ControlKind::Radio:
            if (code == BN_CLICKED) Act(i, false, [this, id] { m_dialog.Press(id); });
            break;
        case ControlKind::Edit:
            if (code == EN_CHANGE && m_syncing == 0 && control != nullptr) {
                const std::string text = Narrow(WindowText(control));
                Act(i, true, [this, id, text] { m_dialog.Type(id, text); });
            }
            break;
        case ControlKind::DropList: {
            if (m_syncing > 0 || control == nullptr) break;
            const int index = static_cast<int>(SendMessageW(control, CB_GETCURSEL, 0, 0));
            if (code == CBN_DROPDOWN) {
                m_dropped[i] = 1;
            } else if (code == CBN_CLOSEUP) {
                // One choice per opening, reported once the list has closed.
                m_dropped[i] = 0;
                if (index < 0) return SyncAll(i);
                Act(i, false, [this, id, index] { m_dialog.Select(id, index); });
            } else if (code == CBN_SELCHANGE && !m_dropped[i] && index >= 0 &&
                       index != m_dialog.GetCurSel(id)) {
                // Arrow keys on the closed list: a choice without an opening.
                Act(i, false, [this, id, index] { m_dialog.Select(id, index); });
            }
            break;
        }
        default:
            break;
    }
}

void WinDialogView::Act(size_t index, bool duringOperation, const std::function<void()>& action) {
    // Input pumped during an operation must not start another one on the same link.
    if (!duringOperation && CDialog::RunningHandlers() > 0) {
        MessageBeep(MB_OK);
        SyncAll(index);
        return;
    }
    const std::weak_ptr<bool> alive = m_alive;
    action();
    if (alive.expired()) return;
    if (!m_dialog.LastRefusal().empty()) MessageBeep(MB_OK);
    SyncAll(index);
    // Wakes the modal loop, also when this came as a message sent from elsewhere.
    if (m_dialog.IsEnded() && m_hwnd != nullptr) PostMessageW(m_hwnd, WM_NULL, 0, 0);
}

void WinDialogView::SyncAll(size_t i) {
    for (ControlChange what : {ControlChange::Text, ControlChange::Enabled, ControlChange::Visible,
                               ControlChange::Checked, ControlChange::Items,
                               ControlChange::Selection, ControlChange::Range})
        Sync(i, what);
}

void WinDialogView::Sync(size_t i, ControlChange what) {
    if (i >= m_controls.size() || m_controls[i] == nullptr) return;
    HWND w = m_controls[i];
    const ControlState& s = m_dialog.Controls()[i];
    // Programmatic changes must not come back as operator input.
    ++m_syncing;
    switch (what) {
        case ControlChange::Text:
            if (s.kind == ControlKind::DropList || s.kind == ControlKind::Tab ||
                s.kind == ControlKind::Icon || s.kind == ControlKind::Progress)
                break;
            if (const std::wstring text = Wide(s.text); WindowText(w) != text)
                SetWindowTextW(w, text.c_str());
            break;
        case ControlChange::Enabled:
            if (!IsWindowEnabled(w) != !s.enabled) EnableWindow(w, s.enabled ? TRUE : FALSE);
            break;
        case ControlChange::Visible:
            if (!IsWindowVisible(w) != !s.visible) ShowWindow(w, s.visible ? SW_SHOWNA : SW_HIDE);
            break;
        case ControlChange::Checked:
            if (s.kind == ControlKind::Radio)
                SendMessageW(w, BM_SETCHECK, s.checked ? BST_CHECKED : BST_UNCHECKED, 0);
            break;
        case ControlChange::Items:
            if (s.kind == ControlKind::DropList) {
                SendMessageW(w, CB_RESETCONTENT, 0, 0);
                for (const std::string& item : s.items)
                    SendMessageW(w, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Wide(item).c_str()));
                SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(s.selection), 0);
            } else if (s.kind == ControlKind::Tab) {
                TabCtrl_DeleteAllItems(w);
                for (size_t n = 0; n < s.items.size(); ++n) {
                    std::wstring label = Wide(s.items[n]);
                    TCITEMW item{};
                    item.mask = TCIF_TEXT;
                    item.pszText = label.data();
                    SendMessageW(w, TCM_INSERTITEMW, n, reinterpret_cast<LPARAM>(&item));
                }
                if (s.selection >= 0) TabCtrl_SetCurSel(w, s.selection);
            }
            break;
        case ControlChange::Selection:
            if (s.kind == ControlKind::DropList) {
                if (SendMessageW(w, CB_GETCURSEL, 0, 0) != s.selection)
                    SendMessageW(w, CB_SETCURSEL, static_cast<WPARAM>(s.selection), 0);
            } else if (s.kind == ControlKind::Tab && s.selection >= 0) {
                if (TabCtrl_GetCurSel(w) != s.selection) TabCtrl_SetCurSel(w, s.selection);
            }
            break;
        case ControlChange::Range:
        case ControlChange::Position:
            if (s.kind == ControlKind::Progress) {
                // An empty range shows an empty bar.
                const bool empty = s.rangeMax <= s.rangeMin;
                SendMessageW(w, PBM_SETRANGE32, empty ? 0 : s.rangeMin, empty ? 1 : s.rangeMax);
                SendMessageW(w, PBM_SETPOS, empty ? 0 : std::clamp(s.pos, s.rangeMin, s.rangeMax),
                             0);
            }
            break;
    }
    --m_syncing;
}

void WinDialogView::OnControlChanged(int id, ControlChange what) {
    const auto& controls = m_dialog.Controls();
    for (size_t i = 0; i < controls.size(); ++i)
        if (controls[i].id == id) Sync(i, what);
}

void WinDialogView::OnRepaint() {
    if (m_hwnd != nullptr && IsWindowVisible(m_hwnd))
        RedrawWindow(m_hwnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void WinDialogView::OnShow(bool visible) {
    if (m_hwnd == nullptr) return;
    if (visible && !m_dialog.Template().child) {
        if (const int icon = m_dialog.GetIcon(); icon != 0) {
            HINSTANCE module = GetModuleHandleW(nullptr);
            for (const auto& [which, metric] :
                 {std::pair{ICON_BIG, SM_CXICON}, std::pair{ICON_SMALL, SM_CXSMICON}}) {
                const int side = GetSystemMetrics(metric);
                HANDLE image =
                    LoadImageW(module, MAKEINTRESOURCEW(icon), IMAGE_ICON, side, side, LR_SHARED);
                if (image != nullptr)
                    SendMessageW(m_hwnd, WM_SETICON, which, reinterpret_cast<LPARAM>(image));
            }
        }
        if (HasNativeSystemMenu() && !m_dialog.SystemMenu().empty())
            AppendNativeSystemMenu(reinterpret_cast<std::uintptr_t>(m_hwnd), m_dialog.SystemMenu());
        ShowWindow(m_hwnd, SW_SHOW);
        SetForegroundWindow(m_hwnd);
        return;
    }
    ShowWindow(m_hwnd, visible ? SW_SHOW : SW_HIDE);
}

void WinDialogView::OnMove(const Rect& pixels) {
    if (m_hwnd == nullptr) return;
    if (m_dialog.Template().child) {
        SetWindowPos(m_hwnd, HWND_TOP, pixels.left, pixels.top, pixels.Width(), pixels.Height(),
                     SWP_NOACTIVATE);
        return;
    }
    // A top-level window: the size is that of its client area.
    RECT frame{0, 0, pixels.Width(), pixels.Height()};
    AdjustWindowRectEx(&frame, static_cast<DWORD>(GetWindowLongPtrW(m_hwnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(m_hwnd, GWL_EXSTYLE)));
    SetWindowPos(m_hwnd, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void WinDialogView::OnDestroyed() {
    HWND hwnd = m_hwnd;
    m_hwnd = nullptr;
    m_alive = std::make_shared<bool>(true);  // an action running now sees the view gone
    m_controls.clear();
    if (hwnd == nullptr) return;
    SetWindowLongPtrW(hwnd, DWLP_USER, 0);
    m_host.RemoveTopLevel(hwnd);
    DestroyWindow(hwnd);
}

bool WinDialogView::GetTabItemRect(int id, int index, Rect& out) {
    HWND tab = ControlWindow(id);
    RECT r{};
    if (tab == nullptr || !TabCtrl_GetItemRect(tab, index, &r)) return false;
    out = {r.left, r.top, r.right, r.bottom};
    return true;
}

}  // namespace winui
