// Persistent settings: Tapwright.ini in the working directory, loaded once at construction
// and written back once at destruction. All values are plain public data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace config {
class IniFile;
}

// One flash region of a profile.
struct FlashBank {
    char m_szName[32];
    uint32_t m_nOrg;    // bus width in bits, 1..32
    uint32_t m_nBase;   // device base address on the target
    uint32_t m_nStart;  // first address the FLASH page works on
    uint32_t m_nSize;   // byte count of the FLASH page
    char m_szFile[32];
    // Entry i: bit position in the flash's own data word of bus data line i (always 0..31).
    uint8_t m_dataMap[32];
};

// One target board.
struct DutProfile {
    char m_szName[32];
    uint32_t m_nFlashCount;  // equals m_banks.size(), at least 1
    std::vector<FlashBank> m_banks;
    char m_szE2pName[32];
    uint32_t m_nE2pStart;
    uint32_t m_nE2pSize;
    uint32_t m_nE2pCycles;  // 0: two address cycles, 1: three
    uint32_t m_nE2pScc;
    uint32_t m_nE2pPio;
    char m_szE2pFile[32];
    uint32_t m_nTrapIptr;
    uint32_t m_nTrapWptr;
    uint32_t m_nTrapData;
    uint32_t m_nTrapSize;  // a non-zero multiple of 4
    uint32_t m_emi[16];    // bank-major: bank 0 words 0-3, bank 1 ...
};

struct ProcessorEntry {
    uint32_t m_nId;  // IDCODE bits 27-0
    char m_szName[32];
};

struct FlashMakerEntry {
    uint32_t m_nId;
    char m_szName[32];
};

struct FlashDeviceEntry {
    uint32_t m_nId;
    char m_szName[32];
    uint32_t m_nWordMode;   // 0 byte mode, 1 word mode
    uint32_t m_nSize;       // bytes
    uint32_t m_nAlgorithm;  // 1 Intel, 0 AMD
    uint32_t m_nTopBoot;    // 1 boot block at the top, 0 at the bottom
};

class CSettings {
  public:
    static constexpr const char* kFileName = "Tapwright.ini";
    static constexpr uint32_t kMaxCount = 1024;  // profiles and rows per table
    static constexpr uint32_t kMaxBanks = 32;    // banks per profile

    // Loads Tapwright.ini from the current directory.
    CSettings();
    // Loads Tapwright.ini from `workingDir`.
    explicit CSettings(const std::string& workingDir);
    // Loads Tapwright.ini from `workingDir` again, replacing every value held.
    void Load(const std::string& workingDir);
    // Saves, unless DisableSaving() was called.
    ~CSettings();
    CSettings(const CSettings&) = delete;
    CSettings& operator=(const CSettings&) = delete;

    // Every CSettings destructor from now on skips the save. Safe to call at any time,
    // including during static initialisation.
    static void DisableSaving();
    static bool SavingDisabled();

    // Writes what may have changed into the file as it is now on disk, replacing it in one step;
    // `currentDut` is the profile whose section is written when it is named "PERSO".
    // Returns false (the file left as it was, the reason on stderr) when that fails.
    bool Save(uint32_t currentDut);
    // The same with g_currentDut.
    bool Save();

    const std::string& FilePath() const { return m_iniPath; }

    // SETTINGS
    uint32_t m_nLptNum = 0;
    uint32_t m_nDutNum = 0;
    uint32_t m_nFlashNum = 0;
    uint32_t m_nTabNum = 0;
    // The adapter chosen in the port list, as its driver string; "" (and in older files): the
    // parallel port LPT_NUM.
    std::string m_port;
    // MEMORY
    uint32_t m_nMemStart = 0;
    uint32_t m_nMemSize = 0;
    char m_szMemFile[32] = {};
    // DUT; the counts equal the vectors' sizes
    uint32_t m_nDutCount = 0;
    std::vector<DutProfile> m_duts;
    uint32_t m_nProcCount = 0;
    std::vector<ProcessorEntry> m_procs;
    uint32_t m_nMakerCount = 0;
    std::vector<FlashMakerEntry> m_makers;
    uint32_t m_nDeviceCount = 0;
    std::vector<FlashDeviceEntry> m_devices;
    // FILES, kept as stored (backslashes included)
    std::string m_szTrapDir;
    std::string m_szTrapName;
    std::string m_workDir;
    bool m_bFileMissing = false;

  private:
    void LoadProfile(const config::IniFile& ini, uint32_t index, DutProfile& dut);
    void LoadTables(const config::IniFile& ini);
    void Warn(const std::string& where, const std::string& what) const;

    std::string m_iniPath;
};

// Working directory + TRAP_DIR + fileName, joined as they stand; on platforms whose separator
// is '/', the backslashes of the stored strings are read as separators. When the working
// directory has no TRAP_DIR folder, the one installed with the program (<prefix>/share/
// tapwright beside <prefix>/bin) stands in for it, if there is one.
std::string TrapHandlerPath(const CSettings& settings, const std::string& fileName);

// "<name> Rev <top four bits>" for the first PROC_ST row matching IDCODE bits 27-0, else "".
std::string LookupProcessor(const CSettings& settings, uint32_t idcode);
// Index of the first row whose id equals `id` (all 32 bits), or -1.
int LookupFlashMaker(const CSettings& settings, uint32_t id);
int LookupFlashDevice(const CSettings& settings, uint32_t id);

// Profiles with their banks, EEPROM and trap values, then the three tables, for a person
// checking a hand-edited file.
std::string FormatSettingsReport(const CSettings& settings);

extern CSettings g_settings;
extern uint32_t g_currentDut;
