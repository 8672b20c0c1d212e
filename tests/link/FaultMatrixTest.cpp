// The fault matrix: every operation the pages ask of the link, under every fault the virtual
// board can put on the cable or in its devices. Whatever the fault:
//  - an operation either succeeds with exactly the right bytes, or fails with a message;
//  - a write leaves each byte of its range holding its old value or the new one, and changes
//    nothing else (flash, EEPROM, memory);
//  - the board's record of the messages it took shows nothing addressed outside what the
//    operation works on;
//  - the bytes and the progress a failed transfer counts as done were really done;
//  - an interrupted operation stops at a chunk boundary, and Close still leaves trap mode.
// On a healthy link (no fault, an acknowledge delay the protocol accepts, chips slower than usual)
// every operation succeeds. Each case prints its seed; TAPWRIGHT_MATRIX_SEED=n runs the matrix from
// seed n.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "link/LinkErrors.h"
#include "support/SimLinkFixture.h"
#include "support/TrapSupport.h"

namespace {

using test::kTrapData;
using test::kTrapDataSize;
using test::kTrapEntry;
using test::kTrapParams;

constexpr uint32_t kSdram = 0xC0000000;
constexpr uint32_t kChipSize = 0x100000;
constexpr uint32_t kEepromSize = 0x100;
constexpr uint32_t kIdcode = 0x0D4C9041;
const std::vector<uint8_t> kBoardVectors = test::LittleEndian({0x1111, 0x2222, 0x3333, 0x4444});

struct Range {
    uint32_t from = 0, to = 0;  // [from, to)
    bool Holds(uint32_t a, uint32_t n) const {
        return a >= from && static_cast<uint64_t>(a) + n <= to;
    }
};

enum class Handler { kNone, kGeneral, kFlash, kEeprom };
// What the operation does to the target: reads, writes a range (memory, EEPROM), programs
// flash, erases it, or something else (LOAD and Reboot, which write the vectors).
enum class Kind { kRead, kWrite, kFlashWrite, kErase, kVectors, kOther };

class FaultMatrix;

// One operation as a page runs it, on a range drawn for the case.
struct Op {
    const char* name;
    Handler handler;
    Kind kind;
    // Draws the range and the data, and fills the devices it reads.
    void (*prepare)(FaultMatrix&);
    // The operation; true when the link says it succeeded.
    bool (*act)(FaultMatrix&);
    // After a success: what is wrong with the result, or "" when it is right.
    std::string (*check)(FaultMatrix&);
};

struct Fault {
    const char* name;
    bool healthy;  // every operation must succeed
    bool atStart;  // a device fault, set before the handler is loaded
    void (*apply)(FaultMatrix&, sim::Options&);
};

class FaultMatrix : public test::SimLinkFixture {
  public:
    using SimLinkFixture::Backdoor;
    using SimLinkFixture::board;
    using SimLinkFixture::link;
    using SimLinkFixture::wire;
    std::mt19937 rng;
    uint32_t address = 0, length = 0;
    std::vector<uint8_t> data, back, before;  // written; read (guards around it); range before
    uint32_t value = 0, device = 0;           // a word read, the flash device code
    uint32_t stuckUnit = 0;                   // flash write over data: the unit that cannot
    // The flash bank: 8, 16 or 32 bits wide, AMD or Intel, data lines straight or crossed.
    uint32_t width = 16;
    bool intel = false, crossed = false;
    uint8_t wiring[32] = {};
    FlashChip chip;
    uint32_t flashBase = 0, flashSize = 0;
    uint64_t span = 0;  // port reads of this operation without a fault
    std::string note;   // what the window says beyond the link's text

