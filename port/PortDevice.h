// The port-device seam: the two synchronous requests of the port driver, nothing else.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port/Cable.h"

namespace port {

// Write one port byte. Input: 3 bytes, port address little-endian in bytes 0-1, value in byte 2.
// No output buffer.
constexpr uint32_t kIoctlWritePort = 0x9C402414;
// Read one port byte. Input: 2 bytes, port address little-endian. Output: 1 byte, the value
// (the caller passes the same buffer as input and output).
constexpr uint32_t kIoctlReadPort = 0x9C402410;

// A request checked against the two the seam takes.
struct PortRequest {
    bool write;
    uint16_t address;
};

constexpr uint32_t kErrorInvalidFunction = 1;
constexpr uint32_t kErrorInvalidHandle = 6;  // no device is open
constexpr uint32_t kErrorInvalidParameter = 87;

// 0 when the request is one of the two with its exact buffer sizes, else the Windows error code
// the driver would give. Inline: it is on the per-clock path of every backend.
inline uint32_t DecodePortRequest(uint32_t code, const uint8_t* in, uint32_t inLen,
                                  const uint8_t* out, uint32_t outLen, PortRequest& request) {
    if (code != kIoctlWritePort && code != kIoctlReadPort) return kErrorInvalidFunction;
    request.write = code == kIoctlWritePort;
    if (in == nullptr) return kErrorInvalidParameter;
    if (request.write ? inLen != 3 : (inLen != 2 || out == nullptr || outLen != 1))
        return kErrorInvalidParameter;
    request.address = static_cast<uint16_t>(in[0] | (in[1] << 8));
    return 0;
}

// An opened port device (what a handle to "\\.\PortTalk" is on Windows).
//
// Contract: every backend accepts exactly the two requests above, with exactly those buffer
// sizes, and serves whichever port address a request names (the operator may switch the LPT
// base while the device is open). A request completes before the call returns. On failure the
// call returns false and LastError() gives a system error code for the message line.
// DeviceIoControl is on the per-clock path: it must not allocate, format or lock.
class IPortDevice {
  public:
    virtual ~IPortDevice() = default;
    virtual bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                                 uint32_t outLen) = 0;
    virtual uint32_t LastError() const = 0;
};

// A device that serves the two requests as single register accesses: the requests are decoded
// and refused here, so a backend only provides
//   bool Access(bool write, uint16_t address, uint8_t& value);
// which puts `value` (write) or sets it (read), and on failure returns false with lastError_
// set. Static dispatch keeps the per-clock path to one virtual call.
template <class Backend>
class RegisterPortDevice : public IPortDevice {
  public:
    bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                         uint32_t outLen) final {
        PortRequest request;
        if (const uint32_t error = DecodePortRequest(code, in, inLen, out, outLen, request)) {
            lastError_ = error;
            return false;
        }
        uint8_t value = request.write ? in[2] : 0;
        if (!static_cast<Backend*>(this)->Access(request.write, request.address, value))
            return false;
        if (!request.write) out[0] = value;
        return true;
    }
    uint32_t LastError() const final { return lastError_; }

  protected:
    uint32_t lastError_ = 0;
};

// The Windows error codes the service control manager gives that the client acts on.
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorServiceExists = 1073;

// What stands in for the service control manager, the system directory and the file copy
// used to install and start the driver. Results are Windows error codes (0 = success), so
// every backend keeps the same messages and order of attempts.
class IServiceControl {
  public:
    virtual ~IServiceControl() = default;
    virtual uint32_t OpenManager() = 0;                                 // OpenSCManagerA
    virtual bool SystemDirectory(std::string& out, size_t maxLen) = 0;  // GetSystemDirectoryA
    virtual bool FileReadable(const std::string& path) = 0;             // fopen(path, "r")
    virtual bool CopyDriverFile(const std::string& from, const std::string& to) = 0;  // CopyFileA
    virtual uint32_t CreateDriverService(const std::string& name, const std::string& display,
                                         uint32_t access, uint32_t type, uint32_t start,
                                         uint32_t errorControl,
                                         const std::string& binaryPath) = 0;  // CreateServiceA
    virtual uint32_t OpenDriverService(const std::string& name, uint32_t access) = 0;
    virtual uint32_t StartDriverService() = 0;  // StartServiceA
    virtual void CloseDriverService() = 0;      // CloseServiceHandle
    // Appended to the system directory to name the installed driver file.
    virtual std::string DriverFileSuffix() const { return "\\Drivers\\PortTalk.sys"; }
};

// One port driver backend: opens its device, or its cable, and offers a service manager to
// start it. OpenDevice returns null when the device cannot be opened (an invalid handle). Why
// it could not be opened, or why its device or cable last failed, is in LastErrorText() when
// the backend knows better than an error number.
// Services() may return null for backends with nothing to install (remote, virtual board).
//
// Every backend ends in a cable. A backend with port registers returns its device from
// OpenDevice and keeps the default OpenCable: the client then clocks the device through the
// parallel-port cable (ParallelCable). A backend that drives the JTAG lines itself (a remote
// server, a USB or GPIO adapter) returns null from OpenDevice and its cable from OpenCable,
// or null when it cannot open one. OpenCable is called right after OpenDevice, each time the
// client opens the backend.
class IPortDriver {
  public:
    virtual ~IPortDriver() = default;
    virtual const char* Name() const = 0;
    virtual std::unique_ptr<IPortDevice> OpenDevice() = 0;
    virtual std::unique_ptr<ICable> OpenCable(const CableOptions& options) {
        (void)options;
        return nullptr;
    }
    virtual IServiceControl* Services() = 0;
    virtual std::string LastErrorText() const { return {}; }
};

}  // namespace port
