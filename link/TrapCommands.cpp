// Device commands carried out by a loaded trap handler: flash identification, parameters,
// erase and programming, the I2C EEPROM, MemStart, ProcID, reboot and GO. Each runs in its
// own link session.
#include <algorithm>
#include <cstdio>

#include "link/LinkErrors.h"
#include "link/TargetLink.h"

namespace {

// Processors whose EEPROM controller wants 2 in Param7 (revision nibble ignored).
bool UsesShortI2cDivider(uint32_t procId) {
    const uint32_t id = procId & 0x0FFFFFFF;
    return id == 0x0D402041 || id == 0x0D415041;
}

void ShowHexAddress(ILinkObserver* observer, uint32_t address) {
    if (observer == nullptr) return;
    char text[16];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(address));
    observer->ShowAddress(text);
}

}  // namespace

bool CTargetLink::RequireHandler(TargetProgram::Kind kind, bool configured) {
    const bool ok = kind == TargetProgram::kNothing
                        ? m_program.IsHandler()
                        : m_program.kind == kind && (m_program.configured || !configured);
    if (!ok) m_nError = kErrTrapNotRunning;
    return ok;
}

bool CTargetLink::Require(const TargetProgram& wanted) {
    if (m_program == wanted) return true;
    m_nError = kErrTrapNotRunning;
    return false;
}

bool CTargetLink::CheckTrapBuffer() {
    if (m_nBufferSize == 0 || m_nBufferSize % 4 != 0) {
        m_nError = kErrTrapBuffer;
        return false;
    }
    return true;
}

bool CTargetLink::ReadFlashId(uint32_t base, uint32_t width, uint32_t& maker, uint32_t& device,
                              const FlashCommandSet& cmd) {
    if (!RequireHandler()) return false;
    // A failed identification may leave the chips answering identification codes: a flash
    // handler's parameters count again only once they are handed over anew.
    const bool flashConfigured = m_program.configured;
    if (m_program.kind == TargetProgram::kFlash) m_program.configured = false;
    if (!BeginSession()) {
        EndSession();
        return false;
    }
    uint32_t write = kTrapWrite16;
    uint32_t read = kTrapRead16;
    uint32_t unlock1 = 0xAAA;
    uint32_t unlock2 = 0x1554;
    uint32_t step = 2;
    if (width == 8) {
        write = kTrapWrite8;
        read = kTrapRead8;
        unlock1 = 0x555;
        unlock2 = 0xAAA;
        step = 1;
    } else if (width == 32) {
        write = kTrapWrite32;
        read = kTrapRead32;
        unlock1 = 0x1554;
        unlock2 = 0x2AA8;
        step = 4;
    }
    uint32_t newMaker = 0;
    uint32_t newDevice = 0;
    const bool ok =
        TrapAccess(base, cmd[3], nullptr, write) && TrapAccess(base, cmd[4], nullptr, write) &&
        TrapAccess(base | unlock1, cmd[0], nullptr, write) &&
        TrapAccess(base | unlock2, cmd[1], nullptr, write) &&
        TrapAccess(base | unlock1, cmd[2], nullptr, write) &&
        TrapAccess(base, 0, &newMaker, read) && TrapAccess(base + step, 0, &newDevice, read) &&
        TrapAccess(base, cmd[3], nullptr, write) && TrapAccess(base, cmd[4], nullptr, write);
    const bool ended = EndSession();
    // Codes from a half-run sequence would name a chip that was never read.
    if (!ok || !ended) return false;
    if (m_program.kind == TargetProgram::kFlash) m_program.configured = flashConfigured;
    maker = newMaker;
    device = newDevice;
    return true;
}

