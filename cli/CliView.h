// What the command line shows of the main window: status and result fields as they change,
// progress as a bar on a terminal (plain lines otherwise), and message boxes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "ui/MemoryUiHost.h"

class CCliView final : public IUiListener {
  public:
    explicit CCliView(std::FILE* out = stderr);

    void OnControlChanged(CDialog& dialog, int id, ControlChange what) override;
    void OnMessageBox(const std::string& text, const std::string& caption, unsigned type,
                      int answer) override;

    // True once the link has shown one of its error texts in the status field.
    bool LinkErrorShown() const { return m_bLinkError; }

  private:
    void EndBar();
    void Progress(int pos, int max);

    std::FILE* m_out;
    bool m_bTty;
    bool m_bBarOpen = false;
    bool m_bLinkError = false;
    int m_nLastPercent = -1;
};
