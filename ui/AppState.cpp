#include "ui/AppState.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "config/Settings.h"
#include "link/LinkObserver.h"
#include "link/TargetLink.h"
#include "port/PortTalk.h"
#include "ui/PageFiles.h"

bool g_cpuIdentified = false;
std::FILE* g_log = nullptr;

namespace {

std::string g_logPath;  // none until the front end names one
bool g_logAppend = false;
std::string g_logCommand = "window", g_logDriver;
std::string g_logFailure;
std::string g_startDriver;

void LogFailed(const std::string& why) {
    if (!g_logFailure.empty()) return;  // said once
    g_logFailure = "cannot write the log " + g_logPath + ": " + why;
    std::fprintf(stderr, "%s; the operations still run, unlogged\n", g_logFailure.c_str());
}

// One write per line: with the file opened for appending, lines of other processes land
// before or after it, never inside.
void WriteLine(const std::string& line) {
#ifdef _WIN32
    const bool written =
        std::fwrite(line.data(), 1, line.size(), g_log) == line.size() && std::fflush(g_log) == 0;
#else
    size_t at = 0;
    while (at < line.size()) {
        const ssize_t n = ::write(fileno(g_log), line.data() + at, line.size() - at);
        if (n <= 0 && errno != EINTR) break;
        if (n > 0) at += static_cast<size_t>(n);
    }
    const bool written = at == line.size();
#endif
    if (!written) LogFailed(std::strerror(errno));
}

}  // namespace

void LogPrintf(const char* format, ...) {
    if (g_log == nullptr) return;
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string line(n > 0 ? static_cast<size_t>(n) + 1 : 1, '\0');
    if (n > 0) std::vsnprintf(line.data(), line.size(), format, again);
    va_end(again);
    line.resize(n > 0 ? static_cast<size_t>(n) : 0);
    if (line.empty() || line.back() != '\n') line += '\n';
    WriteLine(line);
}

void SetLogTarget(const std::string& path, bool append) {
    g_logPath = path;
    g_logAppend = append;
}

const std::string& LogPath() {
    return g_logPath;
}

void SetLogSession(const std::string& command, const std::string& driver) {
    g_logCommand = command;
    g_logDriver = driver;
}

void SetStartDriverSpec(const std::string& spec) {
    g_startDriver = spec;
}

const std::string& StartDriverSpec() {
    return g_startDriver;
}

bool OpenLog() {
    CloseLog();
    g_logFailure.clear();
    if (g_logPath.empty()) return false;
    g_log = std::fopen(g_logPath.c_str(), g_logAppend ? "at" : "wt");
    if (g_log == nullptr) {
        LogFailed(std::strerror(errno));
        return false;
    }
    const std::time_t now = std::time(nullptr);
    char when[64] = "?";
    if (const std::tm* local = std::localtime(&now))
        std::strftime(when, sizeof when, "Date : %Y-%m-%d Time : %H:%M:%S", local);
    LogPrintf("Session -->          %s Command : %s Driver : %s Read check : %s\n", when,
              g_logCommand.c_str(), g_logDriver.c_str(), g_link.ReadCheck() ? "on" : "off");
    return true;
}

void CloseLog() {
    if (g_log != nullptr && std::fclose(g_log) != 0) LogFailed(std::strerror(errno));
    g_log = nullptr;
}

const std::string& LogFailure() {
    return g_logFailure;
}

std::string LogResult(bool ok, std::optional<uint32_t> stopAt) {
    if (ok) return "Ok";
    if (!g_link.StopRequested()) return "Ko";
    return stopAt ? "Ko interrupted at " + Hex8(*stopAt) : "Ko interrupted";
}

void NoteStandInHandlers(ILinkObserver& observer, const std::string& path) {
    static bool said = false;
    const port::IPortDriver* driver = port::SelectedPortDriver();
    const std::string& work = g_settings.m_workDir;
    if (said || driver == nullptr || std::strcmp(driver->Name(), "sim") == 0 ||
        path.compare(0, work.size(), work) == 0)
        return;
    said = true;
    std::string own = work + g_settings.m_szTrapDir;
#ifndef _WIN32
    std::replace(own.begin(), own.end(), '\\', '/');
#endif
    observer.ShowStatus("Stand-in trap handlers from " +
                        path.substr(0, path.size() - FileNameOf(path).size()) +
                        " run only on the virtual board: put the board's own in " + own);
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
