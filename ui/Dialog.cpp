#include "ui/Dialog.h"

namespace {

int g_runningHandlers = 0;

// Win32 MulDiv rounding for the non-negative values of dialog geometry.
int MulDiv(int value, int mul, int div) {
    const long long v = static_cast<long long>(value) * mul;
    return static_cast<int>(v >= 0 ? (2 * v + div) / (2 * div) : -((-2 * v + div) / (2 * div)));
}

bool IsList(ControlKind kind) {
    return kind == ControlKind::DropList || kind == ControlKind::Tab;
}

}  // namespace

void DDX_Text(CDataExchange& dx, int id, std::string& value) {
    if (dx.m_bSaveAndValidate)
        value = dx.m_pDlgWnd->GetDlgItemText(id);
    else
        dx.m_pDlgWnd->SetDlgItemText(id, value);
}

CDialog::CDialog(int templateId) : m_template(&GetDialogTemplate(templateId)) {
    BuildControls();
}

CDialog::~CDialog() {
    // A derived class has already gone: only the view is released here, without OnDestroy.
    if (m_view) m_view->OnDestroyed();
}

void CDialog::BuildControls() {
    m_controls.clear();
    m_controls.reserve(m_template->controls.size());
    for (const ControlTemplate& t : m_template->controls) {
        ControlState s;
        s.tmpl = &t;
        s.id = t.id;
        s.kind = t.kind;
        s.text = t.kind == ControlKind::DropList || t.kind == ControlKind::Tab ? "" : t.text;
        s.enabled = (t.style & ControlStyle::Disabled) == 0;
        s.readOnly = (t.style & ControlStyle::ReadOnly) != 0;
        s.items = t.items;
        m_controls.push_back(std::move(s));
    }
}

int CDialog::RunningHandlers() {
    return g_runningHandlers;
}

// --- Window lifetime ---

int CDialog::DoModal() {
    if (!Create(nullptr)) return -1;
    ShowWindow(true);
    const int result = GetUiHost().RunModal(*this);
    DestroyWindow();
    return m_ended ? m_result : result;
}

bool CDialog::Create(CDialog* parent, int hostControl) {
    if (m_created) return false;
    m_parent = parent;
    m_hostControl = hostControl;
    m_ended = false;
    m_result = -1;
    BuildControls();
    const BaseUnits bu = GetUiHost().GetBaseUnits();
    for (ControlState& s : m_controls) {
        const ControlTemplate& t = *s.tmpl;
        s.pixels = MapDialogRect({t.x, t.y, t.x + t.cx, t.y + t.cy});
    }
    (void)bu;
    m_rect = MapDialogRect({0, 0, m_template->cx, m_template->cy});
    m_visible = false;
    m_created = true;
    m_view = GetUiHost().CreateView(*this);
    if (m_view) m_view->OnCreated();
    OnInitDialog();
    if (!m_template->child && !m_visible) ShowWindow(true);
    return true;
}

void CDialog::DestroyWindow() {
    if (!m_created) return;
    OnDestroy();
    m_created = false;
    m_visible = false;
    if (m_view) {
        m_view->OnDestroyed();
        m_view.reset();
    }
}

void CDialog::EndDialog(int result) {
    m_ended = true;
    m_result = result;
}

// --- The window itself ---

void CDialog::ShowWindow(bool show) {
    if (!m_created || m_visible == show) return;
    m_visible = show;
    if (m_view) m_view->OnShow(show);
}

void CDialog::SetWindowPos(const Rect& pixels) {
    m_rect = pixels;
    if (m_view) m_view->OnMove(pixels);
}

void CDialog::UpdateWindow() {
    if (m_view) m_view->OnRepaint();
}

Rect CDialog::MapDialogRect(const Rect& units) const {
    const BaseUnits bu = GetUiHost().GetBaseUnits();
    return {MulDiv(units.left, bu.x, 4), MulDiv(units.top, bu.y, 8), MulDiv(units.right, bu.x, 4),
            MulDiv(units.bottom, bu.y, 8)};
}

void CDialog::AppendSystemMenu(unsigned id, const std::string& text) {
    m_sysMenu.push_back({id, text});
}

// --- Controls ---

ControlState* CDialog::GetDlgItem(int id) {
    if (id == kNoControlId) return nullptr;
    for (ControlState& s : m_controls)
        if (s.id == id) return &s;
    return nullptr;
}

