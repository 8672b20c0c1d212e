#include "cli/PageCommands.h"

#include <cstdio>
#include <filesystem>

#include "cli/CliView.h"
#include "cli/FrontEnd.h"
#include "cli/WindowRun.h"
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
class PageDriver {
  public:
    PageDriver(CMainDlg& main, WindowOperator& op) : m_main(main), m_op(op) {}

    int Run() {
        int rc = Work();
        if (rc == 0 &&
            (m_op.View().LinkErrorShown() || m_op.Result().find("Error") != std::string::npos))
            rc = 1;
        if (rc == 1 && m_pressed && (g_request.op == Op::EepromRead || g_request.op == Op::MemRead))
            WindowOperator::IncompleteRead(std::filesystem::absolute(g_request.file).string());
        return rc;
    }

  private:
    bool CpuId(bool load) { return m_op.CpuId() && (!load || m_op.Load()); }

    int Work() {
        CPageTab& tab = m_main.m_tab;
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

    bool LoadTrap(CEepromPage& page) {
        return m_op.Press(page, CEepromPage::kIdLoadTrap, "LOAD TRAP") &&
               m_op.ResultOk("LOAD TRAP");
    }

    int Eeprom(CEepromPage& page) {
        if (!CpuId(true) || !m_main.Select(CMainDlg::kIdTab, 1)) return 1;
        if (!LoadTrap(page)) return 1;
        if (!g_request.cycles.empty()) {
            // The radio buttons change the profile at once; the handler follows at the next load.
            const int radio =
                g_request.cycles == "3" ? CEepromPage::kIdCycles3 : CEepromPage::kIdCycles2;
            if (!m_op.Press(page, radio, "the Cycles choice (only for the PERSO profile)"))
                return 1;
            if (!LoadTrap(page)) return 1;
        }
        if (!m_op.Type(page, CEepromPage::kIdStart, g_request.start, "Start") ||
            !m_op.Type(page, CEepromPage::kIdSize, g_request.size, "Size"))
            return 1;
        int button = CEepromPage::kIdErase;
        if (g_request.op == Op::EepromErase) {
            m_op.Host().QueueMessageAnswer(kIdYes);
        } else {
            m_op.Host().QueueFileAnswer(std::filesystem::absolute(g_request.file).string());
            button = g_request.op == Op::EepromRead ? CEepromPage::kIdRead : CEepromPage::kIdWrite;
        }
        m_pressed = button == CEepromPage::kIdWrite
                        ? m_op.PressWhole(page, button, "the EEPROM operation")
                        : m_op.Press(page, button, "the EEPROM operation");
        return m_pressed ? 0 : 1;
    }

    int Memory(CMemoryPage& page) {
        if (!CpuId(g_request.go) || !m_main.Select(CMainDlg::kIdTab, 2)) return 1;
        if (g_request.op != Op::MemLoad &&
            (!m_op.Type(page, CMemoryPage::kIdStart, g_request.start, "Start") ||
             !m_op.Type(page, CMemoryPage::kIdSize, g_request.size, "Size")))
            return 1;
        m_op.Host().QueueFileAnswer(std::filesystem::absolute(g_request.file).string());
        const int button = g_request.op == Op::MemRead    ? CMemoryPage::kIdRead
                           : g_request.op == Op::MemWrite ? CMemoryPage::kIdWrite
                                                          : CMemoryPage::kIdLoad;
        m_pressed = button == CMemoryPage::kIdWrite
                        ? m_op.PressWhole(page, button, "the MEMORY operation")
                        : m_op.Press(page, button, "the MEMORY operation");
        if (!m_pressed) return 1;
        if (g_request.op == Op::MemLoad) {
            // An image refused, unreadable or not written whole marks the result field.
            if (m_op.Result().find("Error") != std::string::npos) {
                // The window logs the refusal only; the status still names the step.
                if (m_main.GetDlgItemText(CMainDlg::kIdStatus) == "Load File in SDRAM Memory")
                    std::fprintf(stderr,
                                 "tapwright-cli: %s is not an SDRAM image: its header must carry "
                                 "the tag, the file's length and a load range inside "
                                 "C0000000..C0800000\n",
                                 g_request.file.c_str());
                return 1;
            }
            std::printf("Start : %s\nSize  : %s\n",
                        page.GetDlgItemText(CMemoryPage::kIdStart).c_str(),
                        page.GetDlgItemText(CMemoryPage::kIdSize).c_str());
            if (g_request.go && !m_op.Press(page, CMemoryPage::kIdGo, "GO")) return 1;
        }
        return 0;
    }

    int Misc(CMiscPage& page) {
        if (!CpuId(true) || !m_main.Select(CMainDlg::kIdTab, 3)) return 1;
        const int button = g_request.op == Op::MiscMemStart ? CMiscPage::kIdMemStart
                           : g_request.op == Op::MiscProcId ? CMiscPage::kIdProcId
                                                            : CMiscPage::kIdReboot;
        if (!m_op.Press(page, button, "the MISC. command")) return 1;
        if (g_request.op == Op::MiscReboot) return 0;
        const std::string data = page.GetDlgItemText(CMiscPage::kIdData);
        std::printf("%s : %s\n", g_request.op == Op::MiscMemStart ? "MemStart" : "ProcID",
                    data.c_str());
        return data == CMiscPage::kNoValue ? 1 : 0;
    }

    CMainDlg& m_main;
    WindowOperator& m_op;
    bool m_pressed = false;  // the operation's button was pressed
};

}  // namespace

