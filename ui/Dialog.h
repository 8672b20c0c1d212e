// The control model: a dialog created from a template, holding the state of every control,
// with operations named after their Win32/MFC equivalents so page code reads like the
// toolkit code it replaces. Rendering and prompts go through the host (UiHost.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/DialogTemplate.h"
#include "ui/UiHost.h"

enum class UiEvent { Clicked, CloseUp, DropDown, SelChange };

struct ControlState {
    const ControlTemplate* tmpl = nullptr;
    int id = kNoControlId;
    ControlKind kind = ControlKind::Static;
    std::string text;
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    bool readOnly = false;
    std::vector<std::string> items;  // list items or tab labels
    int selection = -1;              // list or tab selection, -1 for none
    int rangeMin = 0, rangeMax = 100, pos = 0;
    Rect pixels;  // position in the dialog's client area
};

class CDialog;

// Direction and target of one data exchange (UpdateData).
class CDataExchange {
  public:
    CDataExchange(CDialog* dialog, bool save) : m_pDlgWnd(dialog), m_bSaveAndValidate(save) {}
    CDialog* m_pDlgWnd;
    bool m_bSaveAndValidate;  // true: controls to members
};

// Text exchange between a member string and an edit control.
void DDX_Text(CDataExchange& dx, int id, std::string& value);

class CDialog {
  public:
    explicit CDialog(int templateId);
    virtual ~CDialog();
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    const DialogTemplate& Template() const { return *m_template; }
    int TemplateId() const { return m_template->id; }

    // --- Window lifetime ---
    // Creates the window, runs OnInitDialog, then the host's modal loop; destroys the window
    // and returns the EndDialog result (-1 when the loop ended without one).
    int DoModal();
    // Creates a modeless window (a page) inside control `hostControl` of parent (or at the
    // top level with null); runs OnInitDialog. False when the window already exists.
    bool Create(CDialog* parent, int hostControl = kNoControlId);
    // OnDestroy, then the view goes. Nothing happens when there is no window.
    void DestroyWindow();
    bool IsWindow() const { return m_created; }
    // Ends a modal loop with `result` (also recorded for a dialog without one).
    void EndDialog(int result);
    bool IsEnded() const { return m_ended; }
    int EndResult() const { return m_result; }
    CDialog* GetParent() const { return m_parent; }
    int HostControl() const { return m_hostControl; }
    IDialogView* View() const { return m_view.get(); }

    // --- The window itself ---
    void ShowWindow(bool show);
    bool IsWindowVisible() const { return m_visible; }
    // Position and size in pixels within the parent (or host control) client area.
    void SetWindowPos(const Rect& pixels);
    Rect GetWindowRect() const { return m_rect; }
    void UpdateWindow();
    // Dialog units to pixels with the host's base units.
    Rect MapDialogRect(const Rect& units) const;
    void SetIcon(int iconId) { m_icon = iconId; }
    int GetIcon() const { return m_icon; }
    // Items added to the window's system menu (command id, text); empty text is a separator.
    struct MenuItem {
        unsigned id;
        std::string text;
    };
    void AppendSystemMenu(unsigned id, const std::string& text);
    const std::vector<MenuItem>& SystemMenu() const { return m_sysMenu; }

    // --- Controls ---
    // Null for an unknown id (and for kNoControlId).
    ControlState* GetDlgItem(int id);
    const ControlState* GetDlgItem(int id) const;
    // Every control in template order, labels included.
    const std::vector<ControlState>& Controls() const { return m_controls; }

    void EnableWindow(int id, bool enable);
    bool IsWindowEnabled(int id) const;
    void ShowDlgItem(int id, bool show);
    bool IsDlgItemVisible(int id) const;
    void SetDlgItemText(int id, const std::string& text);
    std::string GetDlgItemText(int id) const;
    void CheckDlgButton(int id, bool checked);
    bool IsDlgButtonChecked(int id) const;
    // Lists (DropList) and tab strips (Tab).
    void ResetContent(int id);
    int AddString(int id, const std::string& text);  // index of the new item, -1 on failure
    int InsertItem(int id, int index, const std::string& text);
    int GetCount(int id) const;
    std::string GetLBText(int id, int index) const;
    // An index outside the items (other than -1 for "none") is refused: false, old selection
    // kept.
    bool SetCurSel(int id, int index);
    int GetCurSel(int id) const;
    bool GetItemRect(int id, int index, Rect& out);  // tab labels, in the tab's client pixels
    Rect GetClientRect(int id) const;                // a control's client area: 0, 0, w, h
    // Progress bars.
    void SetRange(int id, int low, int high);
    void SetPos(int id, int pos);

    // Data exchange between members and controls (DoDataExchange).
    bool UpdateData(bool save);

    // --- Operator side: what a click, a choice or typing does ---
    // Each refuses a control that is unknown, disabled or hidden, or a dialog that is not
    // shown, and returns false with the reason in LastRefusal(); otherwise it changes the
    // control as the operator would and delivers the event(s) to OnCommand.
    bool Press(int id);                          // button click, radio choice
    bool Select(int id, int index);              // list: DropDown, choice, CloseUp;
                                                 // tab: choice, SelChange
    bool Type(int id, const std::string& text);  // edit field (not read-only)
    bool SystemCommand(unsigned id);             // system menu item
    // The close box / Escape: the cancel command. Refused while another handler runs.
    bool RequestClose();
    const std::string& LastRefusal() const { return m_lastRefusal; }

    // Handlers (other than the cancel command) running now, across all dialogs.
    static int RunningHandlers();

  protected:
    virtual void DoDataExchange(CDataExchange& dx);
    virtual bool OnInitDialog();
    // The cancel command; the default ends the dialog with kIdCancel.
    virtual void OnCancel();
    // The window is being destroyed (controls still readable).
    virtual void OnDestroy() {}
    // The message map: true when the event was handled.
    virtual bool OnCommand(int id, UiEvent event);
    virtual void OnSysCommand(unsigned id);

    // Delivers an event as the toolkit would (also used by backings through the operator
    // side). The cancel command reaches OnCancel when OnCommand leaves it.
    void Deliver(int id, UiEvent event);

  private:
    void Notify(int id, ControlChange what);
    bool Refuse(const std::string& why);
    bool Reachable(int id, const char* action);
    bool Shown() const;
    void BuildControls();

    const DialogTemplate* m_template;
    std::vector<ControlState> m_controls;
    std::unique_ptr<IDialogView> m_view;
    CDialog* m_parent = nullptr;
    int m_hostControl = kNoControlId;
    bool m_created = false;
    bool m_visible = false;
    bool m_ended = false;
    int m_result = -1;
    int m_icon = 0;
    Rect m_rect;
    std::vector<MenuItem> m_sysMenu;
    std::string m_lastRefusal;
};
