// The remote_bitbang server. What its letters do, one client after another, is checked
// through the host's remote_bitbang cable (tests/port/CableTest.cpp) and by OpenOCD itself
// (tests/openocd_scan.sh).
#include <gtest/gtest.h>

#include <string>

#include "sim/Board.h"
#include "sim/RemoteBitbang.h"

namespace {

TEST(RemoteBitbangServer, BusyPortIsAClearError) {
    sim::Board board{sim::Options{}};
    sim::RemoteBitbangServer first(board), second(board);
    std::string error;
    ASSERT_TRUE(first.Listen(0, error));
    EXPECT_FALSE(second.Listen(first.port(), error));
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
}

}  // namespace
