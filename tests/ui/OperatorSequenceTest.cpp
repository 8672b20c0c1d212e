// Random operator sequences through the real window against the virtual board: CPU ID, LOAD,
// both LOAD TRAPs on random banks and buses, every page operation, MISC. commands, bank and bus
// changes, and faults (cable pulled and put back, a handler too slow to answer, the handler
// files gone, an erase that fails), ending with Fin. After every step the board is held
// against what the window claimed:
//  - the flash changes only under ERASE or WRITE, the EEPROM only under its WRITE or ERASE,
//    memory (the 64 KiB on-chip RAM and the first 128 KiB of SDRAM, where MEMORY WRITE and
//    LOAD aim) only under MEMORY WRITE or LOAD, each within its range; the handler's image,
//    trap vectors, data buffer and parameter block may change only while a handler runs or is
//    being loaded (after GO or Reboot they are another program's memory), the vectors at Fin;
//  - a success shown (Ok, an address, a value) is one the board did, and on a healthy link
//    what can succeed does; the log line says what was done;
//  - what the window offers runs on the board: device operations only with the matching
//    handler set up, LOAD TRAP, MISC. and GO only with a handler running;
//  - Fin leaves trap mode and gives the board its own trap vectors back.
// A failing sequence prints its seed and its steps.
// TAPWRIGHT_SEQ_SEED=n runs that one sequence; TAPWRIGHT_SEQ_COUNT=n runs n from there.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <random>
#include <sstream>

#include "support/WindowFixture.h"
#include "ui/EepromPage.h"
#include "ui/FlashPage.h"
#include "ui/MemoryPage.h"
#include "ui/MiscPage.h"

