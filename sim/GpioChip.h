// A Linux GPIO chip as libgpiod's v1 API shows it (a Raspberry Pi's gpiochip0 by default),
// whose lines are the virtual board's JTAG pins through a wiring, for a host-side GPIO seam to
// route its line calls to instead of libgpiod.
//
// What a caller may rely on:
// - Calls mirror libgpiod v1: Open ~ gpiod_chip_open_by_name, RequestInput/RequestOutput ~
//   gpiod_line_request_input/_output (with a consumer), SetValue/GetValue ~
//   gpiod_line_set_value/_get_value, SetValues/GetValues ~ the _bulk forms, Release ~
//   gpiod_line_release, Close ~ gpiod_chip_close (releases this handle's lines). Failures come
//   back as GpioStatus; the comment on each value gives the errno libgpiod sets.
// - Every call but the three getters needs Open first (kInvalid without it).
// - A line drives its board pin only while requested as an output; an undriven board pin takes
//   the board's pulled level (TCK low, the rest high). The tdo line reads the board's TDO when
//   requested as an input. Lines not wired to the board read 0.
// - One access is counted per successful SetValue, GetValue, SetValues or GetValues (a bulk
//   call is one ioctl); requests and releases are not counted. A bulk set changes its pins in
//   one step. (Real v1 bulk calls also need the lines requested together; this chip only needs
//   each line requested as an output, resp. requested.)
// - Fault knobs are read at every call. The per-clock calls neither allocate nor format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Board;

enum class GpioStatus {
    kOk,
    kNoChip,        // ENOENT: no chip by that name (or the chip is absent)
    kAccess,        // EACCES: /dev/gpiochipN not open to this user
    kBusy,          // EBUSY: line already requested (by another consumer or this handle)
    kInvalid,       // EINVAL: offset out of range, chip not open
    kNotRequested,  // EPERM: line not requested by this handle
    kNotOutput,     // EPERM: value set on a line requested as an input
};

// Chip knobs, given as "name=value,flag,..." (ParseGpioOptions).
struct GpioOptions {
    std::string name = "gpiochip0";
    std::string label = "pinctrl-bcm2711";
    unsigned lines = 58;
    // Line offsets of the board's pins (-1: not wired). The defaults are the Raspberry Pi header
    // wiring in common use: TCK GPIO11 (pin 23), TMS GPIO25 (22), TDI GPIO10 (19), TDO GPIO9
    // (21), nTRST GPIO7 (26), nRESET GPIO24 (18).
    int tck = 11;
    int tms = 25;
    int tdi = 10;
    int tdo = 9;
    int trst = 7;
    int srst = 24;
    // Faults.
    bool absent = false;
    bool denied = false;
    std::vector<unsigned> busy;  // lines another consumer ("kernel") holds
};

bool ParseGpioOptions(const std::string& text, GpioOptions& out, std::string& error);
std::string GpioOptionsHelp();
// Empty when the options describe a chip, else what is wrong.
std::string ValidateGpioOptions(const GpioOptions& options);

class GpioChip {
  public:
    // Throws std::invalid_argument when the options describe no chip. `board` may be null;
    // otherwise it must outlive the chip.
    GpioChip(const GpioOptions& options, Board* board);

    GpioStatus Open(const std::string& name);
    void Close();
    const std::string& name() const { return options_.name; }
    const std::string& label() const { return options_.label; }
    unsigned num_lines() const { return static_cast<unsigned>(lines_.size()); }
    // Line facts (gpiod_line_name, _is_used, _consumer); "" past the last line.
    const std::string& LineName(unsigned offset) const;
    bool LineUsed(unsigned offset) const;
    std::string LineConsumer(unsigned offset) const;

    GpioStatus RequestInput(unsigned offset, const std::string& consumer);
    GpioStatus RequestOutput(unsigned offset, const std::string& consumer, int value);
    GpioStatus Release(unsigned offset);
    GpioStatus SetValue(unsigned offset, int value);
    GpioStatus GetValue(unsigned offset, int& value);
    GpioStatus SetValues(const unsigned* offsets, const int* values, size_t n);
    GpioStatus GetValues(const unsigned* offsets, int* values, size_t n);

    uint64_t Accesses() const { return accesses_; }
    GpioOptions& mutable_options() { return options_; }  // fault knobs; the wiring is fixed

  private:
    enum class Use : uint8_t { kFree, kInput, kOutput };
    struct Line {
        std::string name;
        std::string consumer;
        Use use = Use::kFree;
        bool value = false;
    };
    GpioStatus Usable(unsigned offset) const;
    GpioStatus Request(unsigned offset, const std::string& consumer, Use use, int value);
    GpioStatus Settable(unsigned offset) const;
    GpioStatus Gettable(unsigned offset) const;
    bool Level(unsigned offset) const;
    void DriveBoard();

    GpioOptions options_;
    Board* board_;
    std::vector<Line> lines_;
    // Line of each board pin, in the order of kBoardPins (-1: not wired), and of TDO.
    int pins_[5];
    int tdo_;
    bool open_ = false;
    uint64_t accesses_ = 0;
};

}  // namespace sim
