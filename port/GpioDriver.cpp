#include "port/GpioDriver.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "port/PortTalk.h"

namespace port {

namespace {

constexpr int kMaxLines = 5;  // TCK, TMS, TDI, then nTRST and nRESET when wired
constexpr int kTckLine = 0;
constexpr int kTmsLine = 1;
constexpr int kTdiLine = 2;

class GpioCable final : public ICable {
  public:
    GpioCable(std::unique_ptr<IGpioChip> chip, int lines, int trstLine,
              std::shared_ptr<std::string> error, std::string what)
        : chip_(std::move(chip)),
          lines_(lines),
          trstLine_(trstLine),
          error_(std::move(error)),
          what_(std::move(what)) {}

    // Requests the lines: TCK low, TMS high, TDI low, nTRST and nRESET released.
    int Start(const unsigned* offsets, unsigned tdo) {
        for (int i = 0; i < lines_; ++i) values_[i] = i == kTckLine || i == kTdiLine ? 0 : 1;
        if (const int r = chip_->RequestOutputs(offsets, values_, static_cast<size_t>(lines_)))
            return r;
        return chip_->RequestInput(tdo);
    }

    // Each clock is on the lines as it is queued, like a parallel port.
    bool ClocksAtOnce() const override { return true; }

    void SetTrst(bool released) override {
        if (trstLine_ < 0 || values_[trstLine_] == (released ? 1 : 0)) return;
        EndClock();
        values_[trstLine_] = released ? 1 : 0;
        Set("outportb");
    }

    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override {
        for (uint32_t i = 0; i < count; ++i) {
            values_[kTckLine] = 0;
            values_[kTmsLine] = ClockBit(tms, i) ? 1 : 0;
            values_[kTdiLine] = ClockBit(tdi, i) ? 1 : 0;
            Set("outportb");
            if (tdo != nullptr && (want == nullptr || ClockBit(want, i))) {
                int level = 1;  // an open TDO line
                if (!broken_) {
                    if (const int r = chip_->GetInput(level)) {
                        Fail(r, "inportb");
                        level = 1;
                    }
                }
                SetClockBit(tdo, i, level != 0);
            }
            values_[kTckLine] = 1;
            Set("outportb");
        }
    }

    bool Flush() override {
        if (broken_) RequestFailed("inportb", errorCode_);
        return !broken_;
    }

    void Park() override {
        values_[kTckLine] = values_[kTmsLine] = values_[kTdiLine] = 0;
        Set("outportb");
    }

  private:
    void EndClock() {
        if (values_[kTckLine] == 0) return;
        values_[kTckLine] = 0;
        Set("outportb");
    }
    void Set(const char* primitive) {
        if (broken_) {
            RequestFailed(primitive, errorCode_);
            return;
        }
        if (const int r = chip_->SetOutputs(values_)) Fail(r, primitive);
    }
    void Fail(int error, const char* primitive) {
        if (!broken_)
            *error_ = "gpiod: " + what_ + " failed (" + std::strerror(error) +
                      "): check the chip and run again";
        broken_ = true;
        errorCode_ = static_cast<uint32_t>(error);
        RequestFailed(primitive, errorCode_);
    }

