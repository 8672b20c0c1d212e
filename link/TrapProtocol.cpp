// The trap handler protocol: download and start, the completion handshake on the command
// word, width accesses through the handler, and leaving trap mode.
//
// Trap vector block at 0x80000040: {0, 0x80000000, parameter block, entry}. The handler
// writes 1 into Command when ready or done; the host answers with 0.
#include <chrono>

#include "link/LinkErrors.h"
#include "link/TargetLink.h"

namespace {

void PutLe32(uint8_t* b, uint32_t v) {
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

// A failure already shown by a transfer keeps its -1; only a quiet failure gets the code.
void SetErrorIfQuiet(int32_t& error, int32_t code) {
    if (error == kErrNone) error = code;
}

}  // namespace

void CTargetLink::ComputeSlots(uint32_t paramBlock) {
    m_nSlotCommand = paramBlock + kSlotCommand;
    m_nSlotAccessAddress = paramBlock + kSlotAccessAddress;
    m_nSlotAccessData = paramBlock + kSlotAccessData;
    m_nSlotCount = paramBlock + kSlotCount;
    m_nSlotOffset = paramBlock + kSlotOffset;
    m_nSlotFlashAddress = paramBlock + kSlotFlashAddress;
    m_nSlotDeviceSize = paramBlock + kSlotDeviceSize;
    m_nSlotBusWidth = paramBlock + kSlotBusWidth;
    m_nSlotAlgorithm = paramBlock + kSlotAlgorithm;
    m_nSlotTopBoot = paramBlock + kSlotTopBoot;
    m_nSlotWordMode = paramBlock + kSlotWordMode;
    m_nSlotFlashStatus = paramBlock + kSlotFlashStatus;
    for (uint32_t i = 0; i < 9; ++i) m_nSlotParam[i] = paramBlock + kSlotParam0 + 4 * i;
}

bool CTargetLink::LoadTrapHandler(const uint8_t* image, uint32_t size, uint32_t offset,
                                  const TargetProgram& what) {
    // The preparation stops whatever ran and the image overwrites it: only a whole load
    // leaves something running that can be trusted.
    m_program = {};
    bool ok = WriteDcuControl(kDcuPrepare) && WriteDcuControl(0) && SaveDcuSnapshot();
    if (ok) {
        WriteEmiConfig();
        if (image == nullptr) {
            m_nError = kErrAllocation;
            ok = false;
        } else {
            ok = PokeBlock(m_nTrapBase + offset, size, image);
        }
    }
    if (ok) {
        m_trapVectors[0] = 0;
        m_trapVectors[1] = 0x80000000;
        m_trapVectors[2] = m_nParamBlock;
        m_trapVectors[3] = m_nTrapBase;
        uint8_t block[kTrapVectorBytes];
        for (uint32_t i = 0; i < 4; ++i) PutLe32(block + 4 * i, m_trapVectors[i]);
        // Only the first download since the target was reset reads the board's own block;
        // later ones would save a handler's block over it.
        ok = SaveTrapVectors(m_savedVectors) && WriteTrapVectors(block);
    }
    if (ok) {
        ComputeSlots(m_trapVectors[2]);
        // Every status read lands in the snapshot's image of 0x3004, which the window shows.
        uint32_t& status = m_dcuSnapshot[(kDcuControl - kDcuBase) / 4];
        ok = ReadDcuStatus(status, 0);
        // A handler already running (a second load while the first still serves) is reused
        // as it is: no start and no readiness wait.
        const bool running = (status & kDcuTrapRunning) == kDcuTrapRunning;
        if (ok && !running) {
            // A 1 left in Command by an earlier handler would pass for this one's readiness,
            // and the first command sent to a handler still starting would be lost.
            ok = PokeWord(m_nSlotCommand, 0) && WriteDcuControl(kDcuStartTrap);
            if (ok && !ReadDcuStatus(status, kDcuTrapRunning)) {
                SetErrorIfQuiet(m_nError, kErrTrapNotRunning);
                ok = false;
            }
            if (ok) WaitTrapReady(kPollsAccess);
        }
    }
    Settle();  // the last word written must have been taken before the load counts
    const bool result = ReportError();
    if (result) m_program = {what.kind, what.bank, what.busWidth, false};
    return result;
}

bool CTargetLink::WaitTrapReady(uint32_t polls, uint64_t minMicros, bool interruptible) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + std::chrono::microseconds(minMicros);
    // The clock is read only once the count is spent: a normal wait costs nothing more.
    for (uint32_t i = 0; i < polls || (minMicros != 0 && Clock::now() < end); ++i) {
        if (interruptible && StopRequested()) {
            Interrupted(0);  // the caller names the address
            return false;
        }
        uint32_t word = 0;
        if (!PeekWord(m_nSlotCommand, word)) return false;
        if (word == 1) return PokeWord(m_nSlotCommand, 0);
    }
    m_nError = kErrTrapNotReady;
    return false;
}

bool CTargetLink::WaitCommand(uint32_t polls, uint64_t minMicros, bool interruptible) {
    if (WaitTrapReady(polls, minMicros, interruptible)) return true;
    if (m_nError == kErrTrapNotReady) m_program = {};
    return false;
}

bool CTargetLink::TrapAccess(uint32_t address, uint32_t value, uint32_t* out, uint32_t command) {
    if (!RequireHandler()) return ReportError();
    uint32_t& status = m_dcuSnapshot[(kDcuControl - kDcuBase) / 4];
    if (!ReadDcuStatus(status, 0)) return ReportError();
    if (status != kDcuTrapRunning) {
        m_nError = kErrTrapNotRunning;
        return ReportError();
    }
    bool ok = false;
    switch (command) {
        case kTrapRead8:
        case kTrapRead16:
        case kTrapRead32:
            ok = PokeWord(m_nSlotAccessAddress, address);
            break;
        case kTrapWrite8:
        case kTrapWrite16:
        case kTrapWrite32:
            // A zero value leaves AccessData as it is: the handler then writes whatever the
            // slot holds, which the callers arrange to be what they want.
            ok = PokeWord(m_nSlotAccessAddress, address) &&
                 (value == 0 || PokeWord(m_nSlotAccessData, value));
            break;
        default:
            m_nError = kErrTrapCommand;
            return ReportError();
    }
    ok = ok && PokeWord(m_nSlotCommand, command) && WaitCommand(kPollsAccess);
    if (ok && out != nullptr) {
        uint32_t word = 0;
        ok = PeekWord(m_nSlotAccessData, word);
        if (ok) {
            if (command == kTrapRead8) word &= 0xFF;
            if (command == kTrapRead16) word &= 0xFFFF;
            *out = word;
        }
    }
    return ReportError();
}

bool CTargetLink::ExitTrap() {
    // No handler runs (none loaded, or GO or Reboot ended it): its parameter block is now
    // another program's memory and must not receive a leave command.
    if (!HandlerRunning()) return ReportError();
    PokeWord(m_trapVectors[2] + kSlotCommand, kTrapLeave);
    uint32_t& status = m_dcuSnapshot[(kDcuControl - kDcuBase) / 4];
    if (!ReadDcuStatus(status, kDcuTrapLeft)) SetErrorIfQuiet(m_nError, kErrTrapEnd);
    return ReportError();
}
