#include "ui/EepromPage.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "config/Settings.h"
#include "flash/TrapImage.h"
#include "link/TargetLink.h"
#include "ui/AppState.h"
#include "ui/PageFiles.h"

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
    m_nEepromSize = p->m_nE2pSize;
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

bool CEepromPage::HandlerReady() {
    return g_link.Program() == TargetProgram::Eeprom(true);
}

void CEepromPage::EnableControls() {
    const bool ready = HandlerReady();
    for (int id : {kIdFile, kIdRead, kIdWrite, kIdErase}) EnableWindow(id, ready);
    if (ready) EnableProfileControls(IsPersoProfile(CurrentProfile()));
    EnableWindow(kIdLoadTrap, g_link.HandlerRunning());
    UpdateWindow();
}

void CEepromPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdDevice, kIdPio, kIdScc, kIdRead, kIdWrite,
                   kIdErase, kIdCycles, kIdCycles2, kIdCycles3})
        EnableWindow(id, false);
    EnableWindow(kIdLoadTrap, g_link.HandlerRunning());
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
    IMainWindow& obs = Observer();
    // Each page then offers what now runs: the FLASH page's operations have lost their handler.
    PageOperation op(obs, "Load Trap Handler with EEPROM management", ProgressMode::kNone,
                     PageOperation::Lock::kExitButton);
    const std::string general = TrapHandlerPath(g_settings, g_settings.m_szTrapName);
    const std::string i2c =
        TrapHandlerPath(g_settings, p->m_nE2pCycles == 1 ? "I2C_3Cycles.bin" : "I2C_2Cycles.bin");

    // Only the handler downloaded here is set up: whatever ran before has no EEPROM code. A
    // handler file that cannot be read is a failed load.
    std::string imageError;
    bool loaded = false;
    if (g_link.BeginSession()) {
        std::vector<uint8_t> image;
        NoteStandInHandlers(obs, general);
        if (BuildTrapImage({general, i2c}, image, imageError)) {
            loaded = g_link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0,
                                            TargetProgram::Eeprom());
            obs.ShowAddress(loaded ? "Ok" : kError);
            obs.EnableDutSelector(!loaded);
        }
        g_link.EndSession();
    } else {
        g_link.ReportError();
    }

    const bool ok = loaded && g_link.SetupEeprom(p->m_nE2pScc, p->m_nE2pPio);
    if (ok) {
        ShowFields();
    } else {
        obs.EnableCpuIdButton(true);
        if (!imageError.empty()) obs.ShowStatus(imageError);
        obs.ShowAddress(kError);
    }
    op.Unlock();
    LogPrintf("Load Trap Handler with EEPROM Management %s\n", LogResult(ok).c_str());
}

bool CEepromPage::RequireHandler() {
    if (g_link.Require(TargetProgram::Eeprom(true))) return true;
    ShowTransferResult(false);
    return false;
}

void CEepromPage::ShowTransferResult(bool ok) {
    if (ok) return;
    g_link.ReportError();
    Observer().ShowAddress(kError);
}

bool CEepromPage::SizeAccepted(uint32_t size) {
    if (size <= kMaxEepromSize) return true;
    return Refuse("EEPROM Size " + Hex8(size) + " is larger than the largest EEPROM (" +
                      Hex8(kMaxEepromSize) + " bytes)",
                  kError);
}

bool CEepromPage::RangeAccepted(uint32_t start, uint32_t size) {
    if (static_cast<uint64_t>(start) + size <= m_nEepromSize) return true;
    // Past its end the EEPROM's addresses wrap to its first bytes.
    return Refuse("Start " + Hex8(start) + " Size " + Hex8(size) +
                      ": past the end of the EEPROM (" + Hex8(m_nEepromSize) +
                      " bytes, the profile's E2P_Size" +
                      (IsPersoProfile(CurrentProfile())
                           ? "; a Size typed here counts once the DUT is chosen again)"
                           : ")"),
                  kError);
}

void CEepromPage::OnRead() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    // The progress mode of the operation before stays.
    PageOperation op(Observer(), "Read EEPROM Data", std::nullopt);
    std::string path;
    uint32_t done = 0;
    bool ok = false;
    if (SizeAccepted(size) && RangeAccepted(start, size) && RequireHandler() &&
        AskFile(false, kFilter, "bin", m_strFile, path)) {
        ShowFields();
        ok = ReadToFile(
            path, size, [&](uint8_t* buffer) { return g_link.ReadEeprom(start, size, buffer); },
            kError, done);
    }
    op.Unlock();
    LogPrintf("Reading Eeprom -->    From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CEepromPage::OnWrite() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    const char* title = "Write EEPROM Data";
    PageOperation op(Observer(), title, std::nullopt);
    std::string path;
    bool ok = false;
    g_link.m_nLastCount = 0;
    if (SizeAccepted(size) && RequireHandler() && AskFile(true, kFilter, "bin", m_strFile, path)) {
        ShowFields();
        std::vector<uint8_t> buffer;
        uint64_t length = 0;
        if (const FileFault fault = ReadFileHead(path, size, buffer, &length);
            fault != FileFault::None) {
            ShowFileFault(Observer(), fault, path, kError);
        } else if (RangeAccepted(start, static_cast<uint32_t>(buffer.size())) &&
                   AcceptFileLength(path, length, size, title, "Write")) {
            ok = g_link.WriteEeprom(start, static_cast<uint32_t>(buffer.size()), buffer.data());
            ShowTransferResult(ok);
        }
    }
    const uint32_t done = g_link.m_nLastCount;
    op.Unlock();
    LogPrintf("Writing Eeprom -->    From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CEepromPage::OnErase() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    PageOperation op(Observer(), "Erase EEPROM Data", std::nullopt);
    ShowFields();
    if (SizeAccepted(size) && RangeAccepted(start, size) && RequireHandler() &&
        GetUiHost().MessageBox(this, "Confirmation ?", "Effacement de lEEPROM",
                               kMbYesNo | kMbIconExclamation) == kIdYes) {
        const std::vector<uint8_t> blank(size, 0xFF);
        g_link.m_nLastCount = 0;
        const bool ok = g_link.WriteEeprom(start, size, blank.data());
        ShowTransferResult(ok);
        const uint32_t done = ok ? size : g_link.m_nLastCount;
        LogPrintf("Erasing Eeprom -->    From : %08X Length : %08X bytes %s\n", start, done,
                  LogResult(ok, start + done).c_str());
    }
}
