#include "cli/Commands.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "cli/CliObserver.h"
#include "config/Settings.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/PortTalk.h"

namespace {

// Target windows are a few MiB; this only keeps a mistyped size from allocating gigabytes.
constexpr uint32_t kMaxTransfer = 64u << 20;
// Trap handlers run from on-chip RAM; anything larger is not a handler.
constexpr uint32_t kMaxTrapImage = 64u << 10;

int PortFromIndex(uint32_t index) {
    switch (index) {
        case 1:
            return 0x278;
        case 2:
            return 0x3BC;
        default:
            return 0x378;
    }
}

// Opens the link on the chosen backend with the chosen profile applied, as the main window
// does at start-up. Closes it when it goes out of scope.
class CliSession {
  public:
    explicit CliSession(const CliOptions& options) : options_(options) {}
    ~CliSession() {
        if (opened_) g_link.Close();
    }

    // 0 when open; otherwise the exit code, after printing why: 2 for a wrong option, 1 when
    // the port cannot be opened.
    int Open() {
        std::string error;
        const std::string spec = port::ResolveDriverSpec(options_.driver);
        auto driver = port::CreatePortDriver(spec, error);
        if (!driver) {
            std::fprintf(stderr, "tapwright-cli: %s\n", error.c_str());
            return 2;
        }
        port::IPortDriver* raw = driver.get();
        port::SelectPortDriver(std::move(driver));

        if (options_.dut >= 0) {
            if (static_cast<uint32_t>(options_.dut) >= g_settings.m_duts.size()) {
                std::fprintf(stderr, "tapwright-cli: --dut %d: Tapwright.ini has %zu profile(s)\n",
                             options_.dut, g_settings.m_duts.size());
                return 2;
            }
            g_settings.m_nDutNum = static_cast<uint32_t>(options_.dut);
        }
        if (options_.lptIndex >= 0) g_settings.m_nLptNum = static_cast<uint32_t>(options_.lptIndex);
        g_link.m_nPort =
            options_.lptBase != 0 ? options_.lptBase : PortFromIndex(g_settings.m_nLptNum);

        // The driver's start-up story is worth showing when it fails; the failed requests
        // of every clock that follow are not.
        std::FILE* messages = std::tmpfile();
        if (messages != nullptr) port::SetPortMessageStream(messages);
        const bool ok = g_link.Open(&observer_) == 0;
        if (!ok) {
            g_link.m_nError = -1;  // nothing to leave on a target that was never reached
            g_link.Close();
        }
        port::SetPortMessageStream(stderr);
        if (messages != nullptr) {
            if (!ok) EchoStartupMessages(messages);
            std::fclose(messages);
        }
        if (!ok) {
            const std::string reason = raw->LastOpenError();
            std::fprintf(stderr, "tapwright-cli: cannot open the '%s' port driver%s%s\n",
                         raw->Name(), reason.empty() ? "" : ": ", reason.c_str());
            return 1;
        }
        opened_ = true;
        ApplyProfile();
        return 0;
    }

    CCliObserver& observer() { return observer_; }

  private:
    static void EchoStartupMessages(std::FILE* messages) {
        std::rewind(messages);
        char line[512];
        while (std::fgets(line, sizeof line, messages) != nullptr) {
            if (std::strncmp(line, "Error occured", 13) != 0 && line[0] != '\n')
                std::fputs(line, stderr);
        }
    }

    void ApplyProfile() {
        g_currentDut = g_settings.m_nDutNum;
        const DutProfile& p = g_settings.m_duts[g_currentDut];
        g_link.m_nTrapBase = p.m_nTrapIptr;
        g_link.m_nParamBlock = p.m_nTrapWptr;
        g_link.m_nBufferAddr = p.m_nTrapData;
        g_link.m_nBufferSize = p.m_nTrapSize;
        g_link.m_pEmiConfig = p.m_emi;
        // No target answering is not an error yet: the operation itself will say so.
        if (g_link.BeginSession()) {
            g_link.WriteEmiConfig();
            g_link.EndSession();
        }
    }

    const CliOptions& options_;
    CCliObserver observer_;
    bool opened_ = false;
};

bool ReadFile(const std::string& path, std::vector<uint8_t>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(data.data()),
              static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out.flush());
}

}  // namespace

