// The remote_bitbang server, by its letters and over a real loopback socket.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "sim/Board.h"
#include "sim/RemoteBitbang.h"

namespace {

// Letters that read the IDCODE: TAP reset, IR 2, DR scan of 32 bits with 'R' before each
// rising edge.
std::string IdcodeLetters() {
    std::string s;
    auto clock = [&](int tms, int tdi, bool read) {
        const char low = static_cast<char>('0' + (tms ? 2 : 0) + (tdi ? 1 : 0));
        if (read) s += 'R';
        s += low;
        s += static_cast<char>(low + 4);
        s += low;
    };
    for (int i = 0; i < 5; ++i) clock(1, 0, false);
    clock(0, 0, false);
    for (int t : {1, 1, 0, 0}) clock(t, 0, false);
    for (int i = 0; i < 5; ++i) clock(i == 4, (2 >> i) & 1, false);
    clock(1, 0, false);
    for (int t : {1, 0, 0}) clock(t, 0, false);
    for (int i = 0; i < 32; ++i) clock(i == 31, 0, true);
    clock(1, 0, false);
    return s;
}

uint32_t Decode(const std::string& bits) {
    uint32_t v = 0;
    for (size_t i = 0; i < bits.size() && i < 32; ++i)
        if (bits[i] == '1') v |= 1u << i;
    return v;
}

TEST(RemoteBitbangServer, LettersDriveThePins) {
    sim::Board board{sim::Options{}};
    sim::RemoteBitbangServer server(board);
    std::string out;
    EXPECT_TRUE(server.Process("7", 1, out));
    EXPECT_EQ(board.ReadData(), 0x1F);  // TCK, TMS, TDI with both resets released
    EXPECT_TRUE(server.Process("1", 1, out));
    EXPECT_EQ(board.ReadData(), 0x1C);
    EXPECT_TRUE(server.Process("t", 1, out));  // trst asserted
    EXPECT_EQ(board.ReadData(), 0x14);
    EXPECT_TRUE(server.Process("2", 1, out));  // keeps the reset levels
    EXPECT_EQ(board.ReadData(), 0x11);
    EXPECT_TRUE(server.Process("s", 1, out));  // srst asserted only
    EXPECT_EQ(board.ReadData(), 0x09);
    EXPECT_TRUE(server.Process("u", 1, out));
    EXPECT_EQ(board.ReadData(), 0x01);
    EXPECT_TRUE(server.Process("rBb\n", 4, out));
    EXPECT_EQ(board.ReadData(), 0x19);
    EXPECT_TRUE(out.empty());
    const std::string letters = IdcodeLetters();
    EXPECT_TRUE(server.Process(letters.data(), letters.size(), out));
    EXPECT_EQ(Decode(out), 0x0D4C9041u);
    out.clear();
    EXPECT_FALSE(server.Process("RQR", 3, out));  // nothing after 'Q'
    EXPECT_EQ(out.size(), 1u);
}

int Connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval tv{5, 0};  // a broken server fails the test instead of hanging it
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    return fd;
}

std::string Exchange(int fd, const std::string& letters, size_t answers) {
    if (::send(fd, letters.data(), letters.size(), 0) != static_cast<ssize_t>(letters.size()))
        return {};
    std::string got;
    char buf[256];
    while (got.size() < answers) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    return got;
}

TEST(RemoteBitbangServer, ServesClientsOneAfterAnotherOverLoopback) {
    sim::Options options;
    options.idcode = 0x3D4C9041;
    sim::Board board(options);
    sim::RemoteBitbangServer server(board);
    std::string error;
    ASSERT_TRUE(server.Listen(0, error)) << error;
    ASSERT_NE(server.port(), 0);
    std::atomic<bool> stop{false};
    bool runOk = false;
    std::thread thread([&] { runOk = server.Run(stop, error); });

    const std::string letters = IdcodeLetters();
    for (int client = 0; client < 2; ++client) {
        const int fd = Connect(server.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Decode(Exchange(fd, letters, 32)), 0x3D4C9041u) << "client " << client;
        if (client == 0) ::send(fd, "Q", 1, 0);  // leaves politely; the second one just hangs up
        ::close(fd);
    }
    stop = true;
    thread.join();
    EXPECT_TRUE(runOk) << error;
}

TEST(RemoteBitbangServer, DropsTheConnectionAfterTheGivenLetters) {
    sim::Board board{sim::Options{}};
    sim::RemoteBitbangServer server(board);
    std::string error;
    ASSERT_TRUE(server.Listen(0, error)) << error;
    server.DropAfter(5);
    std::atomic<bool> stop{false};
    std::thread thread([&] { server.Run(stop, error); });

    // Three reads arrive in one piece: the two within the limit are answered, then the
    // connection closes.
    for (int client = 0; client < 2; ++client) {
        const int fd = Connect(server.port());
        ASSERT_GE(fd, 0);
        EXPECT_EQ(Exchange(fd, "1R1R1R", 3).size(), 2u) << "client " << client;
        char c = 0;
        EXPECT_EQ(::recv(fd, &c, 1, 0), 0) << "closed, client " << client;
        ::close(fd);
    }
    stop = true;
    thread.join();
}

TEST(RemoteBitbangServer, BusyPortIsAClearError) {
    sim::Board board{sim::Options{}};
    sim::RemoteBitbangServer first(board), second(board);
    std::string error;
    ASSERT_TRUE(first.Listen(0, error));
    EXPECT_FALSE(second.Listen(first.port(), error));
    EXPECT_NE(error.find("cannot listen"), std::string::npos) << error;
}

}  // namespace
