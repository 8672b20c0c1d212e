// Target side of the DCU serial link that runs inside JTAG instruction 16.
//
// Bit framing, one bit per clock while the TAP sits in Shift-DR:
//   data packet  1, 1, d0 .. d7 (LSB first), 0
//   acknowledge  1, 0
// Both directions use the same two packets. TDI is parsed into packets continuously, so the
// host's "TDI 1 during data bit 4" while it receives is an acknowledge packet, and so is the
// trailing "1, 0" of its resynchronisation. On TDO the board acknowledges every data packet it
// takes and sends its replies, one data packet at a time, each only after the host has
// acknowledged the previous one (the acknowledge may arrive during the packet itself).
//
// Messages (every field one data packet): peek (n & 0xFC) | 1, 4 address bytes LE (bits 0-1
// ignored) -> reply (n & 0xFC) | 2 then n bytes; poke n & 0xFC, 4 address bytes LE, n bytes.
// A length field of 0 means 256.
//
// Leaving Shift-DR (a TAP reset, or the end of a session) resets the bit framing: a
// half-received packet is dropped. What becomes of the message is not known from the wire
// format, so the board offers both readings: the link keeps its place in the current message
// and a half-sent reply packet is sent again from its start once the host acknowledges (the
// default), or the link drops the half-received message and any reply still owed.
// Packets are taken in order and never lost to a slow consumer: the acknowledge only paces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class Memory;

// When the acknowledge's 1 goes out, in clocks after the clock that carries a byte's stop bit
// (0 = on that clock's falling edge; negative values acknowledge during the data bits, -9 as
// soon as start and flag are in). A host that samples TDO before each rising edge and looks
// for the history (1,0) after each data bit and during 16 clocks after the stop bit accepts
// -9..-3 and -1..14; -2 puts the 1 on the last data bit and the 0 on the stop bit, which only
// a host that also checks right after the stop-bit clock sees. 15 and more is too late.
constexpr int kAckDelayMin = -9;
constexpr int kAckDelayMax = 1000000;
constexpr int kAckDelayLastAccepted = 14;
constexpr int kAckDelayDefault = -9;  // prompt: the host never waits after the stop bit

struct LinkKnobs {
    int ackDelay = kAckDelayDefault;
    bool noAck = false;        // bytes are taken but never acknowledged
    bool badHeader = false;    // peek replies carry header low bits 3
    bool badLength = false;    // peek replies announce (and send) another length
    bool busy = false;         // the link never goes idle: TDO stays 1 in the link register
    double noise = 0.0;        // probability of flipping each TDO bit of the link
    uint64_t seed = 1;         // noise generator seed
    bool dropOnReset = false;  // leaving Shift-DR drops a half-received message
};

// A message the link took: a peek once its address is in, a poke from its address on, with
// the data bytes taken so far and how many of them fell where nothing is mapped.
struct LinkMessage {
    enum Kind : uint8_t { kPeek, kPoke };
    Kind kind;
    uint32_t address;   // as the message gives it (a peek's bits 0-1 are ignored)
    uint32_t length;    // 4 .. 256
    uint32_t taken;     // poke data bytes taken (a peek: 0)
    uint32_t unmapped;  // of those, bytes written to no memory
};

class DcuLink {
  public:
    DcuLink(const LinkKnobs& knobs, Memory& memory) : knobs_(knobs), memory_(memory) {}

    // Rising TCK edge with the TAP in Shift-DR (before the edge) and the link selected.
    void Rising(bool tdi);
    // Falling TCK edge with the TAP in Shift-DR and the link selected: the next TDO bit.
    bool Falling();
    // The TAP left Shift-DR.
    void FramingReset();
    // System reset: framing and message state both start over.
    void Reset();

    // Reply bytes not yet sent whole.
    int pending_reply() const { return replyLen_ - replyPos_ + (inflight_ >= 0 ? 1 : 0); }

    // Messages taken, all counted; the first `keep` after this call also recorded (0: none).
    void Record(size_t keep);
    const std::vector<LinkMessage>& messages() const { return record_; }
    uint64_t messages_taken() const { return taken_; }
    uint64_t messages_unrecorded() const { return unrecorded_; }
    // Whether the link is inside a message (a header taken, its address or data not all in).
    bool in_message() const { return msg_ != Msg::Header; }

  private:
    void OnByte(uint8_t byte);
    void BuildReply();
    void Took(LinkMessage::Kind kind);
    void StartPacket();
    bool Noise();

    const LinkKnobs& knobs_;
    Memory& memory_;

    // Receiver: 0 idle, 1 start seen, 2..9 data bits, 10 stop bit.
    int rxPos_ = 0;
    uint8_t rxData_ = 0;

    // Acknowledges owed to the host.
    bool ackTimerOn_ = false;
    int ackTimer_ = 0;
    int acksQueued_ = 0;

    // Transmitter.
    uint32_t txShift_ = 0;
    int txLeft_ = 0;
    int inflight_ = -1;  // reply index of the data packet on the wire, -1 none
    bool awaitingAck_ = false;

    // Message layer.
    enum class Msg { Header, Address, PokeData } msg_ = Msg::Header;
    uint8_t header_ = 0;
    int count_ = 0;
    int length_ = 0;
    uint32_t address_ = 0;
    uint8_t word_[4] = {};
    uint8_t reply_[257] = {};
    int replyLen_ = 0;
    int replyPos_ = 0;

    std::vector<LinkMessage> record_;
    size_t keep_ = 0;
    bool recording_ = false;  // the message being taken has its row in record_
    uint64_t taken_ = 0;
    uint64_t unrecorded_ = 0;

    uint64_t rng_ = 0;
    uint64_t rngSeed_ = 0;
    bool rngSeeded_ = false;
};

}  // namespace sim
