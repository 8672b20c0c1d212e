#include "ui/MainDlg.h"

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "ui/AboutDlg.h"
#include "ui/AppState.h"

namespace {
const char* const kTabLabels[kPageCount] = {"FLASH", "EEPROM", "MEMORY", "MISC."};
const char* const kLptLabels[CMainDlg::kParallelPorts] = {"0x378", "0x278", "0x3BC"};
}  // namespace

CMainDlg::CMainDlg() : CDialog(kIddMain) {
    m_hIcon = kIdiMainIcon;
}

CMainDlg::~CMainDlg() = default;

void CMainDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdCpu, m_strCpu);
    DDX_Text(dx, kIdIdCode, m_strIdCode);
    DDX_Text(dx, kIdStatus, m_strStatus);
    DDX_Text(dx, kIdResult, m_strResult);
    DDX_Text(dx, kIdTrapStatus, m_strTrapStatus);
    DDX_Text(dx, kIdWptr, m_strWptr);
    DDX_Text(dx, kIdCtrl, m_strCtrl);
    DDX_Text(dx, kIdIptr, m_strIptr);
}

bool CMainDlg::OnInitDialog() {
    m_tab.Attach(this, kIdTab);
    CDialog::OnInitDialog();

    const std::string about = LoadResourceString(kIdsAboutBox);
    if (!about.empty()) {
        AppendSystemMenu(0, "");
        AppendSystemMenu(kIdmAboutBox, about);
    }
    SetIcon(m_hIcon);

    for (int i = 0; i < kPageCount; ++i) InsertItem(kIdTab, i, kTabLabels[i]);
    m_tab.CreatePages(Observer());

    // An index the strip refuses leaves its selection as it was.
    if (g_settings.m_nTabNum < static_cast<uint32_t>(kPageCount))
        SetCurSel(kIdTab, static_cast<int>(g_settings.m_nTabNum));
    ShowSelectedPage();

    ResetContent(kIdDut);
    for (const DutProfile& p : g_settings.m_duts) AddString(kIdDut, p.m_szName);

    m_nFrontOffer = m_nDriverOffer = kParallel;  // the driver selected now is the front end's
    m_front.reset();
    FillPortList();
    ChooseSavedPort();

    // Without a port, CPU ID stays offered: it opens the port again once the cable, the
    // module or the driver is there.
    OpenPort(false);

    g_currentDut = g_settings.m_nDutNum;
    SetCurSel(kIdDut, static_cast<int>(g_currentDut));
    ApplyDutProfile();

    g_cpuIdentified = false;

    OpenLog();  // a log that cannot be opened only means no log lines
    LockControls();
    EnableWindow(kIdExit, true);
    EnableWindow(kIdLoad, false);
    EnableWindow(kIdProgress, false);
    return true;
}

bool CMainDlg::OpenPort(bool lookAgain) {
    if (lookAgain && m_nDriverOffer == kAbsent) {
        FillPortList();
        ChooseSavedPort();
    }
    ShowStatus("Load Service Port Talk and Init JTAG");
    if (g_link.Open(Observer()) == 0) {
        ShowAddress("Ok");
        return true;
    }
    ShowAddress("!!! Error !!!");
    // What the driver knows of the cause names the fix.
    const port::IPortDriver* driver = port::SelectedPortDriver();
    std::string why = driver != nullptr ? driver->LastErrorText() : std::string();
    if (why.empty())
        why = "PortTalk: Couldn't access PortTalk Driver, Please ensure driver is loaded.";
    ShowStatus(why);
    ShowMessage(why, "Tapwright");
    return false;
}

void CMainDlg::OnDestroy() {
    m_tab.DestroyPages();
}

