#include "port/RemoteBitbangDriver.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/CableWiring.h"

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

// Letters are collected in a fixed buffer and sent before each TDO read or when it fills.
class RemoteBitbangDevice final : public RegisterPortDevice<RemoteBitbangDevice> {
  public:
    RemoteBitbangDevice(INetOs& net, INetOs::Socket socket, std::string where,
                        std::shared_ptr<std::string> error)
        : net_(net), socket_(socket), where_(std::move(where)), error_(std::move(error)) {}

    ~RemoteBitbangDevice() override {
        if (!broken_) {
            Put('Q');
            Flush();
        }
        net_.Close(socket_);
    }

    bool Access(bool write, uint16_t address, uint8_t& value) {
        if (broken_) return false;
        const unsigned reg = address & 3u;
        if (write) {  // only the data register is wired
            return reg == cable::kDataRegister ? WriteData(value) : true;
        }
        switch (reg) {
            case cable::kDataRegister:
                value = data_;
                return true;
            case cable::kStatusRegister:
                return ReadStatus(value);
            default:
                value = 0;
                return true;
        }
    }

  private:
    bool WriteData(uint8_t value) {
        // 'r'..'u': TRST asserted in bit 1, SRST in bit 0; both lines are active low here.
        const char reset = static_cast<char>('r' + (((value & cable::kNTrst) == 0) ? 2 : 0) +
                                             (((value & cable::kNReset) == 0) ? 1 : 0));
        if (reset != lastReset_) {
            if (!Put(reset)) return false;
            lastReset_ = reset;
        }
        data_ = value;
        // '0'..'7': TCK in bit 2, TMS in bit 1, TDI in bit 0.
        return Put(static_cast<char>('0' + ((value & cable::kTck) ? 4 : 0) +
                                     ((value & cable::kTms) ? 2 : 0) +
                                     ((value & cable::kTdi) ? 1 : 0)));
    }

    bool ReadStatus(uint8_t& status) {
        if (!Put('R') || !Flush()) return false;
        char answer = 0;
        const long n = net_.Recv(socket_, &answer, 1);
        if (n != 1) return Broken(n == 0 ? kErrorConnectionReset : net_.LastError());
        if (answer != '0' && answer != '1') {
            char shown[8];
            std::snprintf(shown, sizeof shown, (answer > ' ' && answer < 127) ? "'%c'" : "0x%02X",
                          static_cast<unsigned char>(answer));
            Broken(kErrorInvalidData);
            *error_ = "remote-bitbang: " + where_ + " answered " + shown +
                      " to a TDO read (expected '0' or '1'): is it a remote_bitbang server?";
            return false;
        }
        status = answer == '1' ? cable::kTdo : 0;
        return true;
    }

    bool Put(char letter) {
        if (used_ == sizeof buffer_ && !Flush()) return false;
        buffer_[used_++] = letter;
        return true;
    }

    bool Flush() {
        size_t sent = 0;
        while (sent < used_) {
            const long n = net_.Send(socket_, buffer_ + sent, used_ - sent);
            if (n <= 0) return Broken(n == 0 ? kErrorConnectionReset : net_.LastError());
            sent += static_cast<size_t>(n);
        }
        used_ = 0;
        return true;
    }

    bool Broken(uint32_t error) {
        broken_ = true;
        used_ = 0;
        lastError_ = error != 0 ? error : kErrorConnectionReset;
        *error_ = "remote-bitbang: the connection to " + where_ + " " + Why(lastError_);
        return false;
    }

    INetOs& net_;
    INetOs::Socket socket_;
    std::string where_;
    std::shared_ptr<std::string> error_;  // the driver's LastErrorText
    char buffer_[4096];
    size_t used_ = 0;
    char lastReset_ = 0;
    uint8_t data_ = 0;
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

std::unique_ptr<IPortDevice> RemoteBitbangDriver::OpenDevice() {
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
    return std::make_unique<RemoteBitbangDevice>(net_, socket, host_ + ":" + std::to_string(port_),
                                                 error_);
}

}  // namespace port
