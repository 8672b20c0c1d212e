#include "cli/FlashCommands.h"

#include <cstdio>
#include <filesystem>

#include "cli/CliView.h"
#include "cli/FrontEnd.h"
#include "cli/WindowRun.h"
#include "flash/FlashChip.h"
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
    write->add_option("FILE", args.file)->required()->check(kImageToWrite);
    write->add_flag("--verify", args.verify, "VERIFY afterwards; \"Ko\" fails the command");
    op(flash->add_subcommand("verify", "VERIFY: compare the flash with FILE"),
       FlashArgs::Op::Verify)
        ->add_option("FILE", args.file)
        ->required()
        ->check(CLI::ExistingFile);
    return flash;
}

namespace {

// The FLASH page's steps after the window is up; the exit code.
class FlashDriver {
  public:
    FlashDriver(const FlashArgs& args, CMainDlg& main, WindowOperator& op)
        : m_args(args), m_main(main), m_op(op) {}

    int Run() {
        CFlashPage& page = m_main.m_tab.m_flashPage;
        int rc = Prepare();
        if (rc == 0) rc = Select(page);
        if (rc == 0) rc = LoadTrap(page);
        if (rc == 0) rc = Operation(page);
        return rc;
    }

  private:
    int Prepare() {
        const bool identified = m_op.CpuId();
        std::printf("CPU    : %s (%s)\n", m_main.GetDlgItemText(CMainDlg::kIdCpu).c_str(),
                    m_main.GetDlgItemText(CMainDlg::kIdIdCode).c_str());
        return identified && m_op.Load() ? 0 : 1;
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
            const int item = HandlerBusIndex(static_cast<uint32_t>(m_args.bus));
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

    int LoadTrap(CFlashPage& page) {
        if (!m_op.Press(page, CFlashPage::kIdLoadTrap, "LOAD TRAP")) return 1;
        std::printf("ID     : %s\nMFG    : %s\nDEV    : %s\n",
                    page.GetDlgItemText(CFlashPage::kIdIdent).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdMaker).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdDevice).c_str());
        if (!page.HandlerReady() || m_op.Result() != "Ok") {
            std::fprintf(stderr, "tapwright-cli: the flash handler was not loaded\n");
            return 1;
        }
        std::printf("Start  : %s\nSize   : %s\n", page.GetDlgItemText(CFlashPage::kIdStart).c_str(),
                    page.GetDlgItemText(CFlashPage::kIdSize).c_str());
        return 0;
    }

    int Operation(CFlashPage& page) {
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
                m_op.Host().QueueFileAnswer(file);
                if (!m_op.Press(page, CFlashPage::kIdRead, "READ")) return 1;
                if (Done("Read FLASH Data") == 0) return 0;
                WindowOperator::IncompleteRead(file);
                return 1;
            case FlashArgs::Op::Erase:
                m_op.Host().QueueMessageAnswer(kIdYes);
                if (!m_op.Press(page, CFlashPage::kIdErase, "ERASE")) return 1;
                return m_op.Result() == "Ok" ? 0 : 1;
            case FlashArgs::Op::Write:
                m_op.Host().QueueFileAnswer(file);
                if (!m_op.PressWhole(page, CFlashPage::kIdWrite, "WRITE")) return 1;
                if (const int rc = Done("Write FLASH Data")) return rc;
                return m_args.verify ? Verify(page, file) : 0;
            case FlashArgs::Op::Verify:
                return Verify(page, file);
            case FlashArgs::Op::Id:
                break;
        }
        return 0;
    }

    // The link shows its failures in the status field, where the title stood.
    int Done(const char* title) {
        const bool ok = m_main.GetDlgItemText(CMainDlg::kIdStatus) == title &&
                        m_op.Result() != "!!! Error !!!" && !m_op.View().LinkErrorShown();
        return ok ? 0 : 1;
    }

    int Verify(CFlashPage& page, const std::string& file) {
        m_op.Host().QueueFileAnswer(file);
        if (!m_op.PressWhole(page, CFlashPage::kIdVerify, "VERIFY")) return 1;
        const bool ok = m_op.Result() == "Ok";
        std::printf("Verify : %s\n", ok ? "Ok" : "Ko");
        return ok ? 0 : 1;
    }

    const FlashArgs& m_args;
    CMainDlg& m_main;
    WindowOperator& m_op;
};

}  // namespace

int RunFlashCommand(const CliOptions& options, const FlashArgs& args) {
    if (args.op == FlashArgs::Op::Erase && !args.yes) {
        std::fprintf(stderr, "tapwright-cli: flash erase wipes the whole chip: add --yes\n");
        return 2;
    }
    if ((args.op == FlashArgs::Op::Erase || args.op == FlashArgs::Op::Id) &&
        (!args.start.empty() || !args.size.empty())) {
        std::fprintf(stderr,
                     "tapwright-cli: flash %s works on the whole chip: drop --start and "
                     "--size\n",
                     args.op == FlashArgs::Op::Erase ? "erase" : "id");
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
    return RunInWindow(options, [&fields](CMainDlg& main, WindowOperator& op) {
        return FlashDriver(fields, main, op).Run();
    });
}
