#include "port/win/PortTalkDriver.h"

#include <windows.h>

#include <cstdio>

namespace port {

namespace {

class PortTalkDevice final : public IPortDevice {
  public:
    explicit PortTalkDevice(HANDLE handle) : handle_(handle) {}
    ~PortTalkDevice() override { CloseHandle(handle_); }

    bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                         uint32_t outLen) override {
        DWORD returned = 0;
        if (::DeviceIoControl(handle_, code, const_cast<uint8_t*>(in), inLen, out, outLen,
                              &returned, nullptr))
            return true;
        lastError_ = GetLastError();
        return false;
    }
    uint32_t LastError() const override { return lastError_; }

  private:
    HANDLE handle_;
    uint32_t lastError_ = 0;
};

}  // namespace

// The manager handle is kept for the process, as the driver client never closes it; a
// second OpenManager replaces it.
class PortTalkServices final : public IServiceControl {
  public:
    ~PortTalkServices() override {
        CloseDriverService();
        if (manager_ != nullptr) CloseServiceHandle(manager_);
    }

    uint32_t OpenManager() override {
        if (manager_ != nullptr) CloseServiceHandle(manager_);
        manager_ = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        return manager_ != nullptr ? 0 : GetLastError();
    }

    bool SystemDirectory(std::string& out, size_t maxLen) override {
        char path[MAX_PATH] = {};
        if (maxLen > sizeof path) maxLen = sizeof path;
        const UINT n = GetSystemDirectoryA(path, static_cast<UINT>(maxLen));
        // A longer directory returns the size it needs and leaves the buffer untouched.
        if (n == 0 || n >= maxLen) return false;
        out.assign(path, n);
        return true;
    }

    bool FileReadable(const std::string& path) override {
        std::FILE* f = std::fopen(path.c_str(), "r");
        if (f == nullptr) return false;
        std::fclose(f);
        return true;
    }

    bool CopyDriverFile(const std::string& from, const std::string& to) override {
        return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
    }

    uint32_t CreateDriverService(const std::string& name, const std::string& display,
                                 uint32_t access, uint32_t type, uint32_t start,
                                 uint32_t errorControl, const std::string& binaryPath) override {
        CloseDriverService();
        service_ = CreateServiceA(manager_, name.c_str(), display.c_str(), access, type, start,
                                  errorControl, binaryPath.c_str(), nullptr, nullptr, nullptr,
                                  nullptr, nullptr);
        return service_ != nullptr ? 0 : GetLastError();
    }

    uint32_t OpenDriverService(const std::string& name, uint32_t access) override {
        CloseDriverService();
        service_ = OpenServiceA(manager_, name.c_str(), access);
        return service_ != nullptr ? 0 : GetLastError();
    }

    uint32_t StartDriverService() override {
        return StartServiceA(service_, 0, nullptr) ? 0 : GetLastError();
    }

    void CloseDriverService() override {
        if (service_ != nullptr) CloseServiceHandle(service_);
        service_ = nullptr;
    }

  private:
    SC_HANDLE manager_ = nullptr;
    SC_HANDLE service_ = nullptr;
};

PortTalkDriver::PortTalkDriver() : services_(std::make_unique<PortTalkServices>()) {}
PortTalkDriver::~PortTalkDriver() = default;

IServiceControl* PortTalkDriver::Services() {
    return services_.get();
}

std::unique_ptr<IPortDevice> PortTalkDriver::OpenDevice() {
    const HANDLE handle = CreateFileA("\\\\.\\PortTalk", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        char text[96];
        std::snprintf(text, sizeof text, "porttalk: cannot open \\\\.\\PortTalk (error %lu)",
                      GetLastError());
        error_ = text;
        return nullptr;
    }
    error_.clear();
    return std::make_unique<PortTalkDevice>(handle);
}

}  // namespace port
