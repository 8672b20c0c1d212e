#include "port/RemoteBitbangDriver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/PortTalk.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace port {

namespace {

constexpr uint32_t kErrorInvalidData = 13;
constexpr uint32_t kErrorConnectionReset = 10054;  // WSAECONNRESET, also used on Linux
constexpr int kIoTimeoutSeconds = 5;

// How a connection in use failed, for the operator.
std::string Why(uint32_t error) {
    const char* closed = "was closed (server stopped, or the network went down)";
    const std::string timedOut =
        "timed out: no answer within " + std::to_string(kIoTimeoutSeconds) + " s";
    if (error == kErrorConnectionReset) return closed;
#ifdef _WIN32
    if (error == WSAETIMEDOUT) return timedOut;
    return "failed (error " + std::to_string(error) + ")";
#else
    if (error == ECONNRESET || error == EPIPE) return closed;
    if (error == EAGAIN || error == EWOULDBLOCK) return timedOut;
    return std::string("failed: ") + std::strerror(static_cast<int>(error));
#endif
}

class RealNet final : public INetOs {
  public:
    Socket Connect(const std::string& host, uint16_t port, std::string& reason,
                   bool& unknownHost) override {
#ifdef _WIN32
        static const bool started = [] {
            WSADATA data;
            return WSAStartup(MAKEWORD(2, 2), &data) == 0;
        }();
        if (!started) {
            reason = "Winsock could not start";
            return kInvalidSocket;
        }
#endif
        unknownHost = false;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const std::string service = std::to_string(port);
        if (getaddrinfo(host.c_str(), service.c_str(), &hints, &list) != 0 || list == nullptr) {
            unknownHost = true;
            reason = "unknown host";
            return kInvalidSocket;
        }
        Socket result = kInvalidSocket;
        reason = "connection refused";
        for (addrinfo* a = list; a != nullptr && result == kInvalidSocket; a = a->ai_next) {
            const auto s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
#ifdef _WIN32
            if (s == INVALID_SOCKET) continue;
            if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
                if (WSAGetLastError() != WSAECONNREFUSED) reason = "cannot connect";
                closesocket(s);
                continue;
            }
            const DWORD timeout = kIoTimeoutSeconds * 1000;
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                       sizeof timeout);
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                       sizeof timeout);
#else
            if (s < 0) continue;
            if (::connect(s, a->ai_addr, a->ai_addrlen) != 0) {
                if (errno != ECONNREFUSED) reason = std::strerror(errno);
                ::close(s);
                continue;
            }
            timeval timeout{kIoTimeoutSeconds, 0};
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
            setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
#endif
            const int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                       sizeof one);
            result = static_cast<Socket>(s);
        }
        freeaddrinfo(list);
        return result;
    }

    long Send(Socket socket, const char* data, size_t length) override {
#ifdef _WIN32
        return ::send(static_cast<SOCKET>(socket), data, static_cast<int>(length), 0);
#else
        return ::send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
#endif
    }

    long Recv(Socket socket, char* data, size_t length) override {
#ifdef _WIN32
        return ::recv(static_cast<SOCKET>(socket), data, static_cast<int>(length), 0);
#else
        return ::recv(static_cast<int>(socket), data, length, 0);
#endif
    }

    void Close(Socket socket) override {
#ifdef _WIN32
        closesocket(static_cast<SOCKET>(socket));
#else
        ::close(static_cast<int>(socket));
#endif
    }

    uint32_t LastError() override {
#ifdef _WIN32
        return static_cast<uint32_t>(WSAGetLastError());
#else
        return static_cast<uint32_t>(errno);
#endif
    }
};

// Letters wait in a fixed buffer until it fills, a flush, or too many reads are in flight.
// Each queued read remembers the TDO bit it fills; answers come back in the order sent.
class RemoteBitbangCable final : public ICable {
  public:
    RemoteBitbangCable(INetOs& net, INetOs::Socket socket, std::string where,
                       std::shared_ptr<std::string> error)
        : net_(net), socket_(socket), where_(std::move(where)), error_(std::move(error)) {
        Put(reset_);  // a server need not start a session with both resets released
    }

    ~RemoteBitbangCable() override {
        if (!broken_) {
            Put('Q');
            Send();
        }
        net_.Close(socket_);
    }

    void SetTrst(bool released) override {
        const char letter = released ? 'r' : 't';  // 't': trst asserted, srst released
        if (letter == reset_) return;
        if (tckHigh_) Put(low_);  // the last clock ends before a reset can swallow its edge
        tckHigh_ = false;
        reset_ = letter;
        Put(letter);
    }

    void QueueClocks(uint32_t count, const uint32_t* tms, const uint32_t* tdi, const uint32_t* want,
                     uint32_t* tdo) override {
        for (uint32_t i = 0; i < count; ++i) {
            low_ = static_cast<char>('0' + (ClockBit(tms, i) ? 2 : 0) + (ClockBit(tdi, i) ? 1 : 0));
            Put(low_);
            if (tdo != nullptr && (want == nullptr || ClockBit(want, i)))
                Read(tdo + i / 32, 1u << (i % 32));
            Put(static_cast<char>(low_ + 4));
            tckHigh_ = true;
        }
    }

