// What an operator types into a page's fields and the files a page reads and writes.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/ObserverRecorder.h"
#include "support/TestProcess.h"
#include "ui/AppState.h"
#include "ui/PageFiles.h"

namespace {

TEST(PageFields, TypedHexadecimalGivesTheValueOrSaturates) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"7FF00000", 0x7FF00000}, {"c0000000", 0xC0000000}, {"10zz", 0x10}, {"", 0}, {"xyz", 0},
        {"FFFFFFFF", 0xFFFFFFFF}, {"100000000", 0xFFFFFFFF}};
    for (const auto& [text, value] : cases) EXPECT_EQ(ParseHexField(text), value) << text;
}

// A file that cannot be used is never taken for a good one, and the status says which.
TEST(PageFiles, EveryFaultIsReportedWithItsPath) {
    const std::string dir = test::ScratchDir().string();
    const uint8_t data[3] = {1, 2, 3};
    std::vector<uint8_t> head;
    uint64_t length = 0;
    std::FILE* f = std::fopen((dir + "/three.bin").c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(data, 1, 3, f), 3u);
    ASSERT_EQ(std::fclose(f), 0);
    EXPECT_EQ(ReadFileHead(dir + "/three.bin", 2, head, &length), FileFault::None);
    EXPECT_EQ(head, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(length, 3u);

    const std::pair<FileFault, const char*> cases[] = {
        {ReadFileHead(dir + "/absent.bin", 8, head), "Cannot open"},
        {FileFault::CannotCreate, "Cannot create"},
        {FileFault::CannotWrite, "Cannot write"},
        {FileFault::CannotRead, "Cannot read"}};
    for (const auto& [fault, text] : cases) {
        test::ObserverRecorder observer;
        ShowFileFault(observer, fault, "p", "!!! Error !!!");
        EXPECT_EQ(observer.calls,
                  (std::vector<std::string>{"ShowStatus(" + std::string(text) + " p)",
                                            "ShowAddress(!!! Error !!!)"}));
    }
}

}  // namespace