const ControlState* CDialog::GetDlgItem(int id) const {
    return const_cast<CDialog*>(this)->GetDlgItem(id);
}

void CDialog::Notify(int id, ControlChange what) {
    if (m_view && m_created) m_view->OnControlChanged(id, what);
}

void CDialog::EnableWindow(int id, bool enable) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->enabled == enable) return;
    s->enabled = enable;
    Notify(id, ControlChange::Enabled);
}

bool CDialog::IsWindowEnabled(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr && s->enabled;
}

void CDialog::ShowDlgItem(int id, bool show) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->visible == show) return;
    s->visible = show;
    Notify(id, ControlChange::Visible);
}

bool CDialog::IsDlgItemVisible(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr && s->visible;
}

void CDialog::SetDlgItemText(int id, const std::string& text) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->text == text) return;
    s->text = text;
    Notify(id, ControlChange::Text);
}

std::string CDialog::GetDlgItemText(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr ? s->text : std::string();
}

void CDialog::CheckDlgButton(int id, bool checked) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->checked == checked) return;
    s->checked = checked;
    Notify(id, ControlChange::Checked);
}

bool CDialog::IsDlgButtonChecked(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr && s->checked;
}

void CDialog::ResetContent(int id) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || !IsList(s->kind)) return;
    s->items.clear();
    s->selection = -1;
    Notify(id, ControlChange::Items);
}

int CDialog::AddString(int id, const std::string& text) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || !IsList(s->kind)) return -1;
    return InsertItem(id, static_cast<int>(s->items.size()), text);
}

int CDialog::InsertItem(int id, int index, const std::string& text) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || !IsList(s->kind) || index < 0) return -1;
    if (index > static_cast<int>(s->items.size())) index = static_cast<int>(s->items.size());
    s->items.insert(s->items.begin() + index, text);
    // A tab strip selects its first item as soon as it has one.
    if (s->kind == ControlKind::Tab && s->selection < 0)
        s->selection = 0;
    else if (s->selection >= index)
        ++s->selection;
    Notify(id, ControlChange::Items);
    return index;
}

int CDialog::GetCount(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr ? static_cast<int>(s->items.size()) : 0;
}

std::string CDialog::GetLBText(int id, int index) const {
    const ControlState* s = GetDlgItem(id);
    if (s == nullptr || index < 0 || index >= static_cast<int>(s->items.size())) return {};
    return s->items[static_cast<size_t>(index)];
}

bool CDialog::SetCurSel(int id, int index) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || !IsList(s->kind)) return false;
    if (index < -1 || index >= static_cast<int>(s->items.size())) return false;
    if (s->selection != index) {
        s->selection = index;
        Notify(id, ControlChange::Selection);
    }
    return true;
}

int CDialog::GetCurSel(int id) const {
    const ControlState* s = GetDlgItem(id);
    return s != nullptr ? s->selection : -1;
}

bool CDialog::GetItemRect(int id, int index, Rect& out) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->kind != ControlKind::Tab || index < 0 ||
        index >= static_cast<int>(s->items.size()))
        return false;
    if (m_view && m_view->GetTabItemRect(id, index, out)) return true;
    // Labels one text line high with a character of padding each side, from the left edge.
    const BaseUnits bu = GetUiHost().GetBaseUnits();
    int left = 2;
    for (int i = 0;; ++i) {
        const int width =
            static_cast<int>(s->items[static_cast<size_t>(i)].size()) * bu.x + 2 * bu.x;
        if (i == index) {
            out = {left, 2, left + width, 2 + bu.y + 6};
            return true;
        }
        left += width;
    }
}

Rect CDialog::GetClientRect(int id) const {
    const ControlState* s = GetDlgItem(id);
    if (s == nullptr) return {};
    return {0, 0, s->pixels.Width(), s->pixels.Height()};
}

void CDialog::SetRange(int id, int low, int high) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || (s->rangeMin == low && s->rangeMax == high)) return;
    s->rangeMin = low;
    s->rangeMax = high;
    Notify(id, ControlChange::Range);
}

void CDialog::SetPos(int id, int pos) {
    ControlState* s = GetDlgItem(id);
    if (s == nullptr || s->pos == pos) return;
    s->pos = pos;
    Notify(id, ControlChange::Position);
}

bool CDialog::UpdateData(bool save) {
    CDataExchange dx(this, save);
    DoDataExchange(dx);
    return true;
}

// --- Operator side ---

