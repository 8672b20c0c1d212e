#include "cli/PageCommands.h"

#include <cstdio>
#include <filesystem>
#include <functional>

#include "cli/CliView.h"
#include "cli/FrontEnd.h"
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

enum class Op {
    None,
    EepromRead,
    EepromWrite,
    EepromErase,
    MemRead,
    MemWrite,
    MemLoad,
    MiscMemStart,
    MiscProcId,
    MiscReboot
};

struct Request {
    Op op = Op::None;
    std::string file, start, size, cycles;
    bool yes = false, go = false;
} g_request;

// Works the window for one request; the exit code.
class CPageDriver {
  public:
    CPageDriver(CMemoryUiHost& host, CCliView& view) : m_host(host), m_view(view) {}

    int Run(CMainDlg& main) {
        m_main = &main;
        int rc = Work();
        for (const std::string& line : m_host.Unanswered()) {
            std::fprintf(stderr, "tapwright-cli: %s\n", line.c_str());
            rc = 1;
        }
        const std::string result = main.GetDlgItemText(CMainDlg::kIdResult);
        if (rc == 0 && (m_view.LinkErrorShown() || result.find("Error") != std::string::npos))
            rc = 1;
        return rc;
    }

  private:
    bool Press(CDialog& dlg, int id, const char* what) {
        if (dlg.Press(id)) return true;
        std::fprintf(stderr, "tapwright-cli: %s is not available (%s)\n", what,
                     dlg.LastRefusal().c_str());
        return false;
    }
    bool Type(CDialog& dlg, int id, const std::string& digits, const char* what) {
        if (digits.empty() || dlg.Type(id, digits)) return true;
        std::fprintf(stderr, "tapwright-cli: %s cannot be changed (%s)\n", what,
                     dlg.LastRefusal().c_str());
        return false;
    }
    bool Result(const char* step) {
        const std::string result = m_main->GetDlgItemText(CMainDlg::kIdResult);
        if (result == "Ok") return true;
        if (result.empty()) {
            const std::string why = LinkErrorText(g_link.m_nError);
            std::fprintf(stderr, "tapwright-cli: %s: no link session with the target%s%s\n", step,
                         why.empty() ? "" : ": ", why.c_str());
        }
        return false;
    }
    bool CpuId(bool load) {
        if (!Press(*m_main, CMainDlg::kIdCpuId, "CPU ID") || !Result("CPU ID")) return false;
        return !load || (Press(*m_main, CMainDlg::kIdLoad, "LOAD") && Result("LOAD"));
    }

    int Work() {
        CPageTab& tab = m_main->m_tab;
        switch (g_request.op) {
            case Op::EepromRead:
            case Op::EepromWrite:
            case Op::EepromErase:
                return Eeprom(tab.m_eepromPage);
            case Op::MemRead:
            case Op::MemWrite:
            case Op::MemLoad:
                return Memory(tab.m_memoryPage);
            case Op::MiscMemStart:
            case Op::MiscProcId:
            case Op::MiscReboot:
                return Misc(tab.m_miscPage);
            case Op::None:
                break;
        }
        return 2;
    }

    int Eeprom(CEepromPage& page) {
        if (!CpuId(true) || !m_main->Select(CMainDlg::kIdTab, 1)) return 1;
        if (!Press(page, CEepromPage::kIdLoadTrap, "LOAD TRAP") || !Result("LOAD TRAP")) return 1;
        if (!g_request.cycles.empty()) {
            // The radio buttons change the profile at once; the handler follows at the next load.
            const int radio =
                g_request.cycles == "3" ? CEepromPage::kIdCycles3 : CEepromPage::kIdCycles2;
            if (!Press(page, radio, "the Cycles choice (only for the PERSO profile)")) return 1;
            if (!Press(page, CEepromPage::kIdLoadTrap, "LOAD TRAP") || !Result("LOAD TRAP"))
                return 1;
        }
        if (!Type(page, CEepromPage::kIdStart, g_request.start, "Start") ||
            !Type(page, CEepromPage::kIdSize, g_request.size, "Size"))
            return 1;
        int button = CEepromPage::kIdErase;
        if (g_request.op == Op::EepromErase) {
            m_host.QueueMessageAnswer(kIdYes);
        } else {
            m_host.QueueFileAnswer(std::filesystem::absolute(g_request.file).string());
            button = g_request.op == Op::EepromRead ? CEepromPage::kIdRead : CEepromPage::kIdWrite;
        }
        return Press(page, button, "the EEPROM operation") ? 0 : 1;
    }

