// What the command line shows of the main window: status and result fields as they change,
// progress as a bar on a terminal (plain lines otherwise), and message boxes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ui/MemoryUiHost.h"

class CliView final : public IUiListener {
  public:
    explicit CliView(std::FILE* out = stderr);

    void OnControlChanged(CDialog& dialog, int id, ControlChange what) override;
    void OnMessageBox(const std::string& text, const std::string& caption, unsigned type,
                      int answer) override;

    // True once the link has shown one of its error texts in the status field.
    bool LinkErrorShown() const { return m_linkError; }

  private:
    void EndBar();
    void Progress(int pos, int max);

    std::FILE* m_out;
    bool m_tty;
    bool m_barOpen = false;
    bool m_linkError = false;
    int m_lastPercent = -1;
    std::string m_lastStatus;  // a message box repeating it is not printed twice
};
