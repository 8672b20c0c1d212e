// The DCU byte link inside JTAG instruction 16, and memory access through peek and poke.
//
// Byte framing, one bit per clock with TMS 0 while the TAP is parked in Shift-DR:
//   host -> target: TDI 1, 1, eight data bits LSB first, TDI 0; the target acknowledges
//                   with TDO 1 then 0 during the data bits or within 16 clocks of the stop.
//   target -> host: TDO 1, 1, eight data bits LSB first, stop 0; the host acknowledges with
//                   TDI 1 on data bit 4.
// Messages: peek request (n & 0xFC) | 1 and the address with bits 0-1 cleared, reply header
// (n & 0xFC) | 2 and n bytes; poke request n & 0xFC, the address as is, then n bytes.
// A length field of 0 stands for 256.
#include <algorithm>
#include <cstring>

#include "link/LinkErrors.h"
#include "link/TargetLink.h"

namespace {

constexpr uint32_t kHistoryStart = 3;  // two 1 samples: a data byte from the target
constexpr uint32_t kHistoryAck = 2;    // 1 then 0: an acknowledge

// WaitData restarts its count while acknowledges pass; a line toggling for ever must still
// end, so the total is capped at this many budgets.
constexpr int kWaitDataBudgets = 8;
// Most bytes a session start drains: more than any reply still in flight (1 + 256).
constexpr int kMaxDrainBytes = 1024;

uint32_t Le32(const uint8_t* b) {
    return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
           static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void PutLe32(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

}  // namespace

void CTargetLink::EnterLinkRegister() {
    TapReset();
    ShiftIR(kIrLength, kIrDcuLink);
    ClockTap(1, 0);
    ClockTap(0, 0);
    ClockTap(0, 0);
}

bool CTargetLink::BeginSession() {
    EnterLinkRegister();
    m_bSession = true;
    if (!WaitLinkIdle(16)) {
        EndSession();
        m_bSession = false;
    }
    return m_bSession;
}

void CTargetLink::EndSession() {
    if (m_bSession) {
        ClockTap(1, 0);
        ClockTap(1, 0);
    }
    m_bSession = false;
}

void CTargetLink::LinkResync() {
    EnterLinkRegister();
    ClockTap(0, 0);
    ClockTap(0, 1);
}

bool CTargetLink::WaitLinkIdle(int clocks) {
    int zeros = 0;
    for (int i = 0; i < clocks; ++i) {
        zeros = ClockTap(0, 0) != 0 ? 0 : zeros + 1;
        if (zeros == 8) {
            ClockTap(0, 0);
            ClockTap(0, 1);
            uint8_t discarded = 0;
            int drained = 0;
            while (ReceiveByte(discarded)) {
                if (++drained > kMaxDrainBytes) {  // a target that never stops talking
                    m_nError = kErrLinkBusy;
                    return false;
                }
            }
            m_nError = kErrNone;
            return true;
        }
    }
    m_nError = kErrLinkBusy;
    return false;
}

bool CTargetLink::WaitData(int clocks) {
    int total = 0;
    const int cap = clocks * kWaitDataBudgets;
    for (int i = 0; i < clocks && total < cap; ++i, ++total) {
        ClockTap(0, 0);
        if (m_nTdoHistory == kHistoryStart) return true;
        if (m_nTdoHistory == kHistoryAck) i = 0;
    }
    m_nError = kErrWaitStart;
    return false;
}

bool CTargetLink::WaitAck(int clocks) {
    for (int i = 0; i < clocks; ++i) {
        ClockTap(0, 0);
        if (m_nTdoHistory == kHistoryAck) return true;
    }
    m_nError = kErrWaitAck;
    return false;
}

bool CTargetLink::ReceiveByte(uint8_t& out) {
    if (!WaitData(16)) return false;
    uint8_t value = 0;
    for (int i = 0; i < 8; ++i) {
        if (ClockTap(0, i == 4 ? 1 : 0) != 0) value = static_cast<uint8_t>(value | (1u << i));
    }
    out = value;
    if (ClockTap(0, 0) != 0) LinkResync();
    return true;
}

bool CTargetLink::SendByte(uint8_t value) {
    ClockTap(0, 1);
    ClockTap(0, 1);
    if (m_nTdoHistory != 0) {
        // The target was sending: resync, finish its acknowledge, and start the byte over so
        // that it goes out whole with its start bits.
        LinkResync();
        ClockTap(0, 0);
        ClockTap(0, 1);
        ClockTap(0, 1);
        if (m_nTdoHistory != 0) {
            m_nError = kErrAckReceive;
            return false;
        }
    }
    bool acked = false;
    for (int i = 0; i < 8; ++i) {
        ClockTap(0, (value >> i) & 1);
        if (m_nTdoHistory == kHistoryAck) acked = true;
    }
    ClockTap(0, 0);
    // An acknowledge may straddle the last data bit and the stop bit.
    if (m_nTdoHistory == kHistoryAck) acked = true;
    if (acked) return true;
    if (!WaitAck(16)) {
        m_nError = kErrAckReceive;
        return false;
    }
    return true;
}

bool CTargetLink::SendPeekHeader(uint32_t address, uint32_t n) {
    const uint8_t request[5] = {
        static_cast<uint8_t>((n & 0xFC) | 0x01), static_cast<uint8_t>(address & 0xFC),
        static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address >> 16),
        static_cast<uint8_t>(address >> 24)};
    for (uint8_t b : request) {
        if (!SendByte(b)) return false;
    }
    return true;
}

bool CTargetLink::SendPokeHeader(uint32_t address, uint32_t n) {
    const uint8_t request[5] = {static_cast<uint8_t>(n & 0xFC), static_cast<uint8_t>(address),
                                static_cast<uint8_t>(address >> 8),
                                static_cast<uint8_t>(address >> 16),
                                static_cast<uint8_t>(address >> 24)};
    for (uint8_t b : request) {
        if (!SendByte(b)) return false;
    }
    return true;
}

bool CTargetLink::PeekChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved,
                            bool& dataPhase) {
    moved = 0;
    dataPhase = false;
    if (!SendPeekHeader(address, n)) return false;
    uint8_t header = 0;
    if (!ReceiveByte(header)) return false;
    if ((header & 3) != 2) {
        m_nError = kErrNoPeekReply;
        return false;
    }
    const uint32_t replied = (header & 0xFC) == 0 ? kMaxChunk : (header & 0xFCu);
    if (replied != n) {
        m_nError = kErrPeekLength;
        return false;
    }
    dataPhase = true;
    for (uint32_t i = 0; i < n; ++i) {
        if (!ReceiveByte(out[i])) return false;
        ++moved;
    }
    return true;
}

