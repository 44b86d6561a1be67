#pragma once

#include "server/TcpListener.h"
#include "server/TcpListenerParameters.h"

#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>
#include <cstdint>
#include <memory>
#include <optional>

namespace varnello {

// A TCP listener over an Asio acceptor. Made by AsioTcpTransport. The handler
// setters and start may be called from any thread before start; port and
// cancel on the server queue (cancel from elsewhere is carried there). Every
// handler runs on the server queue. While it listens, its pending accept holds
// it alive: the owner cancels it before letting go.
class AsioTcpListener final : public TcpListener,
                              public std::enable_shared_from_this<AsioTcpListener> {
public:
    // requiredEndpoint: the parsed required local endpoint, when the
    // parameters have one; without it the listener takes every address.
    AsioTcpListener(asio::io_context& context, TcpListenerParameters parameters,
                    std::optional<asio::ip::tcp::endpoint> requiredEndpoint);

    AsioTcpListener(const AsioTcpListener&) = delete;
    AsioTcpListener& operator=(const AsioTcpListener&) = delete;

    void setStateUpdateHandler(StateHandler handler) override;
    void setNewConnectionHandler(NewConnectionHandler handler) override;
    void start() override;
    std::optional<std::uint16_t> port() const override;
    void cancel() override;

private:
    void open();
    std::error_code bindAndListen(const asio::ip::tcp::endpoint& endpoint, bool dualStack);
    void acceptNext();
    void onAcceptable(const std::error_code& error);
    void retryAcceptLater();
    void acceptOne();
    std::error_code configureAccepted(int descriptor) const;
    void fail(const TransportError& error);
    void cancelOnQueue();
    void report(State state, const std::optional<TransportError>& error);

    asio::io_context& context_;
    TcpListenerParameters parameters_;
    std::optional<asio::ip::tcp::endpoint> requiredEndpoint_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retryTimer_;
    StateHandler stateHandler_;
    NewConnectionHandler newConnectionHandler_;
    std::optional<std::uint16_t> port_;
    bool started_ = false;
    bool cancelled_ = false;
    bool failed_ = false;
};

} // namespace varnello
