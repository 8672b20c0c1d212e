// Host side of the trap handler protocol for the board's tests, written from the formats:
// vector block, DCU control values, parameter block slots and command codes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PinHost.h"
#include "sim/Board.h"
#include "sim/StandInHandlers.h"

namespace simtest {

constexpr uint32_t kEntry = 0x80000A00, kParams = 0x80000F00, kBuffer = 0x80000200;
constexpr uint32_t kFlash = 0x7FF00000;
enum Slot : uint32_t {
    kCommand = 0,
    kAccessAddress = 92,
    kAccessData = 96,
    kCount = 100,
    kOffset = 104,
    kFlashAddress = 108,
    kDeviceSize = 112,
    kBusWidth = 116,
    kAlgorithm = 120,
    kTopBoot = 124,
    kWordMode = 128,
    kFlashStatus = 132,
    kParam0 = 140
};

inline std::vector<uint8_t> Part(const std::string& file) {
    for (const auto& h : sim::StandInHandlers())
        if (file == h.file) return sim::BuildTrapPart(h.part, h.description);
    return {};
}

// General part, optionally a device part, padded with blanks to a multiple of 4.
inline std::vector<uint8_t> Image(const std::string& device = "") {
    std::vector<uint8_t> image = Part("TrapHandler.bin");
    if (!device.empty()) {
        const std::vector<uint8_t> d = Part(device);
        image.insert(image.end(), d.begin(), d.end());
    }
    while (image.size() % 4) image.push_back(0x20);
    return image;
}

class TrapHost {
  public:
    explicit TrapHost(const std::string& knobs = "") {
        std::string error;
        if (!sim::ParseOptions(knobs, options_, error)) throw std::runtime_error(error);
        board_ = std::make_unique<sim::Board>(options_);
        pins_ = std::make_unique<PinHost>(*board_);
    }
    sim::Board& board() { return *board_; }

    uint32_t Peek(uint32_t addr) {
        std::vector<uint8_t> b;
        if (!pins_->ReadMemory(addr, 4, b) || b.size() != 4) return 0xBADBAD00;
        return b[0] | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
    }
    void Poke(uint32_t addr, uint32_t v) {
        pins_->WriteMemory(addr, {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                                  static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    }
    void PokeBlock(uint32_t addr, std::vector<uint8_t> data) {
        while (data.size() % 4) data.push_back(0);
        for (size_t at = 0; at < data.size(); at += 256) {
            const size_t n = std::min<size_t>(256, data.size() - at);
            pins_->WriteMemory(addr + static_cast<uint32_t>(at),
                               std::vector<uint8_t>(data.begin() + static_cast<long>(at),
                                                    data.begin() + static_cast<long>(at + n)));
        }
    }
    uint32_t Status() { return Peek(0x3004); }
    uint32_t Slot(uint32_t s) { return Peek(kParams + s); }
    void SetSlot(uint32_t s, uint32_t v) { Poke(kParams + s, v); }

    // The download and start; false when the handler never runs or never announces itself.
    bool Load(const std::vector<uint8_t>& image, bool* shortcut = nullptr) {
        Poke(0x3004, 0xFFFFFFFF);
        Poke(0x3004, 0);
        PokeBlock(kEntry, image);
        PokeBlock(0x80000040,
                  {0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0x0F, 0, 0x80, 0x00, 0x0A, 0, 0x80});
        if (shortcut) *shortcut = Status() == 0x60000;
        if (shortcut && *shortcut) return true;
        Poke(0x3004, 0x20000000);
        bool running = false;
        for (int i = 0; i < 64 && !running; ++i) running = (Status() & 0x60000) == 0x60000;
        return running && WaitReady(64) > 0;
    }
    // Polls Command; the poll number that saw 1 (then clears it), or 0.
    int WaitReady(int polls) {
        for (int i = 1; i <= polls; ++i) {
            if (Slot(kCommand) == 1) {
                SetSlot(kCommand, 0);
                return i;
            }
        }
        return 0;
    }
    int Command(uint32_t code, int polls = 64) {
        SetSlot(kCommand, code);
        return WaitReady(polls);
    }
    bool Access(uint32_t code, uint32_t addr, uint32_t value, uint32_t* out = nullptr) {
        SetSlot(kAccessAddress, addr);
        if (value != 0) SetSlot(kAccessData, value);
        if (!Command(code)) return false;
        if (out) *out = Slot(kAccessData);
        return true;
    }

  private:
    sim::Options options_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<PinHost> pins_;
};

}  // namespace simtest
