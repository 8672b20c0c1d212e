#include "cli/FlashCommands.h"

#include <cstdio>
#include <filesystem>

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

CLI::App* AddFlashCommands(CLI::App& app, FlashArgs& args) {
    auto* flash = app.add_subcommand(
        "flash", "CPU ID, LOAD and the FLASH page's LOAD TRAP, then one flash operation");
    flash->require_subcommand(1);
    flash->add_option("--bank", args.bank, "bank of the profile (default: the saved one)")
        ->check(CLI::NonNegativeNumber);
    flash->add_option("--bus", args.bus, "bus width for LOAD TRAP (PERSO profile only)")
        ->check(CLI::IsMember({8, 16, 32}));
    flash->add_option("--start", args.start, "Start field (hex digits; default: the bank's)");
    flash->add_option("--size", args.size, "Size field (hex digits; default: the bank's)");

    auto op = [&args](CLI::App* sub, FlashArgs::Op which) {
        sub->callback([&args, which] { args.op = which; });
        sub->fallthrough();  // --bank, --start ... may follow the operation
        return sub;
    };
    op(flash->add_subcommand("id", "identify the flash chips and load their handler"),
       FlashArgs::Op::Id);
    op(flash->add_subcommand("read", "READ: copy the Start/Size range into FILE"),
       FlashArgs::Op::Read)
        ->add_option("FILE", args.file)
        ->required();
    auto* erase = op(flash->add_subcommand("erase", "ERASE the whole chip"), FlashArgs::Op::Erase);
    erase->add_flag("--yes", args.yes, "answer the confirmation with Yes (required)");
    auto* write =
        op(flash->add_subcommand("write", "WRITE: program FILE at Start, at most Size bytes"),
           FlashArgs::Op::Write);
    write->add_option("FILE", args.file)->required()->check(CLI::ExistingFile);
    write->add_flag("--verify", args.verify, "VERIFY afterwards; \"Ko\" fails the command");
    op(flash->add_subcommand("verify", "VERIFY: compare the flash with FILE"),
       FlashArgs::Op::Verify)
        ->add_option("FILE", args.file)
        ->required()
        ->check(CLI::ExistingFile);
    return flash;
}

namespace {

class CFlashDriver {
  public:
    CFlashDriver(const CliOptions& options, const FlashArgs& args, CMemoryUiHost& host,
                 CCliView& view)
        : m_options(options), m_args(args), m_host(host), m_view(view) {}

    int Run(CMainDlg& main) {
        if (!main.IsWindowEnabled(CMainDlg::kIdCpuId)) {
            std::fprintf(stderr, "tapwright-cli: the port could not be opened\n");
            return 1;
        }
        if (m_options.lptBase != 0) {
            g_link.m_nPort = m_options.lptBase;
            main.Select(CMainDlg::kIdDut, main.GetCurSel(CMainDlg::kIdDut));
        }
        CFlashPage& page = main.m_tab.m_flashPage;
        int rc = Prepare(main);
        if (rc == 0) rc = Select(page);
        if (rc == 0) rc = LoadTrap(main, page);
        if (rc == 0) rc = Operation(main, page);
        for (const std::string& line : m_host.Unanswered()) {
            std::fprintf(stderr, "tapwright-cli: %s\n", line.c_str());
            rc = 1;
        }
        return rc;
    }

  private:
    static bool Press(CDialog& dlg, int id, const char* what) {
        if (dlg.Press(id)) return true;
        std::fprintf(stderr, "tapwright-cli: %s is not available (%s)\n", what,
                     dlg.LastRefusal().c_str());
        return false;
    }
    static std::string Result(CMainDlg& main) { return main.GetDlgItemText(CMainDlg::kIdResult); }

    int Prepare(CMainDlg& main) {
        if (!Press(main, CMainDlg::kIdCpuId, "CPU ID")) return 1;
        std::printf("CPU    : %s (%s)\n", main.GetDlgItemText(CMainDlg::kIdCpu).c_str(),
                    main.GetDlgItemText(CMainDlg::kIdIdCode).c_str());
        if (!g_cpuIdentified) return 1;
        if (!Press(main, CMainDlg::kIdLoad, "LOAD")) return 1;
        if (!g_trapRunning) {
            const std::string why = LinkErrorText(g_link.m_nError);
            std::fprintf(stderr, "tapwright-cli: the general trap handler did not start%s%s\n",
                         why.empty() ? "" : ": ", why.c_str());
            return 1;
        }
        return 0;
    }

    int Select(CFlashPage& page) {
        const int banks = page.GetCount(CFlashPage::kIdBankList);
        if (m_args.bank >= banks) {
            std::fprintf(stderr, "tapwright-cli: --bank %d: the profile has %d bank(s)\n",
                         m_args.bank, banks);
            return 2;
        }
        if (m_args.bank >= 0 && m_args.bank != page.GetCurSel(CFlashPage::kIdBankList) &&
            !page.Select(CFlashPage::kIdBankList, m_args.bank))
            return Refused(page, "--bank");
        if (m_args.bus != 0) {
            const int item = m_args.bus == 8 ? 0 : m_args.bus == 32 ? 2 : 1;
            if (item != page.GetCurSel(CFlashPage::kIdBusList) &&
                !page.Select(CFlashPage::kIdBusList, item)) {
                std::fprintf(stderr,
                             "tapwright-cli: --bus: only the PERSO profile may change the bus "
                             "width\n");
                return 2;
            }
        }
        return 0;
    }

