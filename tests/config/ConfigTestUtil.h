// Helpers shared by the settings tests: a private temporary directory per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "config/Settings.h"

class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "tapwright-config-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    std::string File(const std::string& name = "Tapwright.ini") const {
        return (std::filesystem::path(m_dir) / name).string();
    }
    void Write(const std::string& text, const std::string& name = "Tapwright.ini") const {
        std::ofstream(File(name), std::ios::binary) << text;
    }
    std::string Read(const std::string& name = "Tapwright.ini") const {
        std::ifstream in(File(name), std::ios::binary);
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    // A settings file kept with the fuzzer's seeds.
    static std::string Corpus(const std::string& name) {
        const char* root = std::getenv("TAPWRIGHT_SOURCE_DIR");
        std::ifstream in(std::filesystem::path(root != nullptr ? root : "..") / "tests" / "fuzz" /
                             "corpus" / name,
                         std::ios::binary);
        EXPECT_TRUE(in.good()) << name;
        std::ostringstream out;
        out << in.rdbuf();
        return out.str();
    }

    std::string m_dir;
};

// The settings read from a file of the test's own, with what they warned about.
class SettingsFileTest : public TempDirTest {
  protected:
    void SetUp() override {
        TempDirTest::SetUp();
        g_currentDut = 0;
    }
    std::unique_ptr<CSettings> Load() {
        ::testing::internal::CaptureStderr();
        auto s = std::make_unique<CSettings>(m_dir);
        m_warnings = ::testing::internal::GetCapturedStderr();
        return s;
    }
    std::unique_ptr<CSettings> LoadText(const std::string& text) {
        Write(text);
        return Load();
    }

    std::string m_warnings;
};
