// The port driver client: one process-wide device handle, the two port primitives, and the
// install-and-start procedure run when the device cannot be opened.
#include "port/PortTalk.h"

#include <cstdio>
#include <string>

#include "port/DriverTable.h"
#include "port/ParallelCable.h"
#include "port/StaticOrder.h"

namespace {

std::unique_ptr<port::IPortDriver> g_driver TAPWRIGHT_BUILT_AT(kBuildPortState);
std::unique_ptr<port::IPortDevice> g_device TAPWRIGHT_BUILT_AT(kBuildPortState);
// Declared after the device: a cable may use it, so it goes first.
std::unique_ptr<port::ICable> g_cable TAPWRIGHT_BUILT_AT(kBuildPortState);
port::ParallelCable g_noCable TAPWRIGHT_BUILT_AT(kBuildPortState) = port::ParallelCable(nullptr,
                                                                                        false);
port::CableOptions g_cableOptions;
bool g_opened = false;  // the last OpenPortDriver opened a device or the backend's cable
std::FILE* g_out = nullptr;
port::RequestFailures g_failures;
uint64_t g_failureTotal = 0;
bool g_failureLines = true;

std::FILE* Out() {
    return g_out != nullptr ? g_out : stdout;
}

using port::kErrorAccessDenied;
using port::kErrorServiceAlreadyRunning;
using port::kErrorServiceDoesNotExist;
using port::kErrorServiceExists;
constexpr uint32_t kErrorInvalidName = 123;

constexpr uint32_t kServiceAllAccess = 0xF01FF;
constexpr uint32_t kServiceKernelDriver = 1;
constexpr uint32_t kServiceDemandStart = 3;
constexpr uint32_t kServiceErrorNormal = 1;
constexpr size_t kSystemDirectoryChars = 55;

constexpr const char* kServiceName = "PortTalk";
constexpr const char* kDriverSource = "PortTalk.sys";
constexpr const char* kServiceBinaryPath = "system32\\drivers\\PortTalk.sys";

void SetOpenedCable(std::unique_ptr<port::ICable> cable) {
    g_cable = std::move(cable);
    port::detail::g_openedCable = g_cable ? g_cable.get() : &g_noCable;
    ++port::detail::g_openedCableSerial;
}

// The backend's own cable, or the parallel-port cable over its device.
bool OpenBackend() {
    if (!g_driver) return false;
    g_device = g_driver->OpenDevice();
    std::unique_ptr<port::ICable> cable = g_driver->OpenCable(g_cableOptions);
    if (!cable && g_device)
        cable = std::make_unique<port::ParallelCable>(g_device.get(), g_cableOptions.fastClock);
    g_opened = cable != nullptr;
    SetOpenedCable(std::move(cable));
    return g_opened;
}

// The check-install-open cycle gives up after this many rounds when the service still
// cannot be opened for an unexpected reason.
constexpr int kServiceOpenAttempts = 2;

port::IServiceControl* Services() {
    return g_driver ? g_driver->Services() : nullptr;
}

// System directory + driver file name; a failed directory lookup leaves it relative.
std::string DriverTargetPath(port::IServiceControl& services) {
    std::string dir;
    if (!services.SystemDirectory(dir, kSystemDirectoryChars)) {
        std::fprintf(Out(),
                     "PortTalk: Failed to get System Directory. Is System Directory Path > 55 "
                     "Characters?\n");
        std::fprintf(Out(),
                     "PortTalk: Please manually copy driver to your system32/driver directory.\n");
        dir.clear();
    }
    if (dir.size() > kSystemDirectoryChars) dir.resize(kSystemDirectoryChars);
    return dir + services.DriverFileSuffix();
}

}  // namespace

namespace port {

namespace detail {
ICable* g_openedCable = &g_noCable;
uint32_t g_openedCableSerial = 0;
}  // namespace detail

std::unique_ptr<IPortDriver> SelectPortDriver(std::unique_ptr<IPortDriver> driver) {
    g_opened = false;
    SetOpenedCable(nullptr);
    g_device.reset();
    std::swap(g_driver, driver);
    return driver;
}
IPortDriver* SelectedPortDriver() {
    return g_driver.get();
}
IPortDevice* OpenedPortDevice() {
    return g_device.get();
}
bool PortOpened() {
    return g_opened;
}
void SetCableOptions(const CableOptions& options) {
    g_cableOptions = options;
}
const CableOptions& SelectedCableOptions() {
    return g_cableOptions;
}
void SetPortMessageStream(std::FILE* stream) {
    g_out = stream;
}
const RequestFailures& PortRequestFailures() {
    return g_failures;
}
void ResetPortRequestFailures(bool writeLines) {
    g_failures = {};
    g_failureLines = writeLines;
}
uint64_t RequestFailureTotal() {
    return g_failureTotal;
}
// Counted, and written as the driver client writes it, unless the front end reports it.
void RequestFailed(const char* primitive, uint32_t error) {
    ++g_failureTotal;
    if (g_failures.count++ == 0) g_failures.firstError = error;
    if (g_failureLines)
        std::fprintf(Out(), "Error occured during %s while talking to PortTalk driver %d\n",
                     primitive, static_cast<int>(error));
}

}  // namespace port

