// Helpers shared by the settings tests: a private temporary directory per test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

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

    std::string m_dir;
};
