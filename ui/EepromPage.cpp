#include "ui/EepromPage.h"

#include "config/Settings.h"
#include "ui/AppState.h"

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

void CEepromPage::OnDestroy() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

// --- Operations: not built yet (stubs) ---

void CEepromPage::FetchFields(uint32_t& start, uint32_t& size) {
    start = 0;
    size = 0;
}
void CEepromPage::OnLoadTrap() {}
void CEepromPage::OnRead() {}
void CEepromPage::OnWrite() {}
void CEepromPage::OnErase() {}
void CEepromPage::OnCycles2() {}
void CEepromPage::OnCycles3() {}
