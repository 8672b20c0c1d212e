#include "port/ResourceLock.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace port {

namespace {

int g_lockWait = 5;

constexpr int kPollMs = 100;

void Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
}

}  // namespace

void SetLockWait(int seconds) {
    g_lockWait = seconds < 0 ? 0 : seconds;
}

int LockWait() {
    return g_lockWait;
}

std::string DeviceLockPath(const std::string& name) {
    std::error_code ec;
    std::filesystem::path dir = "/run/lock";
    if (!std::filesystem::is_directory(dir, ec)) dir = std::filesystem::temp_directory_path(ec);
    return (dir / ("tapwright-" + name + ".lock")).string();
}

#ifdef _WIN32

// The lock is one byte far past the PID, so the waiting process can still read the PID.
constexpr DWORD kLockOffset = 0x40000000;

int LockFile(const std::string& path, int waitMs, int& holder) {
    holder = 0;
    const HANDLE file =
        CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        errno = EACCES;
        return -1;
    }
    for (int waited = 0;; waited += kPollMs) {
        OVERLAPPED at{};
        at.Offset = kLockOffset;
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            break;
        if (waited >= waitMs) {
            char text[16] = {};
            DWORD n = 0;
            if (ReadFile(file, text, sizeof text - 1, &n, nullptr)) holder = std::atoi(text);
            CloseHandle(file);
            errno = EWOULDBLOCK;
            return -1;
        }
        Pause();
    }
    const std::string pid = std::to_string(_getpid()) + "\r\n";
    DWORD n = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    WriteFile(file, pid.data(), static_cast<DWORD>(pid.size()), &n, nullptr);
    SetEndOfFile(file);
    return _open_osfhandle(reinterpret_cast<intptr_t>(file), 0);
}

void UnlockFile(int handle) {
    if (handle >= 0) _close(handle);  // closing the handle drops the lock
}

std::string DescribeProcess(int pid) {
    return pid > 0 ? "process " + std::to_string(pid) : "another process";
}

#else

int LockFile(const std::string& path, int waitMs, int& holder) {
    holder = 0;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    // Every user of the machine shares a device's lock file: the PID must stay writable.
    ::fchmod(fd, 0666);
    for (int waited = 0;; waited += kPollMs) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if (errno != EWOULDBLOCK && errno != EINTR) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return -1;
        }
        if (waited >= waitMs) {
            char text[16] = {};
            if (::pread(fd, text, sizeof text - 1, 0) > 0) holder = std::atoi(text);
            ::close(fd);
            errno = EWOULDBLOCK;
            return -1;
        }
        Pause();
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) < 0) {
        // The lock holds all the same; only the waiting side's message loses the PID.
    }
    return fd;
}

void UnlockFile(int handle) {
    if (handle >= 0) ::close(handle);  // closing the file drops the lock
}

std::string DescribeProcess(int pid) {
    if (pid <= 0) return "another process";
    std::string text = "process " + std::to_string(pid);
    if (std::FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/comm").c_str(), "r")) {
        char name[64] = {};
        if (std::fgets(name, sizeof name, f) != nullptr) {
            std::string n = name;
            if (!n.empty() && n.back() == '\n') n.pop_back();
            if (!n.empty()) text += " (" + n + ")";
        }
        std::fclose(f);
    }
    return text;
}

#endif

ResourceLock& ResourceLock::operator=(ResourceLock&& other) noexcept {
    if (this != &other) {
        UnlockFile(handle_);
        handle_ = other.handle_;
        other.handle_ = -1;
    }
    return *this;
}

ResourceLock::~ResourceLock() {
    UnlockFile(handle_);
}

bool ResourceLock::Acquire(const std::string& path, const std::string& what, std::string& error) {
    UnlockFile(handle_);
    int holder = 0;
    handle_ = LockFile(path, LockWait() * 1000, holder);
    if (handle_ >= 0 || errno != EWOULDBLOCK) return true;
    error = what + " is in use by " + DescribeProcess(holder) + " (waited " +
            std::to_string(LockWait()) + " s): let it finish first";
    return false;
}

bool LockBoardFolder(const std::string& dir, ResourceLock& lock, std::string& error) {
    if (dir.empty()) return true;
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return lock.Acquire((std::filesystem::path(dir) / "board.lock").string(),
                        "the board folder " + dir, error);
}

}  // namespace port
