// A scripted operating system for the ppdev and direct-I/O backends: files, device nodes,
// rights and failures are set up by the test; every call is recorded in order.
#pragma once

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "port/linux/PosixOs.h"

namespace port::test {

class FakePosixOs final : public IPosixOs {
  public:
    struct IoctlCall {
        int fd;
        unsigned long request;
        int value;  // the byte or int passed in (written) or returned (read)
    };

    // Set-up.
    std::map<std::string, std::string> files;  // ReadFile contents
    std::set<std::string> paths;               // Exists
    std::map<std::string, int> openErrors;     // path -> errno on open
    std::map<unsigned long, int> ioctlErrors;  // request -> errno
    unsigned uid = 0;
    int iopermErrno = 0;  // 0 = granted
    uint8_t statusValue = 0x7F;
    uint8_t controlValue = 0x0C;
    uint8_t dataValue = 0;

    // What happened.
    std::vector<std::string> log;
    std::vector<IoctlCall> ioctls;
    std::vector<std::string> commands;
    std::set<int> openFds;
    std::map<int, std::string> fdPaths;

    void AddParport(int index, unsigned base) {
        files["/proc/sys/dev/parport/parport" + std::to_string(index) + "/base-addr"] =
            std::to_string(base) + "\t" + std::to_string(base + 0x400) + "\n";
        paths.insert("/dev/parport" + std::to_string(index));
    }

    int Open(const char* path, int) override {
        log.push_back(std::string("open ") + path);
        if (auto e = openErrors.find(path); e != openErrors.end()) return Fail(e->second);
        if (!paths.count(path)) return Fail(ENOENT);
        const int fd = nextFd_++;
        openFds.insert(fd);
        fdPaths[fd] = path;
        return fd;
    }
    int Close(int fd) override {
        log.push_back("close " + fdPaths[fd]);
        return openFds.erase(fd) ? 0 : Fail(EBADF);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        static const std::map<unsigned long, const char*> names{
            {PPCLAIM, "PPCLAIM"},       {PPRELEASE, "PPRELEASE"},  {PPSETMODE, "PPSETMODE"},
            {PPWDATA, "PPWDATA"},       {PPRDATA, "PPRDATA"},      {PPRSTATUS, "PPRSTATUS"},
            {PPWCONTROL, "PPWCONTROL"}, {PPRCONTROL, "PPRCONTROL"}};
        const auto name = names.find(request);
        log.push_back(std::string("ioctl ") + (name != names.end() ? name->second : "?") + " " +
                      fdPaths[fd]);
        if (!openFds.count(fd)) return Fail(EBADF);
        if (auto e = ioctlErrors.find(request); e != ioctlErrors.end()) return Fail(e->second);
        int value = -1;
        auto* byte = static_cast<unsigned char*>(arg);
        if (request == PPSETMODE) value = *static_cast<int*>(arg);
        if (request == PPWDATA) value = dataValue = *byte;
        if (request == PPWCONTROL) value = controlValue = *byte;
        if (request == PPRDATA) value = *byte = dataValue;
        if (request == PPRSTATUS) value = *byte = statusValue;
        if (request == PPRCONTROL) value = *byte = controlValue;
        ioctls.push_back({fd, request, value});
        return 0;
    }
    int Ioperm(unsigned long from, unsigned long num, int on) override {
        log.push_back("ioperm " + Hex(from) + " " + std::to_string(num) + " " + std::to_string(on));
        if (iopermErrno == ENOSYS) return Fail(ENOSYS);
        if (num == 0) return Fail(EINVAL);
        if (on && iopermErrno != 0) return Fail(iopermErrno);
        return 0;
    }
    void Outb(uint8_t value, uint16_t port) override {
        log.push_back("outb " + Hex(port) + " " + Hex(value));
    }
    uint8_t Inb(uint16_t port) override {
        log.push_back("inb " + Hex(port));
        return statusValue;
    }
    bool ReadFile(const std::string& path, std::string& out) override {
        const auto f = files.find(path);
        if (f != files.end()) out = f->second;
        return f != files.end();
    }
    bool Exists(const std::string& path) override {
        return paths.count(path) != 0 || files.count(path) != 0;
    }
    unsigned GetUid() override { return uid; }
    std::string KernelRelease() override { return "6.1.0-test"; }
    int Run(const std::string& command) override {
        commands.push_back(command);
        if (onRun) onRun(command);
        return 0;
    }
    void (*onRun)(const std::string&) = nullptr;
    // Lock files held by other processes: path -> their PID.
    std::map<std::string, int> lockHolders;
    int Lock(const std::string& path, int, int& holder) override {
        holder = 0;
        if (auto h = lockHolders.find(path); h != lockHolders.end()) {
            holder = h->second;
            return Fail(EWOULDBLOCK);
        }
        return nextFd_++;
    }
    void Unlock(int) override {}

    // How many recorded calls begin with prefix.
    int Calls(const std::string& prefix) const {
        int n = 0;
        for (const auto& e : log) n += e.rfind(prefix, 0) == 0;
        return n;
    }

    static std::string Hex(unsigned long v) {
        char text[24];
        std::snprintf(text, sizeof text, "0x%lX", v);
        return text;
    }

  private:
    int Fail(int error) {
        errno = error;
        return -1;
    }
    int nextFd_ = 10;
};

}  // namespace port::test
