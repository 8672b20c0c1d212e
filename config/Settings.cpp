#include "config/Settings.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include "config/IniFile.h"
#include "config/PrintfFormat.h"

using config::IniFile;

namespace {

constinit bool s_savingDisabled = false;

constexpr std::size_t kNameBuf = 32;
constexpr std::size_t kPathBuf = 132;
constexpr std::size_t kKeywordMax = 15;

constexpr const char* kDefaultData = "15 14 13 12 11 10 9 8 7 6 5 4 3 2 1 0";
constexpr const char* kDefaultProcRow = "0x0D4C9041 STi-5508";
constexpr const char* kDefaultMakerRow = "0x0020 STM";
constexpr const char* kDefaultDeviceRow = "0x00D7 29W800T  WORDMODE 0x00100000 AMD   TOP";
constexpr uint32_t kDefaultTrapSize = 0x800;
constexpr uint32_t kDefaultOrg = 16;

constexpr uint32_t kDefaultEmi[16] = {0x0000, 0x0000, 0x0000, 0x0000, 0x2F91, 0xD0E0,
                                      0x50E0, 0x0001, 0x07F1, 0x4E50, 0x0000, 0x0000,
                                      0x06D1, 0x4000, 0x4005, 0x0000};

TAPWRIGHT_PRINTF(1, 2) std::string Fmt(const char* format, ...) {
    char buf[256];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < sizeof buf)
        return std::string(buf, static_cast<std::size_t>(n));
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(out.data(), out.size(), format, args);
    va_end(args);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

void CopyName(char (&dst)[32], std::string_view src) {
    std::size_t n = std::min(src.size(), sizeof dst - 1);
    std::memcpy(dst, src.data(), n);
    std::memset(dst + n, 0, sizeof dst - n);
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a row field by field as sscanf's "%x" and "%s" would, without writing past anything.
class RowScanner {
  public:
    explicit RowScanner(std::string_view text) : m_text(text) {}

    bool Hex(uint32_t& out) {
        SkipSpace();
        std::size_t i = m_pos;
        bool negative = false;
        if (i < m_text.size() && (m_text[i] == '-' || m_text[i] == '+'))
            negative = m_text[i++] == '-';
        if (i + 2 < m_text.size() && m_text[i] == '0' &&
            (m_text[i + 1] == 'x' || m_text[i + 1] == 'X') && HexDigit(m_text[i + 2]) >= 0)
            i += 2;
        uint32_t value = 0;
        std::size_t first = i;
        for (int d; i < m_text.size() && (d = HexDigit(m_text[i])) >= 0; ++i)
            value = (value << 4) | static_cast<uint32_t>(d);
        if (i == first) return false;
        m_pos = i;
        out = negative ? 0u - value : value;
        return true;
    }

    bool Word(std::string_view& out) {
        SkipSpace();
        std::size_t start = m_pos;
        while (m_pos < m_text.size() && !IsSpace(m_text[m_pos])) ++m_pos;
        out = m_text.substr(start, m_pos - start);
        return !out.empty();
    }

  private:
    static int HexDigit(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    }
    void SkipSpace() {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos])) ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;
};

// One field of a table row. A hexadecimal number or a keyword goes into `number`, a name into
// `name`; a keyword row sets `number` to `ifKeyword` for that exact word (case-sensitive) and
// to the opposite for any other.
template <class Entry>
struct RowField {
    const char* what;  // named in the warning when a row ends before it
    uint32_t Entry::*number = nullptr;
    char (Entry::*name)[32] = nullptr;
    const char* keyword = nullptr;
    uint32_t ifKeyword = 0;
};

const RowField<ProcessorEntry> kProcessorFields[] = {
    {.what = "hexadecimal id", .number = &ProcessorEntry::m_nId},
    {.what = "name", .name = &ProcessorEntry::m_szName},
};
const RowField<FlashMakerEntry> kMakerFields[] = {
    {.what = "hexadecimal id", .number = &FlashMakerEntry::m_nId},
    {.what = "name", .name = &FlashMakerEntry::m_szName},
};
const RowField<FlashDeviceEntry> kDeviceFields[] = {
    {.what = "hexadecimal id", .number = &FlashDeviceEntry::m_nId},
    {.what = "name", .name = &FlashDeviceEntry::m_szName},
    {.what = "mode word",
     .number = &FlashDeviceEntry::m_nWordMode,
     .keyword = "BYTEMODE",
     .ifKeyword = 0},
    {.what = "hexadecimal size", .number = &FlashDeviceEntry::m_nSize},
    {.what = "algorithm word",
     .number = &FlashDeviceEntry::m_nAlgorithm,
     .keyword = "INTEL",
     .ifKeyword = 1},
    {.what = "boot word",
     .number = &FlashDeviceEntry::m_nTopBoot,
     .keyword = "BOTTOM",
     .ifKeyword = 0},
};

