#include "cli/CliView.h"

#include "link/LinkErrors.h"
#include "ui/Dialog.h"
#include "ui/DialogTemplate.h"
#include "ui/MainDlg.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

CliView::CliView(std::FILE* out) : m_out(out), m_tty(isatty(fileno(out)) != 0) {}

void CliView::EndBar() {
    if (m_barOpen) std::fputc('\n', m_out);
    m_barOpen = false;
}

void CliView::OnControlChanged(CDialog& dialog, int id, ControlChange what) {
    if (dialog.TemplateId() != kIddMain) return;
    if (what == ControlChange::Text && (id == CMainDlg::kIdStatus || id == CMainDlg::kIdResult)) {
        const std::string text = dialog.GetDlgItemText(id);
        if (text.empty()) return;
        EndBar();
        if (id == CMainDlg::kIdStatus) {
            m_lastStatus = text;
            for (int code = kErrTrapStart; code < kErrTrapStart + 64; ++code)
                if (text == LinkErrorText(code)) m_linkError = true;
            std::fprintf(m_out, "%s\n", text.c_str());
        } else {
            std::fprintf(m_out, "  -> %s\n", text.c_str());
        }
        std::fflush(m_out);
    } else if (id == CMainDlg::kIdProgress &&
               (what == ControlChange::Range || what == ControlChange::Position)) {
        const ControlState* bar = dialog.GetDlgItem(id);
        if (what == ControlChange::Range) {
            m_lastPercent = -1;
            if (bar->rangeMax == 0) {
                EndBar();
                return;
            }
        }
        Progress(bar->pos, bar->rangeMax);
    }
}

void CliView::Progress(int pos, int max) {
    if (max <= 0) return;
    const int percent = static_cast<int>(static_cast<int64_t>(pos) * 100 / max);
    if (percent == m_lastPercent || percent < 0 || percent > 100) return;
    m_lastPercent = percent;
    if (m_tty) {
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(m_out, "\r[%.*s%*s] %3d%%", filled, "########################################",
                     kWidth - filled, "", percent);
        m_barOpen = true;
    } else if (percent % 25 == 0) {
        std::fprintf(m_out, "progress %3d%%\n", percent);
    }
    std::fflush(m_out);
}

void CliView::OnMessageBox(const std::string& text, const std::string& caption, unsigned type,
                           int answer) {
    if ((type & 0xF) != kMbYesNo && text == m_lastStatus) return;
    EndBar();
    if ((type & 0xF) == kMbYesNo)
        std::fprintf(m_out, "%s: %s %s\n", caption.c_str(), text.c_str(),
                     answer == kIdYes ? "yes" : "no");
    else
        std::fprintf(m_out, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(m_out);
}