    int Memory(CMemoryPage& page) {
        if (!CpuId(g_request.go) || !m_main->Select(CMainDlg::kIdTab, 2)) return 1;
        if (g_request.op != Op::MemLoad &&
            (!Type(page, CMemoryPage::kIdStart, g_request.start, "Start") ||
             !Type(page, CMemoryPage::kIdSize, g_request.size, "Size")))
            return 1;
        m_host.QueueFileAnswer(std::filesystem::absolute(g_request.file).string());
        const int button = g_request.op == Op::MemRead    ? CMemoryPage::kIdRead
                           : g_request.op == Op::MemWrite ? CMemoryPage::kIdWrite
                                                          : CMemoryPage::kIdLoad;
        if (!Press(page, button, "the MEMORY operation")) return 1;
        if (g_request.op == Op::MemLoad) {
            // GO comes only after an image that was accepted and written whole.
            if (!page.IsWindowEnabled(CMemoryPage::kIdGo)) return 1;
            std::printf("Start : %s\nSize  : %s\n",
                        page.GetDlgItemText(CMemoryPage::kIdStart).c_str(),
                        page.GetDlgItemText(CMemoryPage::kIdSize).c_str());
            if (g_request.go && !Press(page, CMemoryPage::kIdGo, "GO")) return 1;
        }
        return 0;
    }

    int Misc(CMiscPage& page) {
        if (!CpuId(true) || !m_main->Select(CMainDlg::kIdTab, 3)) return 1;
        const int button = g_request.op == Op::MiscMemStart ? CMiscPage::kIdMemStart
                           : g_request.op == Op::MiscProcId ? CMiscPage::kIdProcId
                                                            : CMiscPage::kIdReboot;
        if (!Press(page, button, "the MISC. command")) return 1;
        if (g_request.op == Op::MiscReboot) return 0;
        const std::string data = page.GetDlgItemText(CMiscPage::kIdData);
        std::printf("%s : %s\n", g_request.op == Op::MiscMemStart ? "MemStart" : "ProcID",
                    data.c_str());
        return data == CMiscPage::kNoValue ? 1 : 0;
    }

    CMemoryUiHost& m_host;
    CCliView& m_view;
    CMainDlg* m_main = nullptr;
};

