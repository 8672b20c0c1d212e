// The GPIO seam on libgpiod's v1 API (Debian 12), built when libgpiod < 2 is found.
#include <gpiod.h>

#include <cerrno>
#include <filesystem>

#include "port/GpioLines.h"

namespace port {

namespace {

int Error() {
    return errno != 0 ? errno : EIO;
}

class LibGpiodChip final : public IGpioChip {
  public:
    explicit LibGpiodChip(gpiod_chip* chip) : chip_(chip) { gpiod_line_bulk_init(&outputs_); }
    ~LibGpiodChip() override { gpiod_chip_close(chip_); }  // releases the lines
    unsigned NumLines() override { return gpiod_chip_num_lines(chip_); }
    std::string LineConsumer(unsigned offset) override {
        gpiod_line* line = gpiod_chip_get_line(chip_, offset);
        if (line == nullptr || !gpiod_line_is_used(line)) return {};
        const char* consumer = gpiod_line_consumer(line);
        return consumer != nullptr ? consumer : "the kernel";
    }
    int RequestOutputs(const unsigned* offsets, const int* values, size_t n) override {
        errno = 0;
        if (gpiod_chip_get_lines(chip_, const_cast<unsigned*>(offsets), static_cast<unsigned>(n),
                                 &outputs_) != 0 ||
            gpiod_line_request_bulk_output(&outputs_, "tapwright", values) != 0)
            return Error();
        return 0;
    }
    int RequestInput(unsigned offset) override {
        errno = 0;
        input_ = gpiod_chip_get_line(chip_, offset);
        if (input_ == nullptr || gpiod_line_request_input(input_, "tapwright") != 0) return Error();
        return 0;
    }
    int SetOutputs(const int* values) override {
        return gpiod_line_set_value_bulk(&outputs_, values) == 0 ? 0 : Error();
    }
    int GetInput(int& value) override {
        const int v = gpiod_line_get_value(input_);
        if (v < 0) return Error();
        value = v;
        return 0;
    }

  private:
    gpiod_chip* chip_;
    gpiod_line_bulk outputs_;
    gpiod_line* input_ = nullptr;
};

class LibGpiod final : public IGpioSystem {
  public:
    int Open(const std::string& name, std::unique_ptr<IGpioChip>& out) override {
        errno = 0;
        gpiod_chip* chip = gpiod_chip_open_lookup(name.c_str());
        if (chip == nullptr) return Error();
        out = std::make_unique<LibGpiodChip>(chip);
        return 0;
    }
    std::vector<std::string> Chips() override {
        std::vector<std::string> chips;
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
            const std::string name = entry.path().filename().string();
            if (name.rfind("gpiochip", 0) == 0) chips.push_back(name);
        }
        return chips;
    }
};

}  // namespace

std::unique_ptr<IGpioSystem> OpenLibGpiod(std::string&) {
    return std::make_unique<LibGpiod>();
}

}  // namespace port
