#include "ui/AppState.h"

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "config/Settings.h"

bool g_cpuIdentified = false;
std::FILE* g_log = nullptr;

namespace {
std::string g_logPath;  // none until the front end names one
bool g_logAppend = false;
}  // namespace

void LogPrintf(const char* format, ...) {
    if (g_log == nullptr) return;
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fflush(g_log);
}

void SetLogTarget(const std::string& path, bool append) {
    g_logPath = path;
    g_logAppend = append;
}

const std::string& LogPath() {
    return g_logPath;
}

bool OpenLog() {
    CloseLog();
    if (g_logPath.empty()) return false;
    g_log = std::fopen(g_logPath.c_str(), g_logAppend ? "at" : "wt");
    return g_log != nullptr;
}

void CloseLog() {
    if (g_log != nullptr) std::fclose(g_log);
    g_log = nullptr;
}

DutProfile* CurrentProfile() {
    if (g_currentDut >= g_settings.m_duts.size()) return nullptr;
    return &g_settings.m_duts[g_currentDut];
}

bool IsPersoProfile(const DutProfile* profile) {
    return profile != nullptr && std::strcmp(profile->m_szName, "PERSO") == 0;
}

std::string Hex8(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X", value);
    return text;
}

uint32_t ParseHexField(const std::string& text) {
    const std::string prefixed = "0x" + text;
    errno = 0;
    const unsigned long long value = std::strtoull(prefixed.c_str(), nullptr, 16);
    if (errno == ERANGE || value > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    return static_cast<uint32_t>(value);
}