bool CTargetLink::PokeChunk(uint32_t address, uint32_t n, const uint8_t* in, uint32_t& moved,
                            bool& dataPhase) {
    moved = 0;
    dataPhase = false;
    if (!SendPokeHeader(address, n)) return false;
    dataPhase = true;
    for (uint32_t i = 0; i < n; ++i) {
        if (!SendByte(in[i])) return false;
        ++moved;
    }
    return true;
}

void CTargetLink::ReportChunk(uint32_t lastAddress, uint32_t done) {
    if (m_pObserver == nullptr) return;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(lastAddress));
    m_pObserver->ShowAddress(text);
    m_pObserver->SetProgress(done);
}

// Aligned whole words go straight into the caller's buffer; a word that the range covers
// only partly (unaligned start, 1-3 byte tail) is read whole into a scratch word and only
// the wanted bytes are copied out.
bool CTargetLink::PeekRange(uint32_t address, uint32_t length, uint8_t* buffer, bool report,
                            uint32_t& done) {
    done = 0;
    while (done < length) {
        if (done > 0 && StopRequested()) {
            Interrupted(address + done);
            return false;
        }
        const uint32_t cur = address + done;
        const uint32_t offset = cur & 3;
        const uint32_t remaining = length - done;
        uint32_t moved = 0;
        bool dataPhase = false;
        bool ok = false;
        if (offset == 0 && remaining >= 4) {
            const uint32_t n = std::min(remaining, kMaxChunk) & ~3u;
            ok = PeekChunk(cur, n, buffer + done, moved, dataPhase);
            done += moved;
        } else {
            uint8_t word[4] = {};
            const uint32_t take = std::min(4 - offset, remaining);
            ok = PeekChunk(cur & ~3u, 4, word, moved, dataPhase);
            if (ok) {
                std::memcpy(buffer + done, word + offset, take);
                done += take;
            }
        }
        if (report && dataPhase) ReportChunk(address + done - 1, done);
        if (!ok) return false;
    }
    return true;
}

bool CTargetLink::PeekBlock(uint32_t address, uint32_t length, uint8_t* buffer) {
    m_nLastCount = 0;
    if (length == 0) return true;
    if (buffer == nullptr) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    const bool report = m_bProgressRead && m_pObserver != nullptr;
    if (report) m_pObserver->StartProgress(length);
    uint32_t done = 0;
    PeekRange(address, length, buffer, report, done);
    if (report) m_pObserver->StartProgress(0);
    m_nLastCount = done;
    return ReportError();
}

