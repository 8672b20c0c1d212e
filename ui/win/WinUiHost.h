// The native Win32 backing of the dialog layer: every template becomes a real dialog (an
// in-memory dialog template with the system's controls, ids kept), prompts are the system's
// message boxes and file dialogs, and the modal loops are Win32 message loops. Narrow strings
// are in the ANSI code page, as the C runtime's file functions take them.
#pragma once

#include <windows.h>
#undef MessageBox  // the host's own, not the system's A/W macro

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Dialog.h"
#include "ui/UiHost.h"

namespace winui {

std::wstring Wide(const std::string& text);
std::string Narrow(const std::wstring& text);

// "desc|pattern|desc|pattern||" as the file dialogs take it: pairs split by NULs, two NULs
// at the end.
std::wstring ToWinFilter(const std::string& filter);

// The in-memory dialog template (DLGTEMPLATEEX) of a template; without its controls when
// `controls` is false.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& t, bool controls = true);

class WinUiHost;

class WinDialogView final : public IDialogView {
  public:
    WinDialogView(WinUiHost& host, CDialog& dialog);
    ~WinDialogView() override;

    void OnCreated() override;
    void OnControlChanged(int id, ControlChange what) override;
    void OnRepaint() override;
    void OnShow(bool visible) override;
    void OnMove(const Rect& pixels) override;
    void OnDestroyed() override;
    bool GetTabItemRect(int id, int index, Rect& out) override;

    HWND Window() const { return m_hwnd; }
    // The window of control id (the first one for a shared id); null when there is none.
    HWND ControlWindow(int id) const;

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void Command(int id, int code, HWND from);
    void Sync(size_t index, ControlChange what);
    void SyncAll(size_t index);
    // Runs one operator action on the model, then brings the control back in line with it.
    void Act(size_t index, bool duringOperation, const std::function<void()>& action);

    WinUiHost& m_host;
    CDialog& m_dialog;
    HWND m_parent = nullptr;
    HWND m_hwnd = nullptr;
    std::vector<HWND> m_controls;  // by template index
    std::vector<char> m_dropped;   // drop-down lists whose list is open
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    int m_syncing = 0;
};

class WinUiHost final : public IUiHost {
  public:
    // Registers the common controls and reads the base units of the main template's font.
    WinUiHost();
    ~WinUiHost() override;

    std::unique_ptr<IDialogView> CreateView(CDialog& dialog) override;
    void PumpMessages() override;
    int RunModal(CDialog& dialog) override;
    BaseUnits GetBaseUnits() const override { return m_baseUnits; }
    int MessageBox(CDialog* owner, const std::string& text, const std::string& caption,
                   unsigned type) override;
    bool FileDialog(CDialog* owner, const FileDialogRequest& request, std::string& path) override;

    // The top-level window that owns a new dialog or prompt: owner's, else the one on top.
    HWND OwnerWindow(CDialog* owner) const;
    void AddTopLevel(HWND hwnd) { m_topLevel.push_back(hwnd); }
    void RemoveTopLevel(HWND hwnd);

  private:
    void Dispatch(MSG& msg);

    BaseUnits m_baseUnits;
    std::vector<HWND> m_topLevel;  // the dialogs' top-level windows, newest last
};

}  // namespace winui
