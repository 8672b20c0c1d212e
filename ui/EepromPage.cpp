#include "ui/EepromPage.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "ui/AppState.h"
#include "ui/PageFiles.h"
#include "ui/TrapImage.h"

namespace {

const char kFilter[] = "Binary File (*.bin)|*.bin|Rom File (*.rom)|*.rom||";
const char kError[] = "!!! Error !!!";

// Profile strings are 32-byte fields: longer texts are cut, never overrun.
void CopyField(char (&field)[32], const std::string& text) {
    std::snprintf(field, sizeof field, "%s", text.c_str());
}

}  // namespace

bool CEepromPage::OnInitDialog() {
    CDialog::OnInitDialog();
    if (const DutProfile* p = CurrentProfile()) {
        m_strStart = Hex8(p->m_nE2pStart);
        m_strSize = Hex8(p->m_nE2pSize);
        m_strFile = p->m_szE2pFile;
        m_strDevice = p->m_szE2pName;
    }
    ShowFields();
    return true;
}

void CEepromPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdFile, m_strFile);
    DDX_Text(dx, kIdStart, m_strStart);
    DDX_Text(dx, kIdSize, m_strSize);
    DDX_Text(dx, kIdDevice, m_strDevice);
    DDX_Text(dx, kIdScc, m_strScc);
    DDX_Text(dx, kIdPio, m_strPio);
}

void CEepromPage::ShowFields() {
    UpdateData(false);
    const DutProfile* p = CurrentProfile();
    const bool two = p == nullptr || p->m_nE2pCycles == 0;
    CheckDlgButton(kIdCycles2, two);
    CheckDlgButton(kIdCycles3, !two);
    UpdateWindow();
}

void CEepromPage::FetchFields(uint32_t& start, uint32_t& size) {
    UpdateData(true);
    start = ParseHexField(m_strStart);
    size = ParseHexField(m_strSize);
    const uint32_t scc = ParseHexField(m_strScc);
    const uint32_t pio = ParseHexField(m_strPio);
    DutProfile* p = CurrentProfile();
    if (!IsPersoProfile(p)) return;
    p->m_nE2pCycles = IsDlgButtonChecked(kIdCycles2) ? 0 : 1;
    CopyField(p->m_szE2pName, m_strDevice);
    CopyField(p->m_szE2pFile, m_strFile);
    p->m_nE2pStart = start;
    p->m_nE2pSize = size;
    p->m_nE2pScc = scc;
    p->m_nE2pPio = pio;
}

void CEepromPage::ApplyProfile() {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr) return;
    m_strStart = Hex8(p->m_nE2pStart);
    m_strSize = Hex8(p->m_nE2pSize);
    m_strFile = p->m_szE2pFile;
    m_strDevice = p->m_szE2pName;
    m_strScc = Hex8(p->m_nE2pScc);
    m_strPio = Hex8(p->m_nE2pPio);
    ShowFields();
    DisableControls();
    EnableProfileControls(IsPersoProfile(p));
}

void CEepromPage::EnableProfileControls(bool enable) {
    for (int id : {kIdStart, kIdSize, kIdDevice, kIdPio, kIdScc, kIdCycles, kIdCycles2, kIdCycles3})
        EnableWindow(id, enable);
}

void CEepromPage::EnableControls() {
    if (g_eepromTrapLoaded) {
        for (int id : {kIdFile, kIdRead, kIdWrite, kIdErase}) EnableWindow(id, true);
        EnableProfileControls(IsPersoProfile(CurrentProfile()));
    }
    if (g_trapRunning) EnableWindow(kIdLoadTrap, true);
    UpdateWindow();
}

void CEepromPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdDevice, kIdPio, kIdScc, kIdRead, kIdWrite,
                   kIdErase, kIdCycles, kIdCycles2, kIdCycles3})
        EnableWindow(id, false);
    EnableWindow(kIdLoadTrap, g_trapRunning);
    UpdateWindow();
}

