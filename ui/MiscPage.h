// The MISC. page: single commands to the running trap handler.
#pragma once

#include <string>

#include "link/TargetLink.h"
#include "ui/Page.h"

class CMiscPage : public Page {
  public:
    enum : int { kIdMemStart = 1026, kIdData = 1029, kIdProcId = 1028, kIdReboot = 1027 };

    CMiscPage() : Page(kIddMisc) {}

    // Enables the three buttons while a trap handler runs; otherwise DisableControls.
    void EnableControls() override;
    void DisableControls() override;

    // What the Data field and the log show when the handler delivered no value.
    static constexpr const char* kNoValue = "no value";

    std::string m_strData;

  protected:
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    void ReadValue(const char* status, const char* name, bool (CTargetLink::*read)(uint32_t&));
    void OnMemStart();
    void OnProcId();
    void OnReboot();
};