// Scans `text` into `e` field by field, as sscanf would with the table's format. Returns what
// the first field the row lacks is (that field and the ones after it keep their values), or
// null. A word longer than its field is cut; `onCut` hears of it with the field's limit.
template <class Entry, std::size_t N, class OnCut>
const char* ScanRow(std::string_view text, const RowField<Entry> (&fields)[N], Entry& e,
                    OnCut&& onCut) {
    RowScanner scan(text);
    for (const RowField<Entry>& f : fields) {
        if (f.number != nullptr && f.keyword == nullptr) {
            if (!scan.Hex(e.*f.number)) return f.what;
            continue;
        }
        std::string_view word;
        if (!scan.Word(word)) return f.what;
        const std::size_t max = f.name != nullptr ? kNameBuf - 1 : kKeywordMax;
        if (word.size() > max) {
            onCut(word, max);
            word = word.substr(0, max);
        }
        if (f.name != nullptr)
            CopyName(e.*f.name, word);
        else
            e.*f.number = word == f.keyword ? f.ifKeyword : !f.ifKeyword;
    }
    return nullptr;
}

std::string JoinPath(const std::string& dir, const char* name) {
    std::string path = dir;
    const char sep = static_cast<char>(std::filesystem::path::preferred_separator);
    if (path.empty() || (path.back() != sep && path.back() != '/')) path += sep;
    return path + name;
}

const char* ModeWord(uint32_t wordMode) {
    return wordMode ? "WORD_MODE" : "BYTEMODE";
}
const char* AlgorithmWord(uint32_t algorithm) {
    return algorithm ? "INTEL" : "AMD";
}
const char* BootWord(uint32_t topBoot) {
    return topBoot ? "TOP" : "BOTTOM";
}

std::string ProcRow(const ProcessorEntry& e) {
    return Fmt(" 0x%08X %s", e.m_nId, e.m_szName);
}
std::string MakerRow(const FlashMakerEntry& e) {
    return Fmt(" 0x%04X %s", e.m_nId, e.m_szName);
}
std::string DeviceRow(const FlashDeviceEntry& e) {
    return Fmt(" 0x%04X %s %s 0x%08X %s %s", e.m_nId, e.m_szName, ModeWord(e.m_nWordMode),
               e.m_nSize, AlgorithmWord(e.m_nAlgorithm), BootWord(e.m_nTopBoot));
}

}  // namespace

CSettings::CSettings() {
    std::error_code ec;
    std::string dir = std::filesystem::current_path(ec).string();
    if (ec) {
        std::cerr << "warning: cannot get the current directory (" << ec.message()
                  << "); using \".\"\n";
        dir = ".";
    }
    Load(dir);
}

CSettings::CSettings(const std::string& workingDir) {
    Load(workingDir);
}

CSettings::~CSettings() {
    if (!s_savingDisabled) Save();
}

void CSettings::DisableSaving() {
    s_savingDisabled = true;
}
bool CSettings::SavingDisabled() {
    return s_savingDisabled;
}

void CSettings::Warn(const std::string& where, const std::string& what) const {
    std::cerr << "warning: " << m_iniPath << ": " << where << ": " << what << '\n';
}

