// The program's single channel to the target: the JTAG adapter on the parallel port, the
// TAP sequences, the DCU byte link with block peek and poke, and the trap handler with the
// device commands it carries out.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "link/FlashCommandSet.h"
#include "link/LinkObserver.h"
#include "port/PortTalk.h"

// Fixed DCU and target addresses.
constexpr uint32_t kDcuBase = 0x3000;
constexpr uint32_t kDcuControl = 0x3004;  // control when written, status when read
constexpr uint32_t kDcuSnapshotWords = 36;
constexpr uint32_t kEmiBase = 0x2000;
constexpr uint32_t kEmiWords = 16;
constexpr uint32_t kTrapVectorAddr = 0x80000040;
constexpr uint32_t kTrapVectorBytes = 16;

// DCU control values and status bits of trap mode.
constexpr uint32_t kDcuPrepare = 0xFFFFFFFF;
constexpr uint32_t kDcuStartTrap = 0x20000000;
constexpr uint32_t kDcuTrapRunning = 0x60000;
constexpr uint32_t kDcuTrapLeft = 0xC00000;

// Parameter-block slot offsets from the handler's workspace.
constexpr uint32_t kSlotCommand = 0;
constexpr uint32_t kSlotAccessAddress = 92;
constexpr uint32_t kSlotAccessData = 96;
constexpr uint32_t kSlotCount = 100;
constexpr uint32_t kSlotOffset = 104;
constexpr uint32_t kSlotFlashAddress = 108;
constexpr uint32_t kSlotDeviceSize = 112;
constexpr uint32_t kSlotBusWidth = 116;
constexpr uint32_t kSlotAlgorithm = 120;
constexpr uint32_t kSlotTopBoot = 124;
constexpr uint32_t kSlotWordMode = 128;
constexpr uint32_t kSlotFlashStatus = 132;
constexpr uint32_t kSlotParam0 = 140;  // Param0..Param8 follow, 4 bytes apart

// Trap handler command codes.
constexpr uint32_t kTrapLeave = 0x2;
constexpr uint32_t kTrapGo = 0x10;
constexpr uint32_t kTrapRead8 = 0x20;
constexpr uint32_t kTrapWrite8 = 0x40;
constexpr uint32_t kTrapRead16 = 0x80;
constexpr uint32_t kTrapWrite16 = 0x100;
constexpr uint32_t kTrapRead32 = 0x200;
constexpr uint32_t kTrapWrite32 = 0x400;
constexpr uint32_t kTrapMemStart = 0x800;
constexpr uint32_t kTrapProcId = 0x1000;
constexpr uint32_t kTrapReboot = 0x2000;
constexpr uint32_t kTrapProgram = 0x4000;  // flash program chunk; EEPROM write chunk
constexpr uint32_t kTrapErase = 0x8000;    // flash erase; EEPROM read chunk

// Completion waits, in polls of the command word.
constexpr uint32_t kPollsAccess = 64;
constexpr uint32_t kPollsErase = 0xFFFFFF;
constexpr uint32_t kPollsEepromRead = 5000;
constexpr uint32_t kPollsEepromWrite = 50000;
// A poll count alone depends on how fast the cable polls: each wait also lasts at least what
// the operation can take on a slow part (datasheet worst cases, per unit of the chunk).
constexpr uint32_t kWorstProgramUsPerByte = 360;        // NOR word/byte program, maximum
constexpr uint32_t kWorstEepromWriteUsPerByte = 10000;  // I2C EEPROM byte write cycle
constexpr uint32_t kWorstEepromReadUsPerByte = 100;     // one byte at 100 kHz, with its ack

// JTAG instructions.
constexpr uint32_t kIrLength = 5;
constexpr uint32_t kIrIdcode = 2;
constexpr uint32_t kIrDcuLink = 16;

// Largest peek or poke message payload.
constexpr uint32_t kMaxChunk = 256;

// What runs on the target now, as far as this host's own actions tell. It changes only on
// what the host did to the target (a download, GO, Reboot, Close, opening the link) and on a
// handler that stopped answering; the pages enable their operations from it.
struct TargetProgram {
    enum Kind : uint8_t { kNothing, kGeneral, kFlash, kEeprom, kStarted, kRebooted };
    Kind kind = kNothing;
    int32_t bank = -1;        // flash handler: the bank it was downloaded for
    uint32_t busWidth = 0;    // flash handler: the bus width it drives
    bool configured = false;  // device handler: flash parameters handed over, EEPROM set up

