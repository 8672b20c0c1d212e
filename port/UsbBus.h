// The USB seam below the FTDI cable: the few libusb-1.0 calls it makes, as an interface, so
// the cable runs on libusb (port/usb/LibUsbBus.cpp, built when libusb-1.0 is found) or on the
// emulated adapter (port/SimUsbBus.cpp). Results are libusb's numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace port {

// libusb-1.0's error numbers, those the cable acts on.
enum UsbResult : int {
    kUsbOk = 0,
    kUsbIo = -1,
    kUsbInvalidParam = -2,
    kUsbAccess = -3,
    kUsbNoDevice = -4,
    kUsbNotFound = -5,
    kUsbBusy = -6,
    kUsbTimeout = -7,
    kUsbOverflow = -8,
    kUsbPipe = -9,
    kUsbNotSupported = -12,
};
// libusb_error_name's text for the numbers above.
const char* UsbErrorName(int result);

// A device on the bus, from its device descriptor.
struct UsbDeviceId {
    uint16_t vid = 0;
    uint16_t pid = 0;
    uint16_t bcdDevice = 0;
    uint8_t bus = 0;
    uint8_t address = 0;
};

// An opened device (libusb_device_handle); destroying it closes it.
class IUsbDevice {
  public:
    virtual ~IUsbDevice() = default;
    virtual int SerialNumber(std::string& out) = 0;  // string descriptor iSerialNumber
    virtual int KernelDriverActive(int interface) = 0;
    virtual int DetachKernelDriver(int interface) = 0;
    virtual int ClaimInterface(int interface) = 0;
    virtual int ReleaseInterface(int interface) = 0;
    // A vendor request to the device (bmRequestType 0x40), no data stage.
    virtual int ControlOut(uint8_t request, uint16_t value, uint16_t index, unsigned timeoutMs) = 0;
    virtual int BulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                             unsigned timeoutMs) = 0;
};

class IUsbBus {
  public:
    virtual ~IUsbBus() = default;
    // Every device on the bus; a negative result when the bus cannot be listed.
    virtual int List(std::vector<UsbDeviceId>& out) = 0;
    // Opens device `index` of the last List.
    virtual int Open(size_t index, std::unique_ptr<IUsbDevice>& out) = 0;
};

// The real bus through libusb-1.0, or null when this build has no libusb.
std::unique_ptr<IUsbBus> OpenLibUsbBus(std::string& error);

}  // namespace port
