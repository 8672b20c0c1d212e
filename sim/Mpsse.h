// One channel's MPSSE (Multi-Protocol Synchronous Serial Engine) of an FT2232H, FT232H or
// FT4232H, written from FTDI's application notes (AN_108 command processor, AN_135 basics) and
// the chips' datasheets. It runs the command stream a host writes to the channel's bulk OUT
// endpoint and queues the bytes the host reads back (the USB framing, with its status bytes, is
// FtdiDevice's). Its pins drive the virtual board.
//
// Pins are numbered 0-7 for the low byte (xDBUS0-7) and 8-15 for the high byte (xCBUS0-7).
// The JTAG wiring is fixed: xDBUS0 TCK, xDBUS1 TDI (the chip's DO), xDBUS2 TDO (its DI), xDBUS3
// TMS (its CS); nTRST and nRESET sit on configurable GPIO pins (active low). A pin reaches the
// board only while it is an output; an undriven board pin takes the board's pulled level.
//
// Timing follows the chip: bit 0 of a data command is placed on its pin before the first clock
// edge and each later bit at the command's output edge, TDO is sampled at its input edge, and
// at every edge the board sees the levels from before the edge (it samples TMS/TDI on rising TCK
// and changes TDO on falling TCK). So a host that picks the wrong edges for its TCK idle level
// gets shifted bits, as on the real chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class Board;

// What differs between the chips' engines.
struct MpsseFeatures {
    bool highByte = true;       // xCBUS pins (FT4232H has none: 0x82 ignored, 0x83 reads 0xFF)
    bool openDrain = false;     // "drive zero only" command 0x9E (FT232H)
    size_t bufferBytes = 4096;  // each of the OUT and IN buffers
};

// Where the engine's pins go.
struct MpsseWiring {
    Board* board = nullptr;  // none: nothing on the pins (inputs read high)
    int trst = 4;            // pin driving nTRST, -1 when not wired
    int srst = 5;            // pin driving nRESET, -1 when not wired
    bool rtck = false;       // the board returns TCK on GPIOL3 (pin 7), for adaptive clocking
};

class MpsseEngine {
  public:
    MpsseEngine(const MpsseFeatures& features, const MpsseWiring& wiring);

    // The state after entering MPSSE mode (and after leaving it): all pins inputs, buffers
    // empty, divide-by-5 on, divisor 0, loopback, three-phase and adaptive clocking off.
    void Reset();

    // Takes command bytes while the OUT buffer has room and runs every complete command.
    // Returns the bytes taken: fewer than n only while the engine is held up (its IN buffer
    // full of unread answers, a wait on a pin, adaptive clocking with no RTCK) or cut off.
    size_t Write(const uint8_t* data, size_t n);
    // Hands over up to n answer bytes, oldest first, and lets a held-up engine go on.
    size_t Read(uint8_t* out, size_t n);
    size_t answers() const { return in_.size(); }
    // A send-immediate has come since answers last went out in a short packet.
    bool flush_requested() const { return flush_; }
    void clear_flush() { flush_ = false; }
    // Empties the command bytes not yet run / the answers not yet read.
    void PurgeOut();
    void PurgeIn();
    // True while the next command waits for something that cannot change by itself.
    bool held() const { return held_; }

    // Levels on pins 0-7 (high = false) or 8-15 (high = true), as command 0x81/0x83 reads them.
    uint8_t ReadPins(bool high) const;

    // Clock time spent so far (ns) and clocks given (TCK cycles, on the pin or not).
    uint64_t clock_ns() const { return ticks_ * 50 / 3; }  // ticks of the 60 MHz base clock
    uint64_t clocks() const { return clocks_; }
    // The cable is pulled when clocks() reaches this count (0: never). Once cut the engine
    // stops mid-command, runs nothing more and leaves the board's pins undriven.
    void set_clock_limit(uint64_t clocks) { clockLimit_ = clocks; }
    void Cut();
    bool cut() const { return cut_; }

  private:
    // Byte FIFO of fixed capacity: no allocation after construction.
    class Fifo {
      public:
        explicit Fifo(size_t capacity) : buf_(capacity) {}
        size_t size() const { return size_; }
        size_t room() const { return buf_.size() - size_; }
        uint8_t peek(size_t i) const { return buf_[(head_ + i) % buf_.size()]; }
        uint8_t pop();
        void push(uint8_t b);
        void clear() { head_ = size_ = 0; }

      private:
        std::vector<uint8_t> buf_;
        size_t head_ = 0;
        size_t size_ = 0;
    };

    void Run();
    bool Start(uint8_t op);  // false: cannot start yet
    bool StepBytes();        // false: held up
    uint8_t Shift(uint8_t op, unsigned bits, uint8_t out);
    void Edge(bool tckHigh);
    void SetPin(unsigned pin, bool level);
    bool Driven(unsigned pin) const;
    bool Level(unsigned pin) const;
    bool Tdo() const;
    void DriveBoard();
    void ClockChanged();
    uint64_t TicksPerBit() const;

    MpsseFeatures features_;
    MpsseWiring wiring_;
    Fifo out_;  // command bytes from the host
    Fifo in_;   // answers for the host
    uint16_t value_ = 0;
    uint16_t dir_ = 0;
    uint16_t zeroOnly_ = 0;  // open-drain pins (FT232H)
    uint16_t divisor_ = 0;
    bool div5_ = true;
    bool threePhase_ = false;
    bool adaptive_ = false;
    bool loopback_ = false;
    bool flush_ = false;
    bool held_ = false;
    bool cut_ = false;
    // The byte command in progress (a long shift runs as its data and buffer room allow).
    uint8_t op_ = 0;
    uint32_t bytesLeft_ = 0;
    int untilLevel_ = -1;  // 0x9C/0x9D: stop when GPIOL1 reaches this level
    uint64_t ticks_ = 0;
    uint64_t clocks_ = 0;
    uint64_t clockLimit_ = 0;
};

}  // namespace sim
