// OpenOCD's remote_bitbang protocol served from the virtual board, on 127.0.0.1 only.
//
// One ASCII letter per request: '0'..'7' set TCK (4), TMS (2) and TDI (1); 'R' answers TDO as
// '0' or '1'; 'r' 's' 't' 'u' set the reset lines, trst asserted = 2, srst asserted = 1
// ('r' releases both); 'B' 'b' are the blink light; 'Q' ends the client's session.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

class Board;

class RemoteBitbangServer {
  public:
    explicit RemoteBitbangServer(Board& board);
    ~RemoteBitbangServer();
    RemoteBitbangServer(const RemoteBitbangServer&) = delete;
    RemoteBitbangServer& operator=(const RemoteBitbangServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port) and listens.
    bool Listen(uint16_t port, std::string& error);
    uint16_t port() const { return port_; }

    // Serves clients one after the other until stop is set (looked at every 100 ms).
    // Returns false with a message if the listening socket fails.
    bool Run(const std::atomic<bool>& stop, std::string& error);

    // The protocol without the socket: applies the letters to the board and appends the
    // answers of 'R' to out. Returns false once 'Q' is seen (the rest is ignored).
    bool Process(const char* in, size_t n, std::string& out);

    // Start of a client session: both reset lines released, TCK low.
    void StartSession();

    // A cable pulled mid-operation: each client's connection is closed after this many
    // letters (0: never).
    void DropAfter(uint64_t letters) { dropAfter_ = letters; }

    // One line per client session into `out` (null: none): letters, rising TCK edges, and the
    // time the session was busy (pauses of 50 ms or more left out: a client's sleeps).
    void ReportSessionsTo(std::FILE* out) { report_ = out; }

  private:
    struct Session {
        uint64_t letters = 0;
        std::chrono::steady_clock::duration busy{};
    };
    void ServeClient(int fd, const std::atomic<bool>& stop);
    void ServeLetters(int fd, const std::atomic<bool>& stop, Session& session);

    Board& board_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    uint8_t pins_ = 0;
    uint64_t dropAfter_ = 0;
    std::FILE* report_ = nullptr;
};

}  // namespace sim
