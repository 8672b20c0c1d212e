#include "port/SimUsbBus.h"

#include "port/FtdiDriver.h"
#include "port/SimPortDriver.h"

namespace port {

namespace {

class SimUsbDevice final : public IUsbDevice {
  public:
    explicit SimUsbDevice(sim::FtdiDevice& device) : device_(device) {}
    ~SimUsbDevice() override { device_.Close(); }
    int SerialNumber(std::string& out) override { return device_.StringDescriptor(3, out); }
    int KernelDriverActive(int interface) override { return device_.KernelDriverActive(interface); }
    int DetachKernelDriver(int interface) override { return device_.DetachKernelDriver(interface); }
    int ClaimInterface(int interface) override { return device_.ClaimInterface(interface); }
    int ReleaseInterface(int interface) override { return device_.ReleaseInterface(interface); }
    int ControlOut(uint8_t request, uint16_t value, uint16_t index, unsigned timeoutMs) override {
        return device_.ControlTransfer(0x40, request, value, index, nullptr, 0, timeoutMs);
    }
    int BulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                     unsigned timeoutMs) override {
        return device_.BulkTransfer(endpoint, data, length, transferred, timeoutMs);
    }

  private:
    sim::FtdiDevice& device_;
};

}  // namespace

SimUsbBus::SimUsbBus(const std::vector<sim::FtdiOptions>& adapters, const sim::Options* board,
                     ResourceLock folderLock)
    : folderLock_(std::move(folderLock)),
      board_(board != nullptr ? std::make_unique<sim::Board>(*board) : nullptr) {
    for (size_t i = 0; i < adapters.size(); ++i)
        adapters_.push_back(
            std::make_unique<sim::FtdiDevice>(adapters[i], i == 0 ? board_.get() : nullptr));
}

SimUsbBus::~SimUsbBus() {
    adapters_.clear();
}

int SimUsbBus::List(std::vector<UsbDeviceId>& out) {
    out.clear();
    listed_.clear();
    for (auto& a : adapters_) {
        if (!a->Present()) continue;
        const sim::UsbDeviceDescriptor d = a->Descriptor();
        out.push_back(
            {d.idVendor, d.idProduct, d.bcdDevice, 1, static_cast<uint8_t>(2 + listed_.size())});
        listed_.push_back(a.get());
    }
    return kUsbOk;
}

int SimUsbBus::Open(size_t index, std::unique_ptr<IUsbDevice>& out) {
    if (index >= listed_.size()) return kUsbNotFound;
    if (const int r = listed_[index]->Open(); r != sim::kUsbSuccess) return r;
    out = std::make_unique<SimUsbDevice>(*listed_[index]);
    return kUsbOk;
}

std::unique_ptr<IPortDriver> CreateFtdiSimDriver(const std::string& args, std::string& error,
                                                 bool* held) {
    const size_t at = args.find('@');
    FtdiSpec spec;
    if (!ParseFtdiSpec(args.substr(0, at), spec, error)) {
        error.replace(0, error.find(':'), "driver 'ftdi-sim'");
        return nullptr;
    }
    std::vector<sim::FtdiOptions> adapters;
    sim::Options board;
    for (const std::string& group : AtGroups(args)) {
        std::string why;
        if (group.rfind("sim", 0) == 0) {
            if (!sim::ParseOptions(group.substr(3), board, why)) {
                error = "driver 'ftdi-sim': " + why;
                return nullptr;
            }
            continue;
        }
        sim::FtdiOptions adapter;
        if (!sim::ParseFtdiOptions(group, adapter, why)) {
            error = "driver 'ftdi-sim': " + why;
            return nullptr;
        }
        adapters.push_back(adapter);
    }
    if (adapters.empty()) adapters.emplace_back();
    ResourceLock lock;
    if (!LockBoardFolder(board.dir, lock, error)) {
        if (held != nullptr) *held = true;
        return nullptr;
    }
    return std::make_unique<FtdiDriver>(
        "ftdi-sim", spec, std::make_unique<SimUsbBus>(adapters, &board, std::move(lock)));
}

}  // namespace port