    bool Flush() override {
        if (!broken_) Receive(0);
        return Reported("inportb");
    }

    void Park() override {
        Put('0');
        tckHigh_ = false;
        Send();
        Reported("outportb");
    }

  private:
    struct Sample {
        uint32_t* word;
        uint32_t mask;
    };
    static constexpr size_t kSendBytes = 4096;
    // Answers not yet read stay within any socket buffer, so the server never blocks on its
    // sends while this side blocks on its own.
    static constexpr size_t kMaxReads = 1024;

    void Put(char letter) {
        if (broken_) return;
        if (used_ == kSendBytes && !Send()) return;
        out_[used_++] = letter;
    }

    void Read(uint32_t* word, uint32_t mask) {
        if (count_ == kMaxReads) Receive(kMaxReads / 2);  // the rest stay in flight
        if (broken_) {
            *word |= mask;
            return;
        }
        reads_[(head_ + count_) % kMaxReads] = {word, mask};
        ++count_;
        Put('R');
    }

    bool Send() {
        size_t sent = 0;
        while (!broken_ && sent < used_) {
            const long n = net_.Send(socket_, out_ + sent, used_ - sent);
            if (n <= 0) return Broken(n == 0 ? kErrorConnectionReset : net_.LastError());
            sent += static_cast<size_t>(n);
        }
        used_ = 0;
        return !broken_;
    }

    // Sends what waits, then reads answers until no more than `keep` reads are in flight.
    void Receive(size_t keep) {
        if (!Send()) return;
        while (count_ > keep) {
            const long n = net_.Recv(socket_, in_, count_);
            if (n <= 0) {
                Broken(n == 0 ? kErrorConnectionReset : net_.LastError());
                return;
            }
            for (long k = 0; k < n; ++k) {
                const char answer = in_[k];
                if (answer != '0' && answer != '1') {
                    BadAnswer(answer);
                    return;
                }
                const Sample s = reads_[head_];
                head_ = (head_ + 1) % kMaxReads;
                --count_;
                *s.word = answer == '1' ? *s.word | s.mask : *s.word & ~s.mask;
            }
        }
    }

    // Reads still in flight will never be answered: they read as an open TDO line.
    bool Broken(uint32_t error) {
        broken_ = true;
        used_ = 0;
        for (; count_ > 0; --count_, head_ = (head_ + 1) % kMaxReads)
            *reads_[head_].word |= reads_[head_].mask;
        errorCode_ = error != 0 ? error : kErrorConnectionReset;
        *error_ = "remote-bitbang: the connection to " + where_ + " " + Why(errorCode_);
        return false;
    }

    void BadAnswer(char answer) {
        char shown[8];
        std::snprintf(shown, sizeof shown, (answer > ' ' && answer < 127) ? "'%c'" : "0x%02X",
                      static_cast<unsigned char>(answer));
        Broken(kErrorInvalidData);
        *error_ = "remote-bitbang: " + where_ + " answered " + shown +
                  " to a TDO read (expected '0' or '1'): is it a remote_bitbang server?";
    }

    // Every call on a broken cable is one failed request for the port client's count.
    bool Reported(const char* primitive) {
        if (broken_) RequestFailed(primitive, errorCode_);
        return !broken_;
    }

    INetOs& net_;
    INetOs::Socket socket_;
    std::string where_;
    std::shared_ptr<std::string> error_;  // the driver's LastErrorText
    char out_[kSendBytes];
    size_t used_ = 0;
    Sample reads_[kMaxReads];
    size_t head_ = 0;
    size_t count_ = 0;
    char in_[kMaxReads];
    char reset_ = 'r';
    char low_ = '0';  // the last clock's letter with TCK low
    bool tckHigh_ = false;
    uint32_t errorCode_ = 0;
    bool broken_ = false;
};

}  // namespace

INetOs& RealNetOs() {
    // Never destroyed: a device still open at exit flushes through it after main returns.
    static RealNet* net = new RealNet;
    return *net;
}

RemoteBitbangDriver::RemoteBitbangDriver(std::string host, uint16_t port, INetOs& net)
    : host_(std::move(host)), port_(port), net_(net) {}

std::unique_ptr<ICable> RemoteBitbangDriver::OpenCable(const CableOptions&) {
    std::string reason;
    bool unknownHost = false;
    const INetOs::Socket socket = net_.Connect(host_, port_, reason, unknownHost);
    if (socket == INetOs::kInvalidSocket) {
        const std::string where = host_ + ":" + std::to_string(port_);
        if (unknownHost)
            *error_ = "remote-bitbang: unknown host '" + host_ + "' in " + where +
                      ": check the name, or run `tapwright-sim --listen " + std::to_string(port_) +
                      "` here and use 127.0.0.1";
        else
            *error_ = "remote-bitbang: cannot connect to " + where + " (" + reason +
                      "): start the server with `tapwright-sim --listen " + std::to_string(port_) +
                      "`";
        return nullptr;
    }
    error_->clear();
    return std::make_unique<RemoteBitbangCable>(net_, socket, host_ + ":" + std::to_string(port_),
                                                error_);
}

}  // namespace port
