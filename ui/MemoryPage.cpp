#include "ui/MemoryPage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "config/Settings.h"
#include "link/TargetLink.h"
#include "ui/AppState.h"
#include "ui/PageFiles.h"

namespace {

const char kFilter[] = "Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||";
const char kError[] = "*** Error ***";
const char kLinkError[] = "!!! Error !!!";

uint32_t LittleEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool SdramHeaderAccepted(const uint8_t* header, uint64_t fileLength) {
    if (fileLength < kSdramHeaderSize) return false;
    if (std::memcmp(header, "main1000", 8) != 0 && std::memcmp(header, "TSVR2000", 8) != 0)
        return false;
    const uint32_t length = LittleEndian(header + 8);
    const uint64_t address = LittleEndian(header + 12);
    if (length != fileLength) return false;
    if (address < kSdramBase) return false;
    if (address + length > kSdramEnd) return false;  // 64-bit: no wrap past 4 GiB
    return LittleEndian(header + 20) == 0;
}

bool CMemoryPage::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strStart = Hex8(g_settings.m_nMemStart);
    m_strSize = Hex8(g_settings.m_nMemSize);
    m_strFile = g_settings.m_szMemFile;
    ShowFields();
    return true;
}

void CMemoryPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdFile, m_strFile);
    DDX_Text(dx, kIdSize, m_strSize);
    DDX_Text(dx, kIdStart, m_strStart);
}

void CMemoryPage::FetchFields(uint32_t& start, uint32_t& size) {
    UpdateData(true);
    start = ParseHexField(m_strStart);
    size = ParseHexField(m_strSize);
    g_settings.m_nMemStart = start;
    g_settings.m_nMemSize = size;
    // The settings keep 31 characters; a longer name is cut there, the field keeps it whole.
    std::snprintf(g_settings.m_szMemFile, sizeof g_settings.m_szMemFile, "%s", m_strFile.c_str());
}

void CMemoryPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdWrite, kIdLoad, kIdGo})
        EnableWindow(id, false);
    UpdateWindow();
}

void CMemoryPage::EnableControls() {
    if (!g_cpuIdentified) {
        DisableControls();
        return;
    }
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdWrite, kIdLoad}) EnableWindow(id, true);
    if (!g_link.HandlerRunning()) EnableWindow(kIdGo, false);
    UpdateWindow();
}

void CMemoryPage::ShowTransferError() {
    g_link.ReportError();
    Observer().ShowAddress(kLinkError);
}

bool CMemoryPage::OnCommand(int id, UiEvent event) {
    if (event != UiEvent::Clicked) return CDialog::OnCommand(id, event);
    switch (id) {
        case kIdRead:
            OnRead();
            return true;
        case kIdWrite:
            OnWrite();
            return true;
        case kIdLoad:
            OnLoad();
            return true;
        case kIdGo:
            OnGo();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CMemoryPage::OnRead() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    PageOperation op(Observer(), "Read Memory Data", ProgressMode::kRead);
    std::string path;
    uint32_t done = 0;
    bool ok = false;
    if (AskFile(false, kFilter, "rom", m_strFile, path)) {
        ShowFields();
        ok = ReadToFile(
            path, size, [&](uint8_t* buffer) { return g_link.ReadMemory(start, size, buffer); },
            kError, done);
    }
    op.Unlock();
    LogPrintf("Reading Memory -->   From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CMemoryPage::OnWrite() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    const char* title = "Write Memory Data";
    PageOperation op(Observer(), title, ProgressMode::kWrite);
    std::string path;
    bool ok = false;
    g_link.m_nLastCount = 0;
    if (AskFile(true, kFilter, "rom", m_strFile, path)) {
        ShowFields();
        std::vector<uint8_t> data;
        uint64_t length = 0;
        const FileFault fault = ReadFileHead(path, size, data, &length);
        if (fault == FileFault::NoMemory) {
            Refuse("Not enough memory for " + Hex8(size) + " bytes", kError);
        } else if (fault != FileFault::None) {
            ShowFileFault(Observer(), fault, path, kError);
        } else if (AcceptFileLength(path, length, size, title, "Write")) {
            ok = g_link.WriteMemory(start, static_cast<uint32_t>(data.size()), data.data());
            if (!ok) ShowTransferError();
        }
    }
    const uint32_t done = g_link.m_nLastCount;
    op.Unlock();
    LogPrintf("Writing Memory -->   From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CMemoryPage::OnLoad() {
    PageOperation op(Observer(), "Load File in SDRAM Memory", ProgressMode::kWrite);
    std::string path;
    if (AskFile(true, kFilter, "rom", m_strFile, path)) LoadImage(path);
}

void CMemoryPage::LoadImage(const std::string& path) {
    std::vector<uint8_t> head;
    uint64_t length = 0;
    if (const FileFault fault = ReadFileHead(path, kSdramHeaderSize, head, &length);
        fault != FileFault::None) {
        ShowFields();
        ShowFileFault(Observer(), fault, path, kError);
        return;
    }
    // A file shorter than the header leaves the rest of it zero: nothing past its end is read.
    uint8_t header[kSdramHeaderSize] = {};
    std::copy(head.begin(), head.end(), header);
    const uint32_t imageLength = LittleEndian(header + 8);
    const uint32_t address = LittleEndian(header + 12);
    m_strStart = Hex8(address);
    m_strSize = Hex8(imageLength);
    ShowFields();
    if (!SdramHeaderAccepted(header, length)) {
        LogPrintf("Load Memory -->      File not conform Ko\n");
        Observer().ShowAddress(kError);
        return;
    }
    std::vector<uint8_t> image;
    const FileFault fault = ReadFileHead(path, imageLength, image);
    if (fault == FileFault::NoMemory) {
        LogPrintf("Load Memory -->      Malloc error Ko\n");
        Observer().ShowAddress(kError);
        return;
    }
    if (fault != FileFault::None || image.size() != imageLength) {
        ShowFileFault(Observer(), FileFault::CannotRead, path, kError);
        return;
    }
    g_link.m_nLastCount = 0;
    const bool written = g_link.WriteMemory(address, imageLength, image.data());
    if (!written) ShowTransferError();
    const uint32_t done = written ? imageLength : g_link.m_nLastCount;
    LogPrintf("Load Memory -->      From : %08X Length : %08X bytes %s\n", address, done,
              LogResult(written, address + done).c_str());
    // GO into an image that did not arrive whole would run whatever the SDRAM held; GO goes
    // through the trap handler, so without one running it is not offered.
    if (written && g_link.HandlerRunning()) EnableWindow(kIdGo, true);
}

void CMemoryPage::OnGo() {
    g_cpuIdentified = false;
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    PageOperation op(Observer(), "Running from SDRAM", ProgressMode::kNone);
    const uint32_t entry = start + size - 2;  // the image's last two bytes
    const bool ok = g_link.Go(entry);
    LogPrintf("Instruction -->      Go from SDRAM %s\n", LogResult(ok).c_str());
    // LOAD TRAP now follows what runs after the jump.
    op.LeaveLocked();
    if (ok) {
        Observer().ShowAddress(Hex8(entry));
    } else {
        g_link.ReportError();
        Observer().ShowAddress(kError);
    }
}
