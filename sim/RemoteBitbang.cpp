#include "sim/RemoteBitbang.h"

#include "sim/Board.h"

#include <chrono>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace sim {

namespace {
constexpr uint8_t kResetPins = Board::kPinTrst | Board::kPinReset;
}

RemoteBitbangServer::RemoteBitbangServer(Board& board) : board_(board) {
    StartSession();
}

void RemoteBitbangServer::StartSession() {
    pins_ = kResetPins;  // both released (high), TCK low
}

bool RemoteBitbangServer::Process(const char* in, size_t n, std::string& out) {
    for (size_t i = 0; i < n; ++i) {
        const char c = in[i];
        if (c >= '0' && c <= '7') {
            const int v = c - '0';
            pins_ = static_cast<uint8_t>((pins_ & kResetPins) | ((v & 4) ? Board::kPinTck : 0) |
                                         ((v & 2) ? Board::kPinTms : 0) |
                                         ((v & 1) ? Board::kPinTdi : 0));
            board_.WriteData(pins_);
        } else if (c == 'R') {
            out.push_back((board_.ReadStatus() & Board::kStatusTdo) ? '1' : '0');
        } else if (c >= 'r' && c <= 'u') {
            const int v = c - 'r';  // asserted lines are low
            pins_ = static_cast<uint8_t>((pins_ & ~kResetPins) | ((v & 2) ? 0 : Board::kPinTrst) |
                                         ((v & 1) ? 0 : Board::kPinReset));
            board_.WriteData(pins_);
        } else if (c == 'Q') {
            return false;
        }
        // 'B', 'b' (blink) and anything else: nothing to do.
    }
    return true;
}

#ifndef _WIN32

RemoteBitbangServer::~RemoteBitbangServer() {
    if (listenFd_ >= 0) ::close(listenFd_);
}

bool RemoteBitbangServer::Listen(uint16_t port, std::string& error) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    const int one = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 1) != 0) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    return true;
}

bool RemoteBitbangServer::Run(const std::atomic<bool>& stop, std::string& error) {
    if (listenFd_ < 0) {
        error = "not listening";
        return false;
    }
    while (!stop.load()) {
        pollfd p{listenFd_, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r < 0) {
            if (errno == EINTR) continue;
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
        if (r == 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            error = std::string("accept: ") + std::strerror(errno);
            return false;
        }
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ServeClient(fd, stop);
        ::close(fd);
    }
    return true;
}

void RemoteBitbangServer::ServeClient(int fd, const std::atomic<bool>& stop) {
    StartSession();
    const uint64_t clocks = board_.Clocks();
    Session session;
    ServeLetters(fd, stop, session);
    if (report_ == nullptr) return;
    std::fprintf(report_, "session: %llu letters, %llu TCK clocks, %.3f s busy\n",
                 static_cast<unsigned long long>(session.letters),
                 static_cast<unsigned long long>(board_.Clocks() - clocks),
                 std::chrono::duration<double>(session.busy).count());
    std::fflush(report_);
}

void RemoteBitbangServer::ServeLetters(int fd, const std::atomic<bool>& stop, Session& session) {
    char buf[65536];
    std::string out;
    out.reserve(sizeof buf);
    auto last = std::chrono::steady_clock::now();
    while (!stop.load()) {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, 100);
        if (r < 0 && errno != EINTR) return;
        if (r <= 0) continue;
        const ssize_t got = ::recv(fd, buf, sizeof buf, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return;  // client gone
        const auto now = std::chrono::steady_clock::now();
        if (now - last < std::chrono::milliseconds(50)) session.busy += now - last;
        last = now;
        size_t take = static_cast<size_t>(got);
        const bool drop = dropAfter_ != 0 && dropAfter_ - session.letters <= take;
        if (drop) take = static_cast<size_t>(dropAfter_ - session.letters);
        session.letters += take;
        out.clear();
        const bool more = Process(buf, take, out) && !drop;
        size_t sent = 0;
        while (sent < out.size()) {
            const ssize_t w = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return;
            sent += static_cast<size_t>(w);
        }
        if (!more) return;
    }
}

#else

RemoteBitbangServer::~RemoteBitbangServer() = default;

bool RemoteBitbangServer::Listen(uint16_t, std::string& error) {
    error = "the remote_bitbang server runs on POSIX systems only";
    return false;
}

bool RemoteBitbangServer::Run(const std::atomic<bool>&, std::string& error) {
    error = "the remote_bitbang server runs on POSIX systems only";
    return false;
}

#endif

}  // namespace sim