void AddPageCommands(CLI::App& app) {
    Request& r = g_request;
    auto hexOptions = [&](CLI::App* cmd, bool required) {
        cmd->add_option("--start", r.start, "Start field (hex)")->required(required);
        cmd->add_option("--size", r.size, "Size field (hex)")->required(required);
    };
    auto chosen = [&](CLI::App* cmd, Op op) { cmd->callback([&r, op] { r.op = op; }); };

    auto* eeprom = app.add_subcommand(
        "eeprom", "CPU ID, LOAD and the EEPROM page's LOAD TRAP, then one EEPROM operation");
    eeprom->require_subcommand(1);
    auto* eRead = eeprom->add_subcommand("read", "READ the Start/Size range into FILE");
    auto* eWrite = eeprom->add_subcommand("write", "WRITE FILE (at most Size bytes) at Start");
    auto* eErase = eeprom->add_subcommand("erase", "ERASE: 0xFF over the Start/Size range");
    eRead->add_option("FILE", r.file)->required();
    eWrite->add_option("FILE", r.file)->required()->check(kImageToWrite);
    eErase->add_flag("--yes", r.yes, "answer the confirmation (required)");
    for (CLI::App* cmd : {eRead, eWrite, eErase}) {
        hexOptions(cmd, false);
        cmd->add_option("--cycles", r.cycles, "address cycles, 2 or 3 (PERSO profile only)");
    }
    chosen(eRead, Op::EepromRead);
    chosen(eWrite, Op::EepromWrite);
    chosen(eErase, Op::EepromErase);

    auto* mem = app.add_subcommand(
        "mem", "CPU ID, then one MEMORY page operation (no trap handler needed)");
    mem->require_subcommand(1);
    auto* mRead = mem->add_subcommand("read", "READ the Start/Size range into FILE");
    auto* mWrite = mem->add_subcommand("write", "WRITE FILE (at most Size bytes) at Start");
    auto* mLoad = mem->add_subcommand("load", "LOAD an SDRAM image at its header's address");
    mRead->add_option("FILE", r.file)->required();
    hexOptions(mRead, true);
    mWrite->add_option("FILE", r.file)->required()->check(kImageToWrite);
    mWrite->add_option("--start", r.start, "Start field (hex)")->required();
    mWrite->add_option("--size", r.size, "Size field (hex; default: the file's length)");
    mLoad->add_option("FILE", r.file)->required()->check(CLI::ExistingFile);
    mLoad->add_flag("--go", r.go, "LOAD the general trap handler first, then GO into the image");
    chosen(mRead, Op::MemRead);
    chosen(mWrite, Op::MemWrite);
    chosen(mLoad, Op::MemLoad);

    auto* misc = app.add_subcommand("misc", "CPU ID, LOAD, then one MISC. page command");
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
    return RunInWindow(
        options, [](CMainDlg& main, WindowOperator& op) { return PageDriver(main, op).Run(); });
}
