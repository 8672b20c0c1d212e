#include "port/FtdiDriver.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "port/PortTalk.h"

namespace port {

const char* UsbErrorName(int result) {
    switch (result) {
        case kUsbOk:
            return "LIBUSB_SUCCESS";
        case kUsbIo:
            return "LIBUSB_ERROR_IO";
        case kUsbInvalidParam:
            return "LIBUSB_ERROR_INVALID_PARAM";
        case kUsbAccess:
            return "LIBUSB_ERROR_ACCESS";
        case kUsbNoDevice:
            return "LIBUSB_ERROR_NO_DEVICE";
        case kUsbNotFound:
            return "LIBUSB_ERROR_NOT_FOUND";
        case kUsbBusy:
            return "LIBUSB_ERROR_BUSY";
        case kUsbTimeout:
            return "LIBUSB_ERROR_TIMEOUT";
        case kUsbOverflow:
            return "LIBUSB_ERROR_OVERFLOW";
        case kUsbPipe:
            return "LIBUSB_ERROR_PIPE";
        case kUsbNotSupported:
            return "LIBUSB_ERROR_NOT_SUPPORTED";
        default:
            return "LIBUSB_ERROR_OTHER";
    }
}

namespace {

// FTDI vendor requests (wIndex: channel A = 1).
constexpr uint8_t kRequestReset = 0x00;  // wValue 0 reset, 1 purge RX, 2 purge TX
constexpr uint8_t kRequestSetLatency = 0x09;
constexpr uint8_t kRequestSetBitmode = 0x0B;  // wValue mode << 8 | pin mask
constexpr uint16_t kBitmodeReset = 0x0000;
constexpr uint16_t kBitmodeMpsse = 0x0200;

// MPSSE commands (FTDI AN_108).
constexpr uint8_t kNegOut = 0x01;  // data out on the falling edge
constexpr uint8_t kBits = 0x02;
constexpr uint8_t kLsbFirst = 0x08;
constexpr uint8_t kDoWrite = 0x10;
constexpr uint8_t kDoRead = 0x20;
constexpr uint8_t kTmsWrite = 0x40;
constexpr uint8_t kDataBytes = kDoWrite | kLsbFirst | kNegOut;  // TDI in, TDO sampled rising
constexpr uint8_t kDataBits = kDataBytes | kBits;
constexpr uint8_t kTmsBits = kTmsWrite | kLsbFirst | kBits | kNegOut;
constexpr uint8_t kSetLow = 0x80;
constexpr uint8_t kSetHigh = 0x82;
constexpr uint8_t kLoopbackOff = 0x85;
constexpr uint8_t kSetDivisor = 0x86;
constexpr uint8_t kSendImmediate = 0x87;
constexpr uint8_t kDiv5Off = 0x8A;
constexpr uint8_t kThreePhaseOff = 0x8D;
constexpr uint8_t kAdaptiveOff = 0x97;
constexpr uint8_t kBogus = 0xAA;  // answered 0xFA 0xAA: the engine is in step
constexpr uint8_t kBadCommand = 0xFA;

// Low-byte pins with a fixed role.
constexpr uint8_t kTck = 0x01;
constexpr uint8_t kTdi = 0x02;
constexpr uint8_t kTms = 0x08;

constexpr unsigned kTimeoutMs = 1000;
constexpr int kMaxIdleReads = 2000;  // reads with no answer byte before the cable gives up
constexpr int kPacket = 512;

struct Chip {
    uint16_t bcdDevice;
    const char* name;
    unsigned mpsseChannels;
    bool highSpeed;      // 60 MHz base clock, commands 0x8A 0x8D 0x97
    bool highByte;       // ACBUS pins
    size_t answerLimit;  // answers in flight: within the chip's IN buffer
};
constexpr Chip kChips[] = {
    {0x0700, "FT2232H", 2, true, true, 2048},
    {0x0800, "FT4232H", 2, true, false, 1024},
    {0x0900, "FT232H", 1, true, true, 512},
    {0x0500, "FT2232D", 2, false, true, 64},
};

const Chip* FindChip(uint16_t bcdDevice) {
    for (const Chip& c : kChips)
        if (c.bcdDevice == bcdDevice) return &c;
    return nullptr;
}

std::string Hex4(uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", v);
    return text;
}

std::string VidPid(uint16_t vid, uint16_t pid) {
    return Hex4(vid) + ":" + Hex4(pid);
}

std::string PinName(int pin) {
    if (pin < 0) return "none";
    return std::string(pin < 8 ? "ADBUS" : "ACBUS") + static_cast<char>('0' + pin % 8);
}

bool ParseHex4(const std::string& text, uint16_t& out) {
    if (text.empty() || text.size() > 4) return false;
    unsigned v = 0;
    for (char c : text) {
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) return false;
        v = v * 16 + static_cast<unsigned>(d);
    }
    out = static_cast<uint16_t>(v);
    return true;
}

// ADBUS4-7, ACBUS0-7 (any channel letter), 4-15 or none.
bool ParsePin(const std::string& v, int& out) {
    if (v == "none") {
        out = -1;
        return true;
    }
    if (v.size() == 6 && v[0] >= 'A' && v[0] <= 'D' && (v[1] == 'D' || v[1] == 'C') &&
        v.compare(2, 3, "BUS") == 0 && v[5] >= '0' && v[5] <= '7') {
        out = (v[1] == 'C' ? 8 : 0) + (v[5] - '0');
        return out >= 4;
    }
    if (v.empty() || v.size() > 2 || v.find_first_not_of("0123456789") != std::string::npos)
        return false;
    out = std::atoi(v.c_str());
    return out >= 4 && out <= 15;
}

// One answer byte of the engine: which clocks its bits belong to.
struct Answer {
    uint32_t* tdo;
    uint32_t clock;  // of its first bit
    uint8_t shift;   // where that bit sits in the byte (bit commands fill from the top)
    uint8_t want;    // its clocks whose TDO the caller wants
};

class FtdiCable final : public ICable {
  public:
    FtdiCable(std::unique_ptr<IUsbDevice> device, const Chip& chip, const FtdiSpec& spec,
              std::string what, std::shared_ptr<std::string> error)
        : device_(std::move(device)),
          chip_(chip),
          spec_(spec),
          what_(std::move(what)),
          error_(std::move(error)),
          interface_(static_cast<int>(spec.channel)),
          in_(static_cast<uint8_t>(0x81 + 2 * spec.channel)),
          out_(static_cast<uint8_t>(0x02 + 2 * spec.channel)) {}