namespace {

using F = CFlashPage;
using E = CEepromPage;
using M = CMemoryPage;
using X = CMiscPage;

#if defined(__SANITIZE_ADDRESS__)
constexpr int kSequences = 40;
#else
constexpr int kSequences = 200;
#endif
constexpr int kSteps = 30;

constexpr uint32_t kOtherBank = 0x7F000000;  // nothing answers there
constexpr uint32_t kSdram = 0xC0000000, kSdramWatched = 0x20000;
constexpr uint32_t kIram = 0x80000000, kIramSize = 0x10000;
constexpr uint32_t kScratch = 0x80004000;  // RAM the handlers leave alone
constexpr uint32_t kVectors = 0x80000040;
constexpr uint32_t kProcId = 0x3D4C9041;
constexpr const char* kError = "!!! Error !!!";

enum class Act {
    CpuId,
    Load,
    FlashLoadTrap,
    FlashBank,
    FlashBus,
    FlashRead,
    FlashErase,
    FlashWrite,
    FlashVerify,
    EepromLoadTrap,
    EepromRead,
    EepromWrite,
    EepromErase,
    MemRead,
    MemWrite,
    MemLoad,
    MemGo,
    MemStart,
    ProcId,
    Reboot,
    Cable,
    Slow,
    Files,
    EraseFault,
    Fin
};
// Each step: its name, the status it leaves when it went through (a failure shows the
// link's text instead), the page (-1 the main window) and control it presses (none for a
// fault or Fin), and how often it is drawn while offered.
struct ActInfo {
    const char* name;
    const char* title;
    int tab, id, weight;
};
const ActInfo kActs[] = {
    {"CPU ID", "Read CPU ID Code", -1, CMainDlg::kIdCpuId, 4},
    {"LOAD", "Load Trap Handler without FLASH management", -1, CMainDlg::kIdLoad, 4},
    {"FLASH LOAD TRAP", "Load Trap Handler with FLASH management", 0, F::kIdLoadTrap, 6},
    {"FLASH bank", "", 0, F::kIdBankList, 1},
    {"FLASH bus", "", 0, F::kIdBusList, 1},
    {"FLASH READ", "Read FLASH Data", 0, F::kIdRead, 6},
    {"FLASH ERASE", "Erase FLASH Data", 0, F::kIdErase, 6},
    {"FLASH WRITE", "Write FLASH Data", 0, F::kIdWrite, 6},
    {"FLASH VERIFY", "Verify FLASH Data", 0, F::kIdVerify, 6},
    {"EEPROM LOAD TRAP", "Load Trap Handler with EEPROM management", 1, E::kIdLoadTrap, 6},
    {"EEPROM READ", "Read EEPROM Data", 1, E::kIdRead, 6},
    {"EEPROM WRITE", "Write EEPROM Data", 1, E::kIdWrite, 6},
    {"EEPROM ERASE", "Erase EEPROM Data", 1, E::kIdErase, 6},
    {"MEMORY READ", "Read Memory Data", 2, M::kIdRead, 2},
    {"MEMORY WRITE", "Write Memory Data", 2, M::kIdWrite, 2},
    {"MEMORY LOAD", "Load File in SDRAM Memory", 2, M::kIdLoad, 2},
    {"MEMORY GO", "Running from SDRAM", 2, M::kIdGo, 4},
    {"MISC MemStart", "Instruction MemStartVal", 3, X::kIdMemStart, 2},
    {"MISC ProcID", "Instruction ProcID", 3, X::kIdProcId, 2},
    {"MISC Reboot", "Instruction Reboot", 3, X::kIdReboot, 1},
    {"cable pulled", "", -1, 0, 1},  // a fault comes now and then and goes soon
    {"handler slow", "", -1, 0, 1},
    {"handler files gone", "", -1, 0, 1},
    {"erase fails", "", -1, 0, 1},
    {"Fin", "", -1, 0, 0},
};

// One operator step; its numbers are drawn when the sequence is made, so a replay of any part
// of it does the same.
struct Step {
    Act act;
    uint32_t start = 0, size = 0, length = 0, seed = 0;  // fields, file length, data
    // Yes to the confirmation; VERIFY file alike; SDRAM image conform; for a fault: it is on.
    bool yes = true;
    bool Faulty() const { return act >= Act::Cable && act <= Act::EraseFault; }
    bool HasFile() const {
        return (act >= Act::FlashRead && act != Act::FlashErase && act <= Act::EepromWrite &&
                act != Act::EepromLoadTrap) ||
               act == Act::MemRead || act == Act::MemWrite || act == Act::MemLoad;
    }
    bool FileMissing() const { return HasFile() && seed % 16 == 0; }
    // A file longer than Size: the window asks before using only its first Size bytes, and
    // the step answers Partial().
    bool TooLong() const {
        return (act == Act::FlashWrite || act == Act::FlashVerify || act == Act::EepromWrite ||
                act == Act::MemWrite) &&
               !FileMissing() && length > size;
    }
    bool Partial() const { return seed % 3 != 0; }
    // The rule an SDRAM image that is not conform breaks.
    uint32_t Breaks() const { return seed % 5; }
};

std::string Describe(const Step& s) {
    std::ostringstream out;
    out << kActs[static_cast<int>(s.act)].name << ": Start " << Hex8(s.start) << " Size "
        << Hex8(s.size) << ", file of " << s.length << " bytes"
        << (s.FileMissing() ? " missing" : "") << ", seed " << s.seed << (s.yes ? ", yes" : ", no");
    return out.str();
}

// The board a sequence runs on; the profile is made to match it.
struct Bench {
    uint32_t seed = 0;
    unsigned width = 16;      // flash bus width
    bool wired = false;       // data lines not straight (16: reversed, 8: rotated)
    bool intel = false;       // Intel command set instead of AMD
    bool big = false;         // AT24C512 on three address cycles instead of an AT24C02
    uint32_t buffer = 0x800;  // the handler's data buffer: transfers go in chunks of it
    uint32_t EepromSize() const { return big ? 0x10000 : 0x100; }
    // Long simulated clocks keep the erase waits short.
    std::string Knobs() const {
        std::string k = ",clock-ns=500000,procid=" + Hex8(kProcId);
        if (intel) k += ",flash-cmdset=intel";
        if (width == 8) k += ",flash-width=8,flash-mode=byte";
        if (width == 32) k += ",flash-width=32";
        if (wired) k += width == 8 ? ",flash-wiring=rotate" : ",flash-wiring=reversed";
        if (big) k += ",eeprom=24c512";
        return k;
    }
};

// The handler as the board runs it.
struct Cpu {
    bool running = false;
    std::optional<sim::TrapPart> device;
};

struct Range {
    uint32_t from, to;  // [from, to)
    bool Holds(uint32_t a) const { return a - from < to - from; }
};

class OperatorSequences : public test::PagesWindow {
  protected:
    struct Broken {
        size_t step = SIZE_MAX;
        std::string rule, detail;
    };

    // Makes and runs a sequence of `steps` on a fresh board and window; the first broken rule.
    Broken Run(const Bench& bench, std::vector<Step>& steps, std::mt19937& rng) {
        Prepare(bench);
        Broken broken;
        for (size_t i = 0; i < kSteps; ++i) {
            steps.push_back(i + 1 == kSteps ? Step{Act::Fin} : Draw(rng));
            if (!Perform(steps[i], broken.rule, broken.detail)) {
                broken.step = i;
                break;
            }
        }
        Finish();
        return broken;
    }

    void TearDown() override {
        Finish();
        test::PagesWindow::TearDown();
    }

