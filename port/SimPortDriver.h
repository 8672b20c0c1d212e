// The virtual board as a port driver backend, in process.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/CableWiring.h"
#include "port/PortDevice.h"
#include "port/ResourceLock.h"
#include "sim/Board.h"

namespace port {

// The '@' groups of an emulated adapter's driver string ("ftdi-sim,serial=A@busy@sim:DIR":
// {"busy", "sim:DIR"}): the adapters' knobs and the board.
std::vector<std::string> AtGroups(const std::string& args);

class SimPortDriver final : public IPortDriver {
  public:
    // `folderLock` keeps other processes off the board's folder until the board is saved.
    explicit SimPortDriver(const sim::Options& options, ResourceLock folderLock = {});
    ~SimPortDriver() override;
    const char* Name() const override { return "sim"; }
    std::unique_ptr<IPortDevice> OpenDevice() override;
    IServiceControl* Services() override { return nullptr; }

    // The board stays with the driver, so tests can look at it and it outlives the device.
    sim::Board& board() { return *board_; }

  private:
    ResourceLock folderLock_;  // released after the board has saved its folder
    std::unique_ptr<sim::Board> board_;
};

// A device that forwards the two port requests to a board. Any base address is served: the
// register is chosen by the low two address bits (data +0, status +1, control +2).
class SimPortDevice final : public RegisterPortDevice<SimPortDevice> {
  public:
    explicit SimPortDevice(sim::Board& board) : board_(board) {}
    bool Access(bool write, uint16_t address, uint8_t& value) {
        const unsigned reg = address & 3u;
        if (write) {
            if (reg == cable::kDataRegister) board_.WriteData(value);
            return true;  // writes to other registers have no effect on the board
        }
        value = reg == cable::kDataRegister     ? board_.ReadData()
                : reg == cable::kStatusRegister ? board_.ReadStatus()
                                                : 0;
        return true;
    }

  private:
    sim::Board& board_;
};

}  // namespace port