void CSettings::Load(const std::string& workingDir) {
    m_workDir = workingDir;
    m_iniPath = JoinPath(m_workDir, kFileName);

    IniFile ini;
    m_bFileMissing = !ini.Load(m_iniPath);

    auto readString = [&](const char* section, const std::string& key, const char* def,
                          std::size_t buf) {
        bool cut = false;
        std::string value = ini.GetString(section, key, def, buf, &cut);
        if (cut)
            Warn(Fmt("[%s] %s", section, key.c_str()),
                 Fmt("longer than %zu characters; cut to \"%s\"", buf - 1, value.c_str()));
        return value;
    };

    m_szTrapDir = readString("FILES", "TRAP_DIR", "\\TrapHandlers\\", kPathBuf);
    m_szTrapName = readString("FILES", "TRAP_NAME", "TrapHandler.bin", kPathBuf);

    uint32_t count = ini.GetInt("DUT", "NB", 1);
    if (count == 0) {
        Warn("[DUT] NB", "no profiles; using one default profile");
        count = 1;
    } else if (count > kMaxCount) {
        Warn("[DUT] NB", Fmt("%u profiles is too many; using %u", count, kMaxCount));
        count = kMaxCount;
    }
    m_nDutCount = count;
    m_duts.assign(count, DutProfile{});
    for (uint32_t i = 0; i < count; ++i) LoadProfile(ini, i, m_duts[i]);

    m_nLptNum = ini.GetInt("SETTINGS", "LPT_NUM", 0);
    if (m_nLptNum >= 3) {
        Warn("[SETTINGS] LPT_NUM",
             Fmt("%d is not 0, 1 or 2; using 0", static_cast<int>(m_nLptNum)));
        m_nLptNum = 0;
    }
    m_port = readString("SETTINGS", "PORT", "", kPathBuf);
    m_nDutNum = ini.GetInt("SETTINGS", "DUT_NUM", 0);
    if (m_nDutNum >= m_nDutCount) {
        Warn("[SETTINGS] DUT_NUM", Fmt("%d is not a profile (0 to %u); using 0",
                                       static_cast<int>(m_nDutNum), m_nDutCount - 1));
        m_nDutNum = 0;
    }
    m_nFlashNum = ini.GetInt("SETTINGS", "FLASH_NUM", 0);
    m_nTabNum = ini.GetInt("SETTINGS", "TAB_NUM", 0);

    m_nMemStart = ini.GetInt("MEMORY", "Start", 0x7FF00000);
    m_nMemSize = ini.GetInt("MEMORY", "Size", 0x1000);
    CopyName(m_szMemFile, readString("MEMORY", "File", "Memory.bin", kNameBuf));

    LoadTables(ini);
}

