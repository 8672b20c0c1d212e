#include "cli/WindowRun.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
volatile std::sig_atomic_t g_working = 0;  // the window has the port

// The first Ctrl-C lets the link end at its next chunk boundary, so the board keeps a whole
// chunk and trap mode is left as Close does; a second one, or one before the window has the
// port, ends the process at once.
extern "C" void OnInterrupt(int) {
    if (g_interrupts != 0 || g_working == 0) std::_Exit(kExitInterrupted);
    g_interrupts = 1;
    g_link.RequestStop();
}

}  // namespace

bool Interrupted() {
    return g_interrupts > 0;
}

bool WindowOperator::Press(CDialog& dlg, int id, const char* what) {
    if (Interrupted()) return false;  // no further step after Ctrl-C
    if (dlg.Press(id)) return true;
    std::fprintf(stderr, "tapwright-cli: %s is not available (%s)\n", what,
                 dlg.LastRefusal().c_str());
    return false;
}

bool WindowOperator::PressWhole(CDialog& dlg, int id, const char* what) {
    const size_t before = m_host.Prompts().size();
    m_host.QueueMessageAnswer(kIdNo);
    const bool pressed = Press(dlg, id, what);
    m_host.ClearMessageAnswers();
    const auto& prompts = m_host.Prompts();
    const bool asked = std::any_of(prompts.begin() + static_cast<std::ptrdiff_t>(before),
                                   prompts.end(), [](const auto& p) { return !p.fileDialog; });
    if (!asked) return pressed;
    std::fprintf(stderr,
                 "tapwright-cli: nothing done: the command line uses whole files only; give a "
                 "--size that holds the whole file (within the device), or a shorter file\n");
    return false;
}

bool WindowOperator::Type(CDialog& dlg, int id, const std::string& digits, const char* what) {
    if (digits.empty() || dlg.Type(id, digits)) return true;
    std::fprintf(stderr, "tapwright-cli: %s cannot be changed (%s)\n", what,
                 dlg.LastRefusal().c_str());
    return false;
}

std::string WindowOperator::Result() const {
    return m_main.GetDlgItemText(CMainDlg::kIdResult);
}

bool WindowOperator::ResultOk(const char* step) {
    const std::string result = Result();
    if (result == "Ok") return true;
    if (result.empty()) NoLinkSession(step);
    return false;
}

bool WindowOperator::CpuId() {
    return Press(m_main, CMainDlg::kIdCpuId, "CPU ID") && g_cpuIdentified;
}

bool WindowOperator::Load() {
    if (!Press(m_main, CMainDlg::kIdLoad, "LOAD")) return false;
    if (g_link.Program() == TargetProgram::General()) return true;
    if (Result().empty()) NoLinkSession("LOAD");
    return false;
}

void WindowOperator::NoLinkSession(const char* step) {
    const std::string why = LinkErrorText(g_link.m_nError);
    std::fprintf(stderr, "tapwright-cli: %s: no link session with the target%s%s\n", step,
                 why.empty() ? "" : ": ", why.c_str());
}

// A failed READ's file would look like a good backup under the name asked for: it is kept
// under a name that says what it is.
void WindowOperator::IncompleteRead(const std::string& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) return;
    const std::string kept = file + ".incomplete";
    std::filesystem::rename(file, kept, ec);
    if (ec) {
        std::fprintf(stderr,
                     "tapwright-cli: READ failed: %s is incomplete (zeros where the read failed) "
                     "and could not be renamed (%s); do not program it back\n",
                     file.c_str(), ec.message().c_str());
        return;
    }
    std::fprintf(stderr,
                 "tapwright-cli: READ failed: %s is incomplete (zeros where the read failed), "
                 "kept as %s; do not program it back\n",
                 file.c_str(), kept.c_str());
}