    ~FtdiCable() override {
        if (!broken_) Exchange();
        device_->ReleaseInterface(interface_);
    }

    // Vendor set-up, then the engine: in step, clock, pins. False with the error set.
    bool Start() {
        const uint16_t index = static_cast<uint16_t>(spec_.channel + 1);
        struct Step {
            uint8_t request;
            uint16_t value;
        };
        const Step steps[] = {{kRequestReset, 0},
                              {kRequestSetLatency, 1},
                              {kRequestSetBitmode, kBitmodeReset},
                              {kRequestSetBitmode, kBitmodeMpsse | 0x0B},
                              {kRequestReset, 1},
                              {kRequestReset, 2}};
        for (const Step& s : steps)
            if (const int r = device_->ControlOut(s.request, s.value, index, kTimeoutMs); r < 0)
                return Broken(r, "setting the chip up");
        Put(kBogus);
        Answer sync[2] = {};
        if (!Exchange(sync, 2)) return false;
        if (rx_[0] != kBadCommand || rx_[1] != kBogus) {
            char got[16];
            std::snprintf(got, sizeof got, "%02X %02X", rx_[0], rx_[1]);
            *error_ = "ftdi: " + what_ + " did not answer as an MPSSE engine (got " + got +
                      ", expected FA AA): is channel " + static_cast<char>('A' + spec_.channel) +
                      " an MPSSE channel of this chip?";
            broken_ = true;
            return false;
        }
        if (chip_.highSpeed) {
            Put(kDiv5Off);
            Put(kThreePhaseOff);
            Put(kAdaptiveOff);
        }
        Put(kLoopbackOff);
        const unsigned base = chip_.highSpeed ? 30000 : 6000;  // kHz at divisor 0
        const unsigned khz = std::min(std::max(spec_.khz, 1u), base);
        const unsigned divisor = std::min((base + khz - 1) / khz - 1, 0xFFFFu);
        Put(kSetDivisor);
        Put(static_cast<uint8_t>(divisor));
        Put(static_cast<uint8_t>(divisor >> 8));
        PutPins();
        return Exchange();
    }