    static TargetProgram General() { return {kGeneral, -1, 0, false}; }
    static TargetProgram Flash(int32_t bank, uint32_t busWidth, bool configured = false) {
        return {kFlash, bank, busWidth, configured};
    }
    static TargetProgram Eeprom(bool configured = false) { return {kEeprom, -1, 0, configured}; }
    // Every handler carries the general part: width accesses, MemStart, ProcID, Reboot, GO.
    bool IsHandler() const { return kind == kGeneral || kind == kFlash || kind == kEeprom; }
    bool operator==(const TargetProgram&) const = default;
};

// Which transfers report their progress to the observer (SetProgressMode's numbers).
enum class ProgressMode : uint8_t { kNone = 0, kRead = 1, kWrite = 2, kFlash = 3, kAll = 4 };

// How the link sleeps (the 100 ms of the nTRST pulse). Tests replace it to run fast; null
// restores the real sleep.
using LinkSleepFunction = void (*)(uint32_t ms);
void SetLinkSleepFunction(LinkSleepFunction fn);

class CTargetLink {
  public:
    CTargetLink() = default;
    virtual ~CTargetLink();
    CTargetLink(const CTargetLink&) = delete;
    CTargetLink& operator=(const CTargetLink&) = delete;

    // --- JTAG adapter and TAP ---
    uint32_t Open(ILinkObserver* observer);  // 0, or 255 when the port driver is unavailable
    // Where Open creates its empty trace file; none until the front end names one.
    void SetTraceFile(std::string path) { m_traceFile = std::move(path); }
    void Close();
    void SetProgressMode(uint8_t mode);
    void SetProgressMode(ProgressMode mode) { SetProgressMode(static_cast<uint8_t>(mode)); }
    uint32_t ReadIdCode();

