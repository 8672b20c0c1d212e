#include "port/linux/DirectIoDriver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/ResourceLock.h"

namespace port {

namespace {

constexpr int kMaxBases = 8;
constexpr unsigned kRegisterCount = 3;  // data, status, control

const char* const kNoPortIo =
    "direct: this kernel offers no port I/O (ioperm: function not implemented); use "
    "--driver ppdev";
const char* const kNeedRoot = "direct: port I/O needs root: run as root or use --driver ppdev";

class DirectIoDevice final : public RegisterPortDevice<DirectIoDevice> {
  public:
    DirectIoDevice(IPosixOs& os, std::shared_ptr<std::string> error)
        : os_(os), error_(std::move(error)) {}

    ~DirectIoDevice() override {
        for (int i = 0; i < count_; ++i) {
            if (bases_[i].granted) os_.Ioperm(bases_[i].base, kRegisterCount, 0);
            os_.Unlock(bases_[i].lock);
        }
    }

    bool Access(bool write, uint16_t address, uint8_t& value) {
        if ((address & 3u) == 3u) {
            lastError_ = kErrorInvalidParameter;  // outside the granted three registers
            return false;
        }
        const uint16_t base = static_cast<uint16_t>(address & ~3u);
        if (base != lastBase_ && !Grant(base)) return false;
        lastBase_ = base;
        if (write)
            os_.Outb(value, address);
        else
            value = os_.Inb(address);
        return true;
    }

  private:
    struct Range {
        uint16_t base;
        bool granted;
        int failure;
        int lock;  // one process per port, shared with the ppdev backend
    };

    bool Grant(uint16_t base) {
        Range* range = nullptr;
        for (int i = 0; i < count_; ++i)
            if (bases_[i].base == base) range = &bases_[i];
        if (range == nullptr) {
            if (count_ == kMaxBases) {
                lastError_ = ENOMEM;
                *error_ = "direct: too many parallel-port bases used in one run";
                return false;
            }
            range = &bases_[count_++];
            *range = {base, false, 0, -1};
            char name[16];
            std::snprintf(name, sizeof name, "port-%04X", static_cast<unsigned>(base));
            int holder = 0;
            range->lock = os_.Lock(DeviceLockPath(name), LockWait() * 1000, holder);
            if (range->lock < 0 && errno == EWOULDBLOCK) {
                range->failure = EBUSY;
                char text[48];
                std::snprintf(text, sizeof text, "direct: the port at 0x%X is in use by ", base);
                *error_ = text + DescribeProcess(holder) + ": let it finish first";
            } else if (os_.Ioperm(base, kRegisterCount, 1) == 0) {
                range->granted = true;
            } else {
                range->failure = errno;
                char text[64];
                std::snprintf(text, sizeof text, "direct: ioperm(0x%X, %u) refused", base,
                              kRegisterCount);
                if (errno == EPERM)
                    *error_ = kNeedRoot;
                else if (errno == ENOSYS)
                    *error_ = kNoPortIo;
                else
                    *error_ = std::string(text) + ": " + std::strerror(errno);
            }
        }
        if (range->granted) return true;
        lastError_ = static_cast<uint32_t>(range->failure);
        return false;
    }

    IPosixOs& os_;
    std::shared_ptr<std::string> error_;
    Range bases_[kMaxBases] = {};
    int count_ = 0;
    uint16_t lastBase_ = 0xFFFF;  // never a base: bases have their low two bits clear
};

}  // namespace

DirectIoDriver::DirectIoDriver(IPosixOs& os) : os_(os), error_(std::make_shared<std::string>()) {}

std::unique_ptr<IPortDevice> DirectIoDriver::OpenDevice() {
    // A zero-length release grants nothing; it only tells whether the kernel has ioperm.
    if (os_.Ioperm(0, 0, 0) != 0 && errno == ENOSYS) {
        *error_ = kNoPortIo;
        return nullptr;
    }
    if (os_.GetUid() != 0) {
        *error_ = kNeedRoot;
        return nullptr;
    }
    error_->clear();
    return std::make_unique<DirectIoDevice>(os_, error_);
}

}  // namespace port
