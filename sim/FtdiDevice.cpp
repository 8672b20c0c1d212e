#include "sim/FtdiDevice.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <stdexcept>

#include "sim/Board.h"
#include "sim/Knobs.h"
#include "sim/SimClock.h"

namespace sim {

namespace {

constexpr int kMaxPacket = 512;
constexpr uint8_t kVendorOut = 0x40;
constexpr uint8_t kVendorIn = 0xC0;

struct ChipInfo {
    const char* name;
    uint16_t pid;
    uint16_t bcdDevice;
    const char* product;
    unsigned channels;
    unsigned mpsseChannels;  // the first ones
    MpsseFeatures features;
};

const ChipInfo& Info(FtdiChip chip) {
    static const ChipInfo kChips[] = {
        {"ft2232h", 0x6010, 0x0700, "Dual RS232-HS", 2, 2, {true, false, 4096}},
        {"ft232h", 0x6014, 0x0900, "Single RS232-HS", 1, 1, {true, true, 1024}},
        {"ft4232h", 0x6011, 0x0800, "Quad RS232-HS", 4, 2, {false, false, 2048}},
    };
    return kChips[static_cast<int>(chip)];
}

bool Hex16(const std::string& v, uint16_t& out, std::string& error) {
    uint64_t n = 0;
    if (!KnobHex(v, 4, n)) {
        error = "four hexadecimal digits";
        return false;
    }
    out = static_cast<uint16_t>(n);
    return true;
}

// "ADBUS4" (any channel letter), "ACBUS0", a pin number 4-15, or "none".
bool Pin(const std::string& v, int& out, std::string& error) {
    uint64_t n = 0;
    if (v == "none") {
        out = -1;
        return true;
    }
    if (v.size() == 6 && v.compare(2, 3, "BUS") == 0 && v[0] >= 'A' && v[0] <= 'D' &&
        (v[1] == 'D' || v[1] == 'C') && v[5] >= '0' && v[5] <= '7') {
        out = (v[1] == 'C' ? 8 : 0) + (v[5] - '0');
    } else if (KnobNumber(v, 15, n)) {
        out = static_cast<int>(n);
    } else {
        out = -2;
    }
    if (out < 4) {
        error = "a GPIO pin ADBUS4-ADBUS7, ACBUS0-ACBUS7 (or 4-15), or none";
        return false;
    }
    return true;
}

bool Count(const std::string& v, uint64_t& out, std::string& error) {
    if (KnobNumber(v, UINT64_MAX, out) && out != 0) return true;
    error = "a whole number from 1";
    return false;
}

const Knob<FtdiOptions> kFtdiKnobs[] = {
    {"chip", "ft2232h|ft232h|ft4232h", "adapter chip (default ft2232h)",
     [](FtdiOptions& o, const std::string& v, std::string& e) {
         for (FtdiChip c : {FtdiChip::Ft2232h, FtdiChip::Ft232h, FtdiChip::Ft4232h})
             if (v == Info(c).name) {
                 o.chip = c;
                 return true;
             }
         e = "ft2232h, ft232h or ft4232h";
         return false;
     }},
    {"vid", "HEX", "USB vendor id (default 0403)",
     [](FtdiOptions& o, const std::string& v, std::string& e) { return Hex16(v, o.vid, e); }},
    {"pid", "HEX", "USB product id (default the chip's: 6010, 6014, 6011)",
     [](FtdiOptions& o, const std::string& v, std::string& e) { return Hex16(v, o.pid, e); }},
    {"serial", "TEXT", "serial number string (default TW000001)",
     [](FtdiOptions& o, const std::string& v, std::string&) {
         o.serial = v;
         return true;
     }},
    {"channel", "A|B|C|D", "channel wired to the board (default A)",
     [](FtdiOptions& o, const std::string& v, std::string& e) {
         if (v.size() != 1 || v[0] < 'A' || v[0] > 'D') {
             e = "A, B, C or D";
             return false;
         }
         o.channel = static_cast<unsigned>(v[0] - 'A');
         return true;
     }},
    {"trst", "PIN", "pin driving nTRST (default ADBUS4; none: not wired)",
     [](FtdiOptions& o, const std::string& v, std::string& e) { return Pin(v, o.trst, e); }},
    {"srst", "PIN", "pin driving nRESET (default ADBUS5; none: not wired)",
     [](FtdiOptions& o, const std::string& v, std::string& e) { return Pin(v, o.srst, e); }},
    {"rtck", nullptr, "the board returns TCK on GPIOL3 (adaptive clocking works)",
     [](FtdiOptions& o, const std::string&, std::string&) { return o.rtck = true; }},
    {"usb-latency-us", "N", "one USB round trip in microseconds (default 250)",
     [](FtdiOptions& o, const std::string& v, std::string& e) {
         uint64_t n = 0;
         if (!KnobNumber(v, 10000000, n)) {
             e = "a whole number of microseconds up to 10000000";
             return false;
         }
         o.usbLatencyNs = n * kNsPerUs;
         return true;
     }},
    {"absent", nullptr, "no adapter on the bus",
     [](FtdiOptions& o, const std::string&, std::string&) { return o.absent = true; }},
    {"denied", nullptr, "opening the adapter is refused (no udev rule)",
     [](FtdiOptions& o, const std::string&, std::string&) { return o.denied = true; }},
    {"busy", nullptr, "another program has claimed the adapter",
     [](FtdiOptions& o, const std::string&, std::string&) { return o.busy = true; }},
    {"driver-bound", nullptr, "ftdi_sio holds the channels until detached",
     [](FtdiOptions& o, const std::string&, std::string&) { return o.driverBound = true; }},
    {"unplug-after-bytes", "N", "pulled out once N command bytes went out",
     [](FtdiOptions& o, const std::string& v, std::string& e) {
         return Count(v, o.unplugAfterBytes, e);
     }},
    {"unplug-after-clocks", "N", "pulled out at the N-th TCK clock",
     [](FtdiOptions& o, const std::string& v, std::string& e) {
         return Count(v, o.unplugAfterClocks, e);
     }},
};

}  // namespace

bool ParseFtdiOptions(const std::string& text, FtdiOptions& out, std::string& error) {
    return ParseKnobs(kFtdiKnobs, "adapter", text, out, error, ValidateFtdiOptions);
}

std::string FtdiOptionsHelp() {
    return KnobsHelp(kFtdiKnobs);
}

std::string ValidateFtdiOptions(const FtdiOptions& o) {
    const ChipInfo& chip = Info(o.chip);
    if (o.channel >= chip.mpsseChannels)
        return std::string("channel ") + static_cast<char>('A' + o.channel) + " of an " +
               chip.name + " has no MPSSE";
    for (int pin : {o.trst, o.srst}) {
        if (pin >= 8 && !chip.features.highByte)
            return std::string("an ") + chip.name + " has no xCBUS pins";
        if (pin != -1 && (pin < 4 || pin > 15)) return "nTRST and nRESET need GPIO pins 4-15";
    }
    if (o.trst != -1 && o.trst == o.srst) return "nTRST and nRESET are on the same pin";
    return std::string();
}

FtdiDevice::FtdiDevice(const FtdiOptions& options, Board* board)
    : options_(options), board_(board) {
    if (std::string e = ValidateFtdiOptions(options_); !e.empty()) throw std::invalid_argument(e);
    const ChipInfo& chip = Info(options_.chip);
    channels_.resize(chip.channels);
    for (unsigned i = 0; i < chip.channels; ++i) {
        MpsseWiring w;
        if (i == options_.channel) {
            w.board = board_;
            w.trst = options_.trst;
            w.srst = options_.srst;
            w.rtck = options_.rtck;
        }
        channels_[i].engine = std::make_unique<MpsseEngine>(chip.features, w);
    }
}

FtdiDevice::~FtdiDevice() = default;

bool FtdiDevice::Present() const {
    return !options_.absent && !pulled_;
}

UsbDeviceDescriptor FtdiDevice::Descriptor() const {
    const ChipInfo& chip = Info(options_.chip);
    UsbDeviceDescriptor d;
    d.idVendor = options_.vid;
    d.idProduct = options_.pid != 0 ? options_.pid : chip.pid;
    d.bcdDevice = chip.bcdDevice;
    return d;
}

int FtdiDevice::InterfaceCount() const {
    return static_cast<int>(channels_.size());
}

UsbInterfaceInfo FtdiDevice::Interface(int number) const {
    UsbInterfaceInfo i;
    i.number = static_cast<uint8_t>(number);
    i.endpointIn = static_cast<uint8_t>(0x81 + 2 * number);
    i.endpointOut = static_cast<uint8_t>(0x02 + 2 * number);
    return i;
}

int FtdiDevice::Check() const {
    if (!Present()) return kUsbErrorNoDevice;
    return open_ ? kUsbSuccess : kUsbErrorIo;
}

int FtdiDevice::Open() {
    if (!Present()) return kUsbErrorNoDevice;
    if (options_.denied) return kUsbErrorAccess;
    open_ = true;
    return kUsbSuccess;
}

void FtdiDevice::Close() {
    for (Channel& c : channels_) c.claimed = false;
    open_ = false;
}

int FtdiDevice::StringDescriptor(uint8_t index, std::string& out) const {
    if (int e = Check()) return e;
    switch (index) {
        case 1:
            out = "FTDI";
            break;
        case 2:
            out = Info(options_.chip).product;
            break;
        case 3:
            out = options_.serial;
            break;
        default:
            return kUsbErrorPipe;
    }
    return static_cast<int>(out.size());
}

int FtdiDevice::KernelDriverActive(int interface) const {
    if (int e = Check()) return e;
    if (interface < 0 || interface >= InterfaceCount()) return kUsbErrorNotFound;
    return options_.driverBound && !channels_[interface].detached ? 1 : 0;
}

int FtdiDevice::DetachKernelDriver(int interface) {
    if (int e = KernelDriverActive(interface); e <= 0) return e == 0 ? kUsbErrorNotFound : e;
    channels_[interface].detached = true;
    return kUsbSuccess;
}

int FtdiDevice::Claimable(int interface) const {
    if (interface < 0 || interface >= InterfaceCount()) return kUsbErrorNotFound;
    if (options_.busy || KernelDriverActive(interface) == 1) return kUsbErrorBusy;
    return kUsbSuccess;
}

int FtdiDevice::ClaimInterface(int interface) {
    if (int e = Check()) return e;
    if (int e = Claimable(interface)) return e;
    channels_[interface].claimed = true;
    return kUsbSuccess;
}

int FtdiDevice::ReleaseInterface(int interface) {
    if (int e = Check()) return e;
    if (interface < 0 || interface >= InterfaceCount() || !channels_[interface].claimed)
        return kUsbErrorNotFound;
    channels_[interface].claimed = false;
    return kUsbSuccess;
}

void FtdiDevice::Wait(uint64_t ns) {
    now_ = AddNs(now_, ns);
    if (board_ != nullptr) board_->AdvanceNs(ns);
}

int FtdiDevice::Pulled() {
    pulled_ = true;
    open_ = false;
    for (Channel& c : channels_) c.engine->Cut();
    return kUsbErrorNoDevice;
}

uint64_t FtdiDevice::Clocks() const {
    uint64_t n = 0;
    for (const Channel& c : channels_) n += c.engine->clocks();
    return n;
}

int FtdiDevice::ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value,
                                uint16_t index, uint8_t* data, uint16_t length, unsigned) {
    if (int e = Check()) return e;
    Wait(options_.usbLatencyNs);
    const unsigned port = index & 0xFF;
    const unsigned ch = port == 0 ? 0 : port - 1;
    if (ch >= channels_.size()) return kUsbErrorPipe;
    Channel& c = channels_[ch];
    MpsseEngine& e = *c.engine;
    auto reply = [&](std::initializer_list<uint8_t> bytes) {
        if (requestType != kVendorIn) return static_cast<int>(kUsbErrorPipe);
        const size_t n = std::min<size_t>(length, bytes.size());
        if (n != 0 && data == nullptr) return static_cast<int>(kUsbErrorInvalidParam);
        std::copy(bytes.begin(), bytes.begin() + n, data);
        return static_cast<int>(n);
    };
    if (requestType != kVendorOut && requestType != kVendorIn) return kUsbErrorPipe;
    switch (request) {
        case kRequestReset:
            if (requestType != kVendorOut || value > 2) return kUsbErrorPipe;
            if (value != 2) e.PurgeOut();  // 1: data from the host not yet run
            if (value != 1) e.PurgeIn();   // 2: answers not yet read
            return 0;
        case 0x01:  // modem control, flow control, baud rate, data format,
        case 0x02:  // event and error characters: nothing on the UART side to change
        case 0x03:
        case 0x04:
        case 0x06:
        case 0x07:
            return requestType == kVendorOut ? 0 : kUsbErrorPipe;
        case 0x05:  // modem status
            return reply({kStatus0, kStatus1});
        case kRequestSetLatency:
            if (requestType != kVendorOut || (value & 0xFF) == 0) return kUsbErrorPipe;
            c.latencyMs = static_cast<uint8_t>(value);
            return 0;
        case kRequestGetLatency:
            return reply({c.latencyMs});
        case kRequestSetBitmode: {
            const unsigned mode = value >> 8;
            if (requestType != kVendorOut) return kUsbErrorPipe;
            if (mode == kBitmodeReset) {
                c.mpsse = false;
                e.Reset();
                return 0;
            }
            // Only MPSSE is modelled, and only where the chip has it.
            if (mode != kBitmodeMpsse || ch >= Info(options_.chip).mpsseChannels)
                return kUsbErrorPipe;
            c.mpsse = true;
            e.Reset();
            return 0;
        }
        case 0x0C:  // pins as they are now
            return reply({e.ReadPins(false)});
        default:
            return kUsbErrorPipe;
    }
}