bool CMainDlg::OnCommand(int id, UiEvent event) {
    switch (id) {
        case kIdCpuId:
            if (event == UiEvent::Clicked) OnCpuId();
            return true;
        case kIdLoad:
            if (event == UiEvent::Clicked) OnLoadTrap();
            return true;
        case kIdDut:
            if (event == UiEvent::CloseUp) OnDutCloseUp();
            return true;
        case kIdLpt:
            if (event == UiEvent::CloseUp) OnLptCloseUp();
            return true;
        case kIdTab:
            if (event == UiEvent::SelChange) OnTabSelChange();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CMainDlg::OnSysCommand(unsigned id) {
    if ((id & 0xFFF0) == kIdmAboutBox) {
        CAboutDlg about;
        about.DoModal();
    }
}

void CMainDlg::OnCancel() {
    if (CDialog::RunningHandlers() > 0) return;
    g_link.Close();
    CloseLog();
    EndDialog(kIdCancel);
}

// --- Selections ---

void CMainDlg::OnLptCloseUp() {
    UpdateData(true);
    const int index = GetCurSel(kIdLpt);
    if (index < 0 && m_nDriverOffer == kAbsent) return;  // the missing adapter stays chosen
    if (index < kParallelPorts) {
        g_settings.m_nLptNum = static_cast<uint32_t>(index);
        g_settings.m_port.clear();
    } else {
        g_settings.m_port = m_ports[static_cast<size_t>(index - kParallelPorts)].key;
    }
    UsePortEntry(index);
}

void CMainDlg::FillPortList() {
    port::IPortDriver* front =
        m_nDriverOffer == m_nFrontOffer ? port::SelectedPortDriver() : m_front.get();
    const std::string name = front != nullptr ? front->Name() : port::DefaultDriverName();
    // The command line runs the window on the driver it names, and nothing else.
    const std::string& spec = StartDriverSpec();
    m_ports.clear();
    if (!spec.empty()) m_ports = port::FindMachinePorts(front, spec, g_settings.m_port);
    int frontOffer = kParallel;
    if (!spec.empty() && !port::IsParallelBackend(name)) {
        m_ports.push_back({spec, "", spec});
        frontOffer = static_cast<int>(m_ports.size()) - 1;
    }
    if (m_nDriverOffer == m_nFrontOffer) m_nDriverOffer = frontOffer;
    m_nFrontOffer = frontOffer;
    ResetContent(kIdLpt);
    for (const char* label : kLptLabels) AddString(kIdLpt, label);
    for (const port::PortOffer& offer : m_ports) AddString(kIdLpt, offer.label);
}

void CMainDlg::ChooseSavedPort() {
    int entry = m_nFrontOffer >= 0         ? kParallelPorts + m_nFrontOffer
                : g_settings.m_nLptNum < 3 ? static_cast<int>(g_settings.m_nLptNum)
                                           : 0;
    if (!g_settings.m_port.empty() && !StartDriverSpec().empty()) {
        entry = -1;
        for (size_t i = 0; i < m_ports.size(); ++i)
            if (m_ports[i].key == g_settings.m_port) entry = kParallelPorts + static_cast<int>(i);
        if (entry < 0) {
            SetCurSel(kIdLpt, -1);
            if (m_nDriverOffer != kAbsent)
                SwapDriver(port::AbsentPortDriver(
                               "The port " + g_settings.m_port +
                               " chosen last is not on this machine: plug it in and press "
                               "CPU ID, or choose another port in the list"),
                           kAbsent);
            return;
        }
    }
    SetCurSel(kIdLpt, entry);
    UsePortEntry(entry);
}

void CMainDlg::UsePortEntry(int entry) {
    const int offer = entry >= kParallelPorts ? entry - kParallelPorts : kParallel;
    if (offer == kParallel) {
        m_nPort = entry == 1 ? 0x278 : entry == 2 ? 0x3BC : 0x378;
        g_link.m_nPort = m_nPort;
    }
    if (offer == m_nDriverOffer) return;  // the same driver: the next operation uses it
    std::unique_ptr<port::IPortDriver> next;
    if (offer == m_nFrontOffer) {
        next = std::move(m_front);
    } else {
        std::string error;
        const std::string spec = offer == kParallel ? port::DefaultDriverName()
                                                    : m_ports[static_cast<size_t>(offer)].spec;
        next = port::CreatePortDriver(spec, error);
        if (next == nullptr) next = port::AbsentPortDriver(error);
    }
    SwapDriver(std::move(next), offer);
}

void CMainDlg::SwapDriver(std::unique_ptr<port::IPortDriver> next, int offer) {
    g_link.Close();  // the board on the cable left behind is left as an exit leaves it
    std::unique_ptr<port::IPortDriver> old = port::SelectPortDriver(std::move(next));
    if (m_nDriverOffer == m_nFrontOffer) m_front = std::move(old);
    m_nDriverOffer = offer;
}

void CMainDlg::OnDutCloseUp() {
    UpdateData(true);
    const int index = GetCurSel(kIdDut);
    if (index < 0) return;  // no profile chosen: keep the one applied
    g_currentDut = static_cast<uint32_t>(index);
    g_settings.m_nDutNum = g_currentDut;
    ApplyDutProfile();
}

void CMainDlg::ApplyDutProfile() {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr) return;  // an empty profile table: nothing to apply
    g_link.m_nTrapBase = p->m_nTrapIptr;
    g_link.m_nParamBlock = p->m_nTrapWptr;
    g_link.m_nBufferAddr = p->m_nTrapData;
    g_link.m_nBufferSize = p->m_nTrapSize;
    g_link.m_pEmiConfig = p->m_emi;
    if (g_link.BeginSession()) {
        g_link.WriteEmiConfig();
        g_link.EndSession();
    }
    SetCurSel(kIdDut, static_cast<int>(g_currentDut));
    UpdateWindow();
    if (g_settings.m_nFlashNum >= p->m_nFlashCount) g_settings.m_nFlashNum = 0;
    m_tab.m_flashPage.SelectBank(static_cast<int32_t>(g_settings.m_nFlashNum));
    m_tab.m_eepromPage.ApplyProfile();
}

void CMainDlg::ShowSelectedPage() {
    const int s = GetCurSel(kIdTab);
    for (int i = 0; i < kPageCount; ++i) {
        if (m_tab.m_pages[i] == nullptr) continue;
        m_tab.m_pages[i]->ShowWindow(i == s);
        if (i == s) g_settings.m_nTabNum = static_cast<uint32_t>(s);
    }
}

void CMainDlg::OnTabSelChange() {
    ShowSelectedPage();
}

// --- Observer ---

void CMainDlg::Refresh() {
    UpdateData(false);
    GetUiHost().PumpMessages();
}

void CMainDlg::ShowStatus(std::string text) {
    m_strStatus = std::move(text);
    SetDlgItemText(kIdStatus, m_strStatus);
    Refresh();
}

void CMainDlg::ShowAddress(std::string text) {
    m_strResult = std::move(text);
    SetDlgItemText(kIdResult, m_strResult);
    Refresh();
}

void CMainDlg::StartProgress(uint32_t total) {
    m_nProgressDivisor = 1;
    while (total / m_nProgressDivisor >= 0x10000) m_nProgressDivisor *= 2;
    SetRange(kIdProgress, 0, static_cast<int>(total / m_nProgressDivisor));
    Refresh();
}

void CMainDlg::SetProgress(uint32_t count) {
    SetPos(kIdProgress, static_cast<int>((count / m_nProgressDivisor) & 0xFFFF));
    Refresh();
}

void CMainDlg::ShowMessage(std::string text, std::string caption) {
    GetUiHost().MessageBox(this, text, caption, kMbOk);
}

void CMainDlg::LockControls() {
    for (Page* page : m_tab.m_pages) page->DisableControls();
    EnableWindow(kIdExit, false);
    UpdateWindow();
}

void CMainDlg::OfferWhatRuns() {
    for (Page* page : m_tab.m_pages) page->EnableControls();
}

void CMainDlg::UnlockControls() {
    OfferWhatRuns();
    EnableWindow(kIdExit, true);
    UpdateWindow();
}

void CMainDlg::EnableExitButton(bool flag) {
    EnableWindow(kIdExit, flag);
    UpdateWindow();
}

void CMainDlg::EnableCpuIdButton(bool flag) {
    EnableWindow(kIdCpuId, flag);
    UpdateWindow();
}

void CMainDlg::EnableLoadButton(bool flag) {
    EnableWindow(kIdLoad, flag);
    UpdateWindow();
}

void CMainDlg::EnableDutSelector(bool flag) {
    EnableWindow(kIdDut, flag);
    UpdateWindow();
}