    uint32_t Pick(uint32_t lo, uint32_t hi) {
        return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
    }
    std::vector<uint8_t> Random(size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        return v;
    }
    // The chips' arrays one after the other (wiring aside), and whether two such images
    // differ only in the bus units covering [from, to): each chip holds its share of a unit.
    std::vector<uint8_t> FlashRaw() {
        std::vector<uint8_t> raw;
        for (unsigned k = 0; k < board().flash().chip_count(); ++k) {
            const sim::NorFlash& c = board().flash().chip(k);
            raw.insert(raw.end(), c.data(), c.data() + c.size());
        }
        return raw;
    }
    bool SameOutside(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t from,
                     uint32_t to) {
        const uint32_t unit = width / 8, chips = board().flash().chip_count();
        const size_t chipBytes = a.size() / chips, share = unit / chips;
        for (size_t i = 0; i < a.size(); ++i) {
            const size_t at = i % chipBytes / share;  // the unit this byte belongs to
            if (a[i] != b[i] &&
                !(at >= (from - flashBase) / unit && at < (to - flashBase + unit - 1) / unit))
                return false;
        }
        return true;
    }
    std::vector<uint8_t> Eeprom(uint32_t at, uint32_t n) {
        std::vector<uint8_t> v(n);
        board().ReadEeprom(at, v.data(), n);
        return v;
    }
    // Reads land between guard bytes that must survive.
    uint8_t* ReadBuffer() {
        back.assign(length + 8, 0xA5);
        return back.data() + 4;
    }
    std::string ReadBack(const std::vector<uint8_t>& truth, uint32_t count) {
        if (!std::equal(truth.begin(), truth.begin() + count, back.begin() + 4))
            return "the bytes read are not the target's";
        for (int g = 0; g < 4; ++g)
            if (back[g] != 0xA5 || back[length + 4 + g] != 0xA5) return "a read wrote outside";
        return "";
    }

    void RunMatrix();