int FtdiDevice::BulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                             unsigned timeoutMs) {
    if (transferred != nullptr) *transferred = 0;
    if (int e = Check()) return e;
    const bool in = (endpoint & 0x80) != 0;
    const int number = in ? (endpoint - 0x81) / 2 : (endpoint - 0x02) / 2;
    if (number < 0 || number >= InterfaceCount() ||
        endpoint != (in ? Interface(number).endpointIn : Interface(number).endpointOut))
        return kUsbErrorNotFound;
    if (length < 0 || (length > 0 && data == nullptr) || transferred == nullptr)
        return kUsbErrorInvalidParam;
    Channel& c = channels_[number];
    // usbfs claims an unclaimed interface on first use, unless something else holds it.
    if (!c.claimed) {
        if (int e = Claimable(number)) return e;
        c.claimed = true;
    }
    MpsseEngine& e = *c.engine;
    e.set_clock_limit(options_.unplugAfterClocks);
    const uint64_t clockNs = e.clock_ns();
    const int result = in ? BulkIn(c, data, length, transferred, timeoutMs)
                          : BulkOut(c, data, length, transferred);
    now_ = AddNs(now_, e.clock_ns() - clockNs);  // the board counted the same clocks itself
    const bool cut = e.cut();
    if (cut || (options_.unplugAfterBytes != 0 && bytesOut_ >= options_.unplugAfterBytes)) {
        Pulled();
        // Pulled right after an OUT transfer's last byte: that transfer went through.
        return cut || result != kUsbSuccess ? kUsbErrorNoDevice : result;
    }
    if (result == kUsbErrorTimeout && !in) Wait(static_cast<uint64_t>(timeoutMs) * kNsPerMs);
    return result;
}