bool CTargetLink::SetFlashParameters(uint32_t width, uint32_t size, uint32_t algorithm,
                                     uint32_t topBoot, uint32_t wordMode,
                                     const FlashCommandSet& cmd) {
    // The parameters belong to the flash handler downloaded for this bus width.
    if (!RequireHandler(TargetProgram::kFlash) || m_program.busWidth != width) {
        m_nError = kErrTrapNotRunning;
        return ReportError();
    }
    if (BeginSession()) {
        const uint32_t writes[][2] = {
            {m_nSlotDeviceSize, size}, {m_nSlotAlgorithm, algorithm}, {m_nSlotTopBoot, topBoot},
            {m_nSlotBusWidth, width},  {m_nSlotWordMode, wordMode},   {m_nSlotParam[0], cmd[0]},
            {m_nSlotParam[1], cmd[1]}, {m_nSlotParam[2], cmd[3]},     {m_nSlotParam[3], cmd[5]},
            {m_nSlotParam[4], cmd[6]}, {m_nSlotParam[5], cmd[7]},     {m_nSlotParam[8], cmd[8]},
            {m_nSlotParam[6], cmd[9]}, {m_nSlotParam[7], cmd[10]},
        };
        for (const auto& w : writes) {
            if (!PokeWord(w[0], w[1])) break;
        }
    }
    EndSession();
    m_program.configured = ReportError();
    return m_program.configured;
}

bool CTargetLink::EraseFlash(uint32_t base) {
    if (!RequireHandler(TargetProgram::kFlash, true)) return ReportError();
    if (BeginSession()) {
        uint32_t status = 0;
        if (PokeWord(m_nSlotFlashAddress, base) && PokeWord(m_nSlotCommand, kTrapErase) &&
            WaitCommand(kPollsErase, 0, true) && PeekWord(m_nSlotFlashStatus, status) &&
            (status & 0x80808080) != 0x80808080) {
            m_nError = kErrFlashErase;
        }
    }
    EndSession();
    if (m_nError != kErrNone) m_nFailAddress = base;
    return ReportError();
}

bool CTargetLink::ProgramFlash(uint32_t address, uint32_t length, const uint8_t* data) {
    m_nLastCount = 0;
    if (!CheckTrapBuffer() || !RequireHandler(TargetProgram::kFlash, true)) return ReportError();
    if (data == nullptr && length != 0) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    const bool report = m_bProgressFlash && m_pObserver != nullptr;
    if (report) m_pObserver->StartProgress(length);
    uint32_t done = 0;
    if (BeginSession() && PokeWord(m_nSlotFlashAddress, address)) {
        uint32_t left = length;
        while (left > 0) {
            if (StopRequested()) {
                Interrupted(address + done);
                break;
            }
            uint32_t chunk = std::min(left, m_nBufferSize);
            uint32_t unprogrammed = 0;
            if (!PokeBlock(m_nBufferAddr, chunk, data + done) ||
                !PokeWord(m_nSlotAccessAddress, m_nBufferAddr) || !PokeWord(m_nSlotOffset, done) ||
                !PokeWord(m_nSlotCount, chunk) || !PokeWord(m_nSlotCommand, kTrapProgram) ||
                !WaitCommand(kPollsAccess, uint64_t{chunk} * kWorstProgramUsPerByte) ||
                !PeekWord(m_nSlotCount, unprogrammed)) {
                break;
            }
            bool last = false;
            if (unprogrammed != 0) {
                // More left over than was sent would be nonsense: count none of it.
                chunk = unprogrammed < chunk ? chunk - unprogrammed : 0;
                m_nError = kErrFlashWrite;
                last = true;
            }
            left -= chunk;
            done += chunk;
            if (report) {
                ShowHexAddress(m_pObserver, address + done - 1);
                m_pObserver->SetProgress(done);
            }
            if (last) break;
        }
    }
    EndSession();
    // Whatever ended it, the operator needs the first flash address not programmed.
    if (done < length) m_nFailAddress = address + done;
    if (report) m_pObserver->StartProgress(0);
    m_nLastCount = done;
    return ReportError();
}

bool CTargetLink::SetupEeprom(uint32_t scc, uint32_t pio) {
    if (!RequireHandler(TargetProgram::kEeprom)) return ReportError();
    uint32_t id = 0;
    if (ReadProcId(id) && BeginSession()) {
        const uint32_t divider = UsesShortI2cDivider(id) ? 2 : 4;
        (void)(PokeWord(m_nSlotParam[6], 1) && PokeWord(m_nSlotParam[7], divider) &&
               PokeWord(m_nSlotParam[4], scc) && PokeWord(m_nSlotParam[5], pio));
    }
    EndSession();
    const bool ok = ReportError();
    if (m_program.kind == TargetProgram::kEeprom) m_program.configured = ok;
    return ok;
}

