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
//
// Staying in step with the target's message parser. The target takes every byte it hears
// whole and parses the bytes into messages; the host cannot read where the parser is, so it
// must always know. Three facts of the cable carry the argument:
//  1. TDI reaches the target intact while the cable is on (noise harms TDO, the line the host
//     reads); a cable that comes off stays off until the board is reset.
//  2. A byte is taken only when heard whole (start, flag, 8 bits, stop 0). The host's own
//     acknowledges (TDI 1 then 0) are packets the parser never sees.
//  3. A target that is gone holds TDO still: a change of TDO is the target on the line.
// Hence:
//  - The host never leaves the link register inside a message (no resync, no resend). The two
//    readings of a TAP reset in mid-message (the link keeps its place in it, or drops it) then
//    never differ, and leaving between messages is the same under both.
//  - It never stops inside a message while the target can be hearing it. An acknowledge that
//    did not come in time is waited for a while longer: a late one fails the transfer (108)
//    once the message is whole; none at all is what one flipped TDO sample makes of an
//    acknowledge, so the message goes on (a target that answers in time has taken the byte).
//  - A byte counts as taken once TDO changes after its stop bit (facts 3, then 1): the next
//    byte's acknowledge, a reply, or at the end of a session a 4-byte read of the DCU block.
//  - Three bytes in a row without any change of TDO: the target is gone or mute, and may have
//    taken any number of those bytes. Nothing more is sent to the DCU (119 "out of step")
//    until the board has been reset and the processor identified again (ReadIdCode).
// A reply is only ever read after its whole request, so the parser sits between messages
// while the host receives; a failed reply is drained (acknowledged to its end) before the
// next message, so no byte of it is ever taken for an acknowledge.
//
// Pipelining (a queued cable, where each TDO read would cost a round trip). The per-clock
// path below stays the logic; only how far ahead its clocks go on the wire changes:
//  - Receiving runs ahead exactly: where the path's next clocks have a TDI it sends whatever
//    TDO says (a byte's data bits and stop once its start is seen, the idle clocks before the
//    next start can be seen, a drain's idle clocks before its count can end), they go in one
//    flush. The wire is the per-clock path's, clock for clock.
//  - Sending a byte that the target cannot answer with data (every poke byte, every peek
//    request byte but the last) goes in one flush with its whole acknowledge window. An
//    acknowledge seen early leaves idle clocks (TDI 0) after it that the per-clock path would
//    not have sent: between host bytes they only make the host look slower, and the parser
//    hears none of them as a byte. No acknowledge in the window: the wait goes on clock by
//    clock as before, with the same outcome. The last byte of a peek request is sent per
//    clock, since the reply may start at once and must be acknowledged on its bit 4.
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
// Most bytes a drain takes: more than any reply still in flight (1 + 256).
constexpr int kMaxDrainBytes = 1024;
constexpr int kDrainClocks = 32;

constexpr int kAckWindow = 16;  // clocks after a stop bit the acknowledge may take
// Idle clocks certain after a reply byte's stop when another byte follows: two to see its
// start, then its data bits 0-3 (the host acknowledges on bit 4).
constexpr uint32_t kReplyGap = 6;
constexpr int kAckSlack = 48;       // further clocks a late acknowledge is looked for
constexpr int kMaxSilentBytes = 3;  // bytes in a row without a change of TDO: target gone

// Verified reads: at most this many reads of a chunk; after a disagreement or a failed read,
// this many chunks are read in pieces of kNoisyChunk bytes and need three agreeing reads.
constexpr int kReadAttempts = 8;
constexpr int kNoisyChunks = 16;
constexpr uint32_t kNoisyChunk = 64;

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
    if (m_bSession) Settle();  // re-entering: the TAP reset below must fall between messages
    if (m_bOutOfStep) {
        m_nError = kErrOutOfStep;
        m_bSession = false;
        return false;
    }
    EnterLinkRegister();
    m_bSession = true;
    if (!WaitLinkIdle(16)) {
        EndSession();
        m_bSession = false;
    }
    return m_bSession;
}

