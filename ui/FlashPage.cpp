#include "ui/FlashPage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "config/Settings.h"
#include "flash/TrapImage.h"
#include "link/TargetLink.h"
#include "ui/AppState.h"
#include "ui/PageFiles.h"

namespace {

constexpr const char* kFileFilter = "Rom File (*.rom)|*.rom|Binary File (*.bin)|*.bin||";
constexpr const char* kOk = "Ok";
constexpr const char* kError = "!!! Error !!!";

// The bus list holds the handlers' widths in order; with nothing chosen the 16-bit one serves.
int32_t BusWidthOfItem(int item) {
    return static_cast<int32_t>(kHandlerBusWidths[item >= 0 && item < 3 ? item : 1]);
}

}  // namespace

const uint8_t* CFlashPage::DataMap() const {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr || m_nBankIndex < 0 || static_cast<size_t>(m_nBankIndex) >= p->m_banks.size())
        return kStraightWiring;
    return p->m_banks[static_cast<size_t>(m_nBankIndex)].m_dataMap;
}

uint32_t CFlashPage::MaskToBus(uint32_t value) const {
    return ::MaskToBus(m_chip, value);
}
uint32_t CFlashPage::MaskWordMode(uint32_t value, uint32_t wordMode) const {
    return ::MaskWordMode(value, wordMode);
}
uint32_t CFlashPage::MapDataLines(uint32_t value) const {
    return ::MapDataLines(m_chip, DataMap(), value);
}
void CFlashPage::PrepareIdCommands() {
    ::PrepareIdCommands(m_chip, DataMap());
}
bool CFlashPage::DecodeIdentification() {
    const bool known = ::DecodeIdentification(m_chip, DataMap(), g_settings, m_strIdent);
    m_strMaker = m_chip.m_maker;
    m_strDevice = m_chip.m_device;
    return known;
}
void CFlashPage::PrepareChipCommands() {
    ::PrepareChipCommands(m_chip, DataMap());
}
std::string CFlashPage::FlashHandlerName(int32_t pageBusWidth) const {
    return ::FlashHandlerName(m_chip, static_cast<uint32_t>(pageBusWidth));
}

bool CFlashPage::OnInitDialog() {
    CDialog::OnInitDialog();
    const DutProfile* p = CurrentProfile();
    if (p == nullptr || p->m_banks.empty()) return true;
    m_nBankIndex = g_settings.m_nFlashNum < p->m_banks.size()
                       ? static_cast<int32_t>(g_settings.m_nFlashNum)
                       : 0;
    SetCurSel(kIdBankList, m_nBankIndex);
    const FlashBank& bank = p->m_banks[static_cast<size_t>(m_nBankIndex)];
    m_strStart = Hex8(bank.m_nStart);
    m_strSize = Hex8(bank.m_nSize);
    m_strFile = bank.m_szFile;
    ShowFields();
    return true;
}

void CFlashPage::DoDataExchange(CDataExchange& dx) {
    DDX_Text(dx, kIdIdent, m_strIdent);
    DDX_Text(dx, kIdMaker, m_strMaker);
    DDX_Text(dx, kIdDevice, m_strDevice);
    DDX_Text(dx, kIdBase, m_strBase);
    DDX_Text(dx, kIdFile, m_strFile);
    DDX_Text(dx, kIdStart, m_strStart);
    DDX_Text(dx, kIdSize, m_strSize);
}

void CFlashPage::SelectBank(int32_t index) {
    const DutProfile* p = CurrentProfile();
    if (p == nullptr || index < 0 || static_cast<size_t>(index) >= p->m_banks.size()) return;
    const FlashBank& bank = p->m_banks[static_cast<size_t>(index)];
    m_nBankIndex = index;
    ResetContent(kIdBankList);
    for (const FlashBank& b : p->m_banks) AddString(kIdBankList, b.m_szName);
    SetCurSel(kIdBankList, index);
    m_chip.m_nBase = bank.m_nBase;
    m_strBase = Hex8(bank.m_nBase);
    m_chip.m_nBusWidth = bank.m_nOrg;
    const int item = HandlerBusIndex(bank.m_nOrg);
    SetCurSel(kIdBusList, item);
    m_nPageBusWidth = BusWidthOfItem(item);
    m_strStart = Hex8(bank.m_nStart);
    m_strSize = Hex8(bank.m_nSize);
    m_strFile = bank.m_szFile;
    ShowFields();
    DisableControls();
    EnableWindow(kIdBankList, p->m_banks.size() != 1);
    const bool perso = IsPersoProfile(p);
    EnableWindow(kIdBusList, perso);
    EnableWindow(kIdBase, perso);
}

TargetProgram CFlashPage::Handler(bool configured) const {
    return TargetProgram::Flash(m_nBankIndex, static_cast<uint32_t>(m_nPageBusWidth), configured);
}

