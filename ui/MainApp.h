// The application object: runs the main window modally for the whole run.
#pragma once

class CMainDlg;

class CMainApp {
  public:
    CMainApp() = default;
    virtual ~CMainApp() = default;
    // Runs CMainDlg through the host's modal loop; false: no message loop of our own follows.
    virtual bool InitInstance();

    // The main window while InitInstance runs it, else null.
    CMainDlg* m_pMainWnd = nullptr;
};

extern CMainApp theApp;
