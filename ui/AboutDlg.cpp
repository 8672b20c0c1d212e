#include "ui/AboutDlg.h"

#include <sys/stat.h>

#include <ctime>

namespace {

#ifdef _WIN32
std::string g_exePath = "Tapwright.exe";
#else
std::string g_exePath = "/proc/self/exe";
#endif

// The version field holds at most 51 characters.
constexpr size_t kMaxVersion = 51;

}  // namespace

void CAboutDlg::SetExecutablePath(const std::string& path) {
    g_exePath = path;
}

void CAboutDlg::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, 1031, m_strDate);
    DDX_Text(dx, 1030, m_strVersion);
}

bool CAboutDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strVersion = VersionText();
    if (m_strVersion.empty()) m_strVersion = "???";
    if (m_strVersion.size() > kMaxVersion) m_strVersion.resize(kMaxVersion);
    SetDlgItemText(1030, m_strVersion);

    m_strDate = "???";
    struct stat st {};
    if (::stat(g_exePath.c_str(), &st) == 0) {
        const std::time_t when = st.st_mtime;
        std::tm local{};
#ifdef _WIN32
        const bool ok = localtime_s(&local, &when) == 0;
#else
        const bool ok = localtime_r(&when, &local) != nullptr;
#endif
        char text[32];
        if (ok && std::strftime(text, sizeof text, "%d/%m/%Y", &local) > 0) m_strDate = text;
    }
    SetDlgItemText(1031, m_strDate);
    UpdateWindow();
    return true;
}
