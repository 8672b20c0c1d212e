// The driver client's start-up procedure against a scripted service manager, and the two
// port primitives against a recording device.
#include <gtest/gtest.h>

#include <cstdio>
#include <deque>
#include <string>
#include <vector>

#include "port/PortTalk.h"

namespace {

using Log = std::vector<std::string>;

// The next scripted answer; the last one repeats.
template <class T>
T Next(std::deque<T>& answers) {
    const T result = answers.front();
    if (answers.size() > 1) answers.pop_front();
    return result;
}

// One driver with a scripted service manager; every call and port request goes to one log.
class ScriptedDriver final : public port::IPortDriver, public port::IServiceControl {
  public:
    ScriptedDriver(Log& log, bool withServices) : log(log), withServices_(withServices) {}

    std::deque<bool> opens{true};  // outcome of each OpenDevice
    uint32_t managerResult = 0;
    bool systemDirectoryOk = true;
    std::deque<bool> fileReadable{true};
    bool copyOk = true;
    uint32_t createResult = 0;
    std::deque<uint32_t> openServiceResults{0};
    uint32_t startResult = 0;
    bool deviceFails = false;  // requests fail with deviceError; reads answer 0x5A otherwise
    uint32_t deviceError = 0;
    Log& log;

    const char* Name() const override { return "scripted"; }
    std::unique_ptr<port::IPortDevice> OpenDevice() override;
    port::IServiceControl* Services() override { return withServices_ ? this : nullptr; }
    uint32_t OpenManager() override { return Say("OpenManager", managerResult); }
    bool SystemDirectory(std::string& out, size_t maxLen) override {
        if (systemDirectoryOk) out = "C:\\WINDOWS\\system32";
        return Say("SystemDirectory " + std::to_string(maxLen), systemDirectoryOk);
    }
    bool FileReadable(const std::string& path) override {
        return Say("FileReadable " + path, Next(fileReadable));
    }
    bool CopyDriverFile(const std::string& from, const std::string& to) override {
        return Say("Copy " + from + " " + to, copyOk);
    }
    uint32_t CreateDriverService(const std::string& name, const std::string& display,
                                 uint32_t access, uint32_t type, uint32_t start,
                                 uint32_t errorControl, const std::string& binaryPath) override {
        char text[160];
        std::snprintf(text, sizeof text, "CreateService %s %s 0x%X %u %u %u %s", name.c_str(),
                      display.c_str(), access, type, start, errorControl, binaryPath.c_str());
        return Say(text, createResult);
    }
    uint32_t OpenDriverService(const std::string& name, uint32_t access) override {
        char text[64];
        std::snprintf(text, sizeof text, "OpenService %s 0x%X", name.c_str(), access);
        return Say(text, Next(openServiceResults));
    }
    uint32_t StartDriverService() override { return Say("StartService", startResult); }
    void CloseDriverService() override { log.push_back("CloseService"); }

  private:
    template <class T>
    T Say(const std::string& entry, T result) {
        log.push_back(entry);
        return result;
    }
    bool withServices_;
};

// Logs each request as its code, input bytes, output length and whether output is the input.
class RecordingDevice final : public port::IPortDevice {
  public:
    explicit RecordingDevice(ScriptedDriver& driver) : driver_(driver) {}
    bool DeviceIoControl(uint32_t code, const uint8_t* in, uint32_t inLen, uint8_t* out,
                         uint32_t outLen) override {
        char text[24];
        std::snprintf(text, sizeof text, "0x%X", code);
        std::string entry = text;
        for (uint32_t i = 0; i < inLen; ++i) {
            std::snprintf(text, sizeof text, " %02X", in[i]);
            entry += text;
        }
        driver_.log.push_back(entry + " out " + std::to_string(outLen) +
                              (out != nullptr && out == in ? " in place" : ""));
        if (driver_.deviceFails) return false;
        if (out != nullptr && outLen == 1) out[0] = 0x5A;
        return true;
    }
    uint32_t LastError() const override { return driver_.deviceError; }

