// A port driver for tests that logs every request it serves. It either forwards to another
// driver's device (the virtual board) or answers status reads from a TDO script.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "port/PortDevice.h"

namespace test {

struct PortRequest {
    uint32_t code = 0;  // port::kIoctlWritePort or port::kIoctlReadPort
    uint16_t port = 0;
    uint8_t value = 0;  // written, or read back
};

// One JTAG clock as seen on the wire: a status read and three data writes.
struct WireClock {
    int tms = 0;
    int tdi = 0;
    int tdo = 0;   // sampled by the read before the edge
    int trst = 0;  // nTRST level
};

class RecordingPortDriver final : public port::IPortDriver {
  public:
    // With inner, requests go to inner's device; without, reads come from the TDO script.
    explicit RecordingPortDriver(std::unique_ptr<port::IPortDriver> inner = nullptr);
    ~RecordingPortDriver() override;
    const char* Name() const override { return "recording"; }
    std::unique_ptr<port::IPortDevice> OpenDevice() override;
    port::IServiceControl* Services() override { return nullptr; }
    // With `queued`, a cable that runs its clocks only when flushed, as a USB or network
    // cable does; null otherwise (the client's parallel-port cable).
    std::unique_ptr<port::ICable> OpenCable(const port::CableOptions& options) override;
    bool queued = false;
    uint64_t flushes = 0;

    // The device cannot be opened (OpenDevice returns null), as with a missing driver.
    bool available = true;
    // Set false to stop logging (long transfers).
    bool recording = true;

    std::vector<PortRequest> requests;
    // Scripted TDO samples, consumed one per status read; idleTdo once it runs out.
    std::deque<int> tdoScript;
    int idleTdo = 0;
    // When set, answers the reads the script does not (instead of idleTdo).
    std::function<int()> tdoSource;
    // Called before every status read is served, with the number of reads so far: lets a
    // test change the board in the middle of a transfer.
    std::function<void(uint64_t)> beforeRead;
    uint64_t readCount = 0;

    void Clear() { requests.clear(); }
    void ScriptTdo(const std::vector<int>& bits) { tdoScript.assign(bits.begin(), bits.end()); }
    void AppendTdo(const std::vector<int>& bits) {
        tdoScript.insert(tdoScript.end(), bits.begin(), bits.end());
    }
    // Decodes the log into clocks (read, write, write|TCK, write); other requests are skipped.
    std::vector<WireClock> Clocks() const;
    // Last value written to the data register (port base + 0), or -1.
    int LastDataWrite() const;

  private:
    std::unique_ptr<port::IPortDriver> inner_;
    port::IPortDevice* device_ = nullptr;
};

}  // namespace test
