// Backend selection from the --driver text and the environment.
#include <gtest/gtest.h>

#include <cstdlib>

#include "port/DriverTable.h"

namespace {

std::string ErrorOf(const std::string& spec) {
    std::string error;
    auto driver = port::CreatePortDriver(spec, error);
    EXPECT_EQ(driver, nullptr) << spec;
    return error;
}

std::string NameOf(const std::string& spec) {
    std::string error;
    auto driver = port::CreatePortDriver(spec, error);
    EXPECT_NE(driver, nullptr) << spec << ": " << error;
    return driver ? driver->Name() : "";
}

TEST(DriverTable, BuildsEachBackendByName) {
    EXPECT_EQ(NameOf("sim"), "sim");
    EXPECT_EQ(NameOf("sim,no-target"), "sim");
    EXPECT_EQ(NameOf("remote-bitbang:127.0.0.1:5555"), "remote-bitbang");
    EXPECT_EQ(NameOf("ppdev"), "ppdev");
    EXPECT_EQ(NameOf("direct"), "direct");
}

TEST(DriverTable, BracketedIpv6HostIsUsedWithoutItsBrackets) {
    std::string error;
    auto driver = port::CreatePortDriver("remote-bitbang:[::1]:1", error);
    ASSERT_NE(driver, nullptr) << error;
    EXPECT_EQ(driver->OpenCable({}), nullptr);  // nothing listens on port 1
    const std::string text = driver->LastErrorText();
    EXPECT_NE(text.find("::1:1"), std::string::npos) << text;
    EXPECT_EQ(text.find('['), std::string::npos) << text;
}

TEST(DriverTable, RejectsBadSpecsWithTheFix) {
    EXPECT_EQ(ErrorOf("bogus"),
              "unknown driver 'bogus': valid drivers are ppdev, direct, remote-bitbang:HOST:PORT, "
              "ftdi[:VID:PID][,serial=S][,channel=A-D][,khz=N][,trst=PIN][,srst=PIN], "
              "gpiod:CHIP,tck=N,tms=N,tdi=N,tdo=N[,trst=N][,srst=N], sim[:DIR][,knob...], "
              "ftdi-sim[ftdi options][@ADAPTER-KNOBS...][@sim...], "
              "gpiod-sim[gpiod options][@CHIP-KNOBS][@sim...]");
    EXPECT_NE(ErrorOf("").find("valid drivers are"), std::string::npos);
    EXPECT_NE(ErrorOf("porttalk").find("only on Windows"), std::string::npos);
    EXPECT_EQ(ErrorOf("ppdev:x"), "driver 'ppdev' takes no arguments (got ':x')");
    EXPECT_EQ(ErrorOf("direct,fast"), "driver 'direct' takes no arguments (got ',fast')");
    const std::string needs =
        "driver 'remote-bitbang' needs a host and a port: use "
        "remote-bitbang:HOST:PORT, e.g. remote-bitbang:127.0.0.1:5555";
    EXPECT_EQ(ErrorOf("remote-bitbang"), needs);
    EXPECT_EQ(ErrorOf("remote-bitbang:localhost"), needs);
    EXPECT_EQ(ErrorOf("remote-bitbang::5555"), needs);
    EXPECT_EQ(ErrorOf("remote-bitbang:localhost:"), needs);
    for (const char* port : {"0", "65536", "12a", "99999999999999999999"})
        EXPECT_EQ(
            ErrorOf(std::string("remote-bitbang:localhost:") + port),
            std::string("driver 'remote-bitbang': '") + port + "' is not a TCP port (1-65535)");
}

TEST(DriverTable, OptionThenEnvironmentThenDefault) {
    ::setenv(port::kDriverEnvVar, "sim", 1);
    EXPECT_EQ(port::ResolveDriverSpec("direct"), "direct");
    EXPECT_EQ(port::ResolveDriverSpec(""), "sim");
    ::setenv(port::kDriverEnvVar, "", 1);
    EXPECT_EQ(port::ResolveDriverSpec(""), "ppdev");
    ::unsetenv(port::kDriverEnvVar);
    EXPECT_EQ(port::ResolveDriverSpec(""), port::DefaultDriverName());
}

}  // namespace
