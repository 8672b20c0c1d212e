#include "cli/Commands.h"

#include <cstdio>

#include "config/Settings.h"

int RunSettings(const CliOptions&) {
    std::fputs(FormatSettingsReport(g_settings).c_str(), stdout);
    std::printf("(from %s%s)\n", g_settings.FilePath().c_str(),
                g_settings.m_bFileMissing ? ": file absent, defaults shown" : "");
    return 0;
}