    int ClockTap(int tms, int tdi);
    // Queued clocks, for paths that need TDO only now and then: the cable decides how many
    // round trips they cost. Clock i drives bit i of tms and tdi (32 to a word, first clock
    // in bit 0; null drives 0); when tdo is given, the TDO ClockTap would return for clock i
    // goes to bit i of tdo for each clock whose bit is set in want (null: every clock). tdo
    // holds its bits once FlushClocks returns. The TDO history is left alone.
    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo);
    // Runs what is queued; false when the cable failed (the TDO bits not read are then 1).
    bool FlushClocks();
    void TapReset();
    void TapResetPulse();
    uint32_t ShiftIR(int count, uint32_t value);
    int ShiftDR(int count, const uint32_t* input, uint32_t* output, bool enter, bool leave);

    // --- DCU link and memory access ---
    // Refused with 119 (nothing sent) while the link is out of step.
    bool BeginSession();
    // Before leaving the link register, makes sure the target took every byte sent (a 4-byte
    // read of the DCU block when nothing since showed it); false when the link is out of step.
    bool EndSession();
    bool ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer);
    bool WriteMemory(uint32_t address, uint32_t length, const uint8_t* buffer);
    void WriteEmiConfig();
    bool ReportError();

    bool WaitLinkIdle(int clocks = 16);
    bool WaitData(int clocks = 16);
    bool ReceiveByte(uint8_t& out);
    bool PeekBlock(uint32_t address, uint32_t length, uint8_t* buffer);
    bool PokeBlock(uint32_t address, uint32_t length, const uint8_t* buffer);
    bool PeekWord(uint32_t address, uint32_t& out);
    bool PokeWord(uint32_t address, uint32_t value);
    bool ReadDcuStatus(uint32_t& out, uint32_t mask);
    bool WriteDcuControl(uint32_t value);
    bool SaveDcuSnapshot();
    bool WriteTrapVectors(const uint8_t* block);
    bool SaveTrapVectors(uint8_t* out);
    bool RestoreTrapVectors(const uint8_t* block);

    // --- Trap handler protocol (inside a session the caller opens) ---
    // The caller names what it downloads: the link cannot tell from the image.
    bool LoadTrapHandler(const uint8_t* image, uint32_t size, uint32_t offset,
                         const TargetProgram& what = TargetProgram::General());
    // Polls until the handler is ready: at least polls times and at least minMicros long.
    // An interruptible wait (the erase's) ends on a stop request; the command goes on.
    bool WaitTrapReady(uint32_t polls, uint64_t minMicros = 0, bool interruptible = false);
    // out may be null; command is one of the six width codes.
    bool TrapAccess(uint32_t address, uint32_t value, uint32_t* out, uint32_t command);
    bool ExitTrap();

    // --- Trap device commands (each in its own session) ---
    bool ReadFlashId(uint32_t base, uint32_t width, uint32_t& maker, uint32_t& device,
                     const FlashCommandSet& cmd);
    bool SetFlashParameters(uint32_t width, uint32_t size, uint32_t algorithm, uint32_t topBoot,
                            uint32_t wordMode, const FlashCommandSet& cmd);
    bool EraseFlash(uint32_t base);
    bool ProgramFlash(uint32_t address, uint32_t length, const uint8_t* data);
    bool SetupEeprom(uint32_t scc, uint32_t pio);
    bool ReadEeprom(uint32_t eeAddress, uint32_t length, uint8_t* buffer);
    bool WriteEeprom(uint32_t eeAddress, uint32_t length, const uint8_t* data);
    bool ReadMemStart(uint32_t& out);
    bool ReadProcId(uint32_t& out);
    bool Reboot();
    bool Go(uint32_t address);

    // --- Verified reads, stopping, and where a transfer failed ---
    // On (the default), every read of target data is taken only once two reads agree, and
    // three after the link has shown noise; off, a cable known clean reads each chunk once.
    void SetReadCheck(bool on) { m_bReadCheck = on; }
    bool ReadCheck() const { return m_bReadCheck; }
    // Safe from a signal handler or another thread. While a stop is requested, block
    // transfers and the device commands' chunk loops end at their next chunk boundary with
    // 120 (m_nLastCount and the progress say what was really done), and the erase wait ends
    // (the target's erase goes on). A single word access still runs, and Close clears the
    // request and leaves trap mode as always.
    void RequestStop() { m_stop.store(true, std::memory_order_relaxed); }
    void ClearStop() { m_stop.store(false, std::memory_order_relaxed); }
    bool StopRequested() const { return m_stop.load(std::memory_order_relaxed); }
    // Where the last failed transfer stopped: a block transfer's 118 names the first byte
    // the reads disagreed on (or the chunk they failed at) and its 120 the first byte not
    // done; flash programming and EEPROM transfers name the first flash or EEPROM address
    // not done, whatever the error (116: the first address not programmed); an erase its
    // base.
    uint32_t FailAddress() const { return m_nFailAddress; }
    // The DCU may be holding part of a message the host could not finish (119): nothing more
    // is sent to it until ReadIdCode or Open, after the board was reset.
    bool OutOfStep() const { return m_bOutOfStep; }

    // What runs on the target now.
    const TargetProgram& Program() const { return m_program; }
    bool HandlerRunning() const { return m_program.IsHandler(); }
    // True when exactly `wanted` runs; otherwise 110 is left pending and nothing is sent.
    bool Require(const TargetProgram& wanted);

    // Fields, in the design's order. Public: the main window sets the port and the profile's
    // trap addresses, and tests look at the link's state.
    ILinkObserver* m_pObserver = nullptr;
    int32_t m_nPort = 0x378;
    uint32_t m_dcuSnapshot[kDcuSnapshotWords] = {};
    uint32_t m_nParamBlock = 0;
    uint32_t m_nTrapBase = 0;
    uint32_t m_nBufferAddr = 0;
    uint32_t m_nBufferSize = 0;
    const uint32_t* m_pEmiConfig = nullptr;  // kEmiWords words, owned by the settings
    uint32_t m_bTrstHigh = 0;
    uint32_t m_nTdoHistory = 0;  // last two TDO samples, older in bit 1
    int32_t m_nError = 0;        // pending LinkError: 0 none, -1 already shown
    uint32_t m_nLastCount = 0;
    bool m_bProgressWrite = false;
    bool m_bProgressRead = false;
    bool m_bProgressFlash = false;
    bool m_bSession = false;
    // m_savedVectors holds the board's own block, read at the first download since the
    // target was last reset or the link opened.
    bool m_bVectorsSaved = false;
    std::FILE* m_pTrace = nullptr;

    // Parameter-block slot addresses, computed when a handler is loaded.
    uint32_t m_nSlotCommand = 0;
    uint32_t m_nSlotAccessAddress = 0;
    uint32_t m_nSlotAccessData = 0;
    uint32_t m_nSlotCount = 0;
    uint32_t m_nSlotOffset = 0;
    uint32_t m_nSlotFlashAddress = 0;
    uint32_t m_nSlotDeviceSize = 0;
    uint32_t m_nSlotBusWidth = 0;
    uint32_t m_nSlotAlgorithm = 0;
    uint32_t m_nSlotTopBoot = 0;
    uint32_t m_nSlotWordMode = 0;
    uint32_t m_nSlotFlashStatus = 0;
    uint32_t m_nSlotParam[9] = {};  // Param0 .. Param8

    uint32_t m_trapVectors[4] = {};
    uint8_t m_savedVectors[kTrapVectorBytes] = {};
    uint32_t m_nFailAddress = 0;

  private:
    // The opened cable, told the port base and the nTRST level whenever they or the cable
    // changed since it was last told.
    port::ICable& Cable() {
        port::ICable& cable = port::OpenedCable();
        if (m_nCableSerial != port::OpenedCableSerial() || m_nCablePort != m_nPort ||
            m_nCableTrst != m_bTrstHigh)
            SetUpCable(cable);
        return cable;
    }
    void SetUpCable(port::ICable& cable);
    void EnterLinkRegister();

    // Running ahead (a queued cable, pipelining on): clocks whose TDI the per-clock path is
    // certain to send, whatever TDO says, go out in one flush; ClockTap then takes their TDO
    // from here in order instead of clocking, so the path's logic and its history stay as
    // they are. count <= kMaxAhead - what is still ahead; TMS is 0.
    bool Pipelined() {
        Cable();
        return m_bPipeline;
    }
    void RunAhead(uint32_t count, uint32_t tdi);
    uint32_t Ahead() const { return m_nAhead; }
    // Takes whatever is still ahead (idle clocks already on the wire) into the history.
    void TakeAhead();
    static constexpr uint32_t kMaxAhead = 64;

    // The message layer (LinkProtocol.cpp says why it keeps the target's parser in step).
    enum class Ack : uint8_t { kInTime, kLate, kNone };
    enum class Sent : uint8_t { kWhole, kLate, kLost };
    Ack SendByte(uint8_t value);
    bool WaitAck(int clocks);
    // `after`: clocks with TDI 0 certain to follow the stop bit (the next byte of a reply).
    bool ReceiveByte(uint8_t& out, uint32_t after);
    // A whole peek request (data null) or poke message; `confirmed` counts the poke data
    // bytes the target is known to have taken (all n once the message is whole).
    Sent SendMessage(bool peek, uint32_t address, uint32_t n, const uint8_t* data,
                     uint32_t& confirmed);
    // Every byte sent so far was followed by a sign of the target on the line.
    bool Confirmed() const { return m_nAlive >= m_nLastStop; }
    bool Settle();
    void OutOfStep(uint32_t address);
    // Takes and acknowledges what the target still sends until the line is quiet; leaves
    // m_nError alone.
    bool Drain(int clocks);
    // One message of n bytes (a multiple of 4, 4..256); moved counts the data bytes that
    // went through. A failed peek drains the rest of its reply.
    bool PeekChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved);
    bool PokeChunk(uint32_t address, uint32_t n, const uint8_t* in, uint32_t& moved);
    // PeekChunk until enough reads agree (see SetReadCheck).
    bool ReadChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved);
    uint32_t ReadChunkLimit() const;
    // Peek any range, aligned or not, into exactly length bytes. Returns bytes delivered.
    bool PeekRange(uint32_t address, uint32_t length, uint8_t* buffer, bool report, uint32_t& done);
    void ReportChunk(uint32_t lastAddress, uint32_t done);

    void ComputeSlots(uint32_t paramBlock);
    // Refuses (110, nothing sent) unless a handler of this kind runs, configured when asked.
    bool RequireHandler(TargetProgram::Kind kind = TargetProgram::kNothing,
                        bool configured = false);
    // A handler that missed its completion may finish the old command when the next one
    // arrives and answer for it: nothing it says can be trusted any more.
    bool WaitCommand(uint32_t polls, uint64_t minMicros = 0, bool interruptible = false);
    // A trap buffer size that would never advance or split words is refused up front.
    bool CheckTrapBuffer();
    bool RunCommand(uint32_t command, uint32_t& out);
    bool EepromTransfer(uint32_t eeAddress, uint32_t length, uint8_t* in, const uint8_t* out);

    // Ends a transfer for a stop request: 120 unless an error is pending, at `address`.
    void Interrupted(uint32_t address);

    // Set by Open, cleared by Close: a second Close (at exit) then does nothing at all.
    bool m_bOpen = false;
    // What the cable was last told (SetUpCable).
    uint32_t m_nCableSerial = 0;
    int32_t m_nCablePort = -1;
    uint32_t m_nCableTrst = 2;
    bool m_bPipeline = false;
    // Clocks run ahead: TDI and TDO of each in bits 0.. (the next one in bit 0), how many.
    uint64_t m_aheadTdi = 0;
    uint64_t m_aheadTdo = 0;
    uint32_t m_nAhead = 0;
    bool m_bReadCheck = true;
    bool m_bOutOfStep = false;
    // Clocks since construction; the last clock at which the target was seen on the line
    // (TDO changed right after it); the clock of the last stop bit sent.
    uint64_t m_nClock = 2;
    uint64_t m_nAlive = 0;
    uint64_t m_nLastStop = 0;
    // Chunks still read under the noisy rule (three agreeing reads of 64-byte chunks).
    int m_nNoisy = 0;
    std::atomic<bool> m_stop{false};
    static_assert(std::atomic<bool>::is_always_lock_free, "RequestStop runs in signal handlers");
    TargetProgram m_program;
    std::string m_traceFile;
};

extern CTargetLink g_link;
