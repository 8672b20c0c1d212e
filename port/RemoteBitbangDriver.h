// A client of OpenOCD's remote_bitbang protocol over TCP: a cable that drives any
// remote_bitbang server (tapwright-sim --listen, or a real adapter that speaks it).
//
// It sends only the protocol's base JTAG letters: '0'-'7' (TCK 4, TMS 2, TDI 1), 'R' (read
// TDO, answered '0' or '1'), 'r' 't' (nTRST released, asserted; nRESET never asserted) and
// 'Q' (goodbye). A clock is its pins with TCK low, an 'R' when its TDO is wanted, then its
// pins with TCK high. Letters are sent in batches and answers read back in batches, as
// OpenOCD's own client does, with a bounded number of reads in flight.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "port/PortDevice.h"

namespace port {

// The socket calls below the client, faked by tests; the default is the real network.
class INetOs {
  public:
    using Socket = intptr_t;
    static constexpr Socket kInvalidSocket = -1;

    virtual ~INetOs() = default;
    // Resolves host and connects (TCP_NODELAY, bounded send and receive waits). On failure
    // returns kInvalidSocket with the reason, unknownHost telling a failed name lookup.
    virtual Socket Connect(const std::string& host, uint16_t port, std::string& reason,
                           bool& unknownHost) = 0;
    // Bytes moved, 0 when the peer closed (Recv), -1 on error (see LastError). Never raises
    // SIGPIPE.
    virtual long Send(Socket socket, const char* data, size_t length) = 0;
    virtual long Recv(Socket socket, char* data, size_t length) = 0;
    virtual void Close(Socket socket) = 0;
    virtual uint32_t LastError() = 0;
};

INetOs& RealNetOs();

class RemoteBitbangDriver final : public IPortDriver {
  public:
    RemoteBitbangDriver(std::string host, uint16_t port, INetOs& net = RealNetOs());
    const char* Name() const override { return "remote-bitbang"; }
    // No port registers: the cable is the whole backend.
    std::unique_ptr<IPortDevice> OpenDevice() override { return nullptr; }
    // Connects; each cable is one connection, ended with 'Q' when the cable goes.
    std::unique_ptr<ICable> OpenCable(const CableOptions& options) override;
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return *error_; }

  private:
    std::string host_;
    uint16_t port_;
    INetOs& net_;
    std::shared_ptr<std::string> error_ = std::make_shared<std::string>();
};

}  // namespace port