    void SetTrst(bool released) override {
        if (released == trst_) return;
        trst_ = released;
        if (!broken_) PutPins();
    }

    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override {
        tms_ = tms;
        tdi_ = tdi;
        want_ = want;
        tdo_ = tdo;
        uint32_t i = 0;
        while (i < count && !broken_) {
            const uint32_t start = i;
            if (ClockBit(tms, i) != tmsPin_) {
                i += TmsCommand(i, count);
            } else {
                while (i < count && ClockBit(tms, i) == tmsPin_) ++i;
                DataRun(start, i);
            }
            if (broken_) i = start;
        }
        for (; i < count && tdo != nullptr; ++i)  // never sent: an open TDO line
            if (Wanted(i)) SetClockBit(tdo, i, true);
    }

    bool Flush() override {
        if (!broken_) Exchange();
        return Reported("inportb");
    }

    void Park() override {
        tmsPin_ = false;
        if (!broken_) {
            PutPins();
            Exchange();
        }
        Reported("outportb");
    }

  private:
    static constexpr size_t kOutBytes = 16384;
    static constexpr size_t kMaxAnswers = 2048;

    bool Wanted(uint32_t i) const {
        return tdo_ != nullptr && (want_ == nullptr || ClockBit(want_, i));
    }
    uint8_t WantMask(uint32_t i, uint32_t n) const {
        uint8_t mask = 0;
        for (uint32_t k = 0; k < n; ++k)
            if (Wanted(i + k)) mask = static_cast<uint8_t>(mask | 1u << k);
        return mask;
    }
    uint8_t TdiByte(uint32_t i, uint32_t n) const {
        uint8_t b = 0;
        for (uint32_t k = 0; k < n; ++k)
            if (ClockBit(tdi_, i + k)) b = static_cast<uint8_t>(b | 1u << k);
        return b;
    }

    void Put(uint8_t b) { buf_[used_++] = b; }
    // Room for `bytes` more command bytes (and the send-immediate) and `answers` more answers;
    // when there is none, what waits goes out first.
    bool Room(size_t bytes, size_t answers) {
        if (used_ + bytes + 1 > kOutBytes || pending_ + answers > chip_.answerLimit) Exchange();
        return !broken_;
    }
    void Expect(uint32_t clock, uint8_t shift, uint8_t want) {
        answers_[pending_++] = {tdo_, clock, shift, want};
    }

    // Up to 6 clocks with one TDI level; TMS may change on each. Returns the clocks taken.
    // Not 7: after a 7-bit TMS command some chips leave the TDI level on TMS.
    uint32_t TmsCommand(uint32_t i, uint32_t count) {
        const bool d = ClockBit(tdi_, i);
        uint32_t n = 1;
        while (n < 6 && i + n < count && ClockBit(tdi_, i + n) == d) ++n;
        uint8_t bits = d ? 0x80 : 0x00;
        for (uint32_t k = 0; k < n; ++k)
            if (ClockBit(tms_, i + k)) bits = static_cast<uint8_t>(bits | 1u << k);
        const uint8_t want = WantMask(i, n);
        if (!Room(3, want != 0 ? 1 : 0)) return n;
        Put(static_cast<uint8_t>(kTmsBits | (want != 0 ? kDoRead : 0)));
        Put(static_cast<uint8_t>(n - 1));
        Put(bits);
        if (want != 0) Expect(i, static_cast<uint8_t>(8 - n), want);
        tmsPin_ = ClockBit(tms_, i + n - 1);
        return n;
    }

