// What every window command shares: the session around the main window on the in-memory
// host, and the operator who presses its buttons.
#pragma once

#include <functional>
#include <string>

#include "cli/Commands.h"

class CliView;
class CDialog;
class CMainDlg;
class MemoryUiHost;

// Presses and types as an operator would, saying on stderr why a control refused.
class WindowOperator {
  public:
    WindowOperator(CMainDlg& main, MemoryUiHost& host, CliView& view)
        : m_main(main), m_host(host), m_view(view) {}

    MemoryUiHost& Host() { return m_host; }
    const CliView& View() const { return m_view; }

    // A control the command needs must be usable: "<what> is not available (<refusal>)".
    bool Press(CDialog& dlg, int id, const char* what);
    // Presses an operation that asks before using only the first Size bytes of its file: the
    // command line answers No, says why, and returns false.
    bool PressWhole(CDialog& dlg, int id, const char* what);
    // Empty digits leave the field as it is.
    bool Type(CDialog& dlg, int id, const std::string& digits, const char* what);
    std::string Result() const;
    // The result field says "Ok"; an empty one means there was no link session, said here.
    bool ResultOk(const char* step);
    // The bring-up every command starts with, a step at a time: true when CPU ID identified
    // the processor, or when LOAD started the general trap handler. A LOAD that found no link
    // session says so here; every other failure is in what the window showed.
    bool CpuId();
    bool Load();
    // Why the link has no session at `step`.
    static void NoLinkSession(const char* step);
    // A READ that failed still leaves its file, with zeros where the read failed: say so, so
    // that nobody programs it back as a good copy.
    static void IncompleteRead(const std::string& file);

  private:
    CMainDlg& m_main;
    MemoryUiHost& m_host;
    CliView& m_view;
};

// True once Ctrl-C was pressed during the window's work: no further button is pressed.
bool Interrupted();

// Sets up the port driver and the profile from `options`, brings up the main window and, once
// its port is open, hands it to `work`; the exit code: 0 done, 1 failed, 2 a wrong option,
// 3 the log could not be written, 130 Ctrl-C.
int RunInWindow(const CliOptions& options,
                const std::function<int(CMainDlg&, WindowOperator&)>& work);