bool CTargetLink::EndSession() {
    if (m_bSession) {
        Settle();
        ClockTap(1, 0);
        ClockTap(1, 0);
    }
    m_bSession = false;
    return !m_bOutOfStep;
}

bool CTargetLink::Settle() {
    if (!m_bOutOfStep && !Confirmed()) {
        const int32_t error = m_nError;
        uint8_t word[4];
        uint32_t moved = 0;
        PeekChunk(kDcuBase, 4, word, moved);
        if (!m_bOutOfStep) m_nError = error;
        if (!m_bOutOfStep && !Confirmed()) OutOfStep(kDcuBase);
    }
    return !m_bOutOfStep;
}

void CTargetLink::OutOfStep(uint32_t address) {
    m_bOutOfStep = true;
    m_nError = kErrOutOfStep;  // over any other: nothing else can be done before a reset
    m_nFailAddress = address;
}

bool CTargetLink::Drain(int clocks) {
    int zeros = 0;
    for (int i = 0; i < clocks; ++i) {
        if (Ahead() == 0 && Pipelined())
            RunAhead(static_cast<uint32_t>(std::min(8 - zeros, clocks - i)), 0);
        zeros = ClockTap(0, 0) != 0 ? 0 : zeros + 1;
        if (zeros == 8) {
            // TDI 1 then the receive's 0: an acknowledge releasing any byte still owed.
            if (Pipelined()) RunAhead(2, 0x2);
            ClockTap(0, 0);
            ClockTap(0, 1);
            const int32_t error = m_nError;
            uint8_t discarded = 0;
            int drained = 0;
            while (ReceiveByte(discarded)) {
                if (++drained > kMaxDrainBytes) break;  // a target that never stops talking
            }
            m_nError = error;
            return drained <= kMaxDrainBytes;
        }
    }
    return false;
}

bool CTargetLink::WaitLinkIdle(int clocks) {
    if (!Drain(clocks)) {
        m_nError = kErrLinkBusy;
        return false;
    }
    m_nError = kErrNone;
    return true;
}