int FtdiDevice::BulkOut(Channel& c, const uint8_t* data, int length, int* transferred) {
    size_t allowed = static_cast<size_t>(length);
    if (options_.unplugAfterBytes != 0)
        allowed = std::min<uint64_t>(
            allowed, options_.unplugAfterBytes - std::min(bytesOut_, options_.unplugAfterBytes));
    const size_t taken = c.mpsse ? c.engine->Write(data, allowed) : allowed;
    bytesOut_ += taken;
    *transferred = static_cast<int>(taken);
    return taken < static_cast<size_t>(length) ? kUsbErrorTimeout : kUsbSuccess;
}

int FtdiDevice::BulkIn(Channel& c, uint8_t* data, int length, int* transferred,
                       unsigned timeoutMs) {
    ++bulkReads_;
    Wait(options_.usbLatencyNs);
    MpsseEngine& e = *c.engine;
    int got = 0;
    bool held = false;
    while (got < length) {
        const size_t waiting = c.mpsse ? e.answers() : 0;
        const size_t payload = std::min<size_t>(waiting, kMaxPacket - 2);
        if (payload < kMaxPacket - 2 && !e.flush_requested() && !held) {
            // A short packet waits for the latency timer.
            const uint64_t hold = static_cast<uint64_t>(c.latencyMs) * kNsPerMs;
            if (timeoutMs != 0 && static_cast<uint64_t>(timeoutMs) * kNsPerMs < hold) {
                Wait(static_cast<uint64_t>(timeoutMs) * kNsPerMs);
                *transferred = got;
                return kUsbErrorTimeout;
            }
            Wait(hold);
            held = true;
            continue;
        }
        uint8_t packet[kMaxPacket] = {kStatus0, kStatus1};
        const int size = static_cast<int>(2 + e.Read(packet + 2, payload));
        const int fits = std::min(size, length - got);
        std::memcpy(data + got, packet, static_cast<size_t>(fits));
        got += fits;
        if (fits < size) {
            *transferred = got;
            return kUsbErrorOverflow;  // the rest of the packet is lost
        }
        if (size < kMaxPacket) {
            e.clear_flush();
            break;
        }
    }
    *transferred = got;
    return kUsbSuccess;
}

}  // namespace sim