void CSettings::LoadProfile(const IniFile& ini, uint32_t index, DutProfile& dut) {
    const std::string section = Fmt("DUT%u", index);
    auto where = [&](const std::string& key) { return "[" + section + "] " + key; };
    auto readName = [&](char(&dst)[32], const std::string& key, const char* def) {
        bool cut = false;
        std::string value = ini.GetString(section, key, def, kNameBuf, &cut);
        if (cut) Warn(where(key), Fmt("longer than 31 characters; cut to \"%s\"", value.c_str()));
        CopyName(dst, value);
    };
    auto readInt = [&](const std::string& key, uint32_t def) {
        return ini.GetInt(section, key, def);
    };

    readName(dut.m_szName, "Name", "PERSO");
    uint32_t banks = readInt("FLASH_Nb", 1);
    if (banks == 0) {
        Warn(where("FLASH_Nb"), "no flash banks; using 1");
        banks = 1;
    } else if (banks > kMaxBanks) {
        Warn(where("FLASH_Nb"), Fmt("%u banks is too many; using %u", banks, kMaxBanks));
        banks = kMaxBanks;
    }
    dut.m_nFlashCount = banks;
    dut.m_banks.assign(banks, FlashBank{});
    for (uint32_t j = 0; j < banks; ++j) {
        FlashBank& bank = dut.m_banks[j];
        const std::string prefix = Fmt("FLASH%u_", j);
        bank.m_nBase = readInt(prefix + "Base", 0x7FF00000);
        readName(bank.m_szFile, prefix + "File", "Flash0.rom");
        readName(bank.m_szName, prefix + "Name", "Flash0");
        bank.m_nOrg = readInt(prefix + "Org", kDefaultOrg);
        if (bank.m_nOrg == 0 || bank.m_nOrg > 32) {
            Warn(where(prefix + "Org"), Fmt("bus width %d is not 1 to 32; using %u",
                                            static_cast<int>(bank.m_nOrg), kDefaultOrg));
            bank.m_nOrg = kDefaultOrg;
        }

        // Lines the list leaves out keep their own position, so a short list is still a map.
        for (uint8_t i = 0; i < 32; ++i) bank.m_dataMap[i] = i;
        bool cut = false;
        std::string data = ini.GetString(section, prefix + "Data", kDefaultData, kPathBuf, &cut);
        if (cut) Warn(where(prefix + "Data"), "longer than 131 characters; cut");
        RowScanner scan(data);
        uint32_t filled = 0;
        std::string_view token;
        while (filled < bank.m_nOrg && scan.Word(token)) {
            const uint32_t line = bank.m_nOrg - 1 - filled++;
            uint32_t value = 0;
            std::size_t k = token.front() == '+' ? 1 : 0;
            const bool numeric = k < token.size() && token[k] >= '0' && token[k] <= '9';
            for (; k < token.size() && token[k] >= '0' && token[k] <= '9' && value <= 31; ++k)
                value = value * 10 + static_cast<uint32_t>(token[k] - '0');
            if (!numeric || value > 31) {
                Warn(where(prefix + "Data"),
                     Fmt("\"%.*s\" for data line %u is not a bit number 0 to 31; using %u",
                         static_cast<int>(token.size()), token.data(), line, line));
                continue;
            }
            bank.m_dataMap[line] = static_cast<uint8_t>(value);
        }
        if (filled < bank.m_nOrg)
            Warn(where(prefix + "Data"),
                 Fmt("%u numbers for a %u-bit bus; data lines 0 to %u keep their own position",
                     filled, bank.m_nOrg, bank.m_nOrg - 1 - filled));

        bank.m_nStart = readInt(prefix + "Start", 0x7FF00000);
        bank.m_nSize = readInt(prefix + "Size", 0x100000);
    }

    readName(dut.m_szE2pName, "E2P_Name", "AT24C02");
    dut.m_nE2pStart = readInt("E2P_Base", 0);
    dut.m_nE2pScc = readInt("E2P_SCC", 0x20009000);
    dut.m_nE2pPio = readInt("E2P_PIO", 0x2000D000);
    char type[32];
    readName(type, "E2P_Type", "CYCLES_2");
    dut.m_nE2pCycles = std::strcmp(type, "CYCLES_2") == 0 ? 0 : 1;
    dut.m_nE2pSize = readInt("E2P_Size", 256);
    readName(dut.m_szE2pFile, "E2P_File", "Eeprom.bin");
    dut.m_nTrapIptr = readInt("TRAP_Iptr", 0x80000A00);
    dut.m_nTrapWptr = readInt("TRAP_Wptr", 0x80000F00);
    dut.m_nTrapData = readInt("TRAP_Data", 0x80000200);
    dut.m_nTrapSize = readInt("TRAP_Size", kDefaultTrapSize);
    if (dut.m_nTrapSize % 4 != 0 && dut.m_nTrapSize >= 4) {
        Warn(where("TRAP_Size"), Fmt("0x%X is not a multiple of 4; using 0x%X", dut.m_nTrapSize,
                                     dut.m_nTrapSize & ~3u));
        dut.m_nTrapSize &= ~3u;
    } else if (dut.m_nTrapSize < 4) {
        Warn(where("TRAP_Size"),
             Fmt("0x%X is no buffer; using 0x%X", dut.m_nTrapSize, kDefaultTrapSize));
        dut.m_nTrapSize = kDefaultTrapSize;
    }
    for (int b = 0; b < 4; ++b)
        for (int w = 0; w < 4; ++w)
            dut.m_emi[b * 4 + w] = readInt(Fmt("EMI_Bank%d_%d", b, w), kDefaultEmi[b * 4 + w]);
}