    // Clocks i..end-1 with TMS held where the pin is: whole bytes (runs of bytes that are read,
    // or not), then the bits left.
    void DataRun(uint32_t i, uint32_t end) {
        while (end - i >= 8 && !broken_) {
            const bool read = WantMask(i, 8) != 0;
            uint32_t bytes = 1;
            while (bytes < 65536 && end - i >= 8 * (bytes + 1) &&
                   (WantMask(i + 8 * bytes, 8) != 0) == read)
                ++bytes;
            if (!Room(4, read ? 1 : 0)) return;
            bytes = std::min<uint32_t>(bytes, static_cast<uint32_t>(kOutBytes - 1 - 3 - used_));
            if (read)
                bytes =
                    std::min<uint32_t>(bytes, static_cast<uint32_t>(chip_.answerLimit - pending_));
            Put(static_cast<uint8_t>(kDataBytes | (read ? kDoRead : 0)));
            Put(static_cast<uint8_t>(bytes - 1));
            Put(static_cast<uint8_t>((bytes - 1) >> 8));
            for (uint32_t k = 0; k < bytes; ++k, i += 8) {
                Put(TdiByte(i, 8));
                if (read) Expect(i, 0, WantMask(i, 8));
            }
        }
        if (i == end || broken_) return;
        const uint32_t n = end - i;
        const uint8_t want = WantMask(i, n);
        if (!Room(3, want != 0 ? 1 : 0)) return;
        Put(static_cast<uint8_t>(kDataBits | (want != 0 ? kDoRead : 0)));
        Put(static_cast<uint8_t>(n - 1));
        Put(TdiByte(i, n));
        if (want != 0) Expect(i, static_cast<uint8_t>(8 - n), want);
    }

    // Set-low-byte (and set-high-byte when a reset pin sits there): TCK low, TMS where the
    // TAP expects it, nTRST as chosen, nRESET released.
    void PutPins() {
        if (!Room(6, 0)) return;
        uint16_t value = tmsPin_ ? kTms : 0;
        uint16_t dir = kTck | kTdi | kTms;
        if (spec_.trst >= 0) {
            dir = static_cast<uint16_t>(dir | 1u << spec_.trst);
            if (trst_) value = static_cast<uint16_t>(value | 1u << spec_.trst);
        }
        if (spec_.srst >= 0) {
            dir = static_cast<uint16_t>(dir | 1u << spec_.srst);
            value = static_cast<uint16_t>(value | 1u << spec_.srst);
        }
        Put(kSetLow);
        Put(static_cast<uint8_t>(value));
        Put(static_cast<uint8_t>(dir));
        if ((dir >> 8) != 0) {
            Put(kSetHigh);
            Put(static_cast<uint8_t>(value >> 8));
            Put(static_cast<uint8_t>(dir >> 8));
        }
    }

    bool Exchange() { return Exchange(answers_, pending_); }

    // One bulk write of what waits, one bulk read of its answers, the TDO bits in place.
    bool Exchange(const Answer* answers, size_t expected) {
        if (broken_) return false;
        if (used_ == 0) return true;
        if (expected != 0) Put(kSendImmediate);
        size_t sent = 0;
        for (int idle = 0; sent < used_;) {
            int n = 0;
            const int r = device_->BulkTransfer(out_, buf_ + sent, static_cast<int>(used_ - sent),
                                                &n, kTimeoutMs);
            sent += static_cast<size_t>(std::max(n, 0));
            if (r != kUsbOk && r != kUsbTimeout) return Broken(r, "sending commands");
            if (n > 0)
                idle = 0;
            else if (++idle >= 3)
                return Broken(kUsbTimeout, "sending commands");
        }
        used_ = 0;
        size_t have = 0;
        for (int idle = 0; have < expected;) {
            int n = 0;
            const int r = device_->BulkTransfer(in_, rx_ + kRxHeadroom, kRxBytes, &n, kTimeoutMs);
            if (r != kUsbOk && r != kUsbTimeout) return Broken(r, "reading TDO");
            const size_t before = have;
            for (int p = 0; p < n; p += kPacket) {
                const int last = std::min(n, p + kPacket);
                for (int k = p + 2; k < last; ++k) {
                    if (have == expected) return Broken(kUsbOverflow, "reading TDO");
                    rx_[have++] = rx_[kRxHeadroom + static_cast<size_t>(k)];
                }
            }
            if (have > before)
                idle = 0;
            else if (++idle >= kMaxIdleReads)
                return Broken(kUsbTimeout, "reading TDO");
        }
        for (size_t j = 0; j < expected; ++j) {
            const Answer& a = answers[j];
            for (unsigned k = 0; k < 8 && a.tdo != nullptr; ++k)
                if ((a.want >> k) & 1)
                    SetClockBit(a.tdo, a.clock + k, ((rx_[j] >> (a.shift + k)) & 1) != 0);
        }
        if (answers == answers_) pending_ = 0;
        return true;
    }

