// The FLASH page: one flash bank of the current profile at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "flash/FlashChip.h"
#include "ui/Page.h"

struct TargetProgram;

class CFlashPage : public Page {
  public:
    enum : int {
        kIdBankList = 1034,
        kIdBusList = 1036,
        kIdLoadTrap = 1044,
        kIdIdent = 1004,
        kIdMaker = 1005,
        kIdDevice = 1043,
        kIdBase = 1039,
        kIdFile = 1038,
        kIdStart = 1040,
        kIdSize = 1041,
        kIdRead = 1007,
        kIdErase = 1012,
        kIdWrite = 1021,
        kIdVerify = 1014,
    };

    CFlashPage() : Page(kIddFlash) {}

    // Makes bank `index` of the current profile the page's bank; an index outside the
    // profile changes nothing.
    void SelectBank(int32_t index);
    // The flash handler downloaded for this bank and bus width runs with its parameters.
    bool HandlerReady() const;
    // READ, ERASE, WRITE, VERIFY and the file, start and size fields while the handler is
    // ready, LOAD TRAP while any trap handler runs.
    void EnableControls() override;
    void DisableControls() override;

    FlashChip m_chip;
    int32_t m_nPageBusWidth = -1;
    int32_t m_nBankIndex = -1;
    std::string m_strBase, m_strDevice, m_strFile, m_strIdent, m_strMaker, m_strStart, m_strSize;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    void FetchFields(uint32_t& start, uint32_t& size) override;

    // The identification steps, on the selected bank's wiring and the page's chip record.
    uint32_t MaskToBus(uint32_t value) const;
    uint32_t MaskWordMode(uint32_t value, uint32_t wordMode) const;
    uint32_t MapDataLines(uint32_t value) const;
    void PrepareIdCommands();
    bool DecodeIdentification();
    void PrepareChipCommands();
    std::string FlashHandlerName(int32_t pageBusWidth) const;

    // The handlers of the buttons and lists.
    void OnLoadTrap();
    void OnRead();
    void OnErase();
    void OnWrite();
    void OnVerify();
    void OnBusCloseUp();
    void OnBankCloseUp();
    void OnBankDropDown();

  private:
    // The selected bank's data-line map; the identity when no bank is selected.
    const uint8_t* DataMap() const;
    // Bank index and bus width from the lists, the texts from their fields.
    void ReadBackControls();
    // LOAD TRAP steps 7 to 9: download general + flash handler, then the parameters; true
    // when both went through.
    bool LoadFlashHandler();
    // The flash handler of the selected bank and bus width, with or without its parameters.
    TargetProgram Handler(bool configured) const;
    // False (the link's 110 shown) unless HandlerReady.
    bool RequireHandler();
    // An existing image file, its name shown in the File field.
    bool AskImageFile(std::string& path);
    // False at the first chunk that differs (its first differing byte shown) or could not be
    // read; `stopped` is where the chunk being compared began.
    bool CompareFlash(uint32_t start, uint32_t length, uint32_t chunkSize,
                      const std::vector<uint8_t>& data, uint32_t& stopped);
    // The `count` bytes from `start` lie on the identified chips; otherwise refused.
    bool InFlash(uint32_t start, uint64_t count);
    // After a WRITE failed: a unit that needs bits set that flash cannot set was not erased.
    void SayWhyNotProgrammed(uint32_t start, const std::vector<uint8_t>& data);
};