  private:
    void Prepare(const Bench& bench) {
        bench_ = bench;
        if (handlers_.empty()) handlers_ = g_settings.m_workDir;
        g_settings.Load(tmp.string());  // the defaults again: no run inherits another's tables
        host_ = std::make_unique<MemoryUiHost>();  // no answer left over from a run before
        SetUiHost(host_.get());
        board_ = &Board(bench.Knobs());
        DutProfile p = g_settings.m_duts.at(0);
        std::snprintf(p.m_szName, sizeof p.m_szName, "PERSO");
        FlashBank bank = p.m_banks.at(0);
        bank.m_nBase = board_->flash().base();
        bank.m_nOrg = bench.width;
        for (uint8_t i = 0; i < 32; ++i) bank.m_dataMap[i] = i;
        for (uint8_t i = 0; bench.wired && i < bench.width; ++i)
            bank.m_dataMap[i] =
                static_cast<uint8_t>(bench.width == 8 ? (i + 1) % 8 : bench.width - 1 - i);
        FlashBank other = bank;
        other.m_nBase = kOtherBank;
        std::snprintf(other.m_szName, sizeof other.m_szName, "Tables");
        p.m_banks = {bank, other};
        p.m_nFlashCount = 2;
        p.m_nE2pCycles = bench.big ? 1 : 0;
        p.m_nE2pSize = bench.EepromSize();
        p.m_nTrapSize = bench.buffer;
        g_settings.m_duts = {p};
        g_settings.m_nDutCount = 1;
        g_settings.m_devices.at(0).m_nWordMode = bench.width == 8 ? 0 : 1;
        g_settings.m_devices.at(0).m_nAlgorithm = bench.intel ? 1 : 0;
        g_settings.m_workDir = handlers_;
        g_settings.m_nFlashNum = g_settings.m_nTabNum = 0;
        profile_ = p;
        own_ = test::Pattern(16, static_cast<uint8_t>(bench.seed));
        board_->WriteBytes(kVectors, own_.data(), own_.size());
        window_ = std::make_unique<CMainDlg>();
        ASSERT_TRUE(window_->Create(nullptr));
        window_->ShowWindow(true);
        pulled_ = slow_ = noFiles_ = eraseFault_ = false;
        flashWrites_ = FlashWrites();
        MemoryNow(iram_, sdram_);
        eeprom_ = EepromNow();
    }

    void Finish() {
        if (window_ && window_->IsWindow()) {
            board_->mutable_options().unplugAfter = 0;
            window_->OnCancel();
            window_->DestroyWindow();
        }
        window_.reset();
    }

    CMainDlg& W() { return *window_; }
    CFlashPage& Flash() { return W().m_tab.m_flashPage; }
    CEepromPage& Eeprom() { return W().m_tab.m_eepromPage; }
    CMemoryPage& Memory() { return W().m_tab.m_memoryPage; }
    CMiscPage& Misc() { return W().m_tab.m_miscPage; }
    uint32_t PageWidth() {
        const int item = Flash().GetCurSel(F::kIdBusList);
        return item == 0 ? 8 : item == 2 ? 32 : 16;
    }
    bool BankZero() { return Flash().GetCurSel(F::kIdBankList) == 0; }

    // The control a step presses; none for a fault or Fin.
    std::pair<CDialog*, int> Control(Act act) {
        const ActInfo& a = kActs[static_cast<int>(act)];
        if (a.id == 0) return {nullptr, 0};
        return {a.tab < 0 ? static_cast<CDialog*>(&W()) : W().m_tab.m_pages[a.tab], a.id};
    }
    bool* Fault(Act act) {
        return act == Act::Cable   ? &pulled_
               : act == Act::Slow  ? &slow_
               : act == Act::Files ? &noFiles_
                                   : &eraseFault_;
    }

    Step Draw(std::mt19937& rng) {
        std::vector<Act> offered;
        for (int a = 0; a < static_cast<int>(Act::Fin); ++a) {
            const Act act = static_cast<Act>(a);
            const auto [dialog, id] = Control(act);
            if (dialog == nullptr)
                offered.insert(offered.end(), *Fault(act) ? 4 : 1, act);
            else if (dialog->IsWindowEnabled(id))
                offered.insert(offered.end(), kActs[a].weight, act);
        }
        auto pick = [&](uint32_t lo, uint32_t hi) {
            return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
        };
        Step s{offered[pick(0, static_cast<uint32_t>(offered.size() - 1))]};
        s.seed = pick(0, 255);
        s.yes = s.Faulty() ? !*Fault(s.act) : pick(0, 4) != 0;
        s.size = pick(s.act == Act::FlashVerify ? 0 : 1, 0x1000);
        s.length = s.HasFile() && s.act != Act::FlashRead && s.act != Act::EepromRead &&
                           s.act != Act::MemRead
                       ? pick(1, 0x1000)
                       : 0;
        const uint32_t flashSize = board_->flash().size();
        // Mostly the bank and bus the board has.
        if (s.act == Act::FlashBank) s.seed = s.seed % 4 == 0 ? 1 : 0;
        if (s.act == Act::FlashBus)
            s.seed = s.seed % 4 == 0 ? s.seed / 4 % 3 : bench_.width == 8 ? 0 : bench_.width / 16;
        if (s.act >= Act::FlashRead && s.act <= Act::FlashVerify)
            s.start = board_->flash().base() + pick(0, flashSize - 0x1000);
        // A chunk border inside a bus unit would program that unit twice.
        if (s.act == Act::FlashWrite) s.start &= ~3u;
        if (s.act >= Act::EepromRead && s.act <= Act::EepromErase) {
            s.start = pick(0, bench_.EepromSize() - 1);
            s.size = pick(1, std::min<uint32_t>(bench_.EepromSize() - s.start, 0x200));
        }
        if (s.act == Act::MemRead || s.act == Act::MemWrite)
            s.start = pick(0, 1) ? kSdram + pick(0, kSdramWatched - 0x1000)
                                 : kScratch + pick(0, kIram + kIramSize - kScratch - 0x1000);
        if (s.act == Act::MemLoad) {
            s.length = std::max<uint32_t>(s.length, kSdramHeaderSize);
            s.start = kSdram + (pick(0, kSdramWatched - 0x1000) & ~3u);
        }
        return s;
    }