bool CFlashPage::HandlerReady() const {
    return g_link.Program() == Handler(true);
}

bool CFlashPage::RequireHandler() {
    if (g_link.Require(Handler(true))) return true;
    g_link.ReportError();
    return false;
}

void CFlashPage::EnableControls() {
    const bool ready = HandlerReady();
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdErase, kIdWrite, kIdVerify})
        EnableWindow(id, ready);
    EnableWindow(kIdLoadTrap, g_link.HandlerRunning());
    UpdateWindow();
}

void CFlashPage::DisableControls() {
    for (int id : {kIdFile, kIdStart, kIdSize, kIdRead, kIdErase, kIdWrite, kIdVerify})
        EnableWindow(id, false);
    EnableWindow(kIdLoadTrap, g_link.HandlerRunning());
    UpdateWindow();
}

bool CFlashPage::OnCommand(int id, UiEvent event) {
    switch (id) {
        case kIdLoadTrap:
            if (event == UiEvent::Clicked) OnLoadTrap();
            return true;
        case kIdRead:
            if (event == UiEvent::Clicked) OnRead();
            return true;
        case kIdErase:
            if (event == UiEvent::Clicked) OnErase();
            return true;
        case kIdWrite:
            if (event == UiEvent::Clicked) OnWrite();
            return true;
        case kIdVerify:
            if (event == UiEvent::Clicked) OnVerify();
            return true;
        case kIdBusList:
            if (event == UiEvent::CloseUp) OnBusCloseUp();
            return true;
        case kIdBankList:
            if (event == UiEvent::CloseUp) OnBankCloseUp();
            if (event == UiEvent::DropDown) OnBankDropDown();
            return true;
        default:
            return CDialog::OnCommand(id, event);
    }
}

void CFlashPage::ReadBackControls() {
    const int bank = GetCurSel(kIdBankList);
    if (bank >= 0) m_nBankIndex = bank;
    m_nPageBusWidth = BusWidthOfItem(GetCurSel(kIdBusList));
    UpdateData(true);
}

void CFlashPage::FetchFields(uint32_t& start, uint32_t& size) {
    ReadBackControls();
    start = ParseHexField(m_strStart);
    size = ParseHexField(m_strSize);
    const uint32_t base = ParseHexField(m_strBase);
    // Until a chip is identified its capacity is unknown: keep what the operator typed.
    const uint32_t capacity = m_chip.Capacity();
    if (capacity != 0 && size > capacity) size = capacity;

    DutProfile* p = CurrentProfile();
    const int bank = GetCurSel(kIdBankList);
    if (!IsPersoProfile(p) || bank < 0 || static_cast<size_t>(bank) >= p->m_banks.size()) return;
    FlashBank& b = p->m_banks[static_cast<size_t>(bank)];
    std::snprintf(b.m_szFile, sizeof b.m_szFile, "%s", m_strFile.c_str());
    b.m_nBase = base;
    b.m_nOrg = m_chip.m_nBusWidth;
    b.m_nStart = start;
    b.m_nSize = size;
}

void CFlashPage::OnBusCloseUp() {
    ReadBackControls();
    m_chip.m_nBusWidth = static_cast<uint32_t>(m_nPageBusWidth);
    // The handler running drives the width it was loaded for.
    EnableControls();
}

void CFlashPage::OnBankCloseUp() {
    ReadBackControls();
    const int bank = GetCurSel(kIdBankList);
    if (bank < 0) return;
    g_settings.m_nFlashNum = static_cast<uint32_t>(bank);
    SelectBank(bank);
}

void CFlashPage::OnBankDropDown() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
}

void CFlashPage::OnLoadTrap() {
    IMainWindow& obs = Observer();
    // Each page then offers what now runs: a new flash handler takes the EEPROM page's away.
    PageOperation op(obs, "Read FLASH ID Code", ProgressMode::kNone,
                     PageOperation::Lock::kExitButton);
    PrepareIdCommands();
    bool ok = false;
    if (!g_link.ReadFlashId(m_chip.m_nBase, m_chip.m_nBusWidth, m_chip.m_nMakerId,
                            m_chip.m_nDeviceId, m_chip.m_commands)) {
        g_link.ReportError();  // a session that did not start says why
        obs.EnableCpuIdButton(true);
        obs.ShowAddress(kError);
    } else {
        if (DecodeIdentification()) {
            PrepareChipCommands();
            ok = LoadFlashHandler();
        }
        ShowFields();
    }
    op.Unlock();
    LogPrintf(
        "Reading FLASH ID --> Manufacturer : %s (%04X) %d x Device : %s (%04X) Size : %08X "
        "bytes %s\n",
        m_chip.m_maker.c_str(), m_chip.m_nMakerId, static_cast<int>(m_chip.m_nChipCount),
        m_chip.m_device.c_str(), m_chip.m_nDeviceId, m_chip.Capacity(), LogResult(ok).c_str());
}

