// The MEMORY page: raw transfers between files and the target's address space.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Page.h"

// Bootable SDRAM images: a 256-byte header, then the program, all loaded at the header's
// address inside the 8 MiB SDRAM window.
constexpr uint32_t kSdramHeaderSize = 256;
constexpr uint64_t kSdramBase = 0xC0000000;
constexpr uint64_t kSdramEnd = 0xC0800000;
// The header rules in order: tag "main1000" or "TSVR2000", length equal to the file's,
// inside the window, word at offset 20 zero. A file shorter than the header never passes.
bool SdramHeaderAccepted(const uint8_t* header, uint64_t fileLength);

class CMemoryPage : public Page {
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

    CMemoryPage() : Page(kIddMemory) {}

    // Enables the fields, READ, WRITE and LOAD once a processor is identified (GO keeps its
    // state while a trap handler runs to carry it out); otherwise the same as DisableControls.
    void EnableControls() override;
    void DisableControls() override;

    std::string m_strFile, m_strSize, m_strStart;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    void FetchFields(uint32_t& start, uint32_t& size) override;

    void LoadImage(const std::string& path);
    // A transfer that failed: the link's error text and the result field say so.
    void ShowTransferError();

    void OnRead();
    void OnWrite();
    void OnLoad();
    void OnGo();
};
