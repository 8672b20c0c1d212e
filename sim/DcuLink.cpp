#include "sim/DcuLink.h"

#include "sim/Memory.h"

namespace sim {

void DcuLink::Rising(bool tdi) {
    switch (rxPos_) {
        case 0:
            if (tdi) rxPos_ = 1;
            return;
        case 1:
            if (!tdi) {  // acknowledge packet
                rxPos_ = 0;
                awaitingAck_ = false;
                return;
            }
            rxPos_ = 2;
            rxData_ = 0;
            if (!knobs_.noAck) {
                if (ackTimerOn_) ++acksQueued_;  // the previous byte's acknowledge is overdue
                const int delay = knobs_.ackDelay < kAckDelayMin ? kAckDelayMin : knobs_.ackDelay;
                ackTimer_ = 9 + delay;  // falling edges to wait, counted from this one
                ackTimerOn_ = true;
            }
            return;
        case 10:
            rxPos_ = 0;
            if (tdi) {  // no stop bit: the byte is dropped, and its acknowledge if not yet out
                ackTimerOn_ = false;
                return;
            }
            OnByte(rxData_);
            return;
        default:
            rxData_ = static_cast<uint8_t>(rxData_ | (tdi ? 1u : 0u) << (rxPos_ - 2));
            ++rxPos_;
            return;
    }
}

bool DcuLink::Falling() {
    if (knobs_.busy) return true;
    if (ackTimerOn_) {
        if (ackTimer_ == 0) {
            ackTimerOn_ = false;
            ++acksQueued_;
        } else {
            --ackTimer_;
        }
    }
    if (txLeft_ == 0) StartPacket();
    bool out = false;
    if (txLeft_ > 0) {
        out = (txShift_ & 1) != 0;
        txShift_ >>= 1;
        if (--txLeft_ == 0) inflight_ = -1;
    }
    if (knobs_.noise > 0.0 && Noise()) out = !out;
    return out;
}

void DcuLink::StartPacket() {
    if (acksQueued_ > 0) {
        --acksQueued_;
        txShift_ = 0b01;
        txLeft_ = 2;
        return;
    }
    // A reply waits for the acknowledge of the request's last byte to go out first.
    if (ackTimerOn_ || awaitingAck_ || replyPos_ >= replyLen_) return;
    inflight_ = replyPos_;
    txShift_ = 0b11u | static_cast<uint32_t>(reply_[replyPos_++]) << 2;  // stop bit 10 is 0
    txLeft_ = 11;
    awaitingAck_ = true;
}

bool DcuLink::Noise() {
    if (!rngSeeded_ || rngSeed_ != knobs_.seed) {
        rngSeed_ = knobs_.seed;
        rng_ = knobs_.seed ^ 0x9E3779B97F4A7C15ull;
        if (rng_ == 0) rng_ = 1;
        rngSeeded_ = true;
    }
    rng_ ^= rng_ >> 12;  // xorshift64*
    rng_ ^= rng_ << 25;
    rng_ ^= rng_ >> 27;
    const uint64_t draw = (rng_ * 0x2545F4914F6CDD1Dull) >> 11;  // 53 bits
    return static_cast<double>(draw) * (1.0 / 9007199254740992.0) < knobs_.noise;
}

void DcuLink::FramingReset() {
    rxPos_ = 0;
    ackTimerOn_ = false;
    acksQueued_ = 0;
    if (knobs_.dropOnReset) {
        msg_ = Msg::Header;
        replyLen_ = replyPos_ = 0;
        awaitingAck_ = false;
    } else if (txLeft_ > 0 && inflight_ >= 0) {
        replyPos_ = inflight_;  // sent again from its start bits
        awaitingAck_ = true;    // once the host acknowledges again
    }
    inflight_ = -1;
    txLeft_ = 0;
}

void DcuLink::Reset() {
    FramingReset();
    awaitingAck_ = false;
    msg_ = Msg::Header;
    replyLen_ = replyPos_ = 0;
}

void DcuLink::OnByte(uint8_t byte) {
    switch (msg_) {
        case Msg::Header:
            if ((byte & 3) > 1) return;  // neither peek nor poke: not a request
            header_ = byte;
            length_ = (byte & 0xFC) == 0 ? 256 : (byte & 0xFC);
            address_ = 0;
            count_ = 0;
            msg_ = Msg::Address;
            return;
        case Msg::Address:
            address_ |= static_cast<uint32_t>(byte) << (8 * count_);
            if (++count_ < 4) return;
            count_ = 0;
            if (header_ & 1) {
                Took(LinkMessage::kPeek);
                BuildReply();
                msg_ = Msg::Header;
            } else {
                Took(LinkMessage::kPoke);
                msg_ = Msg::PokeData;
            }
            return;
        case Msg::PokeData:
            word_[count_ & 3] = byte;
            if ((++count_ & 3) == 0) {
                const uint64_t before = memory_.unmapped_writes();
                memory_.BusWrite(address_ + static_cast<uint32_t>(count_ - 4), word_, 4);
                if (recording_) {
                    record_.back().taken = static_cast<uint32_t>(count_);
                    record_.back().unmapped +=
                        static_cast<uint32_t>(memory_.unmapped_writes() - before);
                }
            }
            if (count_ == length_) msg_ = Msg::Header;
            return;
    }
}

void DcuLink::Record(size_t keep) {
    record_.clear();
    record_.reserve(keep < 4096 ? keep : 4096);
    keep_ = keep;
    recording_ = false;
    unrecorded_ = 0;
}

void DcuLink::Took(LinkMessage::Kind kind) {
    ++taken_;
    recording_ = record_.size() < keep_;
    if (recording_)
        record_.push_back({kind, address_, static_cast<uint32_t>(length_), 0, 0});
    else if (keep_ != 0)
        ++unrecorded_;
}

void DcuLink::BuildReply() {
    int announced = length_;
    if (knobs_.badLength) announced = length_ == 4 ? 8 : (length_ / 2) & 0xFC;
    reply_[0] = static_cast<uint8_t>((announced & 0xFC) | (knobs_.badHeader ? 3 : 2));
    memory_.BusRead(address_ & ~3u, reply_ + 1, static_cast<size_t>(announced));
    replyLen_ = 1 + announced;
    replyPos_ = 0;
    // A new request abandons whatever was left of the previous reply.
    inflight_ = -1;
    awaitingAck_ = false;
}

}  // namespace sim