// One EEPROM transfer in buffer-sized chunks: in != null reads into it (command 0x8000),
// otherwise out is written (command 0x4000).
bool CTargetLink::EepromTransfer(uint32_t eeAddress, uint32_t length, uint8_t* in,
                                 const uint8_t* out) {
    m_nLastCount = 0;
    if (!CheckTrapBuffer() || !RequireHandler(TargetProgram::kEeprom, true)) return ReportError();
    if ((in == nullptr && out == nullptr) && length != 0) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    const bool reading = in != nullptr;
    if (m_pObserver != nullptr) m_pObserver->StartProgress(length);
    uint32_t done = 0;
    if (BeginSession() && PokeWord(m_nSlotParam[0], 0xA0)) {
        while (done < length) {
            if (StopRequested()) {
                Interrupted(eeAddress + done);
                break;
            }
            const uint32_t chunk = std::min(length - done, m_nBufferSize);
            if (!reading && !PokeBlock(m_nBufferAddr, chunk, out + done)) break;
            if (!PokeWord(m_nSlotParam[3], m_nBufferAddr) ||
                !PokeWord(m_nSlotParam[1], eeAddress + done) || !PokeWord(m_nSlotParam[2], chunk) ||
                !PokeWord(m_nSlotCommand, reading ? kTrapErase : kTrapProgram) ||
                !WaitCommand(reading ? kPollsEepromRead : kPollsEepromWrite,
                             uint64_t{chunk} * (reading ? kWorstEepromReadUsPerByte
                                                        : kWorstEepromWriteUsPerByte))) {
                break;
            }
            if (reading && !PeekBlock(m_nBufferAddr, chunk, in + done)) break;
            done += chunk;
            ShowHexAddress(m_pObserver, eeAddress + done - 1);
            if (m_pObserver != nullptr) m_pObserver->SetProgress(done);
        }
    }
    EndSession();
    if (done < length) m_nFailAddress = eeAddress + done;
    m_nLastCount = done;
    if (m_pObserver != nullptr) m_pObserver->StartProgress(0);
    return ReportError();
}

bool CTargetLink::ReadEeprom(uint32_t eeAddress, uint32_t length, uint8_t* buffer) {
    if (buffer == nullptr && length != 0) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    return EepromTransfer(eeAddress, length, buffer, nullptr);
}

bool CTargetLink::WriteEeprom(uint32_t eeAddress, uint32_t length, const uint8_t* data) {
    if (data == nullptr && length != 0) {
        m_nError = kErrUnknown;
        return ReportError();
    }
    return EepromTransfer(eeAddress, length, nullptr, data);
}

bool CTargetLink::RunCommand(uint32_t command, uint32_t& out) {
    if (!RequireHandler()) return false;
    uint32_t word = 0;
    const bool ok = BeginSession() && PokeWord(m_nSlotCommand, command) &&
                    WaitCommand(kPollsAccess) && PeekWord(m_nSlotAccessData, word);
    if (!EndSession() || !ok) return false;
    out = word;
    return true;
}

bool CTargetLink::ReadMemStart(uint32_t& out) {
    return RunCommand(kTrapMemStart, out);
}

bool CTargetLink::ReadProcId(uint32_t& out) {
    return RunCommand(kTrapProcId, out);
}

bool CTargetLink::Reboot() {
    if (!RequireHandler()) return false;
    if (!BeginSession()) return false;  // nothing sent: the handler still runs
    const bool ok = RestoreTrapVectors(m_savedVectors) && PokeWord(m_nSlotCommand, kTrapReboot);
    // The target starts afresh: its own block is read again at the next download. A reboot
    // cut short leaves nothing that can be trusted.
    if (ok) m_bVectorsSaved = false;
    m_program = ok ? TargetProgram{TargetProgram::kRebooted} : TargetProgram{};
    return EndSession() && ok;
}

bool CTargetLink::Go(uint32_t address) {
    if (!RequireHandler()) return false;
    if (!BeginSession()) return false;  // nothing sent: the handler still runs
    const bool ok = PokeWord(m_nSlotAccessAddress, address) && PokeWord(m_nSlotCommand, kTrapGo);
    // GO is no reset: the board's own vectors stay saved for Close to put back.
    m_program = ok ? TargetProgram{TargetProgram::kStarted} : TargetProgram{};
    return EndSession() && ok;
}