// Whole 4-byte groups go on the wire at the caller's address. A 1-3 byte tail goes as one
// 4-byte word: the last four bytes of the range when it has four, otherwise the target's
// word read back and merged, so no byte outside the range changes.
bool CTargetLink::PokeBlock(uint32_t address, uint32_t length, const uint8_t* buffer) {
    m_nLastCount = 0;
    if (length == 0) return true;
    if (buffer == nullptr) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    const bool report = m_bProgressWrite && m_pObserver != nullptr;
    if (report) m_pObserver->StartProgress(length);
    uint32_t done = 0;
    while (done < length) {
        if (done > 0 && StopRequested()) {
            Interrupted(address + done);
            break;
        }
        const uint32_t cur = address + done;
        const uint32_t remaining = length - done;
        uint32_t moved = 0;
        bool dataPhase = false;
        bool ok = false;
        if (remaining >= 4) {
            const uint32_t n = std::min(remaining, kMaxChunk) & ~3u;
            ok = PokeChunk(cur, n, buffer + done, moved, dataPhase);
            done += moved;
        } else if (length >= 4) {
            ok = PokeChunk(address + length - 4, 4, buffer + length - 4, moved, dataPhase);
            if (ok) done = length;
        } else {
            uint8_t word[4] = {};
            uint32_t got = 0;
            ok = PeekRange(cur, 4, word, false, got);
            if (ok) {
                std::memcpy(word, buffer + done, remaining);
                ok = PokeChunk(cur, 4, word, moved, dataPhase);
                if (ok) done = length;
            }
        }
        if (report && dataPhase) ReportChunk(address + done - 1, done);
        if (!ok) break;
    }
    if (report) m_pObserver->StartProgress(0);
    m_nLastCount = done;
    return ReportError();
}

bool CTargetLink::PeekWord(uint32_t address, uint32_t& out) {
    uint8_t bytes[4] = {};
    if (!PeekBlock(address, 4, bytes)) return false;
    out = Le32(bytes);
    return true;
}

bool CTargetLink::PokeWord(uint32_t address, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return PokeBlock(address, 4, bytes);
}

bool CTargetLink::ReadDcuStatus(uint32_t& out, uint32_t mask) {
    if (mask == 0) return PeekWord(kDcuControl, out);
    for (int i = 0; i < 64; ++i) {
        if (!PeekWord(kDcuControl, out)) return false;
        if ((out & mask) == mask) return true;
    }
    return false;
}

bool CTargetLink::WriteDcuControl(uint32_t value) {
    return PokeWord(kDcuControl, value);
}

bool CTargetLink::SaveDcuSnapshot() {
    uint8_t bytes[kDcuSnapshotWords * 4] = {};
    const bool ok = PeekBlock(kDcuBase, sizeof bytes, bytes);
    for (uint32_t i = 0; i < m_nLastCount / 4; ++i) m_dcuSnapshot[i] = Le32(bytes + 4 * i);
    return ok;
}

bool CTargetLink::WriteTrapVectors(const uint8_t* block) {
    return PokeBlock(kTrapVectorAddr, kTrapVectorBytes, block);
}

bool CTargetLink::SaveTrapVectors(uint8_t* out) {
    if (!m_bVectorsSaved) {
        if (!PeekBlock(kTrapVectorAddr, kTrapVectorBytes, out)) return false;
        m_bVectorsSaved = true;
    }
    return true;
}

bool CTargetLink::RestoreTrapVectors(const uint8_t* block) {
    if (m_bVectorsSaved) {
        if (!PokeBlock(kTrapVectorAddr, kTrapVectorBytes, block)) return false;
        m_bVectorsSaved = false;
    }
    return true;
}

void CTargetLink::WriteEmiConfig() {
    if (m_pEmiConfig == nullptr) return;  // no profile applied yet
    for (uint32_t i = 0; i < kEmiWords; ++i) {
        if (!PokeWord(kEmiBase + 4 * i, m_pEmiConfig[i])) return;
    }
}

bool CTargetLink::ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer) {
    if (length == 0) return true;
    if (!BeginSession()) return false;
    const bool ok = PeekBlock(address, length, buffer);
    EndSession();
    return ok;
}

bool CTargetLink::WriteMemory(uint32_t address, uint32_t length, const uint8_t* buffer) {
    if (length == 0) return true;
    if (!BeginSession()) return false;
    const bool ok = PokeBlock(address, length, buffer);
    EndSession();
    return ok;
}

void CTargetLink::Interrupted(uint32_t address) {
    if (m_nError == kErrNone) m_nError = kErrInterrupted;
    m_nFailAddress = address;
}

bool CTargetLink::ReportError() {
    if (m_nError == kErrNone) return true;
    if (m_nError == kErrShown) return false;
    std::string text = LinkErrorText(m_nError);
    if (text.empty()) text = LinkErrorText(kErrUnknown);
    if (m_pObserver != nullptr) m_pObserver->ShowStatus(text);
    m_nError = kErrShown;
    return false;
}
