// The EEPROM page: the I2C EEPROM of the current profile.
#pragma once

#include <cstdint>
#include <string>

#include "ui/Page.h"

class CEepromPage : public Page {
  public:
    enum : int {
        kIdLoadTrap = 1044,
        kIdCycles = 1057,
        kIdCycles2 = 1055,
        kIdCycles3 = 1056,
        kIdDevice = 1043,
        kIdScc = 1045,
        kIdPio = 1046,
        kIdFile = 1038,
        kIdStart = 1040,
        kIdSize = 1041,
        kIdRead = 1007,
        kIdWrite = 1021,
        kIdErase = 1012,
    };

    // The largest serial EEPROM holds 2 MiB; a larger Size is a typing error.
    static constexpr uint32_t kMaxEepromSize = 2u << 20;

    CEepromPage() : Page(kIddEeprom) {}

    // Takes the current profile's EEPROM values into the page.
    void ApplyProfile();
    // The I2C handler runs on the target and has been set up.
    static bool HandlerReady();
    // READ, WRITE, ERASE and the file field while the handler is ready, LOAD TRAP while any
    // trap handler runs.
    void EnableControls() override;
    void DisableControls() override;

    std::string m_strDevice, m_strFile, m_strSize, m_strStart, m_strPio, m_strScc;
    // The EEPROM's size in bytes: the profile's E2P_Size when it was applied. The PERSO
    // profile's Size field goes into E2P_Size at once, but becomes the EEPROM's size only when
    // the profile is applied again: a range typed for one operation does not resize the part.
    uint32_t m_nEepromSize = 0;

  protected:
    bool OnInitDialog() override;
    bool OnCommand(int id, UiEvent event) override;
    void DoDataExchange(CDataExchange& dx) override;

    // The fields and the Cycles radio buttons.
    void ShowFields() override;
    void FetchFields(uint32_t& start, uint32_t& size) override;
    // The start, size, device, PIO and SCC fields, the "Cycles" box and its radio buttons.
    void EnableProfileControls(bool enable);

    // False, with a status text, for a Size beyond kMaxEepromSize.
    bool SizeAccepted(uint32_t size);
    // False, with a status text, for a range past the EEPROM's end, where its addresses wrap.
    bool RangeAccepted(uint32_t start, uint32_t size);
    // False (the link's 110 shown) unless the set-up I2C handler runs.
    bool RequireHandler();
    // A transfer the link refused or that failed: its text is shown, the result field says so.
    void ShowTransferResult(bool ok);

    void OnLoadTrap();
    void OnRead();
    void OnWrite();
    void OnErase();
    void OnCycles2();
    void OnCycles3();
};