bool CTargetLink::WaitData(int clocks) {
    int total = 0;
    const int cap = clocks * kWaitDataBudgets;
    for (int i = 0; i < clocks && total < cap; ++i, ++total) {
        // Up to five idle clocks: once a start is seen, its data bits 0-3 are idle too.
        if (Ahead() == 0 && Pipelined())
            RunAhead(static_cast<uint32_t>(std::min({5, clocks - i, cap - total})), 0);
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
    return false;
}

// A stop bit that reads 1 means the byte was not framed as sent: it fails, and the caller
// reads the chunk again after a drain.
bool CTargetLink::ReceiveByte(uint8_t& out) {
    return ReceiveByte(out, 0);
}

bool CTargetLink::ReceiveByte(uint8_t& out, uint32_t after) {
    if (!WaitData(16)) return false;
    if (Pipelined()) {
        // The data bits WaitData has not run ahead (acknowledge on bit 4), the stop, and the
        // idle clocks the caller is certain of.
        const uint32_t have = Ahead();
        RunAhead(9 + after - have, (1u << 4) >> have);
    }
    uint8_t value = 0;
    for (int i = 0; i < 8; ++i) {
        if (ClockTap(0, i == 4 ? 1 : 0) != 0) value = static_cast<uint8_t>(value | (1u << i));
    }
    out = value;
    if (ClockTap(0, 0) != 0) {
        m_nError = kErrWaitStart;
        return false;
    }
    return true;
}

CTargetLink::Ack CTargetLink::SendByte(uint8_t value) {
    ClockTap(0, 1);
    ClockTap(0, 1);
    bool acked = false;
    for (int i = 0; i < 8; ++i) {
        ClockTap(0, (value >> i) & 1);
        if (m_nTdoHistory == kHistoryAck) acked = true;
    }
    ClockTap(0, 0);
    m_nLastStop = m_nClock;
    // An acknowledge may straddle the last data bit and the stop bit.
    if (acked || m_nTdoHistory == kHistoryAck || WaitAck(kAckWindow)) return Ack::kInTime;
    return WaitAck(kAckSlack) ? Ack::kLate : Ack::kNone;
}

CTargetLink::Sent CTargetLink::SendMessage(bool peek, uint32_t address, uint32_t n,
                                           const uint8_t* data, uint32_t& confirmed) {
    const uint8_t request[5] = {
        static_cast<uint8_t>((n & 0xFC) | (peek ? 0x01 : 0x00)),
        static_cast<uint8_t>(peek ? address & 0xFC : address), static_cast<uint8_t>(address >> 8),
        static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)};
    const uint32_t total = 5 + (peek ? 0 : n);
    // Stop clocks of the last bytes: those after the last sign of the target are unconfirmed.
    constexpr uint32_t kRing = 8;
    uint64_t stops[kRing] = {};
    auto taken = [&](uint32_t sent) {
        uint32_t k = sent;
        while (k > 0 && sent - k < kRing && stops[(k - 1) % kRing] > m_nAlive) --k;
        return k > 5 ? k - 5 : 0;
    };
    bool late = false;
    int silent = 0;
    const bool pipelined = Pipelined();
    for (uint32_t i = 0; i < total; ++i) {
        const uint64_t alive = m_nAlive;
        const uint8_t value = i < 5 ? request[i] : data[i - 5];
        // The byte and its acknowledge window in one flush, unless a reply may follow it.
        const bool ahead = pipelined && !(peek && i + 1 == total);
        if (ahead) RunAhead(11 + kAckWindow, 0x3u | static_cast<uint32_t>(value) << 2);
        const Ack ack = SendByte(value);
        if (ahead) TakeAhead();
        stops[i % kRing] = m_nLastStop;
        late = late || ack == Ack::kLate;
        silent = m_nAlive != alive ? 0 : silent + 1;
        if (silent == kMaxSilentBytes) {
            confirmed = taken(i + 1);
            OutOfStep(address + confirmed);
            return Sent::kLost;
        }
    }
    confirmed = peek ? 0 : n;
    if (!late) return Sent::kWhole;
    if (m_nError == kErrNone) m_nError = kErrAckReceive;
    return Sent::kLate;
}

bool CTargetLink::PeekChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved) {
    moved = 0;
    uint32_t unused = 0;
    const Sent sent = SendMessage(true, address, n, nullptr, unused);
    if (sent == Sent::kLost) return false;
    bool ok = true;
    uint8_t header = 0;
    if (!ReceiveByte(header, kReplyGap)) {
        ok = false;
    } else if ((header & 3) != 2) {
        m_nError = kErrNoPeekReply;
        ok = false;
    } else if (((header & 0xFC) == 0 ? kMaxChunk : (header & 0xFCu)) != n) {
        m_nError = kErrPeekLength;
        ok = false;
    }
    for (uint32_t i = 0; ok && i < n; ++i) {
        ok = ReceiveByte(out[i], i + 1 < n ? kReplyGap : 0);
        if (ok) ++moved;
    }
    if (!ok) Drain(kDrainClocks);
    return ok && sent == Sent::kWhole;
}

bool CTargetLink::PokeChunk(uint32_t address, uint32_t n, const uint8_t* in, uint32_t& moved) {
    return SendMessage(false, address, n, in, moved) == Sent::kWhole;
}

uint32_t CTargetLink::ReadChunkLimit() const {
    return m_bReadCheck && m_nNoisy > 0 ? kNoisyChunk : kMaxChunk;
}