bool CFlashPage::LoadFlashHandler() {
    IMainWindow& obs = Observer();
    const std::string flashPath = TrapHandlerPath(g_settings, FlashHandlerName(m_nPageBusWidth));
    const std::string generalPath = TrapHandlerPath(g_settings, g_settings.m_szTrapName);

    obs.ShowStatus("Load Trap Handler with FLASH management");
    obs.ShowAddress("");
    g_link.SetProgressMode(ProgressMode::kNone);
    // Without a download, without the flash part or with nothing started, the parameters
    // would reach a handler that cannot use them: the load has failed.
    if (!g_link.BeginSession()) {
        g_link.ReportError();
        obs.ShowAddress(kError);
        return false;
    }
    std::vector<uint8_t> image;
    std::string error;
    bool loaded = false;
    NoteStandInHandlers(obs, generalPath);
    if (!BuildTrapImage({generalPath, flashPath}, image, error)) {
        obs.ShowStatus(error);
        obs.ShowAddress(kError);
    } else {
        loaded = g_link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0,
                                        Handler(false));
        obs.ShowAddress(loaded ? kOk : kError);
        obs.EnableDutSelector(!loaded);
    }
    g_link.EndSession();
    if (!loaded) return false;

    if (!g_link.SetFlashParameters(static_cast<uint32_t>(m_nPageBusWidth), m_chip.m_nChipSize,
                                   m_chip.m_nIntel, m_chip.m_nTopBoot, m_chip.m_nWordMode,
                                   m_chip.m_commands)) {
        obs.ShowAddress(kError);
        return false;
    }
    m_strStart = Hex8(m_chip.m_nBase);
    m_chip.m_nChipCount = m_nPageBusWidth == 32 ? 2 : 1;
    m_strSize = Hex8(m_chip.Capacity());
    obs.ShowAddress(kOk);
    return true;
}

bool CFlashPage::InFlash(uint32_t start, uint64_t count) {
    const uint64_t base = m_chip.m_nBase, end = base + m_chip.Capacity();
    if (start >= base && start + count <= end) return true;
    return Refuse("Start " + Hex8(start) + " Size " + Hex8(static_cast<uint32_t>(count)) +
                      ": outside the flash (" + Hex8(m_chip.m_nBase) + " to " +
                      Hex8(static_cast<uint32_t>(end - 1)) + ")",
                  kError);
}

void CFlashPage::OnRead() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    PageOperation op(Observer(), "Read FLASH Data", ProgressMode::kRead);
    std::string path;
    uint32_t done = 0;
    bool ok = false;
    if (InFlash(start, size) && AskFile(false, kFileFilter, "rom", m_strFile, path)) {
        ShowFields();
        ok = ReadToFile(
            path, size, [&](uint8_t* buffer) { return g_link.ReadMemory(start, size, buffer); },
            kError, done);
    }
    op.Unlock();
    LogPrintf("Reading Flash -->    From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CFlashPage::OnErase() {
    IMainWindow& obs = Observer();
    PageOperation op(obs, "Erase FLASH Data", ProgressMode::kNone);
    if (GetUiHost().MessageBox(this, "Confirmation ?", "Effacement de la FLASH",
                               kMbYesNo | kMbIconExclamation) == kIdYes) {
        const bool ok = RequireHandler() && g_link.EraseFlash(m_chip.m_nBase);
        obs.ShowAddress(ok ? kOk : kError);
        LogPrintf("Erasing Flash -->    Base address %08X %s\n", m_chip.m_nBase,
                  LogResult(ok).c_str());
    }
}

bool CFlashPage::AskImageFile(std::string& path) {
    if (!AskFile(true, kFileFilter, "rom", m_strFile, path)) return false;
    ShowFields();
    return true;
}

void CFlashPage::OnWrite() {
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    const char* title = "Write FLASH Data";
    PageOperation op(Observer(), title, ProgressMode::kFlash);
    std::string path;
    std::vector<uint8_t> data;
    uint64_t length = 0;
    bool ok = false;
    g_link.m_nLastCount = 0;
    // A start inside a bus unit would split units across the handler's chunks.
    const uint32_t unit = static_cast<uint32_t>(m_nPageBusWidth) / 8;
    if (unit > 1 && start % unit != 0) {
        Refuse("Start " + Hex8(start) + ": not a multiple of " + std::to_string(unit) + " (" +
                   std::to_string(m_nPageBusWidth) + "-bit bus)",
               kError);
    } else if (AskImageFile(path)) {
        if (ReadFileHead(path, m_chip.Capacity(), data, &length) != FileFault::None) {
            ShowFileFault(Observer(), FileFault::CannotRead, path, kError);
        } else {
            const uint32_t count = std::min(static_cast<uint32_t>(data.size()), size);
            if (InFlash(start, count) && AcceptFileLength(path, length, size, title, "Write")) {
                // The last address shown is where programming stopped; the result says it
                // failed.
                ok = RequireHandler() && g_link.ProgramFlash(start, count, data.data());
                if (!ok) {
                    Observer().ShowAddress(kError);
                    SayWhyNotProgrammed(start, data);
                }
            }
        }
    }
    const uint32_t done = g_link.m_nLastCount;
    op.Unlock();
    LogPrintf("Writing Flash -->    From : %08X Length : %08X bytes %s\n", start, done,
              LogResult(ok, start + done).c_str());
}

