#pragma once

#include "server/TcpConnection.h"
#include "server/TcpListener.h"
#include "server/TcpTransport.h"
#include "support/Executor.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello::testing {

// A connection driven by the test: it delivers bytes, ends the stream, fails
// sends. Completions and reports run on the given queue like a real one's.
class FakeTcpConnection final : public TcpConnection,
                                public std::enable_shared_from_this<FakeTcpConnection> {
public:
    struct Send {
        std::vector<std::uint8_t> content;
        SendCompletion completion;
    };

    explicit FakeTcpConnection(Executor& queue) : queue_(queue) {}

    void setStateUpdateHandler(StateHandler handler) override {
        stateHandler_ = std::move(handler);
    }
    void start() override { started = true; }
    void receive(std::size_t minimumIncompleteLength, std::size_t maximumLength,
                 ReceiveCompletion completion) override;
    void send(std::vector<std::uint8_t> content, SendCompletion completion) override;
    void cancel() override;

    // Test side.
    void report(State state, std::optional<TransportError> error = std::nullopt);
    // Completes the pending receive; false when none is pending.
    bool deliver(std::vector<std::uint8_t> content, bool isComplete = false,
                 std::optional<TransportError> error = std::nullopt);
    bool hasPendingReceive() const { return pendingReceive_ != nullptr; }
    // Completes the oldest send still waiting, with or without an error.
    bool completeSend(std::optional<TransportError> error = std::nullopt);
    std::size_t sendsWaiting() const { return waitingSends_.size(); }

    // Every byte handed to send, in order.
    std::vector<std::uint8_t> sentBytes;
    bool started = false;
    int cancelCount = 0;
    // When set, every send completes without error as soon as the queue runs.
    bool completeSendsAutomatically = true;
    std::size_t lastMinimumLength = 0;
    std::size_t lastMaximumLength = 0;
    std::size_t sendCalls = 0;
    std::size_t receiveCalls = 0;
    // How many bytes had been sent when the first receive was issued.
    std::optional<std::size_t> bytesSentBeforeFirstReceive;

private:
    Executor& queue_;
    StateHandler stateHandler_;
    ReceiveCompletion pendingReceive_;
    std::deque<SendCompletion> waitingSends_;
};

class FakeTcpListener final : public TcpListener,
                              public std::enable_shared_from_this<FakeTcpListener> {
public:
    explicit FakeTcpListener(Executor& queue) : queue_(queue) {}

    void setStateUpdateHandler(StateHandler handler) override {
        stateHandler_ = std::move(handler);
    }
    void setNewConnectionHandler(NewConnectionHandler handler) override {
        connectionHandler_ = std::move(handler);
    }
    void start() override { started = true; }
    std::optional<std::uint16_t> port() const override { return boundPort; }
    void cancel() override;

    // Test side: run the handlers as the queue would.
    void report(State state, std::optional<TransportError> error = std::nullopt);
    std::shared_ptr<FakeTcpConnection> connect();

    bool started = false;
    int cancelCount = 0;
    std::optional<std::uint16_t> boundPort;

private:
    Executor& queue_;
    StateHandler stateHandler_;
    NewConnectionHandler connectionHandler_;
};

class FakeTcpTransport final : public TcpTransport {
public:
    explicit FakeTcpTransport(Executor& queue) : queue_(queue) {}

    std::shared_ptr<TcpListener> makeListener(const TcpListenerParameters& parameters) override;

    std::vector<TcpListenerParameters> parameters;
    std::vector<std::shared_ptr<FakeTcpListener>> listeners;
    // The creation with this index (0 = first) throws this error.
    std::optional<std::size_t> failingCreation;
    TransportError creationError{22, "Invalid argument"};

private:
    Executor& queue_;
};

} // namespace varnello::testing