namespace {

// The driver's start-up story, kept back while it went well, then why it failed (unless the
// window's status field has just said it).
int PortFailure(port::IPortDriver& driver, std::FILE* messages, const std::string& shown) {
    if (messages != nullptr) {
        std::fflush(messages);
        std::rewind(messages);
        char line[512];
        while (std::fgets(line, sizeof line, messages) != nullptr)
            if (line[0] != '\n') std::fputs(line, stderr);
    }
    std::string reason = driver.LastErrorText();
    if (reason == shown) reason.clear();
    std::fprintf(stderr, "tapwright-cli: cannot open the '%s' port driver%s%s\n", driver.Name(),
                 reason.empty() ? "" : ": ", reason.c_str());
    return 1;
}

// Port requests that failed while the window worked: the window shows only the link's error
// for them, so say once how many failed and why.
void ReportPortFailures(port::IPortDriver& driver) {
    const port::RequestFailures& failures = port::PortRequestFailures();
    if (failures.count == 0) return;
    const std::string why = driver.LastErrorText();
    const char* plural = failures.count == 1 ? "" : "s";
    const auto count = static_cast<unsigned long long>(failures.count);
    if (!why.empty())
        std::fprintf(stderr, "tapwright-cli: %llu port request%s failed: %s\n", count, plural,
                     why.c_str());
    else
        std::fprintf(stderr,
                     "tapwright-cli: %llu port request%s failed on the '%s' driver (error %d)\n",
                     count, plural, driver.Name(), static_cast<int>(failures.firstError));
}

}  // namespace

int RunInWindow(const CliOptions& options,
                const std::function<int(CMainDlg&, WindowOperator&)>& work) {
    std::string error;
    const std::string spec = port::ResolveDriverSpec(options.driver);
    bool inUse = false;
    auto driver = port::CreatePortDriver(spec, error, &inUse);
    if (!driver) {
        std::fprintf(stderr, "tapwright-cli: %s\n", error.c_str());
        return inUse ? 1 : 2;
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

    // The start-up story is shown only when the driver cannot be opened; failed requests are
    // counted and said once at the end.
    std::FILE* messages = std::tmpfile();
    if (messages != nullptr) port::SetPortMessageStream(messages);
    port::ResetPortRequestFailures(false);

    MemoryUiHost host;
    CliView view(stderr);
    host.SetListener(&view);
    SetUiHost(&host);
    SetLogTarget(options.log.empty() ? "log.txt" : options.log, true);
    SetLogSession(options.command, spec);
    g_link.SetReadCheck(options.readCheck);
    g_link.SetTraceFile("trace.txt");

    int rc = 1;
    g_interrupts = 0;
    std::signal(SIGINT, OnInterrupt);
    host.SetModalDriver([&](CDialog& dialog) {
        auto& main = static_cast<CMainDlg&>(dialog);
        if (!port::PortOpened()) {
            rc = PortFailure(raw, messages, main.GetDlgItemText(CMainDlg::kIdStatus));
        } else {
            if (options.lptBase != 0) {
                // A base outside the three choices: the same profile is applied again through it.
                g_link.m_nPort = options.lptBase;
                main.Select(CMainDlg::kIdDut, main.GetCurSel(CMainDlg::kIdDut));
            }
            WindowOperator op(main, host, view);
            g_working = 1;
            rc = work(main, op);
            ReportPortFailures(raw);
            std::printf("Read check : %s\n", g_link.ReadCheck() ? "on" : "off (--no-read-check)");
            if (Interrupted()) {
                // Close needs the link again to leave trap mode.
                g_link.ClearStop();
                std::fprintf(stderr,
                             "tapwright-cli: interrupted (Ctrl-C): stopped after a whole chunk; "
                             "the log says where\n");
                rc = kExitInterrupted;
            }
            // A question the command did not expect fails it.
            for (const std::string& line : host.Unanswered()) {
                std::fprintf(stderr, "tapwright-cli: %s\n", line.c_str());
                rc = 1;
            }
        }
        if (!dialog.RequestClose())
            std::fprintf(stderr, "tapwright-cli: the window refused to close: %s\n",
                         dialog.LastRefusal().c_str());
    });
    theApp.InitInstance();
    g_working = 0;

    SetUiHost(nullptr);
    // Said on stderr when it happened; the exit code keeps it for scripts.
    if (rc == 0 && !LogFailure().empty()) rc = kExitLogFailed;
    port::SetPortMessageStream(stderr);
    port::ResetPortRequestFailures();
    if (messages != nullptr) std::fclose(messages);
    return rc;
}