int RunThroughWindow(const CliOptions& options) {
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
    std::FILE* messages = std::tmpfile();
    if (messages != nullptr) port::SetPortMessageStream(messages);

    CMemoryUiHost host;
    CCliView view(stderr);
    host.SetListener(&view);
    SetUiHost(&host);
    SetLogTarget(options.log.empty() ? "log.txt" : options.log, true);

    int rc = 1;
    host.SetModalDriver([&](CDialog& dialog) {
        auto& main = static_cast<CMainDlg&>(dialog);
        if (!main.IsWindowEnabled(CMainDlg::kIdCpuId)) {
            std::fprintf(stderr, "tapwright-cli: cannot open the '%s' port driver\n", raw.Name());
        } else {
            if (options.lptBase != 0) {
                g_link.m_nPort = options.lptBase;
                main.Select(CMainDlg::kIdDut, main.GetCurSel(CMainDlg::kIdDut));
            }
            rc = CPageDriver(host, view).Run(main);
        }
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

}  // namespace

void AddPageCommands(CLI::App& app) {
    Request& r = g_request;
    auto hexOptions = [&](CLI::App* cmd, bool required) {
        cmd->add_option("--start", r.start, "Start field (hex)")->required(required);
        cmd->add_option("--size", r.size, "Size field (hex)")->required(required);
    };
    auto chosen = [&](CLI::App* cmd, Op op) { cmd->callback([&r, op] { r.op = op; }); };

    auto* eeprom = app.add_subcommand("eeprom", "EEPROM page: CPU ID, LOAD, LOAD TRAP, then");
    eeprom->require_subcommand(1);
    auto* eRead = eeprom->add_subcommand("read", "READ the Start/Size range into FILE");
    auto* eWrite = eeprom->add_subcommand("write", "WRITE FILE (at most Size bytes) at Start");
    auto* eErase = eeprom->add_subcommand("erase", "ERASE: 0xFF over the Start/Size range");
    eRead->add_option("FILE", r.file)->required();
    eWrite->add_option("FILE", r.file)->required()->check(CLI::ExistingFile);
    eErase->add_flag("--yes", r.yes, "answer the confirmation (required)");
    for (CLI::App* cmd : {eRead, eWrite, eErase}) {
        hexOptions(cmd, false);
        cmd->add_option("--cycles", r.cycles, "address cycles, 2 or 3 (PERSO profile only)");
    }
    chosen(eRead, Op::EepromRead);
    chosen(eWrite, Op::EepromWrite);
    chosen(eErase, Op::EepromErase);

    auto* mem = app.add_subcommand("mem", "MEMORY page: CPU ID, then");
    mem->require_subcommand(1);
    auto* mRead = mem->add_subcommand("read", "READ the Start/Size range into FILE");
    auto* mWrite = mem->add_subcommand("write", "WRITE FILE (at most Size bytes) at Start");
    auto* mLoad = mem->add_subcommand("load", "LOAD an SDRAM image at its header's address");
    mRead->add_option("FILE", r.file)->required();
    hexOptions(mRead, true);
    mWrite->add_option("FILE", r.file)->required()->check(CLI::ExistingFile);
    mWrite->add_option("--start", r.start, "Start field (hex)")->required();
    mWrite->add_option("--size", r.size, "Size field (hex; default: the file's length)");
    mLoad->add_option("FILE", r.file)->required()->check(CLI::ExistingFile);
    mLoad->add_flag("--go", r.go, "LOAD the general trap handler first, then GO into the image");
    chosen(mRead, Op::MemRead);
    chosen(mWrite, Op::MemWrite);
    chosen(mLoad, Op::MemLoad);

    auto* misc = app.add_subcommand("misc", "MISC. page: CPU ID, LOAD, then");
    misc->require_subcommand(1);
    chosen(misc->add_subcommand("memstart", "MemStart: the handler's memory start"),
           Op::MiscMemStart);
    chosen(misc->add_subcommand("procid", "ProcID: the processor the handler reports"),
           Op::MiscProcId);
    chosen(misc->add_subcommand("reboot", "Reboot the target"), Op::MiscReboot);
}

int RunPageCommands(const CliOptions& options) {
    Request& r = g_request;
    if (r.op == Op::None) return -1;
    for (std::string* field : {&r.start, &r.size}) {
        if (!field->empty() && !HexDigits(*field, *field)) {
            std::fprintf(stderr, "tapwright-cli: '%s' is not a hexadecimal value\n",
                         field->c_str());
            return 2;
        }
    }
    if (!r.cycles.empty() && r.cycles != "2" && r.cycles != "3") {
        std::fprintf(stderr, "tapwright-cli: --cycles %s: 2 or 3\n", r.cycles.c_str());
        return 2;
    }
    if (r.op == Op::EepromErase && !r.yes) {
        std::fprintf(stderr, "tapwright-cli: eeprom erase overwrites the range: add --yes\n");
        return 2;
    }
    if (r.op == Op::MemWrite && r.size.empty()) {
        std::error_code ec;
        const auto length = std::filesystem::file_size(r.file, ec);
        if (ec || length > 0xFFFFFFFFu) {
            std::fprintf(stderr, "tapwright-cli: cannot use %s\n", r.file.c_str());
            return 1;
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "%X", static_cast<unsigned>(length));
        r.size = digits;
    }
    return RunThroughWindow(options);
}