bool CEepromPage::OnCommand(int id, UiEvent event) {
    if (event != UiEvent::Clicked) return CDialog::OnCommand(id, event);
    switch (id) {
        case kIdLoadTrap:
            OnLoadTrap();
            return true;
        case kIdRead:
            OnRead();
            return true;
        case kIdWrite:
            OnWrite();
            return true;
        case kIdErase:
            OnErase();
            return true;
        case kIdCycles2:
            OnCycles2();
            return true;
        case kIdCycles3:
            OnCycles3();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CEepromPage::OnCycles2() {
    if (DutProfile* p = CurrentProfile()) p->m_nE2pCycles = IsDlgButtonChecked(kIdCycles2) ? 0 : 1;
}

void CEepromPage::OnCycles3() {
    if (DutProfile* p = CurrentProfile()) p->m_nE2pCycles = IsDlgButtonChecked(kIdCycles3) ? 1 : 0;
}

void CEepromPage::OnLoadTrap() {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr) return;
    m_pObserver->EnableExitButton(false);
    const std::string general = TrapHandlerPath(g_settings, g_settings.m_szTrapName);
    const std::string i2c =
        TrapHandlerPath(g_settings, p->m_nE2pCycles == 1 ? "I2C_3Cycles.bin" : "I2C_2Cycles.bin");
    g_link.SetProgressMode(0);
    m_pObserver->ShowStatus("Load Trap Handler with EEPROM management");
    m_pObserver->ShowAddress("");
    g_link.SetProgressMode(0);

    // A handler file that cannot be read is a failed load: whatever runs has no EEPROM code.
    std::string imageError;
    if (g_link.BeginSession()) {
        std::vector<uint8_t> image;
        if (!BuildTrapImage({general, i2c}, image, imageError)) {
            g_trapRunning = false;
        } else if (g_link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0)) {
            g_trapRunning = true;
            m_pObserver->ShowAddress("Ok");
            m_pObserver->EnableDutSelector(false);
        } else {
            g_trapRunning = false;
            m_pObserver->ShowAddress(kError);
            m_pObserver->EnableDutSelector(true);
        }
        g_link.EndSession();
    }

    if (g_trapRunning) {
        g_link.SetupEeprom(p->m_nE2pScc, p->m_nE2pPio);
        g_eepromTrapLoaded = true;
        EnableControls();
        ShowFields();
    } else {
        DisableControls();
        m_pObserver->EnableCpuIdButton(true);
        if (!imageError.empty()) m_pObserver->ShowStatus(imageError);
        m_pObserver->ShowAddress(kError);
        g_trapRunning = false;
        g_eepromTrapLoaded = false;
    }
    m_pObserver->EnableFlashPage(false);
    m_pObserver->EnableExitButton(true);
    LogPrintf("Load Trap Handler with EEPROM Management\n");
}

bool CEepromPage::SizeAccepted(uint32_t size) {
    if (size <= kMaxEepromSize) return true;
    m_pObserver->ShowStatus("EEPROM Size " + Hex8(size) + " is larger than the largest EEPROM (" +
                            Hex8(kMaxEepromSize) + " bytes)");
    m_pObserver->ShowAddress(kError);
    return false;
}

void CEepromPage::OnRead() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    m_pObserver->LockControls();
    m_pObserver->ShowStatus("Read EEPROM Data");
    m_pObserver->ShowAddress("");
    std::string path;
    if (SizeAccepted(size) && AskFile(false, kFilter, "bin", m_strFile, path)) {
        ShowFields();
        std::vector<uint8_t> buffer(size, 0);  // what a failed read leaves unfilled stays zero
        g_link.ReadEeprom(start, size, buffer.data());
        if (const FileFault fault = WriteWholeFile(path, buffer.data(), buffer.size());
            fault != FileFault::None)
            ShowFileFault(*m_pObserver, fault, path, kError);
    }
    m_pObserver->UnlockControls();
    LogPrintf("Reading Eeprom -->    From : %08X Length : %08X bytes\n", start, size);
}

void CEepromPage::OnWrite() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    m_pObserver->LockControls();
    m_pObserver->ShowStatus("Write EEPROM Data");
    m_pObserver->ShowAddress("");
    std::string path;
    if (SizeAccepted(size) && AskFile(true, kFilter, "bin", m_strFile, path)) {
        ShowFields();
        std::vector<uint8_t> buffer;
        if (const FileFault fault = ReadFileHead(path, size, buffer); fault != FileFault::None)
            ShowFileFault(*m_pObserver, fault, path, kError);
        else
            g_link.WriteEeprom(start, static_cast<uint32_t>(buffer.size()), buffer.data());
    }
    m_pObserver->UnlockControls();
    LogPrintf("Writing Eeprom -->    From : %08X Length : %08X bytes\n", start, size);
}

void CEepromPage::OnErase() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    m_pObserver->LockControls();
    m_pObserver->ShowStatus("Erase EEPROM Data");
    m_pObserver->ShowAddress("");
    ShowFields();
    if (SizeAccepted(size) &&
        GetUiHost().MessageBox(this, "Confirmation ?", "Effacement de lEEPROM",
                               kMbYesNo | kMbIconExclamation) == kIdYes) {
        const std::vector<uint8_t> blank(size, 0xFF);
        g_link.WriteEeprom(start, size, blank.data());
        LogPrintf("Erasing Eeprom -->    From : %08X Length : %08X bytes\n", start, size);
    }
    m_pObserver->UnlockControls();
}