    std::unique_ptr<IGpioChip> chip_;
    int lines_;
    int trstLine_;
    std::shared_ptr<std::string> error_;
    std::string what_;
    int values_[kMaxLines] = {};
    bool broken_ = false;
    uint32_t errorCode_ = 0;
};

bool Offset(const std::string& v, int& out) {
    if (v.empty() || v.size() > 4 || v.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::atoi(v.c_str());
    return true;
}

}  // namespace

bool ParseGpioSpec(const std::string& args, GpioSpec& out, std::string& error) {
    const char* usage = "gpiod:CHIP,tck=N,tms=N,tdi=N,tdo=N[,trst=N][,srst=N]";
    GpioSpec s;
    if (args.size() < 2 || args[0] != ':') {
        error = std::string("driver 'gpiod' needs a chip and its lines: ") + usage +
                ", e.g. gpiod:gpiochip0,tck=11,tms=25,tdi=10,tdo=9,trst=7,srst=24";
        return false;
    }
    size_t pos = args.find(',');
    s.chip = args.substr(1, pos == std::string::npos ? pos : pos - 1);
    while (pos != std::string::npos) {
        const size_t next = args.find(',', pos + 1);
        const std::string item =
            args.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
        pos = next;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        int* field = key == "tck"    ? &s.tck
                     : key == "tms"  ? &s.tms
                     : key == "tdi"  ? &s.tdi
                     : key == "tdo"  ? &s.tdo
                     : key == "trst" ? &s.trst
                     : key == "srst" ? &s.srst
                                     : nullptr;
        if (field == nullptr) {
            error = "driver 'gpiod': unknown option '" + key + "' (use " + usage + ")";
            return false;
        }
        if (eq == std::string::npos || !Offset(item.substr(eq + 1), *field)) {
            error = "driver 'gpiod': " + key + " needs a line offset (" + key + "=N)";
            return false;
        }
    }
    if (s.chip.empty() || s.tck < 0 || s.tms < 0 || s.tdi < 0 || s.tdo < 0) {
        error = std::string("driver 'gpiod' needs the chip and tck, tms, tdi, tdo: ") + usage;
        return false;
    }
    const int lines[] = {s.tck, s.tms, s.tdi, s.tdo, s.trst, s.srst};
    for (int a = 0; a < 6; ++a)
        for (int b = a + 1; b < 6; ++b)
            if (lines[a] >= 0 && lines[a] == lines[b]) {
                error = "driver 'gpiod': line " + std::to_string(lines[a]) + " is given twice";
                return false;
            }
    out = s;
    return true;
}

GpioDriver::GpioDriver(const char* name, const GpioSpec& spec, std::unique_ptr<IGpioSystem> system,
                       std::string systemError)
    : name_(name), spec_(spec), system_(std::move(system)) {
    *error_ = std::move(systemError);
}

GpioDriver::~GpioDriver() = default;

std::unique_ptr<ICable> GpioDriver::OpenCable(const CableOptions&) {
    if (!system_) return nullptr;
    std::string& error = *error_;
    error.clear();
    std::unique_ptr<IGpioChip> chip;
    if (const int r = system_->Open(spec_.chip, chip)) {
        std::string chips;
        for (const std::string& c : system_->Chips()) chips += (chips.empty() ? "" : ", ") + c;
        if (r == EACCES || r == EPERM)
            error = "gpiod: permission denied opening " + spec_.chip +
                    ": join the gpio group (sudo adduser $USER gpio, then log in again), or run "
                    "as a user that may open /dev/" +
                    spec_.chip;
        else if (r == ENOENT || r == ENODEV)
            error = "gpiod: no GPIO chip '" + spec_.chip + "' (" +
                    (chips.empty() ? std::string("this machine has none")
                                   : "this machine has " + chips) +
                    "): name one of them (on a Raspberry Pi the header is gpiochip0)";
        else
            error = "gpiod: cannot open " + spec_.chip + " (" + std::strerror(r) + ")";
        return nullptr;
    }
    const unsigned n = chip->NumLines();
    const int all[] = {spec_.tck, spec_.tms, spec_.tdi, spec_.tdo, spec_.trst, spec_.srst};
    for (int line : all)
        if (line >= 0 && static_cast<unsigned>(line) >= n) {
            error = "gpiod: " + spec_.chip + " has lines 0-" + std::to_string(n - 1) +
                    ", not line " + std::to_string(line);
            return nullptr;
        }
    for (int line : all)
        if (line >= 0) {
            const std::string user = chip->LineConsumer(static_cast<unsigned>(line));
            if (!user.empty()) {
                error = "gpiod: line " + std::to_string(line) + " of " + spec_.chip +
                        " is in use by '" + user +
                        "': free it (a device-tree overlay or another program holds it) or wire "
                        "JTAG to other lines";
                return nullptr;
            }
        }
    unsigned offsets[kMaxLines] = {static_cast<unsigned>(spec_.tck),
                                   static_cast<unsigned>(spec_.tms),
                                   static_cast<unsigned>(spec_.tdi)};
    int lines = 3;
    int trstLine = -1;
    if (spec_.trst >= 0) {
        trstLine = lines;
        offsets[lines++] = static_cast<unsigned>(spec_.trst);
    }
    if (spec_.srst >= 0) offsets[lines++] = static_cast<unsigned>(spec_.srst);
    auto cable = std::make_unique<GpioCable>(std::move(chip), lines, trstLine, error_, spec_.chip);
    if (const int r = cable->Start(offsets, static_cast<unsigned>(spec_.tdo))) {
        error = "gpiod: cannot request the JTAG lines of " + spec_.chip + " (" + std::strerror(r) +
                "): another program may hold them";
        return nullptr;
    }
    return cable;
}

}  // namespace port

#ifndef TAPWRIGHT_HAVE_LIBGPIOD
namespace port {
std::unique_ptr<IGpioSystem> OpenLibGpiod(std::string& error) {
    error =
        "gpiod: this build has no GPIO support: install libgpiod-dev (Debian 12, libgpiod v1) "
        "and build again (scripts/setup.sh does)";
    return nullptr;
}
}  // namespace port
#endif