void CFlashPage::SayWhyNotProgrammed(uint32_t start, const std::vector<uint8_t>& data) {
    // Programming only clears bits: a unit whose flash bits are 0 where the file has 1 was
    // not erased.
    // Where programming stopped, whatever stopped it: bits there that flash cannot set are a
    // fact, and the reason.
    const uint32_t at = start + g_link.m_nLastCount;
    const uint32_t unit = static_cast<uint32_t>(m_nPageBusWidth) / 8;
    const uint32_t from = at - (at - start) % unit;
    uint8_t flash[4] = {};
    if (g_link.StopRequested() || from - start >= data.size()) return;
    if (!g_link.ReadMemory(from, unit, flash)) {
        g_link.ReportError();
        return;
    }
    for (uint32_t i = 0; i < unit && from - start + i < data.size(); ++i) {
        const uint8_t want = data[from - start + i];
        if ((flash[i] & want) != want) {
            Observer().ShowStatus("Flash not erased at " + Hex8(from + i) + ": ERASE it first");
            return;
        }
    }
}

void CFlashPage::OnVerify() {
    bool result = false;
    uint32_t start = 0, size = 0;
    FetchFields(start, size);
    const char* title = "Verify FLASH Data";
    IMainWindow& obs = Observer();
    PageOperation op(obs, title, ProgressMode::kNone);
    uint32_t length = size;
    uint32_t stopped = start;
    std::string path;
    if (AskImageFile(path)) {
        std::vector<uint8_t> data;
        uint64_t fileLength = 0;
        const DutProfile* p = CurrentProfile();
        const uint32_t chunkSize = p != nullptr ? p->m_nTrapSize : 0;
        if (ReadFileHead(path, m_chip.Capacity(), data, &fileLength) != FileFault::None) {
            obs.ShowStatus("Cannot read " + path);
        } else if (chunkSize == 0) {
            obs.ShowStatus("TRAP_Size is 0: nothing can be compared");
        } else {
            length = std::min(size, static_cast<uint32_t>(data.size()));
            if (InFlash(start, length) &&
                AcceptFileLength(path, fileLength, size, title, "Compare")) {
                obs.StartProgress(length);
                result = CompareFlash(start, length, chunkSize, data, stopped);
                obs.StartProgress(0);
            }
        }
    }
    op.Unlock();
    obs.ShowAddress(result ? kOk : kError);
    LogPrintf("Verifying Flash -->  From : %08X Length : %08X bytes %s\n", start, length,
              LogResult(result, stopped).c_str());
}

bool CFlashPage::CompareFlash(uint32_t start, uint32_t length, uint32_t chunkSize,
                              const std::vector<uint8_t>& data, uint32_t& stopped) {
    IMainWindow& obs = Observer();
    std::vector<uint8_t> chunk;
    try {
        chunk.resize(std::min(chunkSize, length));
    } catch (const std::bad_alloc&) {
        return false;
    }
    bool result = false;
    uint32_t offset = 0;
    uint32_t remaining = length;
    while (remaining != 0) {
        stopped = start + offset;
        const uint32_t n = std::min(remaining, chunkSize);
        // A chunk that could not be read proves nothing, whatever the buffer still holds.
        if (!g_link.ReadMemory(start + offset, n, chunk.data())) {
            g_link.ReportError();
            return false;
        }
        const auto diff = std::mismatch(chunk.begin(), chunk.begin() + n, data.begin() + offset);
        if (diff.first != chunk.begin() + n) {
            const uint32_t at = start + offset + static_cast<uint32_t>(diff.first - chunk.begin());
            char text[80];
            std::snprintf(text, sizeof text, "Verify failed at %08X: expected %02X, found %02X", at,
                          *diff.second, *diff.first);
            obs.ShowStatus(text);
            return false;
        }
        offset += n;
        remaining -= n;
        result = true;
        obs.ShowAddress(Hex8(start + offset - 1));
        obs.SetProgress(offset);
    }
    return result;
}
