#include "ui/MiscPage.h"

#include "ui/AppState.h"

void CMiscPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdData, m_strData);
}

void CMiscPage::DisableControls() {
    for (int id : {kIdMemStart, kIdProcId, kIdReboot}) EnableWindow(id, false);
    UpdateWindow();
}

void CMiscPage::EnableControls() {
    if (!g_trapRunning) {
        DisableControls();
        return;
    }
    for (int id : {kIdMemStart, kIdProcId, kIdReboot}) EnableWindow(id, true);
    UpdateWindow();
}

bool CMiscPage::OnCommand(int id, UiEvent event) {
    if (event != UiEvent::Clicked) return CDialog::OnCommand(id, event);
    switch (id) {
        case kIdMemStart:
            OnMemStart();
            return true;
        case kIdProcId:
            OnProcId();
            return true;
        case kIdReboot:
            OnReboot();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

// --- Operations: not built yet (stubs) ---

void CMiscPage::OnMemStart() {}
void CMiscPage::OnProcId() {}
void CMiscPage::OnReboot() {}