    // Units programmed and blocks erased so far: any change of the flash counts.
    uint64_t FlashWrites() {
        uint64_t n = 0;
        for (unsigned i = 0; i < board_->flash().chip_count(); ++i)
            n += board_->flash().chip(i).array_writes();
        return n;
    }
    std::vector<uint8_t> FlashView(uint32_t at, uint32_t n) {
        std::vector<uint8_t> v(n);
        board_->flash().PeekBytes(at, v.data(), n);
        return v;
    }
    // The chips' arrays one after the other, wiring aside.
    std::vector<uint8_t> FlashRaw() {
        std::vector<uint8_t> raw;
        for (unsigned i = 0; i < board_->flash().chip_count(); ++i) {
            const sim::NorFlash& chip = board_->flash().chip(i);
            raw.insert(raw.end(), chip.data(), chip.data() + chip.size());
        }
        return raw;
    }
    // Where the bus units covering [from, to) lie in FlashRaw: each chip holds its share of
    // every unit, whatever the wiring does inside it.
    std::vector<Range> RawUnits(uint32_t from, uint32_t to) {
        const sim::FlashBus& bus = board_->flash();
        const uint32_t unit = bus.width() / 8, chips = bus.chip_count(), share = unit / chips;
        const uint32_t first = (from - bus.base()) / unit,
                       end = (to - bus.base() + unit - 1) / unit;
        std::vector<Range> ranges;
        for (uint32_t c = 0; c < chips; ++c) {
            const uint32_t at = c * static_cast<uint32_t>(bus.chip(c).size());
            ranges.push_back({at + first * share, at + end * share});
        }
        return ranges;
    }
    std::vector<uint8_t> EepromNow() {
        return {board_->eeprom().data(), board_->eeprom().data() + board_->eeprom().size()};
    }
    void MemoryNow(std::vector<uint8_t>& iram, std::vector<uint8_t>& sdram) {
        iram.resize(kIramSize);
        board_->ReadBytes(kIram, iram.data(), kIramSize);
        sdram.resize(kSdramWatched);
        board_->ReadBytes(kSdram, sdram.data(), kSdramWatched);
    }
    std::vector<uint8_t> Bytes(uint32_t at, uint32_t n) { return test::Backdoor(*board_, at, n); }
    Cpu Snap() { return {board_->TrapRunning(), board_->RunningDevicePart()}; }
    static std::optional<uint32_t> Differs(const std::vector<uint8_t>& a,
                                           const std::vector<uint8_t>& b, uint32_t base,
                                           const std::vector<Range>& allowed) {
        if (a == b) return std::nullopt;
        for (size_t i = 0; i < a.size(); ++i) {
            const uint32_t at = base + static_cast<uint32_t>(i);
            if (a[i] != b[i] &&
                std::none_of(allowed.begin(), allowed.end(), [&](Range r) { return r.Holds(at); }))
                return at;
        }
        return std::nullopt;
    }

