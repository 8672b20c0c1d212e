#include "port/linux/PosixOs.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define TAPWRIGHT_HAVE_PORT_IO 1
#endif

#include <cerrno>

#include "port/ResourceLock.h"

namespace port {

namespace {

class RealOs final : public IPosixOs {
  public:
    int Open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
    int Close(int fd) override { return ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        return ::ioctl(fd, request, arg);
    }
    int Ioperm(unsigned long from, unsigned long num, int on) override {
#ifdef TAPWRIGHT_HAVE_PORT_IO
        return ::ioperm(from, num, on);
#else
        (void)from, (void)num, (void)on;
        errno = ENOSYS;
        return -1;
#endif
    }
    void Outb(uint8_t value, uint16_t port) override {
#ifdef TAPWRIGHT_HAVE_PORT_IO
        ::outb(value, port);
#else
        (void)value, (void)port;
#endif
    }
    uint8_t Inb(uint16_t port) override {
#ifdef TAPWRIGHT_HAVE_PORT_IO
        return ::inb(port);
#else
        (void)port;
        return 0xFF;
#endif
    }
    bool ReadFile(const std::string& path, std::string& out) override {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f == nullptr) return false;
        out.clear();
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0 && out.size() < 65536)
            out.append(buffer, n);
        std::fclose(f);
        return true;
    }
    bool Exists(const std::string& path) override {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0;
    }
    unsigned GetUid() override {
        return ::getuid();
    }
    std::string KernelRelease() override {
        struct utsname u {};
        if (::uname(&u) != 0) return {};
        return u.release;
    }
    int Lock(const std::string& path, int waitMs, int& holder) override {
        return LockFile(path, waitMs, holder);
    }
    void Unlock(int handle) override {
        UnlockFile(handle);
    }
    int Run(const std::string& command) override {
        // Quiet: what failed is said by the caller, in terms of the fix.
        const int status = std::system((command + " >/dev/null 2>&1").c_str());
        if (status == -1 || !WIFEXITED(status)) return -1;
        return WEXITSTATUS(status);
    }
};

}  // namespace

IPosixOs& RealPosixOs() {
    // Never destroyed: a device still open at exit releases its port through it.
    static RealOs* os = new RealOs;
    return *os;
}

}  // namespace port