  private:
    std::string DrawBench();
    bool Setup(Handler handler);
    void RunCase(const Op& op, const Fault& fault, uint32_t seed);
    std::vector<uint8_t> Now(const Op& op) {
        return op.handler == Handler::kEeprom ? Eeprom(address, length) : Backdoor(address, length);
    }
};

// --- Operations ---

std::string Is(bool good, const char* what) {
    return good ? "" : what;
}
void DrawSdram(FaultMatrix& m) {
    m.length = m.Pick(0, 3) == 0 ? m.Pick(1, 11) : m.Pick(1, 3000);
    m.address = kSdram + m.Pick(0, 0x100000);
    m.data = m.Random(m.length);
}
void DrawFlash(FaultMatrix& m) {
    m.length = m.Pick(1, 5000);
    m.address = m.flashBase + (m.Pick(0, m.flashSize - 0x2000) & ~3u);
    m.data = m.Random(m.length);
}
void DrawEeprom(FaultMatrix& m) {
    m.address = m.Pick(0, kEepromSize - 1);
    m.length = m.Pick(1, kEepromSize - m.address);
    m.data = m.Pick(0, 1) ? m.Random(m.length) : std::vector<uint8_t>(m.length, 0xFF);
    const auto contents = m.Random(kEepromSize);
    m.board().WriteEeprom(0, contents.data(), kEepromSize);
}
// Draws a range and puts the data there, for a read (or an erase) to find.
template <void (*Draw)(FaultMatrix&)>
void Planted(FaultMatrix& m) {
    Draw(m);
    m.board().WriteBytes(m.address, m.data.data(), m.length);
}
void None(FaultMatrix&) {}
bool Read(FaultMatrix& m) {
    return m.link.ReadMemory(m.address, m.length, m.ReadBuffer());
}
std::string ReadRight(FaultMatrix& m) {
    return m.ReadBack(m.data, m.length);
}
bool Program(FaultMatrix& m) {
    return m.link.ProgramFlash(m.address, m.length, m.data.data());
}
std::string Holds(FaultMatrix& m) {
    return Is(m.Backdoor(m.address, m.length) == m.data, "the target does not hold the data");
}

const Op kOps[] = {
    {"CPU ID", Handler::kNone, Kind::kOther, None,
     [](FaultMatrix& m) {
         m.value = m.link.ReadIdCode();
         // All ones or zeros: the window says no processor answered.
         if (m.value == 0 || m.value == 0xFFFFFFFF) m.note = "no processor";
         return m.link.m_nError == kErrNone && m.note.empty();
     },
     [](FaultMatrix& m) { return Is(m.value == kIdcode, "wrong IDCODE"); }},
    {"LOAD", Handler::kNone, Kind::kVectors, None,
     [](FaultMatrix& m) {
         return test::LoadImage(m.link, test::HandlerImage({"TrapHandler.bin"}));
     },
     [](FaultMatrix& m) -> std::string {
         if (!m.board().TrapRunning()) return "no handler runs";
         for (uint32_t i = 0; i < kEmiWords; ++i)
             if (m.board().ReadWord(kEmiBase + 4 * i) != m.link.m_pEmiConfig[i])
                 return "EMI not configured";
         return Is(m.link.m_dcuSnapshot[1] == kDcuTrapRunning, "status not kept");
     }},
    {"MEMORY READ", Handler::kNone, Kind::kRead, Planted<DrawSdram>, Read, ReadRight},
    {"MEMORY WRITE", Handler::kNone, Kind::kWrite, DrawSdram,
     [](FaultMatrix& m) { return m.link.WriteMemory(m.address, m.length, m.data.data()); }, Holds},
    {"MEMORY LOAD and GO", Handler::kGeneral, Kind::kWrite,
     [](FaultMatrix& m) {
         DrawSdram(m);
         m.address &= ~3u;
         m.length = std::max<uint32_t>(m.length, 4) & ~3u;
         m.data.resize(m.length);
     },
     [](FaultMatrix& m) {
         return m.link.WriteMemory(m.address, m.length, m.data.data()) && m.link.Go(m.address);
     },
     [](FaultMatrix& m) -> std::string {
         if (m.Backdoor(m.address, m.length) != m.data) return "memory does not hold the image";
         return Is(m.board().GoAddress() == m.address, "the handler did not jump there");
     }},
    {"FLASH READ", Handler::kFlash, Kind::kRead, Planted<DrawFlash>, Read, ReadRight},
    {"FLASH WRITE", Handler::kFlash, Kind::kFlashWrite, DrawFlash, Program, Holds},
    // Over data that is not erased: one bus unit holds zeros the data needs as ones.
    {"FLASH WRITE not erased", Handler::kFlash, Kind::kFlashWrite,
     [](FaultMatrix& m) {
         DrawFlash(m);
         const uint32_t unit = m.width / 8;
         m.length = std::max(m.length, unit);
         m.data.resize(m.length);
         const uint32_t offset = m.Pick(0, m.length - unit) & ~(unit - 1);
         m.stuckUnit = m.address + offset;
         m.data[offset] |= 1;
         const uint8_t zeros[4] = {};
         m.board().WriteBytes(m.stuckUnit, zeros, unit);
     },
     Program, [](FaultMatrix&) { return std::string("programmed over zeros"); }},
    {"FLASH ERASE", Handler::kFlash, Kind::kErase, Planted<DrawFlash>,
     [](FaultMatrix& m) { return m.link.EraseFlash(m.flashBase); },
     [](FaultMatrix& m) {
         const auto raw = m.FlashRaw();
         return Is(std::all_of(raw.begin(), raw.end(), [](uint8_t b) { return b == 0xFF; }),
                   "the flash is not blank");
     }},
    {"FLASH ID", Handler::kGeneral, Kind::kOther, None,
     [](FaultMatrix& m) {
         return m.link.ReadFlashId(m.flashBase, m.width, m.value, m.device, m.chip.m_commands);
     },
     [](FaultMatrix& m) {
         const uint32_t lanes = m.width == 32 ? 0x10001 : 1;
         return Is(MapDataLines(m.chip, m.wiring, m.value) == 0x20 * lanes &&
                       MapDataLines(m.chip, m.wiring, m.device) == 0xD7 * lanes,
                   "wrong identification");
     }},
    {"EEPROM READ", Handler::kEeprom, Kind::kRead, DrawEeprom,
     [](FaultMatrix& m) { return m.link.ReadEeprom(m.address, m.length, m.ReadBuffer()); },
     [](FaultMatrix& m) { return m.ReadBack(m.Eeprom(m.address, m.length), m.length); }},
    {"EEPROM WRITE or ERASE", Handler::kEeprom, Kind::kWrite, DrawEeprom,
     [](FaultMatrix& m) { return m.link.WriteEeprom(m.address, m.length, m.data.data()); },
     [](FaultMatrix& m) {
         return Is(m.Eeprom(m.address, m.length) == m.data, "the EEPROM does not hold it");
     }},
    {"MISC MemStart", Handler::kGeneral, Kind::kOther, None,
     [](FaultMatrix& m) { return m.link.ReadMemStart(m.value); },
     [](FaultMatrix& m) { return Is(m.value == kSdram, "wrong value"); }},
    {"MISC ProcID", Handler::kGeneral, Kind::kOther, None,
     [](FaultMatrix& m) { return m.link.ReadProcId(m.value); },
     [](FaultMatrix& m) { return Is(m.value == kIdcode, "wrong value"); }},
    {"MISC Reboot", Handler::kGeneral, Kind::kVectors, None,
     [](FaultMatrix& m) { return m.link.Reboot(); },
     [](FaultMatrix& m) -> std::string {
         if (!m.board().Rebooted()) return "no reboot";
         return Is(m.Backdoor(kTrapVectorAddr, 16) == kBoardVectors, "vectors not restored");
     }},
};

// --- Faults ---

const Fault kFaults[] = {
    {"none", true, false, [](FaultMatrix&, sim::Options&) {}},
    {"acknowledge delay the protocol accepts", true, false,
     [](FaultMatrix& m, sim::Options& o) { o.ackDelay = static_cast<int>(m.Pick(0, 23)) - 9; }},
    {"acknowledge too late", false, false,
     [](FaultMatrix& m, sim::Options& o) {
         const int delays[] = {15, 40, 63, 64, 100, 1000000};
         o.ackDelay = delays[m.Pick(0, 5)];
     }},
    {"light noise", false, false,
     [](FaultMatrix& m, sim::Options& o) {
         o.noise = m.Pick(0, 1) ? 1e-5 : 1e-4;
         o.seed = m.rng();
         o.dropOnReset = m.Pick(0, 1) == 1;
     }},
    {"heavy noise", false, false,
     [](FaultMatrix& m, sim::Options& o) {
         const double rates[] = {3e-4, 1e-3, 3e-3};
         o.noise = rates[m.Pick(0, 2)];
         o.seed = m.rng();
         o.dropOnReset = m.Pick(0, 1) == 1;
     }},
    {"cable pulled", false, false,
     [](FaultMatrix& m, sim::Options& o) {
         o.unplugAfter = m.board().Clocks() + m.Pick(1, static_cast<uint32_t>(m.span + 1));
         o.dropOnReset = m.Pick(0, 1) == 1;
     }},
    {"stop requested", false, false,
     [](FaultMatrix& m, sim::Options&) {
         const uint64_t at = m.wire().readCount + m.Pick(1, static_cast<uint32_t>(m.span + 1));
         m.wire().beforeRead = [&m, at](uint64_t reads) {
             if (reads == at) m.link.RequestStop();
         };
     }},
    {"busy", false, false, [](FaultMatrix&, sim::Options& o) { o.busy = true; }},
    {"no acknowledge", false, false, [](FaultMatrix&, sim::Options& o) { o.noAck = true; }},
    {"bad reply header", false, false, [](FaultMatrix&, sim::Options& o) { o.badHeader = true; }},
    {"bad reply length", false, false, [](FaultMatrix&, sim::Options& o) { o.badLength = true; }},
    {"handler dead", false, true, [](FaultMatrix&, sim::Options& o) { o.handlerDead = true; }},
    {"handler slow", false, false, [](FaultMatrix&, sim::Options& o) { o.readyPolls = 1000; }},
    {"erase fails", false, true, [](FaultMatrix&, sim::Options& o) { o.eraseFails = true; }},
    {"flash unit stuck", false, true,
     [](FaultMatrix& m, sim::Options& o) {
         o.flashStuck = m.flashBase + (m.Pick(0, m.flashSize - 4) & ~3u);
     }},
    {"devices slow", true, true,
     [](FaultMatrix& m, sim::Options& o) { o.slow = m.Pick(0, 1) ? 4 : 10; }},
};

std::string FaultMatrix::DrawBench() {
    width = 8u << Pick(0, 2);
    intel = Pick(0, 1) == 1;
    crossed = Pick(0, 1) == 1;
    for (uint8_t i = 0; i < 32; ++i) wiring[i] = i;
    for (uint8_t i = 0; crossed && i < width; ++i)
        wiring[i] = static_cast<uint8_t>(width == 8 ? (i + 1) % 8 : width - 1 - i);
    chip = FlashChip{};
    chip.m_nBusWidth = width;
    chip.m_nIntel = intel ? 1 : 0;
    chip.m_nWordMode = width == 8 ? 0 : 1;
    PrepareIdCommands(chip, wiring);
    PrepareChipCommands(chip, wiring);
    std::string knobs = ",clock-ns=500000";
    if (intel) knobs += ",flash-cmdset=intel";
    if (width == 8) knobs += ",flash-width=8,flash-mode=byte";
    if (width == 32) knobs += ",flash-width=32";
    if (crossed) knobs += width == 8 ? ",flash-wiring=rotate" : ",flash-wiring=reversed";
    return knobs;
}

bool FaultMatrix::Setup(Handler handler) {
    test::ApplyTrapDefaults(link);
    static uint32_t emi[kEmiWords];
    for (uint32_t i = 0; i < kEmiWords; ++i) emi[i] = 0x0A000000u | (i * 0x1111);
    link.m_pEmiConfig = emi;
    board().WriteBytes(kTrapVectorAddr, kBoardVectors.data(), kBoardVectors.size());
    if (handler == Handler::kNone) return true;
    if (handler == Handler::kGeneral)
        return test::LoadImage(link, test::HandlerImage({"TrapHandler.bin"}));
    if (handler == Handler::kEeprom)
        return test::LoadImage(link, test::HandlerImage({"TrapHandler.bin", "I2C_2Cycles.bin"}),
                               TargetProgram::Eeprom()) &&
               link.SetupEeprom(test::kBoardScc, test::kBoardPio);
    return test::LoadImage(link,
                           test::HandlerImage({"TrapHandler.bin", FlashHandlerName(chip, width)}),
                           TargetProgram::Flash(0, width)) &&
           link.SetFlashParameters(width, kChipSize, chip.m_nIntel, 1, chip.m_nWordMode,
                                   chip.m_commands);
}

void FaultMatrix::RunCase(const Op& op, const Fault& fault, uint32_t seed) {
    rng.seed(seed);
    note.clear();
    ASSERT_TRUE(OpenBoard(DrawBench()));
    flashBase = board().flash().base();
    flashSize = static_cast<uint32_t>(board().flash().size());
    SCOPED_TRACE("flash " + std::to_string(width) + " bits, " + (intel ? "Intel" : "AMD") +
                 (crossed ? ", data lines crossed" : ""));
    if (fault.atStart) fault.apply(*this, board().mutable_options());
    const bool ready = Setup(op.handler);
    ASSERT_TRUE(ready || fault.atStart) << "setup failed";
    op.prepare(*this);

    // Where the operation's messages may go.
    const bool device = op.handler == Handler::kFlash || op.handler == Handler::kEeprom;
    const bool ranged = op.kind == Kind::kRead || op.kind == Kind::kWrite;
    std::vector<Range> pokes, peeks = {{kDcuBase, kDcuBase + 0x90}};
    if (op.handler != Handler::kNone || op.kind == Kind::kVectors)
        pokes = {{kTrapParams, kTrapParams + 0x100}, {kTrapData, kTrapData + kTrapDataSize}};
    if (op.kind == Kind::kVectors)
        pokes.insert(pokes.end(), {{kTrapVectorAddr, kTrapVectorAddr + 16},
                                   {kDcuControl, kDcuControl + 4},
                                   {kEmiBase, kEmiBase + 4 * kEmiWords},
                                   {kTrapEntry, kTrapEntry + 0x400}});
    const Range range{address & ~3u, (address + length + 3) & ~3u};
    if (ranged && op.handler != Handler::kEeprom)
        (op.kind == Kind::kRead ? peeks : pokes).push_back(range);
    peeks.insert(peeks.end(), pokes.begin(), pokes.end());
    const std::vector<uint8_t> flash = FlashRaw();
    const std::vector<uint8_t> eeprom = Eeprom(0, kEepromSize);
    before = Now(op);
    const bool memory = ranged && op.handler == Handler::kNone;
    const std::vector<uint8_t> around =
        memory ? Backdoor(address - 4, length + 8) : std::vector<uint8_t>{};

    if (!fault.atStart) fault.apply(*this, board().mutable_options());
    // A cable known clean may read each chunk once.
    link.SetReadCheck(!fault.healthy || Pick(0, 3) != 0);
    // Each transfer reports its own progress (the EEPROM's whatever the mode).
    link.SetProgressMode(device && op.handler == Handler::kEeprom ? ProgressMode::kNone
                         : op.kind == Kind::kRead                 ? ProgressMode::kRead
                         : op.kind == Kind::kWrite                ? ProgressMode::kWrite
                         : op.kind == Kind::kFlashWrite           ? ProgressMode::kFlash
                                                                  : ProgressMode::kNone);
    observer.Clear();
    board().link().Record(1 << 16);
    const uint64_t reads = wire().readCount;
    const bool ok = op.act(*this);
    wire().beforeRead = nullptr;
    if (fault.name == kFaults[0].name) span = wire().readCount - reads;

    const std::vector<std::string> shown = observer.Matching("ShowStatus(");
    const std::string message = !shown.empty() ? shown.back().substr(11, shown.back().size() - 12)
                                : link.m_nError > 0 ? LinkErrorText(link.m_nError)
                                                    : note;
    SCOPED_TRACE(std::string("result ") + (ok ? "success" : "failure") + ": " + message);
    EXPECT_EQ(ok ? op.check(*this) : "", "");
    if (!ok) {
        EXPECT_FALSE(message.empty()) << "a failure without a message";
        // Once; a link found out of step while the session closed says so after it.
        EXPECT_LE(shown.size(), message == LinkErrorText(kErrOutOfStep) ? 2u : 1u)
            << "a failure shown more than once";
    }
    // (the one that writes over zeros fails)
    EXPECT_TRUE(ok || !fault.healthy || op.name == kOps[7].name) << "on a healthy link";

    // Nothing addressed outside the operation's own areas.
    EXPECT_EQ(board().link().messages_unrecorded(), 0u);
    for (const sim::LinkMessage& msg : board().link().messages()) {
        const auto& allowed = msg.kind == sim::LinkMessage::kPoke ? pokes : peeks;
        EXPECT_TRUE(std::any_of(allowed.begin(), allowed.end(),
                                [&](Range r) { return r.Holds(msg.address & ~3u, msg.length); }))
            << (msg.kind == sim::LinkMessage::kPoke ? "poke" : "peek") << " of " << msg.length
            << " bytes at " << std::hex << msg.address;
        EXPECT_EQ(msg.unmapped, 0u);
    }

    // A write leaves each byte of its range old or new; where it stopped at a chunk boundary
    // (a stop, or a flash unit that would not program), exactly what it counts is new.
    const std::vector<uint8_t> now = Now(op);
    const uint32_t count = link.m_nLastCount;
    const bool stopped = message == LinkErrorText(kErrInterrupted);
    const bool writes = op.kind == Kind::kWrite || op.kind == Kind::kFlashWrite;
    const bool exact = stopped || (op.kind == Kind::kFlashWrite && fault.healthy);
    for (uint32_t i = 0; writes && i < length; ++i) {
        ASSERT_TRUE(now[i] == before[i] || now[i] == data[i])
            << "byte " << i << " holds neither its old value nor the new one";
        if (exact) {
            ASSERT_EQ(now[i], i < count ? data[i] : before[i]) << "byte " << i;
        }
    }
    if (memory) {
        const std::vector<uint8_t> after = Backdoor(address - 4, length + 8);
        EXPECT_TRUE(std::equal(around.begin(), around.begin() + 4, after.begin()) &&
                    std::equal(around.end() - 4, around.end(), after.end() - 4))
            << "memory changed beside the range";
    }
    // A read that failed delivered right bytes as far as it counts.
    EXPECT_EQ(op.kind == Kind::kRead && !ok ? ReadBack(before, count) : "", "") << count;
    if (op.kind == Kind::kFlashWrite) {
        EXPECT_TRUE(SameOutside(flash, FlashRaw(), address, address + length))
            << "the flash changed outside the range";
    } else if (op.kind != Kind::kErase) {
        EXPECT_TRUE(FlashRaw() == flash) << "the flash changed";
    }
    EXPECT_TRUE((op.handler == Handler::kEeprom && writes) || Eeprom(0, kEepromSize) == eeprom)
        << "the EEPROM changed";

    // Progress and failure addresses say what was done.
    const std::vector<std::string> progress = observer.Matching("SetProgress(");
    // (GO after a load counts its own word.)
    if ((ranged || op.kind == Kind::kFlashWrite) && op.handler != Handler::kGeneral)
        if (!progress.empty()) {
            EXPECT_EQ(progress.back(), "SetProgress(" + std::to_string(count) + ")");
        }
    if (op.name == kOps[7].name && fault.healthy) {
        EXPECT_EQ(message, LinkErrorText(kErrFlashWrite));
        EXPECT_EQ(link.FailAddress(), stuckUnit);
        EXPECT_EQ(count, stuckUnit - address);
    }
    if (stopped && (ranged || op.kind == Kind::kFlashWrite)) {
        EXPECT_EQ(link.FailAddress(), address + count);
    }

    // Out of step, nothing more goes to the DCU until the processor is identified again.
    if (link.OutOfStep()) {
        const uint64_t before = wire().readCount;
        uint8_t word[4];
        EXPECT_FALSE(link.ReadMemory(kSdram, 4, word));
        EXPECT_EQ(link.m_nError, kErrOutOfStep);
        EXPECT_EQ(wire().readCount, before) << "sent to a DCU out of step";
        link.ReadIdCode();
        EXPECT_FALSE(link.OutOfStep());
    }

    // Close leaves trap mode and gives the board its vectors back after a healthy run or a
    // stop (a stopped erase goes on, and holds trap mode until it ends).
    const bool handler = link.HandlerRunning();
    link.Close();
    if (handler && (fault.healthy || (stopped && op.kind != Kind::kErase))) {
        EXPECT_FALSE(board().TrapRunning()) << "Close left trap mode running";
        EXPECT_EQ(Backdoor(kTrapVectorAddr, 16), kBoardVectors) << "vectors not restored";
    }
    EXPECT_EQ(board().ReadData(), 0x10) << "the TAP is not held in reset";
}

void FaultMatrix::RunMatrix() {
    uint32_t seed = 20240611;
    if (const char* env = std::getenv("TAPWRIGHT_MATRIX_SEED")) seed = std::stoul(env);
    for (const Op& op : kOps) {
        for (const Fault& fault : kFaults) {
            SCOPED_TRACE(std::string(op.name) + " under '" + fault.name + "', seed " +
                         std::to_string(seed));
            RunCase(op, fault, seed++);
            if (HasFatalFailure()) return;
        }
    }
}

TEST_F(FaultMatrix, EveryOperationUnderEveryFault) {
    if (!test::HandlersAvailable()) GTEST_SKIP() << "no stand-in handlers in TrapHandlers/";
    RunMatrix();
}

}  // namespace
