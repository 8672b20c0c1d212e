// A test-only host for the virtual board, written from the wire formats: one JTAG clock is a
// TDO sample taken before the rising edge, then TCK low/high/low with TMS and TDI; the DCU
// link follows the byte framing and message formats of the link protocol.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/Board.h"

namespace simtest {

enum LinkErr {
    kOk = 0,
    kNoStart = 104,
    kNoAck = 105,
    kBadHeader = 106,
    kBadLength = 107,
    kSendFailed = 108,
    kNotIdle = 114
};

class PinHost {
  public:
    explicit PinHost(sim::Board& board, bool stopBitFix = true)
        : board_(board), fixed_(stopBitFix) {}

    int Clock(int tms, int tdi) {
        using B = sim::Board;
        const int tdo = (board_.ReadStatus() & B::kStatusTdo) ? 1 : 0;
        history_ = ((history_ << 1) | tdo) & 3;
        const uint8_t d = static_cast<uint8_t>((tms ? B::kPinTms : 0) | (tdi ? B::kPinTdi : 0) |
                                               (trstHigh_ ? B::kPinTrst : 0) | B::kPinReset);
        board_.WriteData(d);
        board_.WriteData(d | B::kPinTck);
        board_.WriteData(d);
        ++clocks_;
        return tdo;
    }
    int history() const { return history_; }
    uint64_t clocks() const { return clocks_; }
    void SetTrst(bool high) { trstHigh_ = high; }

    void TapReset() {
        for (int i = 0; i < 5; ++i) Clock(1, 0);
        Clock(0, 0);
    }
    uint32_t ShiftIR(int count, uint32_t value) {
        Clock(1, 0), Clock(1, 0), Clock(0, 0), Clock(0, 0);
        uint32_t out = 0;
        for (int i = 0; i < count; ++i) {
            out |= static_cast<uint32_t>(Clock(i == count - 1, value & 1)) << i;
            value >>= 1;
        }
        Clock(1, 0);
        return out;
    }
    uint32_t ShiftDR32(uint32_t in, int bits = 32) {
        Clock(1, 0), Clock(0, 0), Clock(0, 0);
        uint32_t out = 0;
        for (int i = 0; i < bits; ++i) {
            out |= static_cast<uint32_t>(Clock(i == bits - 1, in & 1)) << i;
            in >>= 1;
        }
        Clock(1, 0);
        return out;
    }
    uint32_t ReadIdCode() {
        TapReset();
        ShiftIR(5, 2);
        return ShiftDR32(0);
    }

    // DCU link, host side.
    bool BeginSession() {
        TapReset();
        ShiftIR(5, 16);
        Clock(1, 0), Clock(0, 0), Clock(0, 0);
        return WaitLinkIdle();
    }
    void EndSession() { Clock(1, 0), Clock(1, 0); }
    void LinkResync() {
        TapReset();
        ShiftIR(5, 16);
        Clock(1, 0), Clock(0, 0), Clock(0, 0);
        Clock(0, 0), Clock(0, 1);
    }
    bool WaitLinkIdle(int clocks = 16) {
        int zeros = 0;
        for (int i = 0; i < clocks; ++i) {
            zeros = Clock(0, 0) ? 0 : zeros + 1;
            if (zeros == 8) {
                Clock(0, 0), Clock(0, 1);
                uint8_t discard;
                while (ReceiveByte(discard)) ++drained_;
                error_ = kOk;
                return true;
            }
        }
        error_ = kNotIdle;
        return false;
    }
    bool WaitData(int clocks = 16) {
        guard_ = 0;  // bounds this wait only: long trap sessions make many of them
        for (int i = 0; i < clocks; ++i) {
            Clock(0, 0);
            if (history_ == 3) return true;
            if (history_ == 2) i = -1;
            if (++guard_ > 1000000) break;  // a test must never hang
        }
        error_ = kNoStart;
        return false;
    }
    bool WaitAck(int clocks = 16) {
        for (int i = 0; i < clocks; ++i) {
            Clock(0, 0);
            if (history_ == 2) return true;
        }
        error_ = kNoAck;
        return false;
    }
    bool ReceiveByte(uint8_t& out) {
        if (!WaitData()) return false;
        out = 0;
        for (int i = 0; i < 8; ++i) out |= static_cast<uint8_t>(Clock(0, i == 4) << i);
        if (Clock(0, 0)) {
            ++resyncs_;
            LinkResync();
        }
        return true;
    }
    bool SendByte(uint8_t value) {
        Clock(0, 1), Clock(0, 1);
        if (history_ != 0) {
            ++resyncs_;
            LinkResync();
            if (fixed_) {
                Clock(0, 0);
                Clock(0, 1), Clock(0, 1);
                if (history_ != 0) {
                    error_ = kSendFailed;
                    return false;
                }
            }
        }
        bool acked = false;
        for (int i = 0; i < 8; ++i) {
            Clock(0, (value >> i) & 1);
            if (history_ == 2) acked = true;
        }
        Clock(0, 0);
        if (fixed_ && history_ == 2) acked = true;
        if (acked) return true;
        if (!WaitAck()) {
            error_ = kSendFailed;
            return false;
        }
        return true;
    }
    bool SendRequest(uint8_t header, uint32_t addr) {
        if (!SendByte(header)) return false;
        for (int i = 0; i < 4; ++i)
            if (!SendByte(static_cast<uint8_t>(addr >> (8 * i)))) return false;
        return true;
    }
    // One peek message of n bytes (n a multiple of 4, 4..256).
    bool Peek(uint32_t addr, int n, std::vector<uint8_t>& out) {
        out.clear();
        if (!SendRequest(static_cast<uint8_t>((n & 0xFC) | 1), addr & ~3u)) return false;
        uint8_t h;
        if (!ReceiveByte(h)) return false;
        lastHeader_ = h;
        if ((h & 3) != 2) {
            error_ = kBadHeader;
            return false;
        }
        const int m = (h & 0xFC) == 0 ? 256 : (h & 0xFC);
        if (m != (n == 0 ? 256 : n)) {
            error_ = kBadLength;
            return false;
        }
        for (int i = 0; i < m; ++i) {
            uint8_t b;
            if (!ReceiveByte(b)) return false;
            out.push_back(b);
        }
        return true;
    }
    bool Poke(uint32_t addr, const std::vector<uint8_t>& data) {
        const int n = static_cast<int>(data.size());
        if (!SendRequest(static_cast<uint8_t>(n & 0xFC), addr)) return false;
        for (uint8_t b : data)
            if (!SendByte(b)) return false;
        return true;
    }
    // Peek/poke inside a session of their own.
    bool ReadMemory(uint32_t addr, int n, std::vector<uint8_t>& out) {
        if (!BeginSession()) return false;
        const bool ok = Peek(addr, n, out);
        EndSession();
        return ok;
    }
    bool WriteMemory(uint32_t addr, const std::vector<uint8_t>& data) {
        if (!BeginSession()) return false;
        const bool ok = Poke(addr, data);
        EndSession();
        return ok;
    }

    int error() const { return error_; }
    int resyncs() const { return resyncs_; }
    int drained() const { return drained_; }
    uint8_t lastHeader() const { return lastHeader_; }

  private:
    sim::Board& board_;
    bool fixed_;
    bool trstHigh_ = true;
    int history_ = 0;
    int error_ = kOk;
    int resyncs_ = 0;
    int drained_ = 0;
    uint64_t guard_ = 0;
    uint64_t clocks_ = 0;
    uint8_t lastHeader_ = 0;
};

}  // namespace simtest