int RunMemRead(const CliOptions& options, const std::string& file, uint32_t start, uint32_t size) {
    if (size > kMaxTransfer) {
        std::fprintf(stderr, "tapwright-cli: --size %X is larger than %X bytes\n", size,
                     kMaxTransfer);
        return 2;
    }
    CliSession session(options);
    if (const int rc = session.Open()) return rc;
    g_link.SetProgressMode(1);
    std::vector<uint8_t> buffer(size, 0);  // bytes a failed read leaves unfilled stay zero
    const bool ok = g_link.ReadMemory(start, size, buffer.data());
    if (!ok) g_link.ReportError();
    if (!WriteFile(file, buffer)) {
        std::fprintf(stderr, "tapwright-cli: cannot write %s\n", file.c_str());
        return 1;
    }
    if (!ok) return 1;
    std::printf("Reading Memory -->   From : %08X Length : %08X bytes -> %s\n", start, size,
                file.c_str());
    return 0;
}

int RunMemWrite(const CliOptions& options, const std::string& file, uint32_t start,
                const uint32_t* size) {
    std::vector<uint8_t> data;
    if (!ReadFile(file, data)) {
        std::fprintf(stderr, "tapwright-cli: cannot read %s\n", file.c_str());
        return 1;
    }
    if (size != nullptr && *size < data.size()) data.resize(*size);
    if (data.size() > kMaxTransfer) {
        std::fprintf(stderr, "tapwright-cli: %s is larger than %X bytes\n", file.c_str(),
                     kMaxTransfer);
        return 2;
    }
    CliSession session(options);
    if (const int rc = session.Open()) return rc;
    g_link.SetProgressMode(2);
    const uint32_t length = static_cast<uint32_t>(data.size());
    const bool ok = g_link.WriteMemory(start, length, data.data());
    if (!ok) {
        g_link.ReportError();
        return 1;
    }
    std::printf("Writing Memory -->   From : %08X Length : %08X bytes <- %s\n", start, length,
                file.c_str());
    return 0;
}

namespace {

// Downloads the general trap handler inside its own session, as the main window's LOAD does,
// and prints the DCU state. False after printing why.
bool LoadGeneralHandler() {
    const std::string path = TrapHandlerPath(g_settings, g_settings.m_szTrapName);
    std::vector<uint8_t> image;
    if (!ReadFile(path, image) || image.empty()) {
        std::fprintf(stderr, "tapwright-cli: cannot read the trap handler %s\n", path.c_str());
        return false;
    }
    if (image.size() > kMaxTrapImage) {
        std::fprintf(stderr, "tapwright-cli: the trap handler %s is larger than %u bytes\n",
                     path.c_str(), kMaxTrapImage);
        return false;
    }
    image.resize((image.size() + 3) & ~size_t{3}, 0x20);  // blanks up to a whole word
    g_link.SetProgressMode(0);
    if (!g_link.BeginSession()) {
        g_link.ReportError();
        return false;
    }
    const bool ok = g_link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0);
    g_link.EndSession();
    std::printf("Status : %08X\nCtrl   : %08X\nIptr   : %08X\nWptr   : %08X\n",
                g_link.m_dcuSnapshot[0], g_link.m_dcuSnapshot[1], g_link.m_nTrapBase,
                g_link.m_nParamBlock);
    std::printf("Trap handler %s: %s\n", path.c_str(), ok ? "Ok" : "!!! Error !!!");
    return ok;
}

}  // namespace

int RunTrap(const CliOptions& options, TrapCommand command) {
    CliSession session(options);
    if (const int rc = session.Open()) return rc;
    if (!LoadGeneralHandler()) return 1;
    uint32_t value = 0;
    switch (command) {
        case TrapCommand::Load:
            return 0;
        case TrapCommand::MemStart:
        case TrapCommand::ProcId: {
            const bool ok = command == TrapCommand::MemStart ? g_link.ReadMemStart(value)
                                                             : g_link.ReadProcId(value);
            if (!ok) {
                g_link.ReportError();
                std::fprintf(stderr, "tapwright-cli: no value was read\n");
                return 1;
            }
            std::printf("%s : %08X\n", command == TrapCommand::MemStart ? "MemStart" : "ProcID",
                        value);
            return 0;
        }
        case TrapCommand::Reboot:
            if (!g_link.Reboot()) {
                g_link.ReportError();
                return 1;
            }
            std::printf("*** Reboot ***\n");
            return 0;
    }
    return 2;
}

int RunSettings(const CliOptions&) {
    std::fputs(FormatSettingsReport(g_settings).c_str(), stdout);
    std::printf("(from %s%s)\n", g_settings.FilePath().c_str(),
                g_settings.m_bFileMissing ? ": file absent, defaults shown" : "");
    return 0;
}
