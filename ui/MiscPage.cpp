#include "ui/MiscPage.h"

#include "link/TargetLink.h"
#include "ui/AppState.h"

void CMiscPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdData, m_strData);
}

void CMiscPage::DisableControls() {
    for (int id : {kIdMemStart, kIdProcId, kIdReboot}) EnableWindow(id, false);
    UpdateWindow();
}

void CMiscPage::EnableControls() {
    if (!g_link.HandlerRunning()) {
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

void CMiscPage::ReadValue(const char* status, const char* name,
                          bool (CTargetLink::*read)(uint32_t&)) {
    PageOperation op(Observer(), status, ProgressMode::kNone);
    uint32_t value = 0;
    const bool ok = (g_link.*read)(value);
    // A failed read delivers nothing: say so rather than show an old or made-up value.
    if (ok) {
        m_strData = Hex8(value);
    } else {
        g_link.ReportError();
        m_strData = kNoValue;
        Observer().ShowAddress("!!! Error !!!");
    }
    UpdateData(false);
    op.Unlock();
    LogPrintf("Instruction -->      %s : %s %s\n", name, ok ? Hex8(value).c_str() : kNoValue,
              LogResult(ok).c_str());
}

void CMiscPage::OnMemStart() {
    ReadValue("Instruction MemStartVal", "MemStartVal", &CTargetLink::ReadMemStart);
}

void CMiscPage::OnProcId() {
    ReadValue("Instruction ProcID", "ProcID", &CTargetLink::ReadProcId);
}

void CMiscPage::OnReboot() {
    g_cpuIdentified = false;
    PageOperation op(Observer(), "Instruction Reboot", ProgressMode::kNone);
    const bool ok = g_link.Reboot();
    LogPrintf("Instruction -->      Reboot %s\n", LogResult(ok).c_str());
    // LOAD TRAP now follows what runs after the reboot.
    op.LeaveLocked();
    if (ok) {
        Observer().ShowAddress("*** Reboot ***");
    } else {
        g_link.ReportError();
        Observer().ShowAddress("*** Error ***");
    }
}
