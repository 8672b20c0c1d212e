// The MPSSE cable: an FTDI high-speed chip (FT2232H, FT232H, FT4232H; FT2232D at its lower
// clock) driving JTAG from one channel's MPSSE, as OpenOCD's ftdi driver does:
// TCK, TDI, TDO, TMS on xDBUS0-3, nTRST and nRESET on GPIO pins (default ADBUS4 and ADBUS5).
//
// Queued clocks become MPSSE commands in one write buffer: runs with a steady TMS are clocked
// as data (bytes, then bits), TMS changes as TMS commands (up to 6 clocks with one TDI level).
// A flush is one bulk write (ended by a send-immediate when answers are due) and one bulk read
// of the answers. Data goes out on the falling edge and TDO is sampled on the rising edge with
// TCK idle low, so the TDO of a clock is the level before its rising edge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/PortDevice.h"
#include "port/UsbBus.h"

namespace port {

// What --driver ftdi[:VID:PID][,serial=S][,channel=A|B|C|D][,khz=N][,trst=PIN][,srst=PIN] says.
struct FtdiSpec {
    uint16_t vid = 0x0403;
    uint16_t pid = 0x6010;
    std::string serial;  // "": the only adapter with that VID:PID
    unsigned channel = 0;
    unsigned khz = 6000;
    int trst = 4;  // pin 4-7 ADBUS4-7, 8-15 ACBUS0-7; -1 none
    int srst = 5;
};

// `args` is what follows "ftdi" ("", ":0403:6014,serial=X", ",khz=1000", ...).
bool ParseFtdiSpec(const std::string& args, FtdiSpec& out, std::string& error);

// An FTDI chip with an MPSSE on the bus; `serial` is "" where it cannot be read.
struct FoundFtdi {
    uint16_t vid = 0;
    uint16_t pid = 0;
    std::string serial;
    const char* chip = "";
};
std::vector<FoundFtdi> FindFtdiAdapters(IUsbBus& bus);

class FtdiDriver final : public IPortDriver {
  public:
    // `bus` null: this build cannot reach USB, `busError` says why and how to get it.
    FtdiDriver(const char* name, const FtdiSpec& spec, std::unique_ptr<IUsbBus> bus,
               std::string busError = {});
    ~FtdiDriver() override;
    const char* Name() const override { return name_; }
    std::unique_ptr<IPortDevice> OpenDevice() override { return nullptr; }
    std::unique_ptr<ICable> OpenCable(const CableOptions& options) override;
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return *error_; }
    IUsbBus* bus() { return bus_.get(); }

  private:
    const char* name_;
    FtdiSpec spec_;
    std::unique_ptr<IUsbBus> bus_;
    std::shared_ptr<std::string> error_ = std::make_shared<std::string>();
};

}  // namespace port
