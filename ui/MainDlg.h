// The main window: port and profile choice, CPU ID and LOAD, the tab strip with the four
// pages, progress, status and result. It is also the link's observer and what the pages lock,
// unlock and enable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/PortOffers.h"

#include "ui/Dialog.h"
#include "ui/MainWindow.h"
#include "ui/PageTab.h"

constexpr unsigned kIdmAboutBox = 0x0010;

class CMainDlg : public CDialog, public IMainWindow {
  public:
    enum : int {
        kIdCpuId = 1000,
        kIdIdCode = 1001,
        kIdCpu = 1002,
        kIdDut = 1033,
        kIdLpt = 1025,
        kIdLoad = 1022,
        kIdTrapStatus = 1023,
        kIdCtrl = 1030,
        kIdIptr = 1035,
        kIdWptr = 1024,
        kIdTab = 1054,
        kIdProgress = 1011,
        kIdExit = 2,
        kIdStatus = 1016,
        kIdResult = 1020,
    };

    CMainDlg();
    ~CMainDlg() override;

    IMainWindow* Observer() { return this; }

    // --- ILinkObserver ---
    void ShowStatus(std::string text) override;
    void ShowAddress(std::string text) override;
    void SetProgress(uint32_t count) override;
    void StartProgress(uint32_t total) override;
    void ShowMessage(std::string text, std::string caption) override;
    // --- IMainWindow ---
    void LockControls() override;
    void UnlockControls() override;
    void EnableExitButton(bool flag) override;
    void EnableCpuIdButton(bool flag) override;
    void EnableLoadButton(bool flag) override;
    void EnableDutSelector(bool flag) override;

    // The profile at g_currentDut into the link (and its EMI words to the target) and the pages.
    void ApplyDutProfile();

    // --- Handlers (reached through the message map; public for the front ends' tests) ---
    void OnCpuId();
    void OnLoadTrap();
    void OnLptCloseUp();
    void OnDutCloseUp();
    void OnTabSelChange();
    void ShowSelectedPage();
    void ShowCpuFields();
    // Ends the dialog after closing the link and the log; refused (nothing happens) while
    // an operation runs, since message pumping can deliver it in the middle of one.
    void OnCancel() override;

    int32_t m_nPort = 0x378;
    uint32_t m_nProgressDivisor = 1;
    CPageTab m_tab;
    std::string m_strCpu, m_strIdCode, m_strStatus, m_strResult, m_strTrapStatus, m_strWptr,
        m_strCtrl, m_strIptr;
    int m_hIcon = 0;
    // The port list: the three parallel ports, then m_ports (the machine's adapters, and the
    // front end's backend when it is not a parallel one).
    static constexpr int kParallelPorts = 3;
    std::vector<port::PortOffer> m_ports;

  protected:
    void DoDataExchange(CDataExchange& dx) override;
    bool OnInitDialog() override;
    void OnDestroy() override;
    bool OnCommand(int id, UiEvent event) override;
    void OnSysCommand(unsigned id) override;

  private:
    // Opens the link on the chosen port driver; when it cannot, says why in the status field
    // and a message box. An adapter that was not there is looked for again first.
    bool OpenPort(bool lookAgain = true);
    // The port list filled with what the machine has now.
    void FillPortList();
    // The adapter chosen last, else the command line's backend, else the parallel port
    // LPT_NUM. A chosen adapter that is gone is said, never replaced by another port.
    void ChooseSavedPort();
    // The driver of list entry `entry` in place (the link closed on the one before).
    void UsePortEntry(int entry);
    void SwapDriver(std::unique_ptr<port::IPortDriver> next, int offer);
    // The link's message lines, pushed to the window, then pending input delivered.
    void Refresh();
    void LoadTrapHandlerFile();
    // Every page enables what the program now running on the target allows.
    void OfferWhatRuns();

    enum : int { kParallel = -1, kAbsent = -2 };
    int m_nFrontOffer = kParallel;   // the entry of m_ports the front end's driver stands for
    int m_nDriverOffer = kParallel;  // the entry whose driver is selected now
    std::unique_ptr<port::IPortDriver> m_front;  // the front end's driver while another is used
};
