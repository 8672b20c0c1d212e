#include "sim/GpioChip.h"

#include <algorithm>
#include <stdexcept>

#include "sim/Board.h"
#include "sim/Knobs.h"

namespace sim {

namespace {

// Board pins a line can drive, in the order of GpioChip::pins_.
constexpr uint8_t kBoardPins[5] = {Board::kPinTck, Board::kPinTms, Board::kPinTdi, Board::kPinTrst,
                                   Board::kPinReset};

bool Offset(const std::string& v, bool optional, int& out, std::string& error) {
    uint64_t n = 0;
    if (optional && v == "none") {
        out = -1;
        return true;
    }
    if (!KnobNumber(v, 1023, n)) {
        error = optional ? "a line offset or none" : "a line offset";
        return false;
    }
    out = static_cast<int>(n);
    return true;
}

template <int GpioOptions::*Field, bool Optional>
bool SetLine(GpioOptions& o, const std::string& v, std::string& e) {
    return Offset(v, Optional, o.*Field, e);
}

const Knob<GpioOptions> kGpioKnobs[] = {
    {"chip", "NAME", "chip name (default gpiochip0)",
     [](GpioOptions& o, const std::string& v, std::string& e) {
         if (v.empty()) e = "a name";
         o.name = v;
         return !v.empty();
     }},
    {"label", "TEXT", "chip label (default pinctrl-bcm2711)",
     [](GpioOptions& o, const std::string& v, std::string&) {
         o.label = v;
         return true;
     }},
    {"lines", "N", "number of lines (default 58)",
     [](GpioOptions& o, const std::string& v, std::string& e) {
         uint64_t n = 0;
         if (!KnobNumber(v, 1024, n) || n == 0) {
             e = "a number of lines from 1 to 1024";
             return false;
         }
         o.lines = static_cast<unsigned>(n);
         return true;
     }},
    {"tck", "N", "line wired to TCK (default 11)", SetLine<&GpioOptions::tck, false>},
    {"tms", "N", "line wired to TMS (default 25)", SetLine<&GpioOptions::tms, false>},
    {"tdi", "N", "line wired to TDI (default 10)", SetLine<&GpioOptions::tdi, false>},
    {"tdo", "N", "line wired to TDO (default 9)", SetLine<&GpioOptions::tdo, false>},
    {"trst", "N", "line wired to nTRST (default 7; none: not wired)",
     SetLine<&GpioOptions::trst, true>},
    {"srst", "N", "line wired to nRESET (default 24; none: not wired)",
     SetLine<&GpioOptions::srst, true>},
    {"absent", nullptr, "no such chip",
     [](GpioOptions& o, const std::string&, std::string&) { return o.absent = true; }},
    {"denied", nullptr, "the chip's device is not open to this user",
     [](GpioOptions& o, const std::string&, std::string&) { return o.denied = true; }},
    {"busy", "N", "line N is held by another consumer (repeatable)",
     [](GpioOptions& o, const std::string& v, std::string& e) {
         int n = 0;
         if (!Offset(v, false, n, e)) return false;
         o.busy.push_back(static_cast<unsigned>(n));
         return true;
     }},
};

}  // namespace

bool ParseGpioOptions(const std::string& text, GpioOptions& out, std::string& error) {
    return ParseKnobs(kGpioKnobs, "GPIO chip", text, out, error, ValidateGpioOptions);
}

std::string GpioOptionsHelp() {
    return KnobsHelp(kGpioKnobs);
}

std::string ValidateGpioOptions(const GpioOptions& o) {
    const int wired[] = {o.tck, o.tms, o.tdi, o.tdo, o.trst, o.srst};
    for (size_t i = 0; i < std::size(wired); ++i) {
        if (wired[i] < (i < 4 ? 0 : -1) || wired[i] >= static_cast<int>(o.lines))
            return "a JTAG line is outside the chip's " + std::to_string(o.lines) + " lines";
        for (size_t j = 0; j < i; ++j)
            if (wired[i] != -1 && wired[i] == wired[j]) return "two JTAG pins on one line";
    }
    return std::string();
}

GpioChip::GpioChip(const GpioOptions& options, Board* board)
    : options_(options),
      board_(board),
      lines_(options.lines),
      pins_{options.tck, options.tms, options.tdi, options.trst, options.srst},
      tdo_(options.tdo) {
    if (std::string e = ValidateGpioOptions(options_); !e.empty()) throw std::invalid_argument(e);
    for (size_t i = 0; i < lines_.size(); ++i) lines_[i].name = "GPIO" + std::to_string(i);
    DriveBoard();
}

GpioStatus GpioChip::Open(const std::string& name) {
    if (options_.absent || name != options_.name) return GpioStatus::kNoChip;
    if (options_.denied) return GpioStatus::kAccess;
    open_ = true;
    return GpioStatus::kOk;
}

void GpioChip::Close() {
    for (Line& l : lines_) l = Line{l.name, {}, Use::kFree, false};
    open_ = false;
    DriveBoard();
}

const std::string& GpioChip::LineName(unsigned offset) const {
    static const std::string kNone;
    return offset < lines_.size() ? lines_[offset].name : kNone;
}

bool GpioChip::LineUsed(unsigned offset) const {
    return !LineConsumer(offset).empty();
}

std::string GpioChip::LineConsumer(unsigned offset) const {
    if (offset >= lines_.size()) return std::string();
    if (std::find(options_.busy.begin(), options_.busy.end(), offset) != options_.busy.end())
        return "kernel";
    return lines_[offset].consumer;
}

GpioStatus GpioChip::Usable(unsigned offset) const {
    if (!open_ || offset >= lines_.size()) return GpioStatus::kInvalid;
    if (options_.absent) return GpioStatus::kNoChip;
    return GpioStatus::kOk;
}

GpioStatus GpioChip::Request(unsigned offset, const std::string& consumer, Use use, int value) {
    if (GpioStatus s = Usable(offset); s != GpioStatus::kOk) return s;
    if (LineUsed(offset) || lines_[offset].use != Use::kFree) return GpioStatus::kBusy;
    Line& l = lines_[offset];
    l.use = use;
    l.value = use == Use::kOutput && value != 0;
    l.consumer = consumer.empty() ? "?" : consumer;
    DriveBoard();
    return GpioStatus::kOk;
}

GpioStatus GpioChip::RequestInput(unsigned offset, const std::string& consumer) {
    return Request(offset, consumer, Use::kInput, 0);
}

GpioStatus GpioChip::RequestOutput(unsigned offset, const std::string& consumer, int value) {
    return Request(offset, consumer, Use::kOutput, value);
}

GpioStatus GpioChip::Release(unsigned offset) {
    if (GpioStatus s = Usable(offset); s != GpioStatus::kOk) return s;
    if (lines_[offset].use == Use::kFree) return GpioStatus::kNotRequested;
    lines_[offset].use = Use::kFree;
    lines_[offset].consumer.clear();
    DriveBoard();
    return GpioStatus::kOk;
}

GpioStatus GpioChip::Gettable(unsigned offset) const {
    if (GpioStatus s = Usable(offset); s != GpioStatus::kOk) return s;
    return lines_[offset].use == Use::kFree ? GpioStatus::kNotRequested : GpioStatus::kOk;
}

GpioStatus GpioChip::Settable(unsigned offset) const {
    if (GpioStatus s = Gettable(offset); s != GpioStatus::kOk) return s;
    return lines_[offset].use == Use::kOutput ? GpioStatus::kOk : GpioStatus::kNotOutput;
}

GpioStatus GpioChip::SetValue(unsigned offset, int value) {
    return SetValues(&offset, &value, 1);
}

GpioStatus GpioChip::GetValue(unsigned offset, int& value) {
    return GetValues(&offset, &value, 1);
}

GpioStatus GpioChip::SetValues(const unsigned* offsets, const int* values, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (GpioStatus s = Settable(offsets[i]); s != GpioStatus::kOk) return s;
    for (size_t i = 0; i < n; ++i) lines_[offsets[i]].value = values[i] != 0;
    DriveBoard();
    ++accesses_;
    return GpioStatus::kOk;
}

GpioStatus GpioChip::GetValues(const unsigned* offsets, int* values, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (GpioStatus s = Gettable(offsets[i]); s != GpioStatus::kOk) return s;
    for (size_t i = 0; i < n; ++i) values[i] = Level(offsets[i]) ? 1 : 0;
    ++accesses_;
    return GpioStatus::kOk;
}

bool GpioChip::Level(unsigned offset) const {
    const Line& l = lines_[offset];
    if (l.use == Use::kOutput) return l.value;
    if (board_ == nullptr) return false;
    if (static_cast<int>(offset) == tdo_) return (board_->ReadStatus() & Board::kStatusTdo) != 0;
    for (size_t i = 0; i < std::size(kBoardPins); ++i)
        if (pins_[i] == static_cast<int>(offset)) return (Board::kPinsPulled & kBoardPins[i]) != 0;
    return false;
}

void GpioChip::DriveBoard() {
    if (board_ == nullptr) return;
    uint8_t data = 0;
    for (size_t i = 0; i < std::size(kBoardPins); ++i) {
        const int line = pins_[i];
        const bool level = line >= 0 && lines_[line].use == Use::kOutput
                               ? lines_[line].value
                               : (Board::kPinsPulled & kBoardPins[i]) != 0;
        if (level) data = static_cast<uint8_t>(data | kBoardPins[i]);
    }
    board_->WriteData(data);
}

}  // namespace sim
