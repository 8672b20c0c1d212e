#include "ui/FlashPage.h"

#include "config/Settings.h"
#include "ui/AppState.h"

bool CFlashPage::OnInitDialog() {
    CDialog::OnInitDialog();
    const DutProfile* p = CurrentProfile();
    if (p == nullptr || p->m_banks.empty()) return true;
    m_nBankIndex = g_settings.m_nFlashNum < p->m_banks.size()
                       ? static_cast<int32_t>(g_settings.m_nFlashNum)
                       : 0;
    SetCurSel(kIdBankList, m_nBankIndex);
    const FlashBank& bank = p->m_banks[static_cast<size_t>(m_nBankIndex)];
    m_strStart = Hex8(bank.m_nStart);
    m_strSize = Hex8(bank.m_nSize);
    m_strFile = bank.m_szFile;
    ShowFields();
    return true;
}

void CFlashPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdIdent, m_strIdent);
    DDX_Text(dx, kIdMaker, m_strMaker);
    DDX_Text(dx, kIdDevice, m_strDevice);
    DDX_Text(dx, kIdBase, m_strBase);
    DDX_Text(dx, kIdFile, m_strFile);
    DDX_Text(dx, kIdStart, m_strStart);
    DDX_Text(dx, kIdSize, m_strSize);
}

void CFlashPage::ShowFields() {
    UpdateData(false);
    UpdateWindow();
}

void CFlashPage::SelectBank(int32_t index) {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr || index < 0 || static_cast<size_t>(index) >= p->m_banks.size()) return;
    const FlashBank& bank = p->m_banks[static_cast<size_t>(index)];
    m_nBankIndex = index;
    ResetContent(kIdBankList);
    for (const FlashBank& b : p->m_banks) AddString(kIdBankList, b.m_szName);
    SetCurSel(kIdBankList, index);
    m_chip.m_nBase = bank.m_nBase;
    m_strBase = Hex8(bank.m_nBase);
    m_chip.m_nBusWidth = bank.m_nOrg;
    const int item = bank.m_nOrg == 8 ? 0 : bank.m_nOrg == 32 ? 2 : 1;
    SetCurSel(kIdBusList, item);
    m_nPageBusWidth = item == 0 ? 8 : item == 2 ? 32 : 16;
    m_strStart = Hex8(bank.m_nStart);
    m_strSize = Hex8(bank.m_nSize);
    m_strFile = bank.m_szFile;
    ShowFields();
    DisableControls();
    EnableWindow(kIdBankList, p->m_banks.size() != 1);
    const bool perso = IsPersoProfile(p);
    EnableWindow(kIdBusList, perso);
    EnableWindow(kIdBase, perso);
}

void CFlashPage::EnableControls() {
    if (g_flashTrapLoaded) {
        for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdErase, kIdWrite, kIdVerify})
            EnableWindow(id, true);
    }
    if (g_trapRunning) EnableWindow(kIdLoadTrap, true);
    UpdateWindow();
}

void CFlashPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdErase, kIdWrite, kIdVerify})
        EnableWindow(id, false);
    EnableWindow(kIdLoadTrap, g_trapRunning);
    UpdateWindow();
}

bool CFlashPage::OnCommand(int id, UiEvent event) {
    switch (id) {
        case kIdLoadTrap:
            if (event == UiEvent::Clicked) OnLoadTrap();
            return true;
        case kIdRead:
            if (event == UiEvent::Clicked) OnRead();
            return true;
        case kIdErase:
            if (event == UiEvent::Clicked) OnErase();
            return true;
        case kIdWrite:
            if (event == UiEvent::Clicked) OnWrite();
            return true;
        case kIdVerify:
            if (event == UiEvent::Clicked) OnVerify();
            return true;
        case kIdBusList:
            if (event == UiEvent::CloseUp) OnBusCloseUp();
            return true;
        case kIdBankList:
            if (event == UiEvent::CloseUp) OnBankCloseUp();
            if (event == UiEvent::DropDown) OnBankDropDown();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CFlashPage::OnDestroy() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

// --- Operations: not built yet (stubs) ---

void CFlashPage::FetchFields(uint32_t& start, uint32_t& size) {
    start = 0;
    size = 0;
}
void CFlashPage::OnLoadTrap() {}
void CFlashPage::OnRead() {}
void CFlashPage::OnErase() {}
void CFlashPage::OnWrite() {}
void CFlashPage::OnVerify() {}
void CFlashPage::OnBusCloseUp() {}
void CFlashPage::OnBankCloseUp() {}
void CFlashPage::OnBankDropDown() {}
