// The main window's two target commands: CPU ID and LOAD of the general trap handler.
#include <vector>

#include "config/Settings.h"
#include "flash/TrapImage.h"
#include "link/TargetLink.h"
#include "port/PortTalk.h"
#include "ui/AppState.h"
#include "ui/MainDlg.h"

void CMainDlg::ShowCpuFields() {
    SetDlgItemText(kIdIdCode, m_strIdCode);
    SetDlgItemText(kIdCpu, m_strCpu);
    UpdateWindow();
}

void CMainDlg::OnCpuId() {
    if (g_cpuIdentified) return;
    if (!port::PortOpened()) {
        // The port could not be opened before: try again, and give the profile's EMI words to
        // a target that now answers.
        if (!OpenPort()) return;
        if (g_link.BeginSession()) {
            g_link.WriteEmiConfig();
            g_link.EndSession();
        }
    }
    EnableWindow(kIdExit, false);
    ShowStatus("Read CPU ID Code");
    ShowAddress("");
    g_link.SetProgressMode(ProgressMode::kNone);
    const uint32_t id = g_link.ReadIdCode();

    m_strCpu = LookupProcessor(g_settings, id);
    if (!m_strCpu.empty()) {
        g_cpuIdentified = true;
        EnableWindow(kIdCpuId, false);
        EnableWindow(kIdLpt, false);
        EnableWindow(kIdLoad, true);
        EnableWindow(kIdProgress, true);
        m_tab.m_flashPage.DisableControls();
        m_tab.m_miscPage.DisableControls();
        m_tab.m_memoryPage.EnableControls();
        ShowAddress("Ok");
    } else {
        m_strCpu = "Erreur ou Inconnu";
        g_cpuIdentified = false;
        EnableWindow(kIdCpuId, true);
        EnableWindow(kIdLpt, true);
        EnableWindow(kIdLoad, false);
        EnableWindow(kIdProgress, false);
        m_tab.m_flashPage.DisableControls();
        m_tab.m_memoryPage.DisableControls();
        m_tab.m_miscPage.DisableControls();
        ShowAddress("!!! Error !!!");
    }
    m_strIdCode = Hex8(id);
    ShowCpuFields();
    EnableWindow(kIdExit, true);
    LogPrintf("Reading CPU ID -->   Processor %s (%08X) %s\n", m_strCpu.c_str(), id,
              LogResult(g_cpuIdentified).c_str());
}

void CMainDlg::OnLoadTrap() {
    ShowStatus("Load Trap Handler without FLASH management");
    ShowAddress("");
    g_link.SetProgressMode(ProgressMode::kNone);
    if (!g_link.BeginSession()) return;

    LoadTrapHandlerFile();
    g_link.EndSession();

    m_strTrapStatus = Hex8(g_link.m_dcuSnapshot[0]);
    m_strCtrl = Hex8(g_link.m_dcuSnapshot[1]);
    m_strIptr = Hex8(g_link.m_nTrapBase);
    m_strWptr = Hex8(g_link.m_nParamBlock);
    UpdateData(false);
    UpdateWindow();
}

void CMainDlg::LoadTrapHandlerFile() {
    std::vector<uint8_t> image;
    std::string error;
    const std::string path = TrapHandlerPath(g_settings, g_settings.m_szTrapName);
    NoteStandInHandlers(*this, path);
    if (!BuildTrapImage({path}, image, error)) {
        // Nothing is downloaded: say so rather than leave a status that reads like success.
        ShowStatus(error);
        ShowAddress("!!! Error !!!");
        return;
    }
    const bool loaded = g_link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0,
                                               TargetProgram::General());
    // The device pages lose their handler either way; MISC. and GO follow the load.
    OfferWhatRuns();
    ShowAddress(loaded ? "Ok" : "!!! Error !!!");
}
