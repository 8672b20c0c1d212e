// Minimal client; the full driver start-up logic replaces StartPortDriver and friends.
#include "port/PortTalk.h"

#include <cstdio>

namespace {

std::unique_ptr<port::IPortDriver> g_driver;
std::unique_ptr<port::IPortDevice> g_device;
std::FILE* g_out = nullptr;

std::FILE* Out() { return g_out != nullptr ? g_out : stdout; }

constexpr uint32_t kErrorInvalidHandle = 6;

}  // namespace

namespace port {

void SelectPortDriver(std::unique_ptr<IPortDriver> driver) {
    g_device.reset();
    g_driver = std::move(driver);
}
IPortDriver* SelectedPortDriver() { return g_driver.get(); }
IPortDevice* OpenedPortDevice() { return g_device.get(); }
void SetPortMessageStream(std::FILE* stream) { g_out = stream; }

}  // namespace port

uint8_t OpenPortDriver() {
    if (g_driver) g_device = g_driver->OpenDevice();
    if (g_device) return 0;
    StartPortDriver();
    if (g_driver) g_device = g_driver->OpenDevice();
    if (g_device) return 0;
    std::fprintf(Out(), "PortTalk: Couldn't access PortTalk Driver, Please ensure driver is loaded.\n\n");
    return 255;
}

void outportb(uint16_t port, uint8_t value) {
    const uint8_t buffer[3] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8), value};
    if (g_device && g_device->DeviceIoControl(port::kIoctlWritePort, buffer, 3, nullptr, 0)) return;
    std::fprintf(Out(), "Error occured during outportb while talking to PortTalk driver %d\n",
                 static_cast<int>(g_device ? g_device->LastError() : kErrorInvalidHandle));
}

uint8_t inportb(uint16_t port) {
    uint8_t buffer[2] = {static_cast<uint8_t>(port), static_cast<uint8_t>(port >> 8)};
    if (g_device && g_device->DeviceIoControl(port::kIoctlReadPort, buffer, 2, buffer, 1))
        return buffer[0];
    std::fprintf(Out(), "Error occured during inportb while talking to PortTalk driver %d\n",
                 static_cast<int>(g_device ? g_device->LastError() : kErrorInvalidHandle));
    return 0xFF;
}

bool StartPortDriver() { return false; }
void InstallPortDriver() {}
int CheckPortDriverFile() { return -1; }
