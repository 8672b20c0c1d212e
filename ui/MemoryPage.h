// The MEMORY page: raw transfers between files and the target's address space.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Page.h"

class CMemoryPage : public CPage {
  public:
    enum : int {
        kIdRead = 1007,
        kIdFile = 1038,
        kIdWrite = 1021,
        kIdStart = 1040,
        kIdLoad = 1031,
        kIdSize = 1041,
        kIdGo = 1032,
    };

    CMemoryPage() : CPage(kIddMemory) {}

    // Enables the fields, READ, WRITE and LOAD once a processor is identified (GO keeps its
    // state); otherwise the same as DisableControls.
    void EnableControls() override;
    void DisableControls() override;

    std::string m_strFile, m_strSize, m_strStart;

  protected:
    bool OnInitDialog() override;
    void OnDestroy() override;
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    void ShowFields();
    void FetchFields(uint32_t& start, uint32_t& size);

    // Operations of the page: the MEMORY page's work fills these in.
    void OnRead();
    void OnWrite();
    void OnLoad();
    void OnGo();
};
