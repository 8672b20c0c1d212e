#include "cli/CliObserver.h"

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

CCliObserver::CCliObserver(std::FILE* out) : out_(out), tty_(isatty(fileno(out)) != 0) {}

void CCliObserver::EndBar() {
    if (barOpen_) std::fputc('\n', out_);
    barOpen_ = false;
}

void CCliObserver::ShowStatus(std::string text) {
    EndBar();
    ++statusCount_;
    lastStatus_ = text;
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void CCliObserver::ShowAddress(std::string) {}

void CCliObserver::StartProgress(uint32_t total) {
    if (total == 0) {
        if (tty_ && barOpen_) {
            EndBar();
        }
        return;
    }
    EndBar();
    total_ = total;
    lastPercent_ = -1;
    SetProgress(0);
}

void CCliObserver::SetProgress(uint32_t count) {
    if (total_ == 0) return;
    const int percent = static_cast<int>(static_cast<uint64_t>(count) * 100 / total_);
    if (percent == lastPercent_) return;
    lastPercent_ = percent;
    if (tty_) {
        constexpr int kWidth = 40;
        const int filled = percent * kWidth / 100;
        std::fprintf(out_, "\r[%.*s%*s] %3d%% (%u/%u bytes)", filled,
                     "########################################", kWidth - filled, "", percent,
                     count, total_);
        barOpen_ = true;
    } else if (percent % 25 == 0) {
        std::fprintf(out_, "progress %3d%% (%u/%u bytes)\n", percent, count, total_);
    }
    std::fflush(out_);
}

void CCliObserver::ShowMessage(std::string text, std::string caption) {
    EndBar();
    std::fprintf(out_, "%s: %s\n", caption.c_str(), text.c_str());
}
