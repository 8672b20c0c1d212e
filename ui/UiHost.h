// The backing seam of the dialog layer. Page logic talks only to CDialog; a backing (the
// in-memory one for tests and the CLI, a desktop toolkit for the GUI) implements these two
// interfaces and nothing else, so page logic never changes with the backing.
#pragma once

#include <memory>
#include <string>

class CDialog;

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

// Dialog base units in pixels: horizontal is the average character width of the dialog
// font, vertical its height. One dialog unit is a quarter (x) or an eighth (y) of these.
struct BaseUnits {
    int x = 6;
    int y = 13;
};

// What changed in a control, for IDialogView::OnControlChanged.
enum class ControlChange { Text, Enabled, Visible, Checked, Items, Selection, Range, Position };

// Message box types and results (the Win32 values).
enum : unsigned { kMbOk = 0x0, kMbYesNo = 0x4, kMbIconExclamation = 0x30 };
enum : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

struct FileDialogRequest {
    bool open = true;              // open (true) or save (false)
    std::string filter;            // "desc|pattern|desc|pattern||"
    std::string defaultExt;        // without the dot, added when the name has none
    std::string initialName;       // shown in the name field
    bool mustExist = false;        // open: only an existing file is accepted
    bool overwritePrompt = false;  // save: ask before replacing an existing file
    bool hideReadOnly = true;
};

// The renderer of one dialog. Created by the host when the dialog's window is created,
// before OnInitDialog runs; destroyed after OnDestroyed. Each notification comes after the
// model has changed, so the view reads the new state from the dialog. Views must not call
// back into page logic from these notifications.
class IDialogView {
  public:
    virtual ~IDialogView() = default;
    // The controls exist with their template states.
    virtual void OnCreated() = 0;
    // One control's state changed (id is never kNoControlId).
    virtual void OnControlChanged(int id, ControlChange what) = 0;
    // Repaint now (UpdateWindow): the model is consistent at this point.
    virtual void OnRepaint() = 0;
    virtual void OnShow(bool visible) = 0;
    // New position and size in pixels, in the parent's (or the host control's) client area.
    virtual void OnMove(const Rect& pixels) = 0;
    virtual void OnDestroyed() = 0;
    // The rectangle of tab `index` of tab control `id`, in that control's client pixels.
    // False when the backing has no such item; the dialog then computes one.
    virtual bool GetTabItemRect(int id, int index, Rect& out) = 0;
};

// One per program (SetUiHost). All calls come from the one user-interface thread.
class IUiHost {
  public:
    virtual ~IUiHost() = default;
    virtual std::unique_ptr<IDialogView> CreateView(CDialog& dialog) = 0;
    // Delivers pending operator input and repaints; returns when nothing is pending, never
    // waits. Handlers may run from here (re-entrantly inside an operation).
    virtual void PumpMessages() = 0;
    // Runs a modal loop for a created dialog until EndDialog is called on it; returns that
    // result. A host that has nothing to run may return at once (-1 when not ended).
    virtual int RunModal(CDialog& dialog) = 0;
    virtual BaseUnits GetBaseUnits() const = 0;
    // A modal message box: type kMbOk (returns kIdOk) or kMbYesNo | kMbIconExclamation
    // (returns kIdYes or kIdNo). owner may be null.
    virtual int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                           unsigned type) = 0;
    // A modal open or save dialog. True with the chosen full path; false when cancelled.
    virtual bool FileDialog(CDialog* owner, const FileDialogRequest& request,
                            std::string& path) = 0;
};

// The host in use; never null (an in-memory host with an empty script until one is set).
IUiHost& GetUiHost();
// Sets the host (not owned; null restores the default). Set it before creating dialogs.
void SetUiHost(IUiHost* host);