    // What a step does on the window; `data` is the file it hands over.
    size_t Operate(const Step& s, CDialog& page, int id, std::vector<uint8_t>& data) {
        MemoryUiHost& ui = *host_;
        size_t asked = 0;
        auto file = [&](const char* name) {
            const std::filesystem::path path =
                tmp / (s.FileMissing() ? "no-such-folder" : "") / name;
            if (!data.empty()) WriteBytes(path, data);
            ui.QueueFileAnswer(path.string());
            ++asked;
        };
        const int tab = kActs[static_cast<int>(s.act)].tab;
        if (tab >= 0) W().Select(kTab, tab);
        if (s.act == Act::FlashBank || s.act == Act::FlashBus) {
            page.Select(id, static_cast<int>(s.seed));
            return 0;
        }
        if (s.HasFile() || s.act == Act::EepromErase) {  // Start and Size: the same ids everywhere
            page.Type(1040, Hex8(s.start));
            page.Type(1041, Hex8(s.size));
        }
        if (s.act == Act::FlashErase || s.act == Act::EepromErase) {
            ui.QueueMessageAnswer(s.yes ? kIdYes : kIdNo);
            ++asked;
        } else if (s.act == Act::FlashVerify) {
            data = FlashView(s.start, s.length);
            if (!s.yes && std::min(s.size, s.length) != 0)
                data[s.seed % std::min(s.size, s.length)] ^= 0x10;  // inside what is compared
            file("verify.bin");
        } else if (s.act == Act::MemLoad) {
            data = test::Pattern(s.length, static_cast<uint8_t>(s.seed));
            const bool ok = s.yes;
            const uint32_t b = s.Breaks();
            std::copy_n(!ok && b == 0 ? "MAIN1000" : "main1000", 8, data.begin());
            const uint32_t words[] = {s.length + (!ok && b == 1 ? 4 : 0),
                                      !ok && b == 2   ? 0xBFFFF000
                                      : !ok && b == 3 ? 0xC0800000 - s.length + 4
                                                      : s.start,
                                      0, !ok && b == 4 ? 1u : 0u};
            for (int w = 0; w < 4; ++w)
                for (int i = 0; i < 4; ++i) data[8 + 4 * w + i] = uint8_t(words[w] >> (8 * i));
            file("image.rom");
        } else if (s.HasFile()) {
            if (s.length != 0) data = test::Pattern(s.length, static_cast<uint8_t>(s.seed));
            std::filesystem::remove(tmp / "out.bin");
            file(s.length != 0 ? "in.bin" : "out.bin");
        }
        if (s.TooLong()) {
            ui.QueueMessageAnswer(s.Partial() ? kIdYes : kIdNo);
            ++asked;
        }
        page.Press(id);
        return asked;
    }

    void SetFault(const Step& s) {
        *Fault(s.act) = s.yes;
        sim::Options& o = board_->mutable_options();
        if (s.act == Act::Cable) o.unplugAfter = s.yes ? board_->Clocks() + 1 : 0;
        // Longer than the 64 polls a command may wait: answers come too late.
        if (s.act == Act::Slow) o.readyPolls = s.yes ? 100 : 2;
        if (s.act == Act::Files) g_settings.m_workDir = s.yes ? tmp.string() : handlers_;
        if (s.act == Act::EraseFault) o.eraseFails = s.yes;
    }

