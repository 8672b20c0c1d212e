// The emulated GPIO chip from sim/ (GpioChip), its lines wired to a virtual board, behind the
// same GPIO seam as libgpiod. Selected only by name (--driver gpiod-sim...).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/GpioLines.h"
#include "port/PortDevice.h"
#include "port/ResourceLock.h"
#include "sim/Board.h"
#include "sim/GpioChip.h"

namespace port {

class SimGpioSystem final : public IGpioSystem {
  public:
    // `folderLock` keeps other processes off the board's folder until the board is saved.
    SimGpioSystem(const sim::GpioOptions& chip, const sim::Options& board,
                  ResourceLock folderLock = {});
    ~SimGpioSystem() override;
    int Open(const std::string& chip, std::unique_ptr<IGpioChip>& out) override;
    std::vector<std::string> Chips() override;
    sim::GpioChip& chip() { return *chip_; }
    sim::Board& board() { return *board_; }

  private:
    ResourceLock folderLock_;  // released after the board has saved its folder
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<sim::GpioChip> chip_;
};

// gpiod-sim[:CHIP,tck=N,...][@CHIP-KNOBS][@sim[:DIR][,BOARD-KNOBS]]: the gpiod driver's options
// (default: the Raspberry Pi wiring the emulated chip has), the chip's knobs and the board.
// `held` (when given) is set when another process holds the board's folder.
std::unique_ptr<IPortDriver> CreateGpiodSimDriver(const std::string& args, std::string& error,
                                                  bool* held = nullptr);

}  // namespace port
