// The program's single channel to the target: the JTAG adapter on the parallel port, the
// TAP sequences, the DCU byte link with block peek and poke, and (next) the trap handler.
#pragma once

#include <cstdint>
#include <cstdio>

#include "link/LinkObserver.h"

// Fixed DCU and target addresses.
constexpr uint32_t kDcuBase = 0x3000;
constexpr uint32_t kDcuControl = 0x3004;  // control when written, status when read
constexpr uint32_t kDcuSnapshotWords = 36;
constexpr uint32_t kEmiBase = 0x2000;
constexpr uint32_t kEmiWords = 16;
constexpr uint32_t kTrapVectorAddr = 0x80000040;
constexpr uint32_t kTrapVectorBytes = 16;

// JTAG instructions.
constexpr uint32_t kIrLength = 5;
constexpr uint32_t kIrIdcode = 2;
constexpr uint32_t kIrDcuLink = 16;

// Largest peek or poke message payload.
constexpr uint32_t kMaxChunk = 256;

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
    void Close();
    void SetProgressMode(uint8_t mode);
    uint32_t ReadIdCode();

    int ClockTap(int tms, int tdi);
    void TapReset();
    void TapResetPulse();
    uint32_t ShiftIR(int count, uint32_t value);
    int ShiftDR(int count, const uint32_t* input, uint32_t* output, bool enter, bool leave);

    // --- DCU link and memory access ---
    bool BeginSession();
    void EndSession();
    bool ReadMemory(uint32_t address, uint32_t length, uint8_t* buffer);
    bool WriteMemory(uint32_t address, uint32_t length, const uint8_t* buffer);
    void WriteEmiConfig();
    bool ReportError();

    void LinkResync();
    bool WaitLinkIdle(int clocks = 16);
    bool WaitData(int clocks = 16);
    bool WaitAck(int clocks = 16);
    bool ReceiveByte(uint8_t& out);
    bool SendByte(uint8_t value);
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

    // --- Trap handler ---
    // Leaves trap mode. Completed together with the trap handler protocol; until then it
    // sends nothing and reports success.
    bool ExitTrap();

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
    bool m_bTrapReady = false;
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

  private:
    uint16_t DataPort() const { return static_cast<uint16_t>(m_nPort); }
    uint16_t StatusPort() const { return static_cast<uint16_t>(m_nPort + 1); }
    void EnterLinkRegister();

    // One peek or poke message of n bytes (a multiple of 4, 4..256). moved counts the data
    // bytes that went through; dataPhase tells whether the request (and reply header) did.
    bool PeekChunk(uint32_t address, uint32_t n, uint8_t* out, uint32_t& moved, bool& dataPhase);
    bool PokeChunk(uint32_t address, uint32_t n, const uint8_t* in, uint32_t& moved,
                   bool& dataPhase);
    bool SendPeekHeader(uint32_t address, uint32_t n);
    bool SendPokeHeader(uint32_t address, uint32_t n);
    // Peek any range, aligned or not, into exactly length bytes. Returns bytes delivered.
    bool PeekRange(uint32_t address, uint32_t length, uint8_t* buffer, bool report, uint32_t& done);
    void ReportChunk(uint32_t lastAddress, uint32_t done);

    // Set by Open, cleared by Close: a second Close (at exit) then does nothing at all.
    bool m_bOpen = false;
};

extern CTargetLink g_link;