    // One step: pressed only when the window offers it, then every rule checked.
    bool Perform(const Step& s, std::string& rule, std::string& detail) {
        const auto [dialog, id] = Control(s.act);
        const bool healthy = !pulled_ && !slow_;
        const bool hostRan = g_link.HandlerRunning(), identified = g_cpuIdentified;
        const Cpu before = Snap();
        const uint32_t count = std::min(s.size, s.length);  // bytes a WRITE takes from its file
        const std::vector<uint8_t> flashBefore =
            s.act == Act::FlashWrite ? FlashRaw() : std::vector<uint8_t>{};
        const std::vector<uint8_t> target =
            s.act == Act::FlashWrite ? FlashView(s.start, count) : std::vector<uint8_t>{};
        const size_t prompts = host_->Prompts().size(), logged = LogText().size();
        std::vector<uint8_t> data;
        size_t asked = 0;
        if (s.Faulty()) SetFault(s);
        if (s.act == Act::Fin) W().RequestClose();
        if (dialog != nullptr) asked = Operate(s, *dialog, id, data);
        const Cpu after = Snap();
        const bool open = window_->IsWindow() && s.act != Act::Fin;
        const std::string status = open ? W().GetDlgItemText(CMainDlg::kIdStatus) : "";
        const std::string result = open ? W().GetDlgItemText(CMainDlg::kIdResult) : "";
        auto fail = [&](const char* what, const std::string& more = "") {
            rule = what;
            detail = more + " (status \"" + status + "\", result \"" + result + "\")";
            return false;
        };
        if (host_->Prompts().size() - prompts != asked || !host_->Unanswered().empty())
            return fail("a prompt the step answers was not shown, or one was left unanswered");

        // --- Devices change only under their own operations, within their own range ---
        const bool flashOp = (s.act == Act::FlashErase && s.yes) || s.act == Act::FlashWrite;
        if (const uint64_t writes = FlashWrites(); writes != flashWrites_) {
            if (!flashOp) return fail("the flash changed outside ERASE and WRITE");
            if (s.act == Act::FlashWrite)
                if (Differs(flashBefore, FlashRaw(), 0, RawUnits(s.start, s.start + count)))
                    return fail("WRITE changed the flash outside its range");
            flashWrites_ = writes;
        }
        const bool eepromOp = s.act == Act::EepromWrite || (s.act == Act::EepromErase && s.yes);
        std::vector<uint8_t> eeprom = EepromNow(), iram, sdram;
        if (auto at = Differs(eeprom_, eeprom, 0,
                              {{eepromOp ? s.start : 0, eepromOp ? s.start + s.size : 0}}))
            return fail("the EEPROM changed outside its WRITE or ERASE", Hex8(*at));
        eeprom_.swap(eeprom);
        std::vector<Range> allowed;
        if (before.running || after.running || s.act == Act::Load || s.act == Act::FlashLoadTrap ||
            s.act == Act::EepromLoadTrap) {
            allowed = {{kVectors, kVectors + 16},
                       {profile_.m_nTrapData, profile_.m_nTrapData + profile_.m_nTrapSize},
                       {profile_.m_nTrapIptr, profile_.m_nTrapIptr + 0x400},
                       {profile_.m_nTrapWptr, profile_.m_nTrapWptr + 0x100}};
        }
        if (s.act == Act::Fin) allowed.push_back({kVectors, kVectors + 16});
        if (s.act == Act::MemWrite) allowed.push_back({s.start, s.start + count});
        if (s.act == Act::MemLoad && s.yes) allowed.push_back({s.start, s.start + s.length});
        MemoryNow(iram, sdram);
        if (auto at = Differs(iram_, iram, kIram, allowed))
            return fail("target RAM changed outside MEMORY WRITE and LOAD", Hex8(*at));
        if (auto at = Differs(sdram_, sdram, kSdram, allowed))
            return fail("SDRAM changed outside MEMORY WRITE and LOAD", Hex8(*at));
        iram_.swap(iram);
        sdram_.swap(sdram);

        // --- A success shown is one the board did; on a healthy link it happens ---
        const uint32_t width = open ? PageWidth() : 0;
        const uint32_t params = profile_.m_nTrapWptr;
        const bool flashHandler = after.device && after.device->kind == sim::TrapPart::kFlash &&
                                  after.device->busWidth == width &&
                                  board_->ReadWord(params + kSlotBusWidth) == width;
        const bool eepromHandler =
            after.device && after.device->kind == sim::TrapPart::kEeprom && board_->EepromSetUp();
        // The bank wired to the board, on its own bus: the flash can be expected to work.
        const bool matched = open && BankZero() && width == bench_.width;
        const uint32_t chips = bench_.width == 32 ? 2 : 1;
        const std::vector<uint8_t> file =
            ReadBytes(tmp / (s.act == Act::FlashVerify ? "verify.bin" : "out.bin"));
        const bool titled = status == kActs[static_cast<int>(s.act)].title;
        // Most steps show Ok when they went through; the others set their own.
        bool ok = titled && result == "Ok";
        bool expected = healthy && !s.FileMissing() && (!s.TooLong() || s.Partial());
        // The lines the step adds to the log; '?' stands for any character (a length when the
        // operation stopped part way).
        std::optional<std::string> log = "";
        auto range = [&](uint32_t length) {
            return "From : " + Hex8(s.start) + " Length : " + (ok ? Hex8(length) : "????????") +
                   " bytes " + (ok ? "Ok\n" : "Ko\n");
        };
        switch (s.act) {
            case Act::CpuId:
                expected = healthy && !identified;  // once identified, a click does nothing
                log = ok ? "Reading CPU ID -->   Processor STi-5508 Rev 0 (0D4C9041) Ok\n"
                         : std::optional<std::string>();
                break;
            case Act::Load:
                expected = healthy && !noFiles_;
                // A device part left behind the general one by an earlier load may still be
                // there on the board; the window must not offer it (checked below).
                if (ok && !after.running) return fail("LOAD Ok, no handler runs");
                break;
            case Act::FlashLoadTrap:
                expected = healthy && !noFiles_ && matched;
                if (ok && !(flashHandler && BankZero()))
                    return fail("FLASH LOAD TRAP Ok, no flash handler of the bank's bus set up");
                log.reset();
                if (ok)
                    log = "Reading FLASH ID --> Manufacturer : STM (0020) " +
                          std::to_string(chips) +
                          " x Device : 29W800T (00D7) Size : " + Hex8(0x100000 * chips) +
                          " bytes Ok\n";
                break;
            case Act::EepromLoadTrap:
                expected = healthy && !noFiles_;
                if (ok && !eepromHandler) return fail("EEPROM LOAD TRAP Ok, no I2C handler set up");
                log = std::string("Load Trap Handler with EEPROM Management ") +
                      (ok ? "Ok\n" : "Ko\n");
                break;
            case Act::FlashErase:
                expected = healthy && matched && s.yes && !eraseFault_;
                if (ok && FlashRaw() != std::vector<uint8_t>(board_->flash().size(), 0xFF))
                    return fail("ERASE Ok, the flash is not blank");
                if (s.yes)
                    log = "Erasing Flash -->    Base address " + Hex8(board_->flash().base()) +
                          (ok ? " Ok\n" : " Ko\n");
                break;
            case Act::FlashWrite: {
                ok = titled && result == Hex8(s.start + count - 1);
                // Programming only clears bits: what the chips can take is expected to go in.
                expected = expected && matched;
                for (uint32_t i = 0; i < count; ++i)
                    expected = expected && (target[i] & data[i]) == data[i];
                if (ok && !std::equal(data.begin(), data.begin() + count,
                                      FlashView(s.start, count).begin()))
                    return fail("WRITE shown done, the flash does not hold the file");
                log = "Writing Flash -->    " + range(count);
                break;
            }
            case Act::FlashRead:
                ok = titled && result != kError;
                if (ok && file != FlashView(s.start, s.size))
                    return fail("READ shown done, the file is not the flash");
                log = "Reading Flash -->    " + range(s.size);
                break;
            case Act::FlashVerify:
                expected = expected && s.yes && count != 0;
                if (ok && !std::equal(file.begin(), file.begin() + count,
                                      FlashView(s.start, count).begin()))
                    return fail("VERIFY Ok on a file that differs from the flash");
                log = "Verifying Flash -->  From : " + Hex8(s.start) +
                      " Length : " + Hex8(s.FileMissing() ? s.size : count) + " bytes " +
                      (ok ? "Ok\n" : "Ko\n");
                break;
            case Act::EepromRead:
                ok = titled && result == Hex8(s.start + s.size - 1);
                if (ok && file != std::vector<uint8_t>(eeprom_.begin() + s.start,
                                                       eeprom_.begin() + s.start + s.size))
                    return fail("EEPROM READ shown done, the file is not the EEPROM");
                log = "Reading Eeprom -->    " + range(s.size);
                break;
            case Act::EepromWrite:
            case Act::EepromErase: {
                const bool write = s.act == Act::EepromWrite;
                const uint32_t n = write ? count : s.size;
                ok = titled && result == Hex8(s.start + n - 1);
                expected = expected && s.yes;
                const std::vector<uint8_t> want =
                    write ? std::vector<uint8_t>(data.begin(), data.begin() + n)
                          : std::vector<uint8_t>(n, 0xFF);
                if (ok && !std::equal(want.begin(), want.end(), eeprom_.begin() + s.start))
                    return fail("EEPROM WRITE or ERASE shown done, the EEPROM does not hold it");
                if (write || s.yes)
                    log = (write ? "Writing Eeprom -->    " : "Erasing Eeprom -->    ") + range(n);
                break;
            }
            case Act::MemRead:
            case Act::MemWrite: {
                const bool reading = s.act == Act::MemRead;
                ok = titled && result.find("Error") == std::string::npos;
                const std::vector<uint8_t> want =
                    reading ? file : std::vector<uint8_t>(data.begin(), data.begin() + count);
                if (ok && Bytes(s.start, reading ? s.size : count) != want)
                    return fail("MEMORY READ or WRITE shown done, memory and file differ");
                log = (reading ? "Reading Memory -->   " : "Writing Memory -->   ") +
                      range(reading ? s.size : count);
                break;
            }
            case Act::MemLoad:
                ok = titled && result.find("Error") == std::string::npos;
                expected = expected && s.yes;
                if (ok && !(s.yes && Bytes(s.start, s.length) == data))
                    return fail("MEMORY LOAD shown done, the image is not in memory");
                log = s.FileMissing() ? ""
                      : !s.yes        ? "Load Memory -->      File not conform Ko\n"
                               : "Load Memory -->      From : " + Hex8(s.start) + " Length : " +
                                     (ok ? Hex8(s.length) + " bytes Ok\n" : "???????? bytes Ko\n");
                break;
            case Act::MemGo: {
                const uint32_t entry =
                    ParseHexField(Memory().m_strStart) + ParseHexField(Memory().m_strSize) - 2;
                ok = titled && result == Hex8(entry);
                if (ok && !(before.running && !after.running && board_->GoAddress() == entry))
                    return fail("GO shows the entry, the handler did not jump there");
                log = std::string("Instruction -->      Go from SDRAM ") + (ok ? "Ok\n" : "Ko\n");
                break;
            }
            case Act::MemStart:
            case Act::ProcId: {
                const bool start = s.act == Act::MemStart;
                const std::string value = Misc().GetDlgItemText(X::kIdData);
                ok = titled && value == (start ? "C0000000" : Hex8(kProcId));
                if (ok && !before.running) return fail("MISC value shown, no handler answered");
                log = std::string("Instruction -->      ") +
                      (start ? "MemStartVal : " : "ProcID : ") + (ok ? value : X::kNoValue) +
                      (ok ? " Ok\n" : " Ko\n");
                break;
            }
            case Act::Reboot:
                ok = titled && result == "*** Reboot ***";
                if (ok && !(before.running && !after.running && board_->Rebooted() &&
                            Bytes(kVectors, 16) == own_))
                    return fail("Reboot shown, the board did not reboot with its own vectors");
                log = std::string("Instruction -->      Reboot ") + (ok ? "Ok\n" : "Ko\n");
                break;
            case Act::Fin:
                if (!pulled_ && Bytes(kVectors, 16) != own_)
                    return fail("Fin did not give the board its own trap vectors back");
                if (!pulled_ && hostRan && after.running) return fail("Fin left trap mode running");
                return true;
            default:
                ok = expected = false;
                break;
        }
        if (expected && !ok) return fail("a healthy link refused or failed the step");
        if ((pulled_ || s.FileMissing()) && ok)
            return fail("a step shown done without the cable or without its file");
        // What was tried and did not go through says so; only LOAD without a session and an
        // unknown chip leave the result field empty.
        const bool tried = s.act <= Act::Reboot && s.act != Act::FlashBank &&
                           s.act != Act::FlashBus && (s.yes || s.act != Act::FlashErase) &&
                           (s.yes || s.act != Act::EepromErase) &&
                           (s.act != Act::CpuId || !identified);
        const bool quiet =
            (s.act == Act::Load && pulled_) ||
            (s.TooLong() && !s.Partial() && s.act != Act::FlashVerify) ||
            (s.act == Act::FlashLoadTrap && (Flash().GetDlgItemText(F::kIdMaker) == "Inconnu" ||
                                             Flash().GetDlgItemText(F::kIdDevice) == "Inconnu"));
        if (tried && !ok && !quiet && result.find("Error") == std::string::npos)
            return fail("a step that did not go through does not say so");
        const std::string added = LogText().substr(logged);
        if (log && !(added.size() == log->size() &&
                     std::equal(added.begin(), added.end(), log->begin(),
                                [](char a, char want) { return want == '?' || a == want; })))
            return fail("the log line does not say what was done", added);

        // An operation ends with every page offering what the link says runs.
        const bool unlocks = s.act == Act::FlashLoadTrap || s.act == Act::EepromLoadTrap ||
                             (s.act >= Act::FlashRead && s.act <= Act::MemLoad) ||
                             s.act == Act::MemStart || s.act == Act::ProcId;
        if (unlocks && (Misc().IsWindowEnabled(X::kIdMemStart) != g_link.HandlerRunning() ||
                        Flash().IsWindowEnabled(F::kIdErase) != Flash().HandlerReady() ||
                        Eeprom().IsWindowEnabled(E::kIdRead) != CEepromPage::HandlerReady()))
            return fail("the window does not offer what the link says runs");

        // --- What the window offers runs on the board ---
        if (Misc().IsWindowEnabled(X::kIdMemStart) && !after.running)
            return fail("MISC. offered with no handler running");
        if ((Flash().IsWindowEnabled(F::kIdLoadTrap) || Eeprom().IsWindowEnabled(E::kIdLoadTrap) ||
             Memory().IsWindowEnabled(M::kIdGo)) &&
            !after.running)
            return fail("LOAD TRAP or GO offered with no handler running");
        if (Flash().IsWindowEnabled(F::kIdErase) && !(flashHandler && BankZero()))
            return fail("FLASH operations offered without the bank's flash handler set up");
        if (Eeprom().IsWindowEnabled(E::kIdRead) && !eepromHandler)
            return fail("EEPROM operations offered without the I2C handler set up");
        return true;
    }