uint8_t OpenPortDriver() {
    g_opened = false;
    SetOpenedCable(nullptr);
    g_device.reset();
    if (!g_driver) {
        std::string error;
        g_driver = port::CreatePortDriver(port::DefaultDriverName(), error);
    }
    if (OpenBackend()) return 0;
    // A backend with no driver service of its own says why in LastErrorText: the PortTalk
    // lines would only send its user after a Windows driver.
    if (Services() != nullptr) {
        StartPortDriver();
        if (OpenBackend()) return 0;
        std::fprintf(
            Out(),
            "PortTalk: Couldn't access PortTalk Driver, Please ensure driver is loaded.\n\n");
    }
    // Every clock still goes somewhere: to the primitives, which fail and say so.
    SetOpenedCable(std::make_unique<port::ParallelCable>(nullptr, g_cableOptions.fastClock));
    return 255;
}

void outportb(uint16_t port, uint8_t value) {
    port::WritePortByte(g_device.get(), port, value);
}

uint8_t inportb(uint16_t port) {
    return port::ReadPortByte(g_device.get(), port);
}

int CheckPortDriverFile() {
    port::IServiceControl* services = Services();
    if (services == nullptr) return -1;
    const std::string path = DriverTargetPath(*services);
    std::fprintf(Out(), "PortTalk: Verify if driver is present in %s\n", path.c_str());
    if (services->FileReadable(path)) return 0;
    std::fprintf(Out(), "PortTalk: Failed to find driver in %s\n", path.c_str());
    return -1;
}

void InstallPortDriver() {
    port::IServiceControl* services = Services();
    if (services == nullptr) return;
    const std::string path = DriverTargetPath(*services);
    std::fprintf(Out(), "PortTalk: Copying driver to %s\n", path.c_str());
    if (!services->CopyDriverFile(kDriverSource, path)) {
        std::fprintf(Out(), "PortTalk: Failed to copy driver to %s\n", path.c_str());
        std::fprintf(Out(),
                     "PortTalk: Please manually copy driver to your system32/driver directory.\n");
    }
    services->OpenManager();
    const uint32_t error = services->CreateDriverService(
        kServiceName, kServiceName, kServiceAllAccess, kServiceKernelDriver, kServiceDemandStart,
        kServiceErrorNormal, kServiceBinaryPath);
    if (error == 0)
        std::fprintf(Out(), "PortTalk: Driver successfully installed.\n");
    else if (error == kErrorServiceExists)
        std::fprintf(Out(), "PortTalk: Driver already exists. No action taken.\n");
    else
        std::fprintf(Out(), "PortTalk: Unknown error while creating Service.\n");
    services->CloseDriverService();
}

// Backends without a service to start (virtual board, remote server) write nothing here:
// their own reason is in IPortDriver::LastErrorText and the "Couldn't access" line follows.
bool StartPortDriver() {
    port::IServiceControl* services = Services();
    if (services == nullptr) return false;
    if (services->OpenManager() == kErrorAccessDenied) {
        std::fprintf(
            Out(), "PortTalk: You do not have rights to access the Service Control Manager and\n");
        std::fprintf(Out(),
                     "PortTalk: the PortTalk driver is not installed or started. Please ask \n");
        std::fprintf(Out(), "PortTalk: your administrator to install the driver on your behalf.\n");
        return false;
    }
    bool opened = false;
    for (int attempt = 0; attempt < kServiceOpenAttempts && !opened; ++attempt) {
        if (CheckPortDriverFile() == -1) InstallPortDriver();
        const uint32_t error = services->OpenDriverService(kServiceName, kServiceAllAccess);
        if (error == 0) {
            opened = true;
        } else if (error == kErrorAccessDenied) {
            std::fprintf(Out(),
                         "PortTalk: You do not have rights to the PortTalk service database\n");
            return false;
        } else if (error == kErrorInvalidName) {
            std::fprintf(Out(), "PortTalk: The specified service name is invalid.\n");
            return false;
        } else if (error == kErrorServiceDoesNotExist) {
            std::fprintf(Out(),
                         "PortTalk: The PortTalk driver does not exist. Installing driver.\n");
            std::fprintf(Out(), "PortTalk: This can take up to 30 seconds on some machines . .\n");
            InstallPortDriver();
        }
    }
    if (!opened) return false;

    const uint32_t error = services->StartDriverService();
    if (error == 0) {
        std::fprintf(Out(), "PortTalk: The PortTalk driver has been successfully started.\n");
    } else if (error == kErrorServiceAlreadyRunning) {
        std::fprintf(Out(), "PortTalk: The PortTalk driver is already running.\n");
    } else {
        std::fprintf(Out(), "PortTalk: Unknown error while starting PortTalk driver service.\n");
        std::fprintf(Out(),
                     "PortTalk: Does PortTalk.SYS exist in your \\System32\\Drivers Directory?\n");
        services->CloseDriverService();
        return false;
    }
    services->CloseDriverService();
    return true;
}