  private:
    ScriptedDriver& driver_;
};

std::unique_ptr<port::IPortDevice> ScriptedDriver::OpenDevice() {
    log.push_back("OpenDevice");
    return Next(opens) ? std::make_unique<RecordingDevice>(*this) : nullptr;
}

const char* const kVerify =
    "PortTalk: Verify if driver is present in C:\\WINDOWS\\system32\\Drivers\\PortTalk.sys\n";
const char* const kStarted = "PortTalk: The PortTalk driver has been successfully started.\n";
const char* const kCouldNot =
    "PortTalk: Couldn't access PortTalk Driver, Please ensure driver is loaded.\n\n";
const char* const kDriverPath = "C:\\WINDOWS\\system32\\Drivers\\PortTalk.sys";

class PortTalkClient : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    // A fresh driver, log and message stream: one row of a table.
    void Reset(bool withServices = true) {
        port::SelectPortDriver(nullptr);
        port::SetPortMessageStream(nullptr);
        if (out_ != nullptr) std::fclose(out_);
        log.clear();
        out_ = std::tmpfile();
        ASSERT_NE(out_, nullptr);
        port::SetPortMessageStream(out_);
        auto driver = std::make_unique<ScriptedDriver>(log, withServices);
        driver_ = driver.get();
        port::SelectPortDriver(std::move(driver));
    }
    void TearDown() override {
        port::SelectPortDriver(nullptr);
        port::SetPortMessageStream(nullptr);
        std::fclose(out_);
    }
    ScriptedDriver& driver() { return *driver_; }
    std::string Output() {
        std::fflush(out_);
        std::rewind(out_);
        std::string text;
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, out_)) > 0) text.append(buffer, n);
        return text;
    }
    // How many log entries begin with prefix.
    size_t Count(const std::string& prefix) const {
        size_t n = 0;
        for (const auto& e : log) n += e.rfind(prefix, 0) == 0;
        return n;
    }
    size_t IndexOf(const std::string& prefix) const {
        for (size_t i = 0; i < log.size(); ++i)
            if (log[i].rfind(prefix, 0) == 0) return i;
        return log.size();
    }

    Log log;

  private:
    std::FILE* out_ = nullptr;
    ScriptedDriver* driver_ = nullptr;
};

// Service manager answers -> what the start-up returns, says and calls.
TEST_F(PortTalkClient, ServiceCycleTable) {
    const std::string any = "*";  // output not checked
    const std::string path = kDriverPath;
    const struct {
        const char* name;
        std::deque<bool> opens;
        uint32_t manager;
        std::deque<uint32_t> openService;
        uint32_t start;
        bool viaStart;  // StartPortDriver (true/false as 1/0) instead of OpenPortDriver
        int result;
        std::string output;
        Log log;  // exact when not empty
        std::vector<std::pair<std::string, size_t>> counts;
    } rows[] = {
        // clang-format off
        {"device already there", {true}, 0, {0}, 0, false, 0, "", {"OpenDevice"}, {}},
        {"stopped service is started", {false, true}, 0, {0}, 0, false, 0,
         std::string(kVerify) + kStarted,
         {"OpenDevice", "OpenManager", "SystemDirectory 55", "FileReadable " + path,
          "OpenService PortTalk 0xF01FF", "StartService", "CloseService", "OpenDevice"}, {}},
        {"running service without device", {false}, 0, {0}, 1056, false, 255,
         std::string(kVerify) + "PortTalk: The PortTalk driver is already running.\n" + kCouldNot,
         {}, {{"OpenDevice", 2}}},
        {"no rights to the manager", {false}, 5, {0}, 0, false, 255,
         std::string("PortTalk: You do not have rights to access the Service Control Manager and\n"
                     "PortTalk: the PortTalk driver is not installed or started. Please ask \n"
                     "PortTalk: your administrator to install the driver on your behalf.\n") +
             kCouldNot,
         {"OpenDevice", "OpenManager", "OpenDevice"}, {}},
        {"other manager failure goes on", {false, true}, 1722, {0}, 0, false, 0, any, {},
         {{"StartService", 1}}},
        {"missing service is installed and retried", {false, true}, 0, {1060, 0}, 0, false, 0,
         std::string(kVerify) +
             "PortTalk: The PortTalk driver does not exist. Installing driver.\n"
             "PortTalk: This can take up to 30 seconds on some machines . .\n"
             "PortTalk: Copying driver to " + path +
             "\nPortTalk: Driver successfully installed.\n" + kVerify + kStarted,
         {}, {{"OpenService PortTalk 0xF01FF", 2}, {"CreateService", 1}, {"FileReadable " + path, 2}}},
        {"unexpected service error retried a bounded number of times", {false}, 0, {1234}, 0, true,
         0, any, {}, {{"OpenService PortTalk 0xF01FF", 2}, {"StartService", 0}}},
        {"no rights to the service", {true}, 0, {5}, 0, true, 0,
         std::string(kVerify) + "PortTalk: You do not have rights to the PortTalk service database\n",
         {}, {{"StartService", 0}}},
        {"invalid service name", {true}, 0, {123}, 0, true, 0,
         std::string(kVerify) + "PortTalk: The specified service name is invalid.\n", {},
         {{"StartService", 0}}},
        {"failed start", {true}, 0, {0}, 1058, true, 0,
         std::string(kVerify) +
             "PortTalk: Unknown error while starting PortTalk driver service.\n"
             "PortTalk: Does PortTalk.SYS exist in your \\System32\\Drivers Directory?\n",
         {}, {}},
        // clang-format on
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Reset();
        driver().opens = row.opens;
        driver().managerResult = row.manager;
        driver().openServiceResults = row.openService;
        driver().startResult = row.start;
        if (row.viaStart) {
            EXPECT_EQ(StartPortDriver() ? 1 : 0, row.result);
        } else {
            EXPECT_EQ(OpenPortDriver(), row.result);
            EXPECT_EQ(port::OpenedPortDevice() != nullptr, row.result == 0);
        }
        if (row.output != any) {
            EXPECT_EQ(Output(), row.output);
        }
        if (!row.log.empty()) {
            EXPECT_EQ(log, row.log);
        }
        for (const auto& [entry, n] : row.counts) EXPECT_EQ(Count(entry), n) << entry;
    }
}

