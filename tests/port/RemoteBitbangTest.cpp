// The remote_bitbang client against a small loopback server written here.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "PortRequests.h"
#include "port/RemoteBitbangDriver.h"

namespace {

using port::test::Read;
using port::test::Write;

// One client; records every letter; answers each 'R' with the next character of answers
// (repeating the last). With hangUpAfter > 0 it closes after that many letters.
class LoopbackServer {
  public:
    explicit LoopbackServer(std::string answers, size_t hangUpAfter = 0)
        : answers_(std::move(answers)), hangUpAfter_(hangUpAfter) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            return;
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~LoopbackServer() {
        ::shutdown(listener_, SHUT_RDWR);
        ::close(listener_);
        if (thread_.joinable()) thread_.join();
    }
    uint16_t port() const { return port_; }
    // Letters seen; valid once the client has gone.
    std::string Letters() {
        if (thread_.joinable()) thread_.join();
        return letters_;
    }

  private:
    void Serve() {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) return;
        timeval timeout{5, 0};
        setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        size_t next = 0;
        char buffer[4096];
        for (;;) {
            const long n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            for (long i = 0; i < n; ++i) {
                letters_ += buffer[i];
                if (hangUpAfter_ != 0 && letters_.size() >= hangUpAfter_) {
                    ::close(client);
                    return;
                }
                if (buffer[i] == 'R') {
                    const char answer =
                        answers_[next < answers_.size() ? next : answers_.size() - 1];
                    ++next;
                    ::send(client, &answer, 1, MSG_NOSIGNAL);
                }
            }
            if (letters_.back() == 'Q') break;
        }
        ::close(client);
    }

    std::string answers_;
    size_t hangUpAfter_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::string letters_;
};

TEST(RemoteBitbang, DataWritesBecomePinAndResetLettersAndReadsBecomeR) {
    LoopbackServer server("10");
    ASSERT_NE(server.port(), 0);
    port::RemoteBitbangDriver driver("127.0.0.1", server.port());
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr) << driver.LastErrorText();
    EXPECT_TRUE(Write(*device, 0x378, 0x18));  // resets released, all low
    EXPECT_TRUE(Write(*device, 0x378, 0x1A));  // TCK
    EXPECT_TRUE(Write(*device, 0x378, 0x1D));  // TMS TDI
    EXPECT_TRUE(Write(*device, 0x378, 0x1F));  // TMS TCK TDI
    uint8_t value = 0;
    EXPECT_TRUE(Read(*device, 0x379, value));
    EXPECT_EQ(value, 0x10);
    EXPECT_TRUE(Write(*device, 0x378, 0x10));  // TRST asserted
    EXPECT_TRUE(Write(*device, 0x378, 0x08));  // SRST asserted
    EXPECT_TRUE(Write(*device, 0x378, 0x02));  // both asserted, TCK
    EXPECT_TRUE(Write(*device, 0x378, 0x02));  // same again: pins only
    EXPECT_TRUE(Read(*device, 0x379, value));
    EXPECT_EQ(value, 0x00);
    EXPECT_TRUE(Read(*device, 0x378, value));  // data register reads back locally
    EXPECT_EQ(value, 0x02);
    EXPECT_TRUE(Write(*device, 0x37A, 0x0F));  // control register: not wired, no letter
    device.reset();
    EXPECT_EQ(server.Letters(), "r0437Rt0s0u44RQ");
}

TEST(RemoteBitbang, LongRunsAreBufferedWithoutLosingALetter) {
    LoopbackServer server("1");
    port::RemoteBitbangDriver driver("127.0.0.1", server.port());
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr);
    std::string expected = "r";
    for (int i = 0; i < 20000; ++i) {
        const uint8_t pins = static_cast<uint8_t>(i % 8);
        ASSERT_TRUE(Write(*device, 0x278, static_cast<uint8_t>(0x18 | pins)));
        expected += static_cast<char>('0' + ((pins & 2) ? 4 : 0) + ((pins & 1) ? 2 : 0) +
                                      ((pins & 4) ? 1 : 0));
    }
    uint8_t value = 0;
    EXPECT_TRUE(Read(*device, 0x279, value));
    device.reset();
    EXPECT_EQ(server.Letters(), expected + "RQ");
}

TEST(RemoteBitbang, RefusedConnectionNamesHostPortAndTheServer) {
    uint16_t freePort = 0;
    {
        LoopbackServer probe("0");
        freePort = probe.port();
        port::RemoteBitbangDriver driver("127.0.0.1", freePort);
        driver.OpenDevice();  // let the probe's thread end
    }
    port::RemoteBitbangDriver driver("127.0.0.1", freePort);
    EXPECT_EQ(driver.OpenDevice(), nullptr);
    const std::string p = std::to_string(freePort);
    EXPECT_EQ(driver.LastErrorText(),
              "remote-bitbang: cannot connect to 127.0.0.1:" + p +
                  " (connection refused): start the server with `tapwright-sim --listen " + p +
                  "`");
}

TEST(RemoteBitbang, DroppedConnectionFailsRequestsWithoutHanging) {
    LoopbackServer server("1", 3);
    port::RemoteBitbangDriver driver("127.0.0.1", server.port());
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr);
    bool failed = false;
    uint8_t value = 0;
    for (int i = 0; i < 200 && !failed; ++i) {
        Write(*device, 0x378, 0x1A);
        failed = !Read(*device, 0x379, value);
    }
    EXPECT_TRUE(failed);
    EXPECT_NE(device->LastError(), 0u);
    EXPECT_FALSE(Write(*device, 0x378, 0x18));
    EXPECT_FALSE(Read(*device, 0x379, value));
    EXPECT_EQ(driver.LastErrorText(),
              "remote-bitbang: the connection to 127.0.0.1:" + std::to_string(server.port()) +
                  " was closed (server stopped, or the network went down)");
}

TEST(RemoteBitbang, GarbledAnswerFailsTheRead) {
    LoopbackServer server("x");
    port::RemoteBitbangDriver driver("127.0.0.1", server.port());
    auto device = driver.OpenDevice();
    ASSERT_NE(device, nullptr);
    uint8_t value = 0;
    EXPECT_FALSE(Read(*device, 0x379, value));
    EXPECT_EQ(device->LastError(), 13u);
    EXPECT_EQ(driver.LastErrorText(), "remote-bitbang: 127.0.0.1:" + std::to_string(server.port()) +
                                          " answered 'x' to a TDO read (expected '0' or '1'): is "
                                          "it a remote_bitbang server?");
}

class UnknownHostNet final : public port::INetOs {
  public:
    Socket Connect(const std::string&, uint16_t, std::string& reason, bool& unknownHost) override {
        reason = "unknown host";
        unknownHost = true;
        return kInvalidSocket;
    }
    long Send(Socket, const char*, size_t) override { return -1; }
    long Recv(Socket, char*, size_t) override { return -1; }
    void Close(Socket) override {}
    uint32_t LastError() override { return 0; }
};

TEST(RemoteBitbang, UnknownHostIsNamed) {
    UnknownHostNet net;
    port::RemoteBitbangDriver driver("nowhere.invalid", 5555, net);
    EXPECT_EQ(driver.OpenDevice(), nullptr);
    EXPECT_EQ(driver.LastErrorText(),
              "remote-bitbang: unknown host 'nowhere.invalid' in nowhere.invalid:5555: check the "
              "name, or run `tapwright-sim --listen 5555` here and use 127.0.0.1");
}

}  // namespace
