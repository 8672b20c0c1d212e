#include "port/SimGpio.h"

#include <cerrno>

#include "port/GpioDriver.h"
#include "port/SimPortDriver.h"

namespace port {

namespace {

int Errno(sim::GpioStatus s) {
    switch (s) {
        case sim::GpioStatus::kOk:
            return 0;
        case sim::GpioStatus::kNoChip:
            return ENOENT;
        case sim::GpioStatus::kAccess:
            return EACCES;
        case sim::GpioStatus::kBusy:
            return EBUSY;
        case sim::GpioStatus::kInvalid:
            return EINVAL;
        case sim::GpioStatus::kNotRequested:
        case sim::GpioStatus::kNotOutput:
            return EPERM;
    }
    return EIO;
}

class SimGpioLines final : public IGpioChip {
  public:
    explicit SimGpioLines(sim::GpioChip& chip) : chip_(chip) {}
    ~SimGpioLines() override { chip_.Close(); }
    unsigned NumLines() override { return chip_.num_lines(); }
    std::string LineConsumer(unsigned offset) override {
        return chip_.LineUsed(offset) ? chip_.LineConsumer(offset) : std::string();
    }
    int RequestOutputs(const unsigned* offsets, const int* values, size_t n) override {
        for (size_t i = 0; i < n; ++i) {
            if (const int r = Errno(chip_.RequestOutput(offsets[i], "tapwright", values[i])))
                return r;
            outputs_[i] = offsets[i];
        }
        count_ = n;
        return 0;
    }
    int RequestInput(unsigned offset) override {
        input_ = offset;
        return Errno(chip_.RequestInput(offset, "tapwright"));
    }
    int SetOutputs(const int* values) override {
        return Errno(chip_.SetValues(outputs_, values, count_));
    }
    int GetInput(int& value) override { return Errno(chip_.GetValue(input_, value)); }

  private:
    sim::GpioChip& chip_;
    unsigned outputs_[8] = {};
    size_t count_ = 0;
    unsigned input_ = 0;
};

}  // namespace

SimGpioSystem::SimGpioSystem(const sim::GpioOptions& chip, const sim::Options& board,
                             ResourceLock folderLock)
    : folderLock_(std::move(folderLock)),
      board_(std::make_unique<sim::Board>(board)),
      chip_(std::make_unique<sim::GpioChip>(chip, board_.get())) {}

SimGpioSystem::~SimGpioSystem() {
    chip_.reset();
}

int SimGpioSystem::Open(const std::string& name, std::unique_ptr<IGpioChip>& out) {
    if (const int r = Errno(chip_->Open(name))) return r;
    out = std::make_unique<SimGpioLines>(*chip_);
    return 0;
}

std::vector<std::string> SimGpioSystem::Chips() {
    if (chip_->mutable_options().absent) return {};
    return {chip_->name()};
}

std::unique_ptr<IPortDriver> CreateGpiodSimDriver(const std::string& args, std::string& error,
                                                  bool* held) {
    const size_t at = args.find('@');
    std::string host = args.substr(0, at);
    if (host.empty()) host = ":gpiochip0,tck=11,tms=25,tdi=10,tdo=9,trst=7,srst=24";
    GpioSpec spec;
    if (!ParseGpioSpec(host, spec, error)) {
        error.replace(0, error.find('\'', 8) + 1, "driver 'gpiod-sim'");
        return nullptr;
    }
    sim::GpioOptions chip;
    sim::Options board;
    for (const std::string& group : AtGroups(args)) {
        std::string why;
        const bool ok = group.rfind("sim", 0) == 0 ? sim::ParseOptions(group.substr(3), board, why)
                                                   : sim::ParseGpioOptions(group, chip, why);
        if (!ok) {
            error = "driver 'gpiod-sim': " + why;
            return nullptr;
        }
    }
    ResourceLock lock;
    if (!LockBoardFolder(board.dir, lock, error)) {
        if (held != nullptr) *held = true;
        return nullptr;
    }
    return std::make_unique<GpioDriver>(
        "gpiod-sim", spec, std::make_unique<SimGpioSystem>(chip, board, std::move(lock)));
}

}  // namespace port
