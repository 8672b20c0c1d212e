#include "ui/MainApp.h"

#include "port/StaticOrder.h"
#include "ui/MainDlg.h"

CMainApp theApp TAPWRIGHT_BUILT_AT(kBuildApp);

bool CMainApp::InitInstance() {
    CMainDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return false;
}
