// An FTDI high-speed USB adapter (FT2232H, FT232H or FT4232H) as libusb-1.0 sees it, for a
// host-side USB seam to route its calls to instead of libusb: descriptors, open/claim, the
// chip's vendor control requests, and the bulk endpoints of each channel, whose MPSSE drives the
// virtual board. Written from FTDI's datasheets and application notes; shares no code with the
// host side.
//
// What a caller may rely on:
// - Methods mirror the libusb calls of the same name and return libusb's numbers (UsbError);
//   ControlTransfer returns the bytes moved on success, like libusb_control_transfer.
// - Enumeration (Present, Descriptor, InterfaceCount, Interface) needs no open handle; every
//   other call needs Open first and fails with kUsbErrorIo without it.
// - Channel n (A = 0) is interface n, with bulk IN endpoint 0x81 + 2n and bulk OUT 0x02 + 2n,
//   512-byte packets; control requests name the channel in wIndex (1 = A; 0 is taken as A).
// - Bulk IN data comes in packets of at most 512 bytes, each starting with the two modem
//   status bytes (kStatus0, kStatus1), so a caller strips two bytes from every 512. A packet
//   shorter than 512 ends a transfer. When the answers fill no whole packet and no
//   send-immediate (0x87) has come since the last short packet, the chip holds them back for
//   its latency timer (a short timeout then returns kUsbErrorTimeout with what came so far);
//   with no answers at all it sends the two status bytes alone. A transfer too small for the
//   next packet returns kUsbErrorOverflow and the rest of that packet is lost.
// - Bulk OUT takes bytes while the channel's OUT buffer has room. Answers the host has not read
//   stay in the channel's IN buffer (4 KiB per channel on FT2232H, 2 KiB on FT4232H, 1 KiB on
//   FT232H); when it is full the engine stops, the OUT buffer fills, and a write returns
//   kUsbErrorTimeout with the count taken, as on the real chip. A read lets the engine go on.
//   Nothing here ever blocks: a transfer the chip could never finish times out at once.
// - Outside MPSSE mode (after a bitmode reset, or on FT4232H channels C and D) OUT bytes go to
//   the UART, which is wired to nothing, and IN brings only status bytes.
// - Simulated time: NowNs() adds one USB round trip (usbLatencyNs) per bulk IN transfer and per
//   control request, the latency-timer waits and timeouts, and the TCK time of every clock.
//   The same waits pass on the board (Board::AdvanceNs), and while the wired channel clocks,
//   the board's clock-ns follows its TCK period, so the board's devices keep the cable's time.
// - Fault knobs are read at every call; an unplug (knob or after N bytes / clocks) is final:
//   the transfer that crosses it fails with kUsbErrorNoDevice after doing its part, the board's
//   pins are left undriven, and every later call fails with kUsbErrorNoDevice.
// No call allocates after construction except StringDescriptor (its std::string).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/Mpsse.h"