bool CDialog::Refuse(const std::string& why) {
    m_lastRefusal = why;
    return false;
}

bool CDialog::Shown() const {
    if (!m_created || !m_visible) return false;
    return m_parent == nullptr || m_parent->Shown();
}

bool CDialog::Reachable(int id, const char* action) {
    const ControlState* s = GetDlgItem(id);
    const std::string what = std::string(action) + " control " + std::to_string(id);
    if (s == nullptr) return Refuse(what + ": no such control");
    if (!Shown()) return Refuse(what + ": the window is not shown");
    if (!s->visible) return Refuse(what + ": the control is hidden");
    if (!s->enabled) return Refuse(what + ": the control is disabled");
    m_lastRefusal.clear();
    return true;
}

bool CDialog::Press(int id) {
    if (!Reachable(id, "press")) return false;
    ControlState* s = GetDlgItem(id);
    if (s->kind == ControlKind::Radio) {
        // Automatic radio buttons: the others of the group are unchecked.
        size_t first = 0, last = m_controls.size();
        const size_t self = static_cast<size_t>(s - m_controls.data());
        for (size_t i = self + 1; i-- > 0;)
            if (m_controls[i].tmpl->style & ControlStyle::Group) {
                first = i;
                break;
            }
        for (size_t i = self + 1; i < m_controls.size(); ++i)
            if (m_controls[i].tmpl->style & ControlStyle::Group) {
                last = i;
                break;
            }
        for (size_t i = first; i < last; ++i)
            if (m_controls[i].kind == ControlKind::Radio && i != self)
                CheckDlgButton(m_controls[i].id, false);
        CheckDlgButton(id, true);
    } else if (s->kind != ControlKind::PushButton && s->kind != ControlKind::DefPushButton) {
        return Refuse("press control " + std::to_string(id) + ": not a button");
    }
    Deliver(id, UiEvent::Clicked);
    return true;
}

bool CDialog::Select(int id, int index) {
    if (!Reachable(id, "select in")) return false;
    ControlState* s = GetDlgItem(id);
    if (!IsList(s->kind)) return Refuse("select in control " + std::to_string(id) + ": not a list");
    if (index < 0 || index >= static_cast<int>(s->items.size()))
        return Refuse("select in control " + std::to_string(id) + ": no item " +
                      std::to_string(index));
    if (s->kind == ControlKind::Tab) {
        SetCurSel(id, index);
        Deliver(id, UiEvent::SelChange);
        return true;
    }
    Deliver(id, UiEvent::DropDown);
    if (GetCurSel(id) != index) {
        SetCurSel(id, index);
        Deliver(id, UiEvent::SelChange);
    }
    Deliver(id, UiEvent::CloseUp);
    return true;
}

bool CDialog::Type(int id, const std::string& text) {
    if (!Reachable(id, "type into")) return false;
    ControlState* s = GetDlgItem(id);
    if (s->kind != ControlKind::Edit || s->readOnly)
        return Refuse("type into control " + std::to_string(id) + ": not an editable field");
    SetDlgItemText(id, text);
    return true;
}

bool CDialog::SystemCommand(unsigned id) {
    if (!Shown()) return Refuse("system command: the window is not shown");
    OnSysCommand(id);
    return true;
}

bool CDialog::RequestClose() {
    if (!m_created) return Refuse("close: no window");
    if (g_runningHandlers > 0) return Refuse("close: an operation is running");
    Deliver(kIdCancel, UiEvent::Clicked);
    return m_ended;
}

void CDialog::Deliver(int id, UiEvent event) {
    const bool cancel = id == kIdCancel && event == UiEvent::Clicked;
    if (!cancel) ++g_runningHandlers;
    struct Leave {
        bool counted;
        ~Leave() {
            if (counted) --g_runningHandlers;
        }
    } leave{!cancel};
    if (!OnCommand(id, event) && cancel) OnCancel();
}

// --- Defaults ---

void CDialog::DoDataExchange(CDataExchange&) {}

bool CDialog::OnInitDialog() {
    UpdateData(false);
    return true;
}

void CDialog::OnCancel() {
    EndDialog(kIdCancel);
}

bool CDialog::OnCommand(int id, UiEvent event) {
    if (id == kIdOk && event == UiEvent::Clicked) {
        UpdateData(true);
        EndDialog(kIdOk);
        return true;
    }
    return false;
}

void CDialog::OnSysCommand(unsigned) {}
