#include "port/linux/PpdevDriver.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port/CableWiring.h"
#include "port/ResourceLock.h"

namespace port {

namespace {

constexpr int kMaxParports = 8;

const char* const kFixLoad = "load the drivers with `sudo modprobe parport_pc ppdev`";
const char* const kFixGroup =
    "add yourself to the lp group with `sudo usermod -aG lp $USER` and log in again";

std::string DevicePath(int index) {
    return "/dev/parport" + std::to_string(index);
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

bool AnyUsbPrinter(IPosixOs& os) {
    for (int n = 0; n < 16; ++n)
        if (os.Exists("/dev/usb/lp" + std::to_string(n))) return true;
    return false;
}

// `loaded`: the modules were loaded here and still no port showed.
std::string NoPortMessage(IPosixOs& os, bool loaded) {
    if (AnyUsbPrinter(os))
        return "ppdev: only a USB printer adapter (/dev/usb/lp*) is present; it offers no "
               "register access and cannot drive a JTAG cable: use a real parallel port "
               "(on-board or a PCI/PCIe card)";
    if (loaded)
        return "ppdev: no parallel port found with the parport_pc and ppdev modules loaded: "
               "this machine has none (fit a PCI/PCIe parallel card)";
    return std::string("ppdev: no parallel port found (/dev/parport0 missing): ") + kFixLoad;
}

std::string OpenFailureMessage(const std::string& path, int error) {
    if (error == EACCES || error == EPERM)
        return "ppdev: permission denied on " + path + ": " + kFixGroup;
    if (error == ENOENT || error == ENODEV || error == ENXIO)
        return "ppdev: " + path + " missing: " + kFixLoad;
    return "ppdev: cannot open " + path + ": " + std::strerror(error);
}

class PpdevDevice final : public RegisterPortDevice<PpdevDevice> {
  public:
    PpdevDevice(IPosixOs& os, const ParportInfo* ports, int count,
                std::shared_ptr<std::string> error)
        : os_(os), count_(count), error_(std::move(error)) {
        for (int i = 0; i < count; ++i) ports_[i].info = ports[i];
    }

    ~PpdevDevice() override {
        for (int i = 0; i < count_; ++i) {
            if (ports_[i].fd >= 0) {
                os_.Ioctl(ports_[i].fd, PPRELEASE, nullptr);
                os_.Close(ports_[i].fd);
            }
            os_.Unlock(ports_[i].lock);
        }
    }

    bool Access(bool write, uint16_t address, uint8_t& value) {
        Port* port = Select(static_cast<uint16_t>(address & ~3u));
        if (port == nullptr) return false;

        unsigned long request = 0;
        switch (address & 3u) {
            case cable::kDataRegister:
                request = write ? PPWDATA : PPRDATA;
                break;
            case cable::kStatusRegister:
                request = write ? 0 : PPRSTATUS;
                break;  // the status register is read-only
            case cable::kControlRegister:
                request = write ? PPWCONTROL : PPRCONTROL;
                break;
            default:
                break;  // EPP/ECP registers are not reachable through ppdev
        }
        if (!write) value = 0xFF;  // what a register ppdev cannot reach reads as
        if (request != 0 && os_.Ioctl(port->fd, request, &value) != 0) {
            lastError_ = static_cast<uint32_t>(errno);
            return false;
        }
        return true;
    }

  private:
    struct Port {
        ParportInfo info;
        int fd = -1;
        int lock = -1;    // one process per port
        int failure = 0;  // errno of a failed claim; not retried on every clock
    };

    Port* Select(uint16_t base) {
        if (last_ != nullptr && last_->info.base == base) return last_;
        Port* found = nullptr;
        for (int i = 0; i < count_; ++i)
            if (ports_[i].info.base == base) found = &ports_[i];
        if (found == nullptr) {
            lastError_ = ENODEV;
            if (base != missingBase_) ReportUnknownBase(base);
            return nullptr;
        }
        if (found->fd < 0 && !Claim(*found)) return nullptr;
        last_ = found;
        return found;
    }

    // Claimed before any other request, then switched to plain compatibility mode.
    bool Claim(Port& port) {
        if (port.failure != 0) {
            lastError_ = static_cast<uint32_t>(port.failure);
            return false;
        }
        const std::string path = DevicePath(port.info.index);
        // The direct backend takes the same lock for the same base. A lock file that cannot
        // be made guards nothing, and stops nothing either.
        char name[16];
        std::snprintf(name, sizeof name, "port-%04X", static_cast<unsigned>(port.info.base));
        int holder = 0;
        port.lock = os_.Lock(DeviceLockPath(name), LockWait() * 1000, holder);
        if (port.lock < 0 && errno == EWOULDBLOCK)
            return Fail(port, EBUSY,
                        "ppdev: " + path + " is in use by " + DescribeProcess(holder) +
                            ": let it finish first");
        const int fd = os_.Open(path.c_str(), O_RDWR);
        if (fd < 0) return Fail(port, errno, OpenFailureMessage(path, errno));
        if (os_.Ioctl(fd, PPCLAIM, nullptr) != 0) {
            const int error = errno;
            os_.Close(fd);
            if (error == EBUSY)
                return Fail(port, error,
                            "ppdev: " + path +
                                " is held by another driver: free it with `sudo rmmod lp` "
                                "or close the program using it");
            return Fail(port, error, "ppdev: cannot claim " + path + ": " + std::strerror(error));
        }
        int mode = IEEE1284_MODE_COMPAT;
        if (os_.Ioctl(fd, PPSETMODE, &mode) != 0) {
            const int error = errno;
            os_.Ioctl(fd, PPRELEASE, nullptr);
            os_.Close(fd);
            return Fail(
                port, error,
                "ppdev: cannot set compatibility mode on " + path + ": " + std::strerror(error));
        }
        port.fd = fd;
        return true;
    }

    bool Fail(Port& port, int error, std::string text) {
        port.failure = error;
        lastError_ = static_cast<uint32_t>(error);
        *error_ = std::move(text);
        return false;
    }

    void ReportUnknownBase(uint16_t base) {
        missingBase_ = base;
        std::string text = "ppdev: no parallel port at base " + Hex(base) + "; found:";
        for (int i = 0; i < count_; ++i) {
            char entry[48];
            std::snprintf(entry, sizeof entry, " /dev/parport%d at 0x%X", ports_[i].info.index,
                          static_cast<unsigned>(ports_[i].info.base));
            text += entry;
        }
        *error_ = text + " (choose one with --lpt or --lpt-base)";
    }

    IPosixOs& os_;
    Port ports_[kMaxParports];
    int count_;
    Port* last_ = nullptr;
    uint16_t missingBase_ = 0;
    std::shared_ptr<std::string> error_;
};

}  // namespace

int ListParports(IPosixOs& os, ParportInfo* out, int maxCount) {
    int count = 0;
    for (int n = 0; n < 16 && count < maxCount; ++n) {
        std::string text;
        if (!os.ReadFile("/proc/sys/dev/parport/parport" + std::to_string(n) + "/base-addr", text))
            continue;
        char* end = nullptr;
        const unsigned long base = std::strtoul(text.c_str(), &end, 0);
        if (end == text.c_str() || base == 0 || base > 0xFFFC) continue;
        out[count].index = n;
        out[count].base = static_cast<uint16_t>(base);
        ++count;
    }
    return count;
}

PpdevDriver::PpdevDriver(IPosixOs& os) : os_(os), error_(std::make_shared<std::string>()) {}

std::unique_ptr<IPortDevice> PpdevDriver::OpenDevice() {
    ParportInfo ports[kMaxParports];
    int count = ListParports(os_, ports, kMaxParports);
    bool loaded = false;
    if (count == 0 && os_.GetUid() == 0 && !os_.Exists("/sys/module/ppdev")) {
        // parport_pc finds the ports, ppdev gives them their device nodes.
        os_.Run("modprobe parport_pc");
        loaded = os_.Run("modprobe ppdev") == 0;
        count = ListParports(os_, ports, kMaxParports);
    }
    if (count == 0) {
        *error_ = NoPortMessage(os_, loaded);
        return nullptr;
    }
    // Rights and the device node are checked now so the failure shows at open, not mid-run.
    const std::string path = DevicePath(ports[0].index);
    const int fd = os_.Open(path.c_str(), O_RDWR);
    if (fd < 0) {
        *error_ = OpenFailureMessage(path, errno);
        return nullptr;
    }
    os_.Close(fd);
    error_->clear();
    return std::make_unique<PpdevDevice>(os_, ports, count, error_);
}

}  // namespace port