void CSettings::LoadTables(const IniFile& ini) {
    // Every table is read by the same loop: its default row, also the source of any field a
    // row leaves out, then NUM0 ... NUM(NB-1), each scanned by the table's own fields.
    auto loadTable = [&]<class Entry, std::size_t N>(const char* section, const char* defaultRow,
                                                     const RowField<Entry>(&fields)[N],
                                                     std::vector<Entry>& rows) {
        Entry def{};
        ScanRow(defaultRow, fields, def, [](std::string_view, std::size_t) {});
        uint32_t count = ini.GetInt(section, "NB", 1);
        if (count > kMaxCount) {
            Warn(Fmt("[%s] NB", section), Fmt("%u rows is too many; using %u", count, kMaxCount));
            count = kMaxCount;
        }
        rows.assign(count, def);
        for (uint32_t i = 0; i < count; ++i) {
            const std::string where = Fmt("[%s] NUM%u", section, i);
            bool cut = false;
            const std::string text =
                ini.GetString(section, Fmt("NUM%u", i), defaultRow, kPathBuf, &cut);
            if (cut) Warn(where, "longer than 131 characters; cut");
            const char* missing =
                ScanRow(text, fields, rows[i], [&](std::string_view word, std::size_t max) {
                    Warn(where, Fmt("\"%.*s...\" is longer than %zu characters; cut",
                                    static_cast<int>(max), word.data(), max));
                });
            if (missing != nullptr)
                Warn(where, Fmt("no %s; the default row's values stand in from there", missing));
        }
        return count;
    };
    m_nProcCount = loadTable("PROC_ST", kDefaultProcRow, kProcessorFields, m_procs);
    m_nMakerCount = loadTable("FLASH_MAN", kDefaultMakerRow, kMakerFields, m_makers);
    m_nDeviceCount = loadTable("FLASH_DEV", kDefaultDeviceRow, kDeviceFields, m_devices);
}

bool CSettings::Save() {
    return Save(g_currentDut);
}

bool CSettings::Save(uint32_t currentDut) {
    // The file as it is now, so edits made while the program ran are kept.
    IniFile ini;
    std::error_code ec;
    const bool exists = std::filesystem::exists(m_iniPath, ec);
    if (!ini.Load(m_iniPath) && exists) {
        std::cerr << "error: " << m_iniPath
                  << " exists but cannot be read; settings not saved (check its permissions)\n";
        return false;
    }

    auto dec = [](uint32_t v) { return Fmt(" %d", static_cast<int>(v)); };
    auto hex = [](uint32_t v) { return Fmt(" 0x%08X", v); };
    auto str = [](const char* s) { return std::string(" ") + s; };

    ini.WriteString("SETTINGS", "LPT_NUM", dec(m_nLptNum));
    // An older file gets the key only once an adapter is chosen.
    if (!m_port.empty() || !ini.GetString("SETTINGS", "PORT", "", kPathBuf).empty())
        ini.WriteString("SETTINGS", "PORT", " " + m_port);
    ini.WriteString("SETTINGS", "DUT_NUM", dec(m_nDutNum));
    ini.WriteString("SETTINGS", "FLASH_NUM", dec(m_nFlashNum));
    ini.WriteString("SETTINGS", "TAB_NUM", dec(m_nTabNum));

    ini.WriteString("MEMORY", "Start", hex(m_nMemStart));
    ini.WriteString("MEMORY", "Size", hex(m_nMemSize));
    ini.WriteString("MEMORY", "File", str(m_szMemFile));

    if (currentDut < m_duts.size() && std::strcmp(m_duts[currentDut].m_szName, "PERSO") == 0) {
        const DutProfile& dut = m_duts[currentDut];
        const std::string section = Fmt("DUT%u", currentDut);
        ini.WriteString(section, "Name", str(dut.m_szName));
        ini.WriteString(section, "FLASH_Nb", dec(static_cast<uint32_t>(dut.m_banks.size())));
        for (std::size_t j = 0; j < dut.m_banks.size(); ++j) {
            const FlashBank& bank = dut.m_banks[j];
            const std::string prefix = Fmt("FLASH%zu_", j);
            ini.WriteString(section, prefix + "Name", str(bank.m_szName));
            ini.WriteString(section, prefix + "Base", hex(bank.m_nBase));
            ini.WriteString(section, prefix + "Org", dec(bank.m_nOrg));
            ini.WriteString(section, prefix + "Start", hex(bank.m_nStart));
            ini.WriteString(section, prefix + "Size", hex(bank.m_nSize));
            ini.WriteString(section, prefix + "File", str(bank.m_szFile));
        }
        ini.WriteString(section, "E2P_Name", str(dut.m_szE2pName));
        ini.WriteString(section, "E2P_Base", hex(dut.m_nE2pStart));
        ini.WriteString(section, "E2P_Type", dut.m_nE2pCycles ? " CYCLES_3" : " CYCLES_2");
        ini.WriteString(section, "E2P_Size", hex(dut.m_nE2pSize));
        ini.WriteString(section, "E2P_File", str(dut.m_szE2pFile));
        ini.WriteString(section, "TRAP_Iptr", hex(dut.m_nTrapIptr));
        ini.WriteString(section, "TRAP_Wptr", hex(dut.m_nTrapWptr));
        ini.WriteString(section, "TRAP_Data", hex(dut.m_nTrapData));
        ini.WriteString(section, "TRAP_Size", hex(dut.m_nTrapSize));
        for (int b = 0; b < 4; ++b)
            for (int w = 0; w < 4; ++w)
                ini.WriteString(section, Fmt("EMI_Bank%d_%d", b, w), hex(dut.m_emi[b * 4 + w]));
    }

    if (m_bFileMissing) {
        ini.WriteString("FILES", "TRAP_DIR", " " + m_szTrapDir);
        ini.WriteString("FILES", "TRAP_NAME", " " + m_szTrapName);
        ini.WriteString("DUT", "NB", dec(static_cast<uint32_t>(m_duts.size())));
        ini.WriteString("PROC_ST", "NB", dec(static_cast<uint32_t>(m_procs.size())));
        for (std::size_t i = 0; i < m_procs.size(); ++i)
            ini.WriteString("PROC_ST", Fmt("NUM%zu", i), ProcRow(m_procs[i]));
        ini.WriteString("FLASH_MAN", "NB", dec(static_cast<uint32_t>(m_makers.size())));
        for (std::size_t i = 0; i < m_makers.size(); ++i)
            ini.WriteString("FLASH_MAN", Fmt("NUM%zu", i), MakerRow(m_makers[i]));
        ini.WriteString("FLASH_DEV", "NB", dec(static_cast<uint32_t>(m_devices.size())));
        for (std::size_t i = 0; i < m_devices.size(); ++i)
            ini.WriteString("FLASH_DEV", Fmt("NUM%zu", i), DeviceRow(m_devices[i]));
    }

    std::string error;
    if (!ini.SaveAtomic(m_iniPath, error)) {
        std::cerr << "error: settings not saved: " << error << '\n';
        return false;
    }
    return true;
}

