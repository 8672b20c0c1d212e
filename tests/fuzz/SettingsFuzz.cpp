// libFuzzer target: arbitrary bytes as Tapwright.ini, through load, save and a second load.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "config/IniFile.h"
#include "config/Settings.h"

namespace {

std::string g_dir;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// What every loaded settings object must hold, whatever the file said.
void CheckSound(const CSettings& s) {
    Check(!s.m_duts.empty() && s.m_duts.size() <= CSettings::kMaxCount);
    Check(s.m_nDutCount == s.m_duts.size());
    Check(s.m_nDutNum < s.m_nDutCount && s.m_nLptNum < 3);
    for (const DutProfile& d : s.m_duts) {
        Check(!d.m_banks.empty() && d.m_banks.size() <= CSettings::kMaxBanks);
        Check(d.m_nFlashCount == d.m_banks.size());
        Check(d.m_nTrapSize != 0 && d.m_nTrapSize % 4 == 0);
        for (const FlashBank& b : d.m_banks) {
            Check(b.m_nOrg >= 1 && b.m_nOrg <= 32);
            for (uint8_t line : b.m_dataMap) Check(line < 32);
        }
    }
    Check(s.m_procs.size() == s.m_nProcCount && s.m_nProcCount <= CSettings::kMaxCount);
    Check(s.m_makers.size() == s.m_nMakerCount && s.m_nMakerCount <= CSettings::kMaxCount);
    Check(s.m_devices.size() == s.m_nDeviceCount && s.m_nDeviceCount <= CSettings::kMaxCount);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    CSettings::DisableSaving();
    // Warnings are expected for most inputs; only crashes matter here.
    std::cerr.rdbuf(nullptr);
    std::filesystem::path base =
        std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
    std::string pattern = (base / "tapwright-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    g_dir = pattern;
    std::atexit([] { std::filesystem::remove_all(g_dir); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Every byte of a file nobody wrote to comes back unchanged.
    config::IniFile ini;
    ini.Parse(text);
    Check(ini.Text() == text);
    ini.WriteString("SETTINGS", "LPT_NUM", " 2");
    ini.WriteString("MEMORY", "File", " x.bin");
    ini.WriteString("SETTINGS", "TAB_NUM", " 3");
    config::IniFile reread;
    reread.Parse(ini.Text());
    for (const config::IniFile* f : {&ini, &reread}) {
        Check(f->GetInt("settings", "lpt_num", 9) == 2);
        Check(f->GetInt("SETTINGS", "TAB_NUM", 9) == 3);
        Check(f->GetString("Memory", "FILE", "", 32) == "x.bin");
    }

    const std::string path = g_dir + "/Tapwright.ini";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    {
        CSettings s(g_dir);
        CheckSound(s);
        (void)FormatSettingsReport(s);
        (void)LookupProcessor(s, 0x0D4C9041);
        (void)LookupFlashDevice(s, 0xD7);
        (void)TrapHandlerPath(s, "TrapHandler.bin");
        s.Save(s.m_nDutNum);
    }
    CSettings again(g_dir);
    CheckSound(again);
    return 0;
}
