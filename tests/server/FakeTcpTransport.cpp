#include "server/FakeTcpTransport.h"

#include <cassert>

namespace varnello::testing {

namespace {

const TransportError cancelledError{125, "Operation canceled"};

} // namespace

void FakeTcpConnection::receive(std::size_t minimumIncompleteLength, std::size_t maximumLength,
                                ReceiveCompletion completion) {
    assert(!pendingReceive_ && "only one receive at a time");
    if (!bytesSentBeforeFirstReceive) {
        bytesSentBeforeFirstReceive = sentBytes.size();
    }
    ++receiveCalls;
    lastMinimumLength = minimumIncompleteLength;
    lastMaximumLength = maximumLength;
    pendingReceive_ = std::move(completion);
}

void FakeTcpConnection::send(std::vector<std::uint8_t> content, SendCompletion completion) {
    ++sendCalls;
    sentBytes.insert(sentBytes.end(), content.begin(), content.end());
    waitingSends_.push_back(std::move(completion));
    if (completeSendsAutomatically) {
        queue_.post([weak = weak_from_this()] {
            if (auto self = weak.lock()) {
                self->completeSend();
            }
        });
    }
}

void FakeTcpConnection::cancel() {
    ++cancelCount;
    if (cancelCount > 1) {
        return;
    }
    queue_.post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        while (self->completeSend(cancelledError)) {
        }
        if (self->pendingReceive_) {
            self->deliver({}, false, cancelledError);
        }
        self->report(State::cancelled);
    });
}

void FakeTcpConnection::report(State state, std::optional<TransportError> error) {
    if (stateHandler_) {
        stateHandler_(state, error);
    }
}

bool FakeTcpConnection::deliver(std::vector<std::uint8_t> content, bool isComplete,
                                std::optional<TransportError> error) {
    if (!pendingReceive_) {
        return false;
    }
    auto completion = std::move(pendingReceive_);
    pendingReceive_ = nullptr;
    completion(std::move(content), isComplete, error);
    return true;
}

bool FakeTcpConnection::completeSend(std::optional<TransportError> error) {
    if (waitingSends_.empty()) {
        return false;
    }
    auto completion = std::move(waitingSends_.front());
    waitingSends_.pop_front();
    completion(error);
    return true;
}

void FakeTcpListener::cancel() {
    ++cancelCount;
    queue_.post([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->report(State::cancelled);
        }
    });
}

void FakeTcpListener::report(State state, std::optional<TransportError> error) {
    if (stateHandler_) {
        stateHandler_(state, error);
    }
}

std::shared_ptr<FakeTcpConnection> FakeTcpListener::connect() {
    auto connection = std::make_shared<FakeTcpConnection>(queue_);
    if (connectionHandler_) {
        connectionHandler_(connection);
    }
    return connection;
}

std::shared_ptr<TcpListener> FakeTcpTransport::makeListener(const TcpListenerParameters& given) {
    if (failingCreation == parameters.size()) {
        parameters.push_back(given);
        throw creationError;
    }
    parameters.push_back(given);
    auto listener = std::make_shared<FakeTcpListener>(queue_);
    listeners.push_back(listener);
    return listener;
}

} // namespace varnello::testing
