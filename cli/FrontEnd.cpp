#include "cli/FrontEnd.h"

#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/CliView.h"
#include "cli/WindowRun.h"
#include "ui/MainDlg.h"

bool HexDigits(const std::string& option, std::string& digits) {
    std::string d = option;
    if (d.size() > 2 && d[0] == '0' && (d[1] == 'x' || d[1] == 'X')) d = d.substr(2);
    if (d.empty() || d.size() > 8) return false;
    for (char c : d)
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
    digits = d;
    return true;
}

const CLI::Validator kImageToWrite(
    [](std::string& file) {
        std::string why = CLI::ExistingFile(file);
        if (!why.empty()) return why;
        std::error_code ec;
        if (std::filesystem::file_size(file, ec) == 0 && !ec)
            return "File is empty, nothing to write: " + file;
        return std::string();
    },
    "FILE");

namespace {

int CpuId(CMainDlg& main, WindowOperator& op) {
    const bool identified = op.CpuId();
    std::printf("IDCODE : %s\nCPU    : %s\n", main.GetDlgItemText(CMainDlg::kIdIdCode).c_str(),
                main.GetDlgItemText(CMainDlg::kIdCpu).c_str());
    return identified ? 0 : 1;
}

int Load(CMainDlg& main, WindowOperator& op) {
    const bool started = op.Load();
    const std::string result = op.Result();
    if (result.empty()) return 1;  // no link session: said by the step
    std::printf("Status : %s\nCtrl   : %s\nIptr   : %s\nWptr   : %s\n",
                main.GetDlgItemText(CMainDlg::kIdTrapStatus).c_str(),
                main.GetDlgItemText(CMainDlg::kIdCtrl).c_str(),
                main.GetDlgItemText(CMainDlg::kIdIptr).c_str(),
                main.GetDlgItemText(CMainDlg::kIdWptr).c_str());
    std::printf("Trap handler: %s\n", result.c_str());
    return started ? 0 : 1;
}

}  // namespace

int RunWindowCommand(const CliOptions& options, WindowCommand command) {
    return RunInWindow(options, [command](CMainDlg& main, WindowOperator& op) {
        int rc = CpuId(main, op);
        if (rc == 0 && command == WindowCommand::Load) rc = Load(main, op);
        if (rc == 0 && op.View().LinkErrorShown()) rc = 1;
        return rc;
    });
}
