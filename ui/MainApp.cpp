#include "ui/MainApp.h"

#include "ui/MainDlg.h"

bool CMainApp::InitInstance() {
    CMainDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
