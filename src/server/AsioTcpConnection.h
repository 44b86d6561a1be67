#pragma once

#include "server/TcpConnection.h"

#include <asio/ip/tcp.hpp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

namespace varnello {

// A TCP connection over an Asio socket. Server queue only: every method is
// called on the thread that runs the socket's io_context, and every handler
// and completion runs there. Pending operations hold the connection alive, so
// the owner releases it only after cancel (or once nothing is pending).
class AsioTcpConnection final : public TcpConnection,
                                public std::enable_shared_from_this<AsioTcpConnection> {
public:
    // socket: connected, made on `context`, whose thread is the server queue.
    AsioTcpConnection(asio::io_context& context, asio::ip::tcp::socket socket);

    AsioTcpConnection(const AsioTcpConnection&) = delete;
    AsioTcpConnection& operator=(const AsioTcpConnection&) = delete;

    void setStateUpdateHandler(StateHandler handler) override;
    void start() override;
    void receive(std::size_t minimumIncompleteLength, std::size_t maximumLength,
                 ReceiveCompletion completion) override;
    void send(std::vector<std::uint8_t> content, SendCompletion completion) override;
    void cancel() override;

    // The socket's descriptor, for inspecting its options (tests, diagnostics).
    int nativeHandle() noexcept;

private:
    struct PendingSend {
        std::shared_ptr<const std::vector<std::uint8_t>> content;
        SendCompletion completion;
    };

    bool isOnQueue() const noexcept;
    void readSome();
    void onReadable(const std::error_code& error);
    void onRead(const std::error_code& error, std::size_t count);
    void completeReceive(bool isComplete, const std::optional<TransportError>& error);
    void writeNext();
    void onWritten(const std::error_code& error);
    void fail(const TransportError& error);
    // Completes the pending receive and every queued send with `error`, later on the queue.
    void abandonPending(const TransportError& error);
    void postReport(State state, std::optional<TransportError> error);

    asio::io_context::executor_type queue_;
    asio::ip::tcp::socket socket_;
    StateHandler stateHandler_;
    bool started_ = false;
    bool cancelled_ = false;
    bool peerFinished_ = false;
    std::optional<TransportError> failure_;

    ReceiveCompletion pendingReceive_;
    std::vector<std::uint8_t> receiveBuffer_;
    std::size_t received_ = 0;
    std::size_t maximumLength_ = 0;
    std::size_t minimumLength_ = 1;

    std::deque<PendingSend> sends_;
    bool writing_ = false;
};

} // namespace varnello