namespace sim {

class Board;

// libusb-1.0's error numbers.
enum UsbError : int {
    kUsbSuccess = 0,
    kUsbErrorIo = -1,
    kUsbErrorInvalidParam = -2,
    kUsbErrorAccess = -3,
    kUsbErrorNoDevice = -4,
    kUsbErrorNotFound = -5,
    kUsbErrorBusy = -6,
    kUsbErrorTimeout = -7,
    kUsbErrorOverflow = -8,
    kUsbErrorPipe = -9,
};

enum class FtdiChip { Ft2232h, Ft232h, Ft4232h };

// Adapter knobs, given as "name=value,flag,..." (ParseFtdiOptions).
struct FtdiOptions {
    FtdiChip chip = FtdiChip::Ft2232h;
    uint16_t vid = 0x0403;
    uint16_t pid = 0;  // 0: the chip's own (0x6010, 0x6014, 0x6011)
    std::string serial = "TW000001";
    unsigned channel = 0;  // the channel wired to the board (A = 0)
    int trst = 4;          // pin of that channel driving nTRST (0-7 xDBUS, 8-15 xCBUS), -1 none
    int srst = 5;          // pin driving nRESET, -1 none
    bool rtck = false;     // the board returns TCK on GPIOL3, for adaptive clocking
    uint64_t usbLatencyNs = 250000;  // one USB round trip
    // Faults.
    bool absent = false;             // not on the bus
    bool denied = false;             // open refused (no udev rule)
    bool busy = false;               // another program has claimed the interfaces
    bool driverBound = false;        // ftdi_sio holds the interfaces until detached
    uint64_t unplugAfterBytes = 0;   // pulled once this many bulk OUT bytes are taken (0: never)
    uint64_t unplugAfterClocks = 0;  // pulled at this many TCK clocks (0: never)
};

// Parses "knob[=value],..."; on failure `out` is unchanged and `error` names the knob.
bool ParseFtdiOptions(const std::string& text, FtdiOptions& out, std::string& error);
std::string FtdiOptionsHelp();
// Empty when the options describe an adapter, else what is wrong.
std::string ValidateFtdiOptions(const FtdiOptions& options);

// The fields of libusb_device_descriptor a host looks at.
struct UsbDeviceDescriptor {
    uint16_t bcdUSB = 0x0200;
    uint16_t idVendor = 0;
    uint16_t idProduct = 0;
    uint16_t bcdDevice = 0;  // tells the chips apart: 0x0700 FT2232H, 0x0800 FT4232H, 0x0900 FT232H
    uint8_t iManufacturer = 1;
    uint8_t iProduct = 2;
    uint8_t iSerialNumber = 3;
    uint8_t bNumConfigurations = 1;
};

struct UsbInterfaceInfo {
    uint8_t number = 0;
    uint8_t endpointIn = 0;
    uint8_t endpointOut = 0;
    uint16_t maxPacketSize = 512;
};

class FtdiDevice {
  public:
    static constexpr uint8_t kStatus0 = 0x31;  // modem status: reserved bit 0, CTS, DSR
    static constexpr uint8_t kStatus1 = 0x60;  // line status: transmitter empty
    // Vendor requests (bRequest) and bitmodes.
    static constexpr uint8_t kRequestReset = 0x00;  // wValue 0 reset, 1 purge OUT, 2 purge IN
    static constexpr uint8_t kRequestSetLatency = 0x09;
    static constexpr uint8_t kRequestGetLatency = 0x0A;
    static constexpr uint8_t kRequestSetBitmode = 0x0B;  // wValue mode << 8 | pin mask
    static constexpr uint8_t kBitmodeReset = 0x00;
    static constexpr uint8_t kBitmodeMpsse = 0x02;

    // Throws std::invalid_argument when the options describe no adapter. `board` may be null
    // (an adapter with nothing on its pins); otherwise it must outlive the device.
    FtdiDevice(const FtdiOptions& options, Board* board);
    ~FtdiDevice();
    FtdiDevice(const FtdiDevice&) = delete;
    FtdiDevice& operator=(const FtdiDevice&) = delete;

    bool Present() const;
    UsbDeviceDescriptor Descriptor() const;
    int InterfaceCount() const;
    UsbInterfaceInfo Interface(int number) const;

    int Open();
    void Close();  // releases the interfaces; the chip keeps its mode and pins
    // ASCII string descriptor 1 (manufacturer), 2 (product) or 3 (serial).
    int StringDescriptor(uint8_t index, std::string& out) const;
    int KernelDriverActive(int interface) const;  // 1, 0 or an error
    int DetachKernelDriver(int interface);
    int ClaimInterface(int interface);
    int ReleaseInterface(int interface);
    int ControlTransfer(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                        uint8_t* data, uint16_t length, unsigned timeoutMs);
    int BulkTransfer(uint8_t endpoint, uint8_t* data, int length, int* transferred,
                     unsigned timeoutMs);

    uint64_t NowNs() const { return now_; }
    uint64_t BulkReads() const { return bulkReads_; }  // round trips the host waited for
    uint64_t Clocks() const;                           // TCK cycles on every channel
    const FtdiOptions& options() const { return options_; }
    FtdiOptions& mutable_options() { return options_; }  // fault knobs; the rest is fixed
    MpsseEngine& engine(unsigned channel) { return *channels_[channel].engine; }

  private:
    struct Channel {
        std::unique_ptr<MpsseEngine> engine;
        bool mpsse = false;
        bool claimed = false;
        bool detached = false;  // ftdi_sio detached from it
        uint8_t latencyMs = 16;
    };
    int Check() const;  // present and open, or the error
    int Claimable(int interface) const;
    int Pulled();
    void Wait(uint64_t ns);
    int BulkIn(Channel& c, uint8_t* data, int length, int* transferred, unsigned timeoutMs);
    int BulkOut(Channel& c, const uint8_t* data, int length, int* transferred);

    FtdiOptions options_;
    Board* board_;
    std::vector<Channel> channels_;
    bool open_ = false;
    bool pulled_ = false;
    uint64_t now_ = 0;
    uint64_t bulkReads_ = 0;
    uint64_t bytesOut_ = 0;
};

}  // namespace sim