    Bench bench_;
    DutProfile profile_{};
    sim::Board* board_ = nullptr;
    std::unique_ptr<MemoryUiHost> host_;
    std::unique_ptr<CMainDlg> window_;
    std::vector<uint8_t> own_;  // the board's own trap vectors
    // The board after the last step.
    uint64_t flashWrites_ = 0;
    std::vector<uint8_t> eeprom_, iram_, sdram_;
    std::string handlers_;
    bool pulled_ = false, slow_ = false, noFiles_ = false, eraseFault_ = false;
};

TEST_F(OperatorSequences, TheBoardDoesWhatTheWindowSaysAndNothingElse) {
    const char* seedText = std::getenv("TAPWRIGHT_SEQ_SEED");
    const char* countText = std::getenv("TAPWRIGHT_SEQ_COUNT");
    const uint32_t first = seedText ? static_cast<uint32_t>(std::strtoul(seedText, nullptr, 0)) : 1;
    const int count = countText ? std::atoi(countText) : seedText ? 1 : kSequences;
    for (uint32_t seed = first; seed < first + static_cast<uint32_t>(count); ++seed) {
        std::mt19937 rng(seed);
        Bench bench;
        bench.seed = seed;
        bench.width = 8u << (rng() % 3);
        bench.wired = bench.width != 32 && rng() % 2 == 0;
        bench.intel = rng() % 4 == 0;
        bench.big = rng() % 2 == 0;
        bench.buffer = 0x800u >> (rng() % 3 * 2);
        std::vector<Step> steps;
        const Broken broken = Run(bench, steps, rng);
        if (broken.step == SIZE_MAX) continue;
        std::ostringstream out;
        out << "seed " << seed << " (TAPWRIGHT_SEQ_SEED=" << seed << "), board" << bench.Knobs()
            << ", TRAP_Size " << Hex8(bench.buffer) << ": " << broken.rule << " at step "
            << broken.step + 1 << ": " << broken.detail << "\n  steps:\n";
        for (size_t i = 0; i <= broken.step; ++i)
            out << "    " << i + 1 << ". " << Describe(steps[i]) << "\n";
        FAIL() << out.str();
    }
}

}  // namespace
