// The emulated USB bus: FTDI adapters from sim/ (FtdiDevice), the first one wired to a virtual
// board, behind the same USB seam as libusb. Selected only by name (--driver ftdi-sim...), so a
// run on the emulator always says so on its command line.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/PortDevice.h"
#include "port/ResourceLock.h"
#include "port/UsbBus.h"
#include "sim/Board.h"
#include "sim/FtdiDevice.h"

namespace port {

class SimUsbBus final : public IUsbBus {
  public:
    // Adapters in bus order; the board (may be null) is wired to the first.
    // `folderLock` keeps other processes off the board's folder until the board is saved.
    SimUsbBus(const std::vector<sim::FtdiOptions>& adapters, const sim::Options* board,
              ResourceLock folderLock = {});
    ~SimUsbBus() override;
    int List(std::vector<UsbDeviceId>& out) override;
    int Open(size_t index, std::unique_ptr<IUsbDevice>& out) override;

    sim::FtdiDevice& adapter(size_t i) { return *adapters_[i]; }
    sim::Board* board() { return board_.get(); }

  private:
    ResourceLock folderLock_;            // released after the board has saved its folder
    std::unique_ptr<sim::Board> board_;  // before the adapters: they drive it
    std::vector<std::unique_ptr<sim::FtdiDevice>> adapters_;
    std::vector<sim::FtdiDevice*> listed_;
};

// ftdi-sim[:VID:PID][,OPTION...][@ADAPTER-KNOBS]...[@sim[:DIR][,BOARD-KNOBS]]: the options of
// the ftdi driver, then one '@' group per emulated adapter (none: one FT2232H as the defaults
// describe) and the board. `args` is what follows "ftdi-sim".
// `held` (when given) is set when another process holds the board's folder.
std::unique_ptr<IPortDriver> CreateFtdiSimDriver(const std::string& args, std::string& error,
                                                 bool* held = nullptr);

}  // namespace port
