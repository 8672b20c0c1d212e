// The JTAG adapter on the parallel port and the TAP sequences.
#include "link/TargetLink.h"

#include <cassert>
#include <chrono>
#include <thread>

#include "link/LinkErrors.h"
#include "port/PortTalk.h"
#include "port/StaticOrder.h"

CTargetLink g_link TAPWRIGHT_BUILT_AT(kBuildLink);

namespace {

void RealSleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

LinkSleepFunction g_sleep = RealSleep;

}  // namespace

void SetLinkSleepFunction(LinkSleepFunction fn) {
    g_sleep = fn != nullptr ? fn : RealSleep;
}

CTargetLink::~CTargetLink() {
    // At exit the observer's window is gone: the closing never calls it from here.
    m_pObserver = nullptr;
    Close();
}

void CTargetLink::SetUpCable(port::ICable& cable) {
    m_nCableSerial = port::OpenedCableSerial();
    m_nCablePort = m_nPort;
    m_nCableTrst = m_bTrstHigh;
    cable.SetPortBase(static_cast<uint16_t>(m_nPort));
    cable.SetTrst(m_bTrstHigh != 0);
    m_bPipeline = port::SelectedCableOptions().pipeline && !cable.ClocksAtOnce();
}

void CTargetLink::RunAhead(uint32_t count, uint32_t tdi) {
    assert(count <= 32 && m_nAhead + count <= kMaxAhead);
    uint32_t tdo = 0xFFFFFFFF;  // what a failed cable reads
    Cable().QueueClocks(count, nullptr, &tdi, nullptr, &tdo);
    Cable().Flush();
    const uint64_t mask = count == 32 ? 0xFFFFFFFFull : (1ull << count) - 1;
    m_aheadTdi |= (tdi & mask) << m_nAhead;
    m_aheadTdo |= (tdo & mask) << m_nAhead;
    m_nAhead += count;
}

void CTargetLink::TakeAhead() {
    while (m_nAhead > 0) ClockTap(0, static_cast<int>(m_aheadTdi & 1));
}

int CTargetLink::ClockTap(int tms, int tdi) {
    int tdo = 0;
    if (m_nAhead > 0) {
        // Run ahead only where the path's next clocks are certain: anything else is a fault
        // of the link's own logic.
        assert(tms == 0 && (tdi != 0) == ((m_aheadTdi & 1) != 0));
        tdo = static_cast<int>(m_aheadTdo & 1);
        m_aheadTdi >>= 1;
        m_aheadTdo >>= 1;
        --m_nAhead;
    } else {
        tdo = Cable().Clock(tms != 0, tdi != 0);
    }
    m_nTdoHistory = ((m_nTdoHistory << 1) | static_cast<uint32_t>(tdo)) & 3;
    // TDO changed between the last two samples: the target drove it at the falling edge
    // two clocks back at the latest, so it had heard every rising edge up to that clock.
    ++m_nClock;
    if (m_nTdoHistory == 1 || m_nTdoHistory == 2) m_nAlive = m_nClock - 2;
    return tdo;
}

void CTargetLink::QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi,
                              const uint32_t* want, uint32_t* tdo) {
    Cable().QueueClocks(count, tms, tdi, want, tdo);
}

bool CTargetLink::FlushClocks() {
    return Cable().Flush();
}

void CTargetLink::TapReset() {
    for (int i = 0; i < 5; ++i) ClockTap(1, 0);
    ClockTap(0, 0);
}

void CTargetLink::TapResetPulse() {
    m_bTrstHigh = 0;
    ClockTap(0, 0);
    g_sleep(100);
    m_bTrstHigh = 1;
    ClockTap(0, 0);
    g_sleep(100);
}

uint32_t CTargetLink::ShiftIR(int count, uint32_t value) {
    ClockTap(1, 0);
    ClockTap(1, 0);
    ClockTap(0, 0);
    ClockTap(0, 0);
    uint32_t captured = 0;
    for (int i = 0; i < count; ++i) {
        const int tdo = ClockTap(i == count - 1 ? 1 : 0, static_cast<int>(value & 1));
        value >>= 1;
        if (tdo != 0 && i < 32) captured |= 1u << i;
    }
    ClockTap(1, 0);
    return captured;
}