TEST_F(PortTalkClient, MissingDriverFileIsCopiedBeforeTheServiceIsOpened) {
    driver().opens = {false, true};
    driver().fileReadable = {false};
    driver().createResult = 1073;
    EXPECT_EQ(OpenPortDriver(), 0);
    const size_t copy = IndexOf("Copy "), create = IndexOf("CreateService");
    ASSERT_LT(create, log.size());
    EXPECT_EQ(log[copy], std::string("Copy PortTalk.sys ") + kDriverPath);
    EXPECT_EQ(log[create],
              "CreateService PortTalk PortTalk 0xF01FF 1 3 1 "
              "system32\\drivers\\PortTalk.sys");
    EXPECT_LT(copy, create);
    EXPECT_LT(create, IndexOf("OpenService"));
    EXPECT_EQ(Count("CreateService"), 1u);
    EXPECT_EQ(Output(), std::string(kVerify) + "PortTalk: Failed to find driver in " + kDriverPath +
                            "\nPortTalk: Copying driver to " + kDriverPath +
                            "\nPortTalk: Driver already exists. No action taken.\n" + kStarted);
}

TEST_F(PortTalkClient, InstallReportsCopyAndCreateFailures) {
    driver().copyOk = false;
    driver().createResult = 1072;
    driver().systemDirectoryOk = false;
    InstallPortDriver();
    EXPECT_EQ(log,
              (Log{"SystemDirectory 55", "Copy PortTalk.sys \\Drivers\\PortTalk.sys", "OpenManager",
                   "CreateService PortTalk PortTalk 0xF01FF 1 3 1 "
                   "system32\\drivers\\PortTalk.sys",
                   "CloseService"}));
    const char* manual =
        "PortTalk: Please manually copy driver to your system32/driver directory.\n";
    EXPECT_EQ(Output(),
              std::string("PortTalk: Failed to get System Directory. Is System Directory Path > "
                          "55 Characters?\n") +
                  manual + "PortTalk: Copying driver to \\Drivers\\PortTalk.sys\n" +
                  "PortTalk: Failed to copy driver to \\Drivers\\PortTalk.sys\n" + manual +
                  "PortTalk: Unknown error while creating Service.\n");
}

TEST_F(PortTalkClient, BackendWithoutServicesStartsNothingQuietly) {
    Reset(false);
    driver().opens = {false};
    EXPECT_FALSE(StartPortDriver());
    EXPECT_EQ(CheckPortDriverFile(), -1);
    InstallPortDriver();
    EXPECT_EQ(OpenPortDriver(), 255);
    EXPECT_EQ(log, (Log{"OpenDevice"}));
    EXPECT_EQ(Output(), "");  // its own reason is its LastErrorText
}

TEST_F(PortTalkClient, PortPrimitivesSendTheTwoRequestsLittleEndian) {
    ASSERT_EQ(OpenPortDriver(), 0);
    outportb(0x378, 0x1B);
    EXPECT_EQ(inportb(0x3BD), 0x5A);
    outportb(0xD012, 0xFF);
    EXPECT_EQ(log, (Log{"OpenDevice", "0x9C402414 78 03 1B out 0",
                        "0x9C402410 BD 03 out 1 in place", "0x9C402414 12 D0 FF out 0"}));
    EXPECT_EQ(Output(), "");
}

// A failing device says its error number; no device at all says invalid handle (6).
TEST_F(PortTalkClient, FailedRequestsWriteTheErrorNumber) {
    for (const uint32_t error : {31u, 6u}) {
        Reset();
        driver().deviceFails = true;
        driver().deviceError = error;
        ASSERT_EQ(error == 6 || OpenPortDriver() == 0, true);
        outportb(0x378, 0);
        EXPECT_EQ(inportb(0x379), 0xFF);
        const std::string tail =
            " while talking to PortTalk driver " + std::to_string(error) + "\n";
        EXPECT_EQ(Output(),
                  "Error occured during outportb" + tail + "Error occured during inportb" + tail);
    }
}

}  // namespace