#ifndef TAPWRIGHT_DATA_FROM_BIN
#define TAPWRIGHT_DATA_FROM_BIN "../share/tapwright"
#endif

namespace {

// The folder installed beside the program's bin folder, found from the running program so
// that any install prefix works; "" when the system does not say where the program is.
std::string InstalledDataDir() {
#ifdef _WIN32
    char buf[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, buf, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    const std::filesystem::path exe(std::string(buf, n));
#else
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
#endif
    return (exe.parent_path() / TAPWRIGHT_DATA_FROM_BIN).lexically_normal().string();
}

}  // namespace

std::string TrapHandlerPath(const CSettings& settings, const std::string& fileName) {
    std::string dir = settings.m_szTrapDir;
    std::string name = fileName;
#ifndef _WIN32
    std::replace(dir.begin(), dir.end(), '\\', '/');
    std::replace(name.begin(), name.end(), '\\', '/');
#endif
    // A work folder without a handler folder of its own uses the stand-ins installed with the
    // program; one that has it keeps it whole, so real and stand-in handlers never mix.
    std::error_code ec;
    if (!std::filesystem::is_directory(settings.m_workDir + dir, ec)) {
        static const std::string installed = InstalledDataDir();
        if (!installed.empty() && std::filesystem::is_directory(installed + dir, ec))
            return installed + dir + name;
    }
    return settings.m_workDir + dir + name;
}

std::string LookupProcessor(const CSettings& settings, uint32_t idcode) {
    const uint32_t key = idcode & 0x0FFFFFFF;
    for (const ProcessorEntry& e : settings.m_procs)
        if (e.m_nId == key) return Fmt("%s Rev %d", e.m_szName, static_cast<int>(idcode >> 28));
    return {};
}

int LookupFlashMaker(const CSettings& settings, uint32_t id) {
    for (std::size_t i = 0; i < settings.m_makers.size(); ++i)
        if (settings.m_makers[i].m_nId == id) return static_cast<int>(i);
    return -1;
}

int LookupFlashDevice(const CSettings& settings, uint32_t id) {
    for (std::size_t i = 0; i < settings.m_devices.size(); ++i)
        if (settings.m_devices[i].m_nId == id) return static_cast<int>(i);
    return -1;
}

std::string FormatSettingsReport(const CSettings& s) {
    std::string out;
    out += "Settings file: " + s.FilePath() +
           (s.m_bFileMissing ? " (not found: defaults shown)\n" : "\n");
    out += Fmt("LPT_NUM %u  DUT_NUM %u  FLASH_NUM %u  TAB_NUM %u\n", s.m_nLptNum, s.m_nDutNum,
               s.m_nFlashNum, s.m_nTabNum);
    out += Fmt("Memory: Start 0x%08X  Size 0x%08X  File %s\n", s.m_nMemStart, s.m_nMemSize,
               s.m_szMemFile);
    out += "Trap handlers: TRAP_DIR " + s.m_szTrapDir + "  TRAP_NAME " + s.m_szTrapName +
           "\n  general handler: " + TrapHandlerPath(s, s.m_szTrapName) + "\n";

    out += Fmt("\nDUT profiles: %zu\n", s.m_duts.size());
    for (std::size_t i = 0; i < s.m_duts.size(); ++i) {
        const DutProfile& d = s.m_duts[i];
        out += Fmt("%c DUT%zu \"%s\"%s%s\n", i == s.m_nDutNum ? '*' : ' ', i, d.m_szName,
                   i == s.m_nDutNum ? " (selected)" : "",
                   std::strcmp(d.m_szName, "PERSO") == 0 ? " (editable, saved at exit)" : "");
        out += Fmt("    flash banks: %zu\n", d.m_banks.size());
        for (std::size_t j = 0; j < d.m_banks.size(); ++j) {
            const FlashBank& b = d.m_banks[j];
            out += Fmt(
                "    FLASH%zu \"%s\": Base 0x%08X  Org %u  Start 0x%08X  Size 0x%08X  File %s\n", j,
                b.m_szName, b.m_nBase, b.m_nOrg, b.m_nStart, b.m_nSize, b.m_szFile);
            out += "      data lines (highest first):";
            for (uint32_t k = b.m_nOrg; k-- > 0;) out += Fmt(" %u", b.m_dataMap[k]);
            out += "\n";
        }
        out += Fmt(
            "    EEPROM \"%s\": Start 0x%08X  Size 0x%08X  %s  SCC 0x%08X  PIO 0x%08X  File %s\n",
            d.m_szE2pName, d.m_nE2pStart, d.m_nE2pSize, d.m_nE2pCycles ? "CYCLES_3" : "CYCLES_2",
            d.m_nE2pScc, d.m_nE2pPio, d.m_szE2pFile);
        out += Fmt("    trap handler: Iptr 0x%08X  Wptr 0x%08X  Data 0x%08X  Size 0x%08X\n",
                   d.m_nTrapIptr, d.m_nTrapWptr, d.m_nTrapData, d.m_nTrapSize);
        for (int bank = 0; bank < 4; ++bank)
            out += Fmt("    EMI bank %d: 0x%08X 0x%08X 0x%08X 0x%08X\n", bank, d.m_emi[bank * 4],
                       d.m_emi[bank * 4 + 1], d.m_emi[bank * 4 + 2], d.m_emi[bank * 4 + 3]);
    }

    out += Fmt("\nProcessors [PROC_ST]: %zu\n", s.m_procs.size());
    for (std::size_t i = 0; i < s.m_procs.size(); ++i)
        out += Fmt("  NUM%zu", i) + ProcRow(s.m_procs[i]) + "\n";
    out += Fmt("Flash makers [FLASH_MAN]: %zu\n", s.m_makers.size());
    for (std::size_t i = 0; i < s.m_makers.size(); ++i)
        out += Fmt("  NUM%zu", i) + MakerRow(s.m_makers[i]) + "\n";
    out += Fmt("Flash devices [FLASH_DEV]: %zu\n", s.m_devices.size());
    for (std::size_t i = 0; i < s.m_devices.size(); ++i)
        out += Fmt("  NUM%zu", i) + DeviceRow(s.m_devices[i]) + "\n";
    return out;
}

// Built after theApp and g_link (port/StaticOrder.h), so saved before the link closes at exit.
CSettings g_settings;
uint32_t g_currentDut = 0;
