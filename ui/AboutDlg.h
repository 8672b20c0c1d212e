// The About box: the version of the program and the date of its executable.
#pragma once

#include <string>

#include "ui/Dialog.h"

class CAboutDlg : public CDialog {
  public:
    CAboutDlg() : CDialog(kIddAbout) {}

    std::string m_strDate;     // control 1031
    std::string m_strVersion;  // control 1030

    // The file whose modification date is shown (default: the running executable).
    static void SetExecutablePath(const std::string& path);

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
};