    // The transfer failed: answers still due read as an open TDO line, the cable is done.
    bool Broken(int result, const char* doing) {
        for (size_t j = 0; j < pending_; ++j) {
            const Answer& a = answers_[j];
            for (unsigned k = 0; k < 8 && a.tdo != nullptr; ++k)
                if ((a.want >> k) & 1) SetClockBit(a.tdo, a.clock + k, true);
        }
        pending_ = 0;
        used_ = 0;
        broken_ = true;
        errorCode_ = static_cast<uint32_t>(-result);
        if (result == kUsbNoDevice)
            *error_ = "ftdi: " + what_ + " was unplugged (or lost power) while " + doing +
                      ": plug it back in and run again";
        else if (result == kUsbTimeout)
            *error_ = "ftdi: " + what_ + " stopped answering while " + doing +
                      " (no answer within " + std::to_string(kTimeoutMs) +
                      " ms): check the adapter's power and cable, then run again";
        else
            *error_ = "ftdi: USB transfer to " + what_ + " failed while " + doing + " (" +
                      UsbErrorName(result) + "): plug the adapter in again and run again";
        return false;
    }

    bool Reported(const char* primitive) {
        if (broken_) RequestFailed(primitive, errorCode_);
        return !broken_;
    }

    static constexpr size_t kRxBytes = (kMaxAnswers / (kPacket - 2) + 2) * kPacket;
    // Answers are gathered at the front of rx_ while packets are read behind them.
    static constexpr size_t kRxHeadroom = kMaxAnswers;

    std::unique_ptr<IUsbDevice> device_;
    const Chip& chip_;
    FtdiSpec spec_;
    std::string what_;
    std::shared_ptr<std::string> error_;
    int interface_;
    uint8_t in_;
    uint8_t out_;
    uint8_t buf_[kOutBytes];
    size_t used_ = 0;
    Answer answers_[kMaxAnswers];
    size_t pending_ = 0;
    uint8_t rx_[kRxHeadroom + kRxBytes];
    // The QueueClocks call being encoded.
    const uint32_t* tms_ = nullptr;
    const uint32_t* tdi_ = nullptr;
    const uint32_t* want_ = nullptr;
    uint32_t* tdo_ = nullptr;
    bool tmsPin_ = true;
    bool trst_ = true;
    bool broken_ = false;
    uint32_t errorCode_ = 0;
};

}  // namespace

bool ParseFtdiSpec(const std::string& args, FtdiSpec& out, std::string& error) {
    FtdiSpec s;
    size_t pos = args.empty() ? std::string::npos : 0;
    if (!args.empty() && args[0] == ':') {
        const size_t colon = args.find(':', 1);
        const size_t comma = args.find(',', 1);
        if (colon == std::string::npos || (comma != std::string::npos && comma < colon) ||
            !ParseHex4(args.substr(1, colon - 1), s.vid) ||
            !ParseHex4(
                args.substr(colon + 1, comma == std::string::npos ? comma : comma - colon - 1),
                s.pid)) {
            error = "driver 'ftdi': expected ftdi:VID:PID in hexadecimal, e.g. ftdi:0403:6014";
            return false;
        }
        pos = comma;
    } else if (!args.empty() && args[0] != ',') {
        error = "driver 'ftdi': options start with ':VID:PID' or ',name=value'";
        return false;
    }
    while (pos != std::string::npos) {
        const size_t next = args.find(',', pos + 1);
        const std::string item =
            args.substr(pos + 1, next == std::string::npos ? next : next - pos - 1);
        pos = next;
        const size_t eq = item.find('=');
        const std::string key = item.substr(0, eq);
        const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
        bool ok = eq != std::string::npos && !value.empty();
        if (key == "serial") {
            s.serial = value;
        } else if (key == "channel") {
            ok = ok && value.size() == 1 && value[0] >= 'A' && value[0] <= 'D';
            if (ok) s.channel = static_cast<unsigned>(value[0] - 'A');
        } else if (key == "khz") {
            ok = ok && value.size() <= 5 &&
                 value.find_first_not_of("0123456789") == std::string::npos;
            if (ok) s.khz = static_cast<unsigned>(std::atoi(value.c_str()));
            ok = ok && s.khz >= 1 && s.khz <= 30000;
        } else if (key == "trst" || key == "srst") {
            ok = ok && ParsePin(value, key == "trst" ? s.trst : s.srst);
        } else {
            error = "driver 'ftdi': unknown option '" + key +
                    "' (options: serial=S, channel=A|B|C|D, khz=N, trst=PIN, srst=PIN)";
            return false;
        }
        if (!ok) {
            const char* expected = key == "serial"    ? "a serial number"
                                   : key == "channel" ? "A, B, C or D"
                                   : key == "khz"     ? "a TCK frequency in kHz from 1 to 30000"
                                                      : "ADBUS4-ADBUS7, ACBUS0-ACBUS7 or none";
            error = "driver 'ftdi': " + key + "='" + value + "' is not " + expected;
            return false;
        }
    }
    if (s.trst >= 0 && s.trst == s.srst) {
        error = "driver 'ftdi': nTRST and nRESET cannot share pin " + PinName(s.trst);
        return false;
    }
    out = s;
    return true;
}