// Two reads that agree, or three once reads have disagreed or failed here or lately: noise
// that flips a sample flips it in one read, and the same flip in two reads of a chunk, at
// the noise that makes reads disagree, would go unseen too often over a whole flash.
bool CTargetLink::ReadChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved) {
    moved = 0;
    if (!m_bReadCheck) return PeekChunk(address, n, out, moved);
    uint8_t reads[kReadAttempts][kMaxChunk];
    int stored = 0;
    int need = m_nNoisy > 0 ? 3 : 2;
    int32_t failure = kErrNone;
    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        uint8_t* read = reads[stored];
        const int32_t error = m_nError;
        uint32_t got = 0;
        if (!PeekChunk(address, n, read, got)) {
            if (m_bOutOfStep) return false;
            failure = m_nError;
            m_nError = error;
            need = 3;
            continue;
        }
        int agree = 1;
        for (int j = 0; j < stored; ++j) agree += std::memcmp(reads[j], read, n) == 0 ? 1 : 0;
        if (agree >= need) {
            std::memcpy(out, read, n);
            moved = n;
            if (need == 3)
                m_nNoisy = kNoisyChunks;
            else if (m_nNoisy > 0)
                --m_nNoisy;
            return true;
        }
        if (stored > 0) need = 3;
        ++stored;
    }
    m_nNoisy = kNoisyChunks;
    m_nFailAddress = address;
    if (stored >= 2) {
        const uint8_t* a = reads[stored - 2];
        const uint8_t* b = reads[stored - 1];
        m_nFailAddress += static_cast<uint32_t>(std::mismatch(a, a + n, b).first - a);
    }
    m_nError = stored >= 2 || failure == kErrNone ? kErrReadUnconfirmed : failure;
    return false;
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
        const uint32_t before = done;
        uint32_t moved = 0;
        bool ok = false;
        if (offset == 0 && remaining >= 4) {
            const uint32_t n = std::min(remaining, ReadChunkLimit()) & ~3u;
            ok = ReadChunk(cur, n, buffer + done, moved);
            done += moved;
        } else {
            uint8_t word[4] = {};
            const uint32_t take = std::min(4 - offset, remaining);
            ok = ReadChunk(cur & ~3u, 4, word, moved);
            if (ok) {
                std::memcpy(buffer + done, word + offset, take);
                done += take;
            }
        }
        if (report && done > before) ReportChunk(address + done - 1, done);
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

// Whole 4-byte groups go on the wire at the caller's address. A 1-3 byte tail goes as the
// last four bytes of the range when it has four; a range of fewer than four bytes as the
// aligned words holding it, read back and merged, so no byte outside those words is addressed
// and none outside the range changes.
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
        const uint32_t before = done;
        uint32_t moved = 0;
        bool ok = false;
        if (remaining >= 4) {
            const uint32_t n = std::min(remaining, kMaxChunk) & ~3u;
            ok = PokeChunk(cur, n, buffer + done, moved);
            done += moved;
        } else if (length >= 4) {
            ok = PokeChunk(address + length - 4, 4, buffer + length - 4, moved);
            if (moved == 4) done = length;
        } else {
            // The one or two words holding the bytes are read, merged and written back whole.
            const uint32_t first = cur & ~3u;
            const uint32_t n = (cur & 3) + remaining > 4 ? 8 : 4;
            uint8_t words[8] = {};
            uint32_t got = 0;
            ok = PeekRange(first, n, words, false, got);
            if (ok) {
                std::memcpy(words + (cur & 3), buffer + done, remaining);
                ok = PokeChunk(first, n, words, moved);
                if (moved == n) done = length;
            }
        }
        if (report && done > before) ReportChunk(address + done - 1, done);
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

// A link that went out of step while the session closed fails the transfer, and says so.
bool CTargetLink::ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer) {
    m_nLastCount = 0;
    if (length == 0) return true;
    if (!BeginSession()) return false;
    const bool ok = PeekBlock(address, length, buffer);
    return EndSession() ? ok : ReportError();
}

bool CTargetLink::WriteMemory(uint32_t address, uint32_t length, const uint8_t* buffer) {
    m_nLastCount = 0;
    if (length == 0) return true;
    if (!BeginSession()) return false;
    const bool ok = PokeBlock(address, length, buffer);
    return EndSession() ? ok : ReportError();
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
