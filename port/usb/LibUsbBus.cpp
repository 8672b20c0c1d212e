// The USB seam on libusb-1.0 (built when libusb-1.0 is found).
#include <libusb.h>

#include "port/UsbBus.h"

namespace port {

namespace {

class LibUsbDevice final : public IUsbDevice {
  public:
    LibUsbDevice(libusb_device_handle* handle, uint8_t serialIndex)
        : handle_(handle), serialIndex_(serialIndex) {}
    ~LibUsbDevice() override { libusb_close(handle_); }
    int SerialNumber(std::string& out) override {
        if (serialIndex_ == 0) return kUsbNotFound;
        unsigned char text[128];
        const int n = libusb_get_string_descriptor_ascii(handle_, serialIndex_, text, sizeof text);
        if (n >= 0) out.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(n));
        return n;
    }
    int KernelDriverActive(int interface) override {
        return libusb_kernel_driver_active(handle_, interface);
    }
    int DetachKernelDriver(int interface) override {
        return libusb_detach_kernel_driver(handle_, interface);
    }
    int ClaimInterface(int interface) override {
        return libusb_claim_interface(handle_, interface);
    }
    int ReleaseInterface(int interface) override {
        return libusb_release_interface(handle_, interface);
    }
    int ControlOut(uint8_t request, uint16_t value, uint16_t index, unsigned timeoutMs) override {
        constexpr uint8_t kVendorOut = 0x40;  // vendor request to the device, host to device
        return libusb_control_transfer(handle_, kVendorOut, request, value, index, nullptr, 0,
                                       timeoutMs);
    }
    int BulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                     unsigned timeoutMs) override {
        return libusb_bulk_transfer(handle_, endpoint, data, length, transferred, timeoutMs);
    }

  private:
    libusb_device_handle* handle_;
    uint8_t serialIndex_;
};

class LibUsbBus final : public IUsbBus {
  public:
    explicit LibUsbBus(libusb_context* context) : context_(context) {}
    ~LibUsbBus() override {
        Unref();
        libusb_exit(context_);
    }
    int List(std::vector<UsbDeviceId>& out) override {
        Unref();
        out.clear();
        libusb_device** list = nullptr;
        const ssize_t n = libusb_get_device_list(context_, &list);
        if (n < 0) return static_cast<int>(n);
        for (ssize_t i = 0; i < n; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) != 0) continue;
            out.push_back({d.idVendor, d.idProduct, d.bcdDevice, libusb_get_bus_number(list[i]),
                           libusb_get_device_address(list[i])});
            devices_.push_back(libusb_ref_device(list[i]));
            serials_.push_back(d.iSerialNumber);
        }
        libusb_free_device_list(list, 1);
        return kUsbOk;
    }
    int Open(size_t index, std::unique_ptr<IUsbDevice>& out) override {
        if (index >= devices_.size()) return kUsbNotFound;
        libusb_device_handle* handle = nullptr;
        if (const int r = libusb_open(devices_[index], &handle); r != 0) return r;
        out = std::make_unique<LibUsbDevice>(handle, serials_[index]);
        return kUsbOk;
    }

  private:
    void Unref() {
        for (libusb_device* d : devices_) libusb_unref_device(d);
        devices_.clear();
        serials_.clear();
    }
    libusb_context* context_;
    std::vector<libusb_device*> devices_;
    std::vector<uint8_t> serials_;
};

}  // namespace

std::unique_ptr<IUsbBus> OpenLibUsbBus(std::string& error) {
    libusb_context* context = nullptr;
    if (const int r = libusb_init(&context); r != 0) {
        error = std::string("ftdi: libusb could not start (") + libusb_error_name(r) + ")";
        return nullptr;
    }
    return std::make_unique<LibUsbBus>(context);
}

}  // namespace port
