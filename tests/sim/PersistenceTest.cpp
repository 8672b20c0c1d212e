// Board memory files that are not what the board wrote, and the backdoor. Contents kept
// between runs are checked by the CLI tests on a board folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "sim/Board.h"
#include "sim/StandInHandlers.h"

namespace fs = std::filesystem;

namespace {

struct Persistence : ::testing::Test {
    fs::path dir;
    void SetUp() override {
        dir =
            fs::temp_directory_path() /
            ("tapwright-sim-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    sim::Options WithDir(const fs::path& d) {
        sim::Options o;
        o.dir = d.string();
        return o;
    }
};

TEST_F(Persistence, ShortAndOversizedFilesAreTakenSafely) {
    fs::create_directories(dir);
    {
        std::ofstream(dir / "sdram.bin", std::ios::binary) << "\x01\x02\x03";
        std::vector<char> big(2 * 1024 * 1024, '\x5A');
        std::ofstream f(dir / "flash0.bin", std::ios::binary);
        f.write(big.data(), static_cast<std::streamsize>(big.size()));
    }
    sim::Board board(WithDir(dir));
    EXPECT_EQ(board.ReadWord(0xC0000000), 0x00030201u);
    EXPECT_EQ(board.ReadWord(0xC0000004), 0u);
    EXPECT_EQ(board.ReadWord(0x7FFFFFFC), 0x5A5A5A5Au);
    EXPECT_EQ(board.ReadWord(0x80000000), 0u);  // no iram.bin: reset contents
}

TEST_F(Persistence, DirectoryThatIsAFileIsReportedNotFatal) {
    fs::create_directories(dir);
    const fs::path file = dir / "plain";
    std::ofstream(file) << "x";
    testing::internal::CaptureStderr();
    {
        sim::Board board(WithDir(file));
        board.WriteWord(0xC0000000, 1);
        EXPECT_EQ(board.ReadWord(0xC0000000), 1u);
    }
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("not a directory"), std::string::npos) << err;
    EXPECT_NE(err.find("not saved"), std::string::npos) << err;
}

TEST(Backdoor, CrossesRegionsAndLeavesCountersAlone) {
    sim::Board board{sim::Options{}};
    std::vector<uint8_t> in(16);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(0xA0 + i);
    board.WriteBytes(0xC07FFFF8, in.data(), in.size());  // last 8 bytes of SDRAM, then unmapped
    std::vector<uint8_t> out(16);
    board.ReadBytes(0xC07FFFF8, out.data(), out.size());
    EXPECT_TRUE(std::equal(in.begin(), in.begin() + 8, out.begin()));
    EXPECT_EQ(out[8], 0xDE);
    EXPECT_EQ(out[9], 0xC0);
    EXPECT_EQ(board.UnmappedReads(), 0u);
    EXPECT_EQ(board.UnmappedWrites(), 0u);
    // The top of the address space does not wrap into low memory.
    board.ReadBytes(0xFFFFFFFE, out.data(), 2);
    EXPECT_EQ(out[0], 0xAD);
    EXPECT_EQ(out[1], 0xDE);
}

}  // namespace

// The handler files shipped in TrapHandlers/ are exactly what the board's generator writes.
TEST(StandIns, CommittedFilesAreTheGeneratedOnes) {
    const char* root = std::getenv("TAPWRIGHT_SOURCE_DIR");
    ASSERT_NE(root, nullptr);
    for (const auto& h : sim::StandInHandlers()) {
        std::ifstream f(fs::path(root) / "TrapHandlers" / h.file, std::ios::binary);
        ASSERT_TRUE(f) << h.file;
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(f), {}};
        EXPECT_EQ(bytes, sim::BuildTrapPart(h.part, h.description)) << h.file;
        const auto parsed = sim::ParseTrapPart(bytes.data(), bytes.size());
        ASSERT_TRUE(parsed) << h.file;
        EXPECT_EQ(parsed->kind, h.part.kind);
    }
    const fs::path notADir = fs::temp_directory_path() / "tapwright-standins-not-a-dir";
    std::ofstream(notADir.string()) << "x";
    std::string error;
    EXPECT_FALSE(sim::WriteStandInHandlers(notADir.string(), error));
    EXPECT_FALSE(error.empty());
    fs::remove(notADir);
}
