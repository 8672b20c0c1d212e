#include "ui/MemoryPage.h"

#include "config/Settings.h"
#include "ui/AppState.h"

bool CMemoryPage::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strStart = Hex8(g_settings.m_nMemStart);
    m_strSize = Hex8(g_settings.m_nMemSize);
    m_strFile = g_settings.m_szMemFile;
    ShowFields();
    return true;
}

void CMemoryPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdFile, m_strFile);
    DDX_Text(dx, kIdSize, m_strSize);
    DDX_Text(dx, kIdStart, m_strStart);
}

void CMemoryPage::ShowFields() {
    UpdateData(false);
    UpdateWindow();
}

void CMemoryPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdWrite, kIdLoad, kIdGo})
        EnableWindow(id, false);
    UpdateWindow();
}

void CMemoryPage::EnableControls() {
    if (!g_cpuIdentified) {
        DisableControls();
        return;
    }
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdWrite, kIdLoad}) EnableWindow(id, true);
    UpdateWindow();
}

bool CMemoryPage::OnCommand(int id, UiEvent event) {
    if (event != UiEvent::Clicked) return CDialog::OnCommand(id, event);
    switch (id) {
        case kIdRead:
            OnRead();
            return true;
        case kIdWrite:
            OnWrite();
            return true;
        case kIdLoad:
            OnLoad();
            return true;
        case kIdGo:
            OnGo();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CMemoryPage::OnDestroy() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

// --- Operations: not built yet (stubs) ---

void CMemoryPage::FetchFields(uint32_t& start, uint32_t& size) {
    start = 0;
    size = 0;
}
void CMemoryPage::OnRead() {}
void CMemoryPage::OnWrite() {}
void CMemoryPage::OnLoad() {}
void CMemoryPage::OnGo() {}