int CTargetLink::ShiftDR(int count, const uint32_t* input, uint32_t* output, bool enter,
                         bool leave) {
    if (enter) {
        ClockTap(1, 0);
        ClockTap(0, 0);
        ClockTap(0, 0);
    }
    uint32_t in = 0;
    uint32_t acc = 0;
    uint32_t mask = 0;
    for (int bit = 0; bit < count; ++bit) {
        const int word = bit / 32;
        if (bit % 32 == 0) {
            in = input != nullptr ? input[word] : 0;
            acc = 0;
            mask = 1;
        }
        const bool last = bit == count - 1;
        if (ClockTap(leave && last ? 1 : 0, static_cast<int>(in & 1)) != 0) acc |= mask;
        in >>= 1;
        mask <<= 1;
        if (output != nullptr) output[word] = acc;
    }
    if (leave) ClockTap(1, 0);
    return count > 0 ? count : 0;
}

// Read until two reads agree (three once two have disagreed; one with the read check off).
// Identifying the processor again is what follows a board reset, so it also lets the link
// talk to the DCU again.
uint32_t CTargetLink::ReadIdCode() {
    constexpr int kAttempts = 8;
    uint32_t reads[kAttempts] = {};
    int need = m_bReadCheck ? 2 : 1;
    m_bOutOfStep = false;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        TapReset();
        ShiftIR(kIrLength, kIrIdcode);
        ShiftDR(32, nullptr, &reads[attempt], true, true);
        int agree = 1;
        for (int j = 0; j < attempt; ++j) agree += reads[j] == reads[attempt] ? 1 : 0;
        if (agree >= need) {
            m_nError = kErrNone;
            return reads[attempt];
        }
        if (attempt > 0) need = 3;
    }
    m_nError = kErrReadUnconfirmed;
    m_nFailAddress = 0;
    return 0xFFFFFFFF;  // what a missing target reads: no processor is recognised
}

void CTargetLink::SetProgressMode(uint8_t mode) {
    m_bProgressRead = mode == 1 || mode == 4;
    m_bProgressWrite = mode == 2 || mode == 4;
    m_bProgressFlash = mode == 3 || mode == 4;
}

uint32_t CTargetLink::Open(ILinkObserver* observer) {
    m_pObserver = observer;
    m_bTrstHigh = 0;
    m_nTdoHistory = 0;
    m_nAhead = 0;
    m_aheadTdi = 0;
    m_aheadTdo = 0;
    m_nLastCount = 0;
    m_nError = kErrNone;
    m_bProgressRead = false;
    m_bProgressWrite = false;
    m_bSession = false;
    m_bVectorsSaved = false;
    m_bOutOfStep = false;
    m_nFailAddress = 0;
    m_program = {};
    ClearStop();

    const uint32_t result = OpenPortDriver();
    if (m_pTrace != nullptr) std::fclose(m_pTrace);  // reopened: start a fresh, empty trace
    m_pTrace = m_traceFile.empty() ? nullptr : std::fopen(m_traceFile.c_str(), "wt");
    m_bOpen = true;
    TapResetPulse();
    return result;
}

void CTargetLink::Close() {
    if (!m_bOpen) return;
    m_bOpen = false;
    ClearStop();  // an interrupted operation still leaves trap mode
    // Whatever the last operation left pending: a link that cannot start a session sends
    // nothing, one that can leaves the handler and gives the board its own vectors back.
    if (HandlerRunning() || m_bVectorsSaved) {
        if (BeginSession()) {
            ExitTrap();
            RestoreTrapVectors(m_savedVectors);
        }
        EndSession();
    }
    m_program = {};
    m_bTrstHigh = 0;
    ClockTap(0, 0);
    Cable().Park();  // TAP held in reset, target running
    if (m_pTrace != nullptr) {
        std::fclose(m_pTrace);
        m_pTrace = nullptr;
    }
}