    static int Refused(CDialog& dlg, const char* what) {
        std::fprintf(stderr, "tapwright-cli: %s refused (%s)\n", what, dlg.LastRefusal().c_str());
        return 2;
    }

    int LoadTrap(CMainDlg& main, CFlashPage& page) {
        if (!Press(page, CFlashPage::kIdLoadTrap, "LOAD TRAP")) return 1;
        std::printf("ID     : %s\nMFG    : %s\nDEV    : %s\n",
                    page.GetDlgItemText(CFlashPage::kIdIdent).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdMaker).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdDevice).c_str());
        if (!g_flashTrapLoaded || Result(main) != "Ok") {
            std::fprintf(stderr, "tapwright-cli: the flash handler was not loaded\n");
            return 1;
        }
        std::printf("Start  : %s\nSize   : %s\n", page.GetDlgItemText(CFlashPage::kIdStart).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdSize).c_str());
        return 0;
    }

    int Operation(CMainDlg& main, CFlashPage& page) {
        if (m_args.op == FlashArgs::Op::Id) return 0;
        for (const auto& [text, id] : {std::pair{&m_args.start, CFlashPage::kIdStart},
                                       std::pair{&m_args.size, CFlashPage::kIdSize}}) {
            if (!text->empty() && !page.Type(id, *text)) return Refused(page, "--start/--size");
        }
        std::error_code ec;
        const std::string file =
            m_args.file.empty() ? "" : std::filesystem::absolute(m_args.file, ec).string();
        switch (m_args.op) {
            case FlashArgs::Op::Read:
                m_host.QueueFileAnswer(file);
                if (!Press(page, CFlashPage::kIdRead, "READ")) return 1;
                return Done(main, "Read FLASH Data");
            case FlashArgs::Op::Erase:
                m_host.QueueMessageAnswer(kIdYes);
                if (!Press(page, CFlashPage::kIdErase, "ERASE")) return 1;
                return Result(main) == "Ok" ? 0 : 1;
            case FlashArgs::Op::Write:
                m_host.QueueFileAnswer(file);
                if (!Press(page, CFlashPage::kIdWrite, "WRITE")) return 1;
                if (const int rc = Done(main, "Write FLASH Data")) return rc;
                return m_args.verify ? Verify(main, page, file) : 0;
            case FlashArgs::Op::Verify:
                return Verify(main, page, file);
            case FlashArgs::Op::Id:
                break;
        }
        return 0;
    }

    // The link shows its failures in the status field, where the title stood.
    int Done(CMainDlg& main, const char* title) {
        const bool ok = main.GetDlgItemText(CMainDlg::kIdStatus) == title &&
                        Result(main) != "!!! Error !!!" && !m_view.LinkErrorShown();
        return ok ? 0 : 1;
    }

    int Verify(CMainDlg& main, CFlashPage& page, const std::string& file) {
        m_host.QueueFileAnswer(file);
        if (!Press(page, CFlashPage::kIdVerify, "VERIFY")) return 1;
        const bool ok = Result(main) == "Ok";
        std::printf("Verify : %s\n", ok ? "Ok" : "Ko");
        return ok ? 0 : 1;
    }

    const CliOptions& m_options;
    const FlashArgs& m_args;
    CMemoryUiHost& m_host;
    CCliView& m_view;
};

}  // namespace

int RunFlashCommand(const CliOptions& options, const FlashArgs& args) {
    if (args.op == FlashArgs::Op::Erase && !args.yes) {
        std::fprintf(stderr, "tapwright-cli: flash erase wipes the whole chip: add --yes\n");
        return 2;
    }
    FlashArgs fields = args;  // the fields get the bare digits, as an operator types them
    for (std::string* text : {&fields.start, &fields.size}) {
        if (!text->empty() && !HexDigits(*text, *text)) {
            std::fprintf(stderr, "tapwright-cli: '%s' is not 1 to 8 hexadecimal digits\n",
                         text->c_str());
            return 2;
        }
    }
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
    port::SelectPortDriver(std::move(driver));

    CMemoryUiHost host;
    CCliView view(stderr);
    host.SetListener(&view);
    SetUiHost(&host);
    SetLogTarget(options.log.empty() ? "log.txt" : options.log, true);

    int rc = 1;
    host.SetModalDriver([&](CDialog& dialog) {
        CFlashDriver worker(options, fields, host, view);
        rc = worker.Run(static_cast<CMainDlg&>(dialog));
        if (!dialog.RequestClose())
            std::fprintf(stderr, "tapwright-cli: the window refused to close: %s\n",
                         dialog.LastRefusal().c_str());
    });
    theApp.InitInstance();
    SetUiHost(nullptr);
    return rc;
}
