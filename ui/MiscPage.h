// The MISC. page: single commands to the running trap handler.
#pragma once

#include <string>

#include "ui/Page.h"

class CMiscPage : public CPage {
  public:
    enum : int { kIdMemStart = 1026, kIdData = 1029, kIdProcId = 1028, kIdReboot = 1027 };

    CMiscPage() : CPage(kIddMisc) {}

    // Enables the three buttons while a trap handler runs; otherwise DisableControls.
    void EnableControls() override;
    void DisableControls() override;

    std::string m_strData;

  protected:
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    // Operations of the page: the MISC page's work fills these in.
    void OnMemStart();
    void OnProcId();
    void OnReboot();
};
