#include "cli/FrontEnd.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <functional>

#include "cli/CliView.h"
#include "config/Settings.h"
#include "link/LinkErrors.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"
#include "ui/AppState.h"
#include "ui/MainApp.h"
#include "ui/MainDlg.h"
#include "ui/MemoryUiHost.h"

bool HexDigits(const std::string& option, std::string& digits) {
    std::string d = option;
    if (d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X')) d = d.substr(2);
    if (d.empty() || d.size() > 8) return false;
    for (char c : d)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits = d;
    return true;
}

namespace {

// Works the window once it is up; returns the exit code.
class CWindowDriver {
  public:
    CWindowDriver(const CliOptions& options, CMemoryUiHost& host, CCliView& view,
                  port::IPortDriver& driver, std::FILE* messages)
        : m_options(options), m_host(host), m_view(view), m_driver(driver), m_messages(messages) {}

    int Run(CMainDlg& main, WindowCommand command) {
        if (!main.IsWindowEnabled(CMainDlg::kIdCpuId)) return PortFailure();
        if (m_options.lptBase != 0) {
            // A base outside the three choices: the same profile is applied again through it.
            g_link.m_nPort = m_options.lptBase;
            main.Select(CMainDlg::kIdDut, main.GetCurSel(CMainDlg::kIdDut));
        }
        int rc = CpuId(main);
        if (rc == 0 && command == WindowCommand::Load) rc = Load(main);
        for (const std::string& line : m_host.Unanswered()) {
            std::fprintf(stderr, "tapwright-cli: %s\n", line.c_str());
            rc = 1;
        }
        if (rc == 0 && m_view.LinkErrorShown()) rc = 1;
        return rc;
    }

  private:
    // A control the command needs must be usable, as it would be for an operator.
    bool Press(CDialog& dlg, int id, const char* why) {
        if (dlg.Press(id)) return true;
        std::fprintf(stderr, "tapwright-cli: %s (%s)\n", why, dlg.LastRefusal().c_str());
        return false;
    }

    int PortFailure() {
        std::rewind(m_messages);
        char line[512];
        while (std::fgets(line, sizeof line, m_messages) != nullptr)
            if (std::strncmp(line, "Error occured", 13) != 0 && line[0] != '\n')
                std::fputs(line, stderr);
        const std::string reason = m_driver.LastOpenError();
        std::fprintf(stderr, "tapwright-cli: cannot open the '%s' port driver%s%s\n",
                     m_driver.Name(), reason.empty() ? "" : ": ", reason.c_str());
        return 1;
    }

    int CpuId(CMainDlg& main) {
        if (!Press(main, CMainDlg::kIdCpuId, "CPU ID is not available")) return 1;
        std::printf("IDCODE : %s\nCPU    : %s\n", main.GetDlgItemText(CMainDlg::kIdIdCode).c_str(),
                    main.GetDlgItemText(CMainDlg::kIdCpu).c_str());
        return main.GetDlgItemText(CMainDlg::kIdResult) == "Ok" ? 0 : 1;
    }

    int Load(CMainDlg& main) {
        if (!Press(main, CMainDlg::kIdLoad, "no processor identified: LOAD is not available"))
            return 1;
        const std::string result = main.GetDlgItemText(CMainDlg::kIdResult);
        if (result.empty()) {
            // No link session: the window shows nothing more; say why here.
            const std::string why = LinkErrorText(g_link.m_nError);
            std::fprintf(stderr, "tapwright-cli: no link session with the target%s%s\n",
                         why.empty() ? "" : ": ", why.c_str());
            return 1;
        }
        std::printf("Status : %s\nCtrl   : %s\nIptr   : %s\nWptr   : %s\n",
                    main.GetDlgItemText(CMainDlg::kIdTrapStatus).c_str(),
                    main.GetDlgItemText(CMainDlg::kIdCtrl).c_str(),
                    main.GetDlgItemText(CMainDlg::kIdIptr).c_str(),
                    main.GetDlgItemText(CMainDlg::kIdWptr).c_str());
        std::printf("Trap handler: %s\n", result.c_str());
        return result == "Ok" ? 0 : 1;
    }

    const CliOptions& m_options;
    CMemoryUiHost& m_host;
    CCliView& m_view;
    port::IPortDriver& m_driver;
    std::FILE* m_messages;
};

}  // namespace

int RunWindowCommand(const CliOptions& options, WindowCommand command) {
    std::string error;
    auto driver = port::CreatePortDriver(port::ResolveDriverSpec(options.driver), error);
    if (!driver) {
        std::fprintf(stderr, "tapwright-cli: %s\n", error.c_str());
        return 2;
    }
    if (options.dut >= 0) {
        if (static_cast<uint32_t>(options.dut) >= g_settings.m_duts.size()) {
            std::fprintf(stderr, "tapwright-cli: --dut %d: Tapwright.ini has %zu profile(s)\n",
                         options.dut, g_settings.m_duts.size());
            return 2;
        }
        g_settings.m_nDutNum = static_cast<uint32_t>(options.dut);
    }
    if (options.lptIndex >= 0) g_settings.m_nLptNum = static_cast<uint32_t>(options.lptIndex);
    port::IPortDriver& raw = *driver;
    port::SelectPortDriver(std::move(driver));

    // The driver's start-up story is shown only when it fails.
    std::FILE* messages = std::tmpfile();
    if (messages != nullptr) port::SetPortMessageStream(messages);

    CMemoryUiHost host;
    CCliView view(stderr);
    host.SetListener(&view);
    SetUiHost(&host);
    SetLogTarget(options.log.empty() ? "log.txt" : options.log, true);

    int rc = 1;
    host.SetModalDriver([&](CDialog& dialog) {
        CWindowDriver worker(options, host, view, raw, messages != nullptr ? messages : stderr);
        rc = worker.Run(static_cast<CMainDlg&>(dialog), command);
        if (!dialog.RequestClose())
            std::fprintf(stderr, "tapwright-cli: the window refused to close: %s\n",
                         dialog.LastRefusal().c_str());
    });
    theApp.InitInstance();

    SetUiHost(nullptr);
    port::SetPortMessageStream(stderr);
    if (messages != nullptr) std::fclose(messages);
    return rc;
}
