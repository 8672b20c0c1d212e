// The operating-system calls below the ppdev and direct-I/O backends. Tests put a fake here
// to check what a real port needs without one; the default forwards to the real calls.
#pragma once

#include <cstdint>
#include <string>

namespace port {

// Every call mirrors the POSIX one: -1 and errno on failure unless stated otherwise.
// Inb/Outb/Ioctl are on the per-clock path of their backends.
class IPosixOs {
  public:
    virtual ~IPosixOs() = default;
    virtual int Open(const char* path, int flags) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int Ioperm(unsigned long from, unsigned long num, int on) = 0;
    virtual void Outb(uint8_t value, uint16_t port) = 0;
    virtual uint8_t Inb(uint16_t port) = 0;
    // Whole small file (/proc, /sys); false when it cannot be read.
    virtual bool ReadFile(const std::string& path, std::string& out) = 0;
    // stat() succeeds.
    virtual bool Exists(const std::string& path) = 0;
    virtual unsigned GetUid() = 0;
    // The running kernel's release (uname -r).
    virtual std::string KernelRelease() = 0;
    // Runs a command line (modprobe); its exit status, -1 when it could not run.
    virtual int Run(const std::string& command) = 0;
    // port::LockFile and port::UnlockFile: one process per parallel port.
    virtual int Lock(const std::string& path, int waitMs, int& holder) = 0;
    virtual void Unlock(int handle) = 0;
};

// The real calls; lives for the whole process.
IPosixOs& RealPosixOs();

}  // namespace port