FtdiDriver::FtdiDriver(const char* name, const FtdiSpec& spec, std::unique_ptr<IUsbBus> bus,
                       std::string busError)
    : name_(name), spec_(spec), bus_(std::move(bus)) {
    *error_ = std::move(busError);
}

FtdiDriver::~FtdiDriver() = default;

std::vector<FoundFtdi> FindFtdiAdapters(IUsbBus& bus) {
    std::vector<FoundFtdi> found;
    std::vector<UsbDeviceId> devices;
    if (bus.List(devices) < 0) return found;
    for (size_t i = 0; i < devices.size(); ++i) {
        const Chip* chip = devices[i].vid == 0x0403 ? FindChip(devices[i].bcdDevice) : nullptr;
        if (chip == nullptr) continue;
        FoundFtdi f{devices[i].vid, devices[i].pid, {}, chip->name};
        std::unique_ptr<IUsbDevice> handle;
        if (bus.Open(i, handle) != kUsbOk || handle->SerialNumber(f.serial) < 0) f.serial.clear();
        found.push_back(std::move(f));
    }
    return found;
}

std::unique_ptr<ICable> FtdiDriver::OpenCable(const CableOptions&) {
    if (!bus_) return nullptr;  // the error says why since construction
    std::string& error = *error_;
    error.clear();
    const std::string wanted = VidPid(spec_.vid, spec_.pid);
    std::vector<UsbDeviceId> devices;
    if (const int r = bus_->List(devices); r < 0) {
        error = std::string("ftdi: cannot list the USB devices (") + UsbErrorName(r) +
                "): is /dev/bus/usb there?";
        return nullptr;
    }
    // Every device on the bus, with its serial where it can be read, for the messages.
    std::string seen;
    std::vector<size_t> matches;
    std::vector<std::string> serials(devices.size());
    for (size_t i = 0; i < devices.size(); ++i) {
        const UsbDeviceId& d = devices[i];
        const bool match = d.vid == spec_.vid && d.pid == spec_.pid;
        std::unique_ptr<IUsbDevice> handle;
        if ((match || d.vid == 0x0403) && bus_->Open(i, handle) == kUsbOk &&
            handle->SerialNumber(serials[i]) < 0)
            serials[i].clear();
        seen += (seen.empty() ? "" : ", ") + VidPid(d.vid, d.pid) +
                (serials[i].empty() ? "" : " serial " + serials[i]);
        if (match && (spec_.serial.empty() || serials[i] == spec_.serial)) matches.push_back(i);
    }
    const std::string onBus = seen.empty() ? "the USB bus shows no device" : "on the bus: " + seen;
    if (matches.empty()) {
        error = "ftdi: no adapter " + wanted +
                (spec_.serial.empty() ? "" : " with serial " + spec_.serial) + " (" + onBus +
                "): plug it in, or name yours with ftdi:VID:PID[,serial=S] (an FT232H is "
                "0403:6014, an FT4232H 0403:6011)";
        return nullptr;
    }
    if (matches.size() > 1) {
        std::string list;
        for (size_t i : matches) list += (list.empty() ? "" : ", ") + serials[i];
        error = "ftdi: " + std::to_string(matches.size()) + " adapters " + wanted +
                " are plugged in (serials " + list +
                "): choose one with --driver ftdi,serial=" + serials[matches[0]];
        return nullptr;
    }
    const UsbDeviceId& id = devices[matches[0]];
    const char channel = static_cast<char>('A' + spec_.channel);
    // Built apart: GCC 12 (i686) warns falsely on "..." + std::string(1, c) in a long sum.
    std::string channelName = "channel ";
    channelName += channel;
    std::string what = "adapter " + wanted;
    if (!serials[matches[0]].empty()) what += " serial " + serials[matches[0]];
    std::unique_ptr<IUsbDevice> device;
    if (const int r = bus_->Open(matches[0], device); r != kUsbOk) {
        if (r == kUsbAccess)
            error = "ftdi: permission denied opening " + what + " (bus " + std::to_string(id.bus) +
                    " device " + std::to_string(id.address) +
                    "): install Tapwright's udev rule (the package puts it in "
                    "/lib/udev/rules.d/60-tapwright.rules; from the sources: sudo cp "
                    "packaging/60-tapwright.rules /etc/udev/rules.d/ && sudo udevadm control "
                    "--reload-rules), join the plugdev group (sudo adduser $USER plugdev, then "
                    "log in again) and plug the adapter in again";
        else
            error = "ftdi: cannot open " + what + " (" + UsbErrorName(r) +
                    "): plug it in again and run again";
        return nullptr;
    }
    const Chip* chip = FindChip(id.bcdDevice);
    if (chip == nullptr) {
        error = "ftdi: " + what + " is not an FTDI chip with an MPSSE (bcdDevice " +
                Hex4(id.bcdDevice) + "; FT2232D/H, FT232H and FT4232H are)";
        return nullptr;
    }
    if (spec_.channel >= chip->mpsseChannels) {
        error = "ftdi: " + channelName + " of the " + chip->name + " " + what;
        error += chip->mpsseChannels > 1 ? " has no MPSSE: use channel=A or channel=B"
                                         : " has no MPSSE: use channel=A";
        return nullptr;
    }
    if (!chip->highByte && (spec_.trst >= 8 || spec_.srst >= 8)) {
        error = std::string("ftdi: the ") + chip->name + " has no ACBUS pins: put nTRST and " +
                "nRESET on ADBUS4-7 (trst=PIN, srst=PIN) or none";
        return nullptr;
    }
    const int iface = static_cast<int>(spec_.channel);
    int r = device->KernelDriverActive(iface) == 1 ? device->DetachKernelDriver(iface) : kUsbOk;
    if (r == kUsbOk || r == kUsbNotFound || r == kUsbNotSupported)
        r = device->ClaimInterface(iface);
    if (r != kUsbOk) {
        error = "ftdi: " + channelName + " of " + what + " is busy (" + UsbErrorName(r) +
                "): another program (OpenOCD?) has it, or the kernel's ftdi_sio driver holds "
                "it; close that program, or unbind ftdi_sio: `ls "
                "/sys/bus/usb/drivers/ftdi_sio` names the interface (e.g. 1-2:1." +
                std::to_string(iface) + "), then `echo -n 1-2:1." + std::to_string(iface) +
                " | sudo tee /sys/bus/usb/drivers/ftdi_sio/unbind` (or `sudo rmmod ftdi_sio`)";
        return nullptr;
    }
    what += " (" + std::string(chip->name) + " channel " + channel + ")";
    auto cable = std::make_unique<FtdiCable>(std::move(device), *chip, spec_, what, error_);
    if (!cable->Start()) return nullptr;
    return cable;
}

}  // namespace port

#ifndef TAPWRIGHT_HAVE_LIBUSB
namespace port {
std::unique_ptr<IUsbBus> OpenLibUsbBus(std::string& error) {
    error =
        "ftdi: this build has no USB support: install libusb-1.0-0-dev (Debian) and build "
        "again (scripts/setup.sh does)";
    return nullptr;
}
}  // namespace port
#endif
