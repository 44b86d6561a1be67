#include "server/BridgeClientSession.h"

#include "protocol/TessaroBridgeFrameCodec.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

BridgeClientSession::BridgeClientSession(Executor& queue, Uuid id,
                                         std::shared_ptr<TcpConnection> connection,
                                         TessaroBridgeHello bridgeHello,
                                         std::weak_ptr<BridgeCommandIntake> commands)
    : queue_(queue), id_(id), connection_(std::move(connection)),
      bridgeHello_(std::move(bridgeHello)), commands_(std::move(commands)) {}

void BridgeClientSession::start() {
    assert(queue_.isCurrent());
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    connection_->setStateUpdateHandler(
        [weak](TcpConnection::State state, const std::optional<TransportError>&) {
            if (auto self = weak.lock()) {
                self->handleState(state);
            }
        });
    queue_.postAfter(helloTimeout, [weak] {
        if (auto self = weak.lock()) {
            self->helloTimedOut();
        }
    });
    connection_->start();
}

void BridgeClientSession::handleState(TcpConnection::State state) {
    assert(queue_.isCurrent());
    switch (state) {
    case TcpConnection::State::ready:
        if (readState_ != ReadState::starting) {
            break;
        }
        // The bridge speaks first: its hello goes out before the first read.
        sendOwn(bridgeHello_);
        if (readState_ == ReadState::starting) {
            readState_ = ReadState::open;
            receiveNext();
        }
        break;
    case TcpConnection::State::failed:
    case TcpConnection::State::cancelled:
        connectionEnded();
        break;
    default:
        break;
    }
}

void BridgeClientSession::connectionEnded() {
    // Nothing more goes out on it: what waits fails now, and what is in
    // flight fails with the send's own completion.
    writeState_ = WriteState::closed;
    failQueuedSends();
    finish();
    keepAliveUntilCancelled_.reset();
}

void BridgeClientSession::helloTimedOut() {
    assert(queue_.isCurrent());
    if (!tessaroHello_ && !didFinish_) {
        close();
    }
}

void BridgeClientSession::receiveNext() {
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    connection_->receive(1, maximumReadBytes,
                         [weak](std::vector<std::uint8_t> content, bool isComplete,
                                const std::optional<TransportError>& error) {
                             if (auto self = weak.lock()) {
                                 self->handleReceived(content, isComplete, error.has_value());
                             }
                         });
}

void BridgeClientSession::handleReceived(const std::vector<std::uint8_t>& content, bool isComplete,
                                         bool hasError) {
    assert(queue_.isCurrent());
    if (readState_ != ReadState::open) {
        return;
    }
    if (!content.empty()) {
        try {
            for (auto& message : decoder_.append(content)) {
                incoming_.push_back(std::move(message));
            }
        } catch (const std::exception&) {
            close();
            return;
        }
    }
    if (hasError) {
        readState_ = ReadState::failed;
    } else if (isComplete) {
        readState_ = ReadState::peerFinished;
    }
    handleNextMessage();
}

void BridgeClientSession::handleNextMessage() {
    assert(queue_.isCurrent());
    if (readState_ == ReadState::closed) {
        return;
    }
    if (incoming_.empty()) {
        continueAfterMessages();
        return;
    }
    const TessaroBridgeMessage message = std::move(incoming_.front());
    incoming_.pop_front();
    handleMessage(message);
    if (awaitingAcknowledgement_ || readState_ == ReadState::closed) {
        return;
    }
    if (incoming_.empty()) {
        // The read is used up: read on in this turn rather than spend another.
        continueAfterMessages();
    } else {
        postNextMessage();
    }
}

void BridgeClientSession::postNextMessage() {
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    queue_.post([weak] {
        if (auto self = weak.lock()) {
            self->handleNextMessage();
        }
    });
}

void BridgeClientSession::handleAcknowledgement(
    const TessaroBridgeAcknowledgement& acknowledgement) {
    assert(queue_.isCurrent());
    awaitingAcknowledgement_ = false;
    if (readState_ == ReadState::closed) {
        return;
    }
    sendOwn(acknowledgement);
    postNextMessage();
}

void BridgeClientSession::continueAfterMessages() {
    switch (readState_) {
    case ReadState::open:
        if (queuedSendBytes_ > maximumQueuedSendBytes) {
            readState_ = ReadState::paused;
        } else {
            receiveNext();
        }
        return;
    case ReadState::failed:
        close();
        return;
    case ReadState::peerFinished:
        // A half-close still gets the answers to what it sent before.
        finish();
        if (writeState_ == WriteState::inFlight) {
            // Out of the registry now: the session keeps itself until the
            // connection is cancelled, which also ends every send in flight.
            writeState_ = WriteState::draining;
            keepAliveUntilCancelled_ = shared_from_this();
        } else {
            cancelConnection();
        }
        return;
    case ReadState::starting:
    case ReadState::paused:
    case ReadState::closed:
        return;
    }
}

void BridgeClientSession::handleMessage(const TessaroBridgeMessage& message) {
    switch (message.type()) {
    case TessaroBridgeMessage::MessageType::hello: {
        const auto& hello = *message.bodyIf<TessaroBridgeHello>();
        if (tessaroHello_ || hello.role() != TessaroBridgePeerRole::tessaro) {
            close();
            return;
        }
        tessaroHello_ = hello;
        return;
    }
    case TessaroBridgeMessage::MessageType::command: {
        const auto& command = *message.bodyIf<TessaroBridgeCommand>();
        if (!tessaroHello_) {
            sendOwn(TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::rejected,
                                                 helloRequiredDetail});
            return;
        }
        awaitingAcknowledgement_ = true;
        std::weak_ptr<BridgeClientSession> weak = weak_from_this();
        auto completion = [weak](const TessaroBridgeAcknowledgement& acknowledgement) {
            if (auto self = weak.lock()) {
                self->handleAcknowledgement(acknowledgement);
            }
        };
        if (auto commands = commands_.lock()) {
            commands->submit(command, std::move(completion));
        } else {
            queue_.post(
                [completion = std::move(completion),
                 answer = TessaroBridgeAcknowledgement{
                     command.id, TessaroBridgeAckStatus::rejected,
                     std::string(BridgeCommandIntake::unavailableDetail)}] { completion(answer); });
        }
        return;
    }
    case TessaroBridgeMessage::MessageType::acknowledgement:
    case TessaroBridgeMessage::MessageType::agentRequest:
        close();
        return;
    case TessaroBridgeMessage::MessageType::agentResponse:
        if (!tessaroHello_) {
            close();
            return;
        }
        if (onAgentResponse) {
            onAgentResponse(*message.bodyIf<TessaroBridgeAgentResponse>());
        }
        return;
    }
}

void BridgeClientSession::sendMessage(const TessaroBridgeMessage& message,
                                      FailureAction onFailure) {
    assert(queue_.isCurrent());
    auto fail = [&onFailure] {
        if (onFailure) {
            onFailure();
        }
    };
    if (didFinish_ || writeState_ == WriteState::closed) {
        return fail();
    }
    auto frame = frameOrClose(message);
    if (!frame || queuedSendBytes_ + frame->size() > maximumQueuedSendBytes) {
        return fail();
    }
    enqueue(std::move(*frame), std::move(onFailure));
}

// The session's own answers are bounded by its reading, which pauses while
// they pile up.
void BridgeClientSession::sendOwn(const TessaroBridgeMessage& message) {
    if (writeState_ == WriteState::closed || writeState_ == WriteState::draining) {
        return;
    }
    if (auto frame = frameOrClose(message)) {
        enqueue(std::move(*frame), {});
    }
}

std::optional<std::vector<std::uint8_t>>
BridgeClientSession::frameOrClose(const TessaroBridgeMessage& message) {
    try {
        return encodeFrame(message);
    } catch (const std::exception&) {
        close();
        return std::nullopt;
    }
}

void BridgeClientSession::enqueue(std::vector<std::uint8_t> frame, FailureAction onFailure) {
    queuedSendBytes_ += frame.size();
    outgoing_.push_back(Outgoing{std::move(frame), std::move(onFailure)});
    if (writeState_ == WriteState::idle) {
        sendFront();
    }
}

void BridgeClientSession::sendFront() {
    Outgoing next = std::move(outgoing_.front());
    outgoing_.pop_front();
    queuedSendBytes_ -= next.frame.size();
    if (writeState_ == WriteState::idle) {
        writeState_ = WriteState::inFlight;
    }
    watchForStall();
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    connection_->send(std::move(next.frame), [weak, onFailure = std::move(next.onFailure)](
                                                 const std::optional<TransportError>& error) {
        if (auto self = weak.lock()) {
            self->handleSendCompletion(error.has_value(), onFailure);
        } else if (error && onFailure) {
            onFailure();
        }
    });
}

void BridgeClientSession::handleSendCompletion(bool hasError, const FailureAction& onFailure) {
    assert(queue_.isCurrent());
    ++completedSends_;
    if (hasError || writeState_ == WriteState::closed) {
        close();
        if (hasError && onFailure) {
            onFailure();
        }
        return;
    }
    if (!outgoing_.empty()) {
        sendFront();
    } else if (writeState_ == WriteState::draining) {
        cancelConnection();
        return;
    } else {
        writeState_ = WriteState::idle;
    }
    if (readState_ == ReadState::paused && queuedSendBytes_ <= maximumQueuedSendBytes) {
        readState_ = ReadState::open;
        receiveNext();
    }
}

void BridgeClientSession::watchForStall() {
    if (!stallWatch_) {
        stallWatch_ = StallWatch{completedSends_, 0};
        postStallCheck();
    }
}

void BridgeClientSession::postStallCheck() {
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    queue_.postAfter(sendStallTimeout / stallChecks, [weak] {
        if (auto self = weak.lock()) {
            self->checkForStall();
        }
    });
}

void BridgeClientSession::checkForStall() {
    assert(queue_.isCurrent());
    if (writeState_ != WriteState::inFlight && writeState_ != WriteState::draining) {
        stallWatch_.reset();
        return;
    }
    if (stallWatch_->completedSends != completedSends_) {
        *stallWatch_ = StallWatch{completedSends_, 0};
    } else if (++stallWatch_->quietChecks >= stallChecks) {
        close();
        return;
    }
    postStallCheck();
}

void BridgeClientSession::failQueuedSends() {
    auto failed = std::move(outgoing_);
    outgoing_.clear();
    queuedSendBytes_ = 0;
    for (auto& item : failed) {
        if (item.onFailure) {
            item.onFailure();
        }
    }
}

void BridgeClientSession::cancelConnection() {
    readState_ = ReadState::closed;
    if (writeState_ != WriteState::closed) {
        writeState_ = WriteState::closed;
        connection_->cancel();
    }
    keepAliveUntilCancelled_.reset();
}

void BridgeClientSession::finish() {
    assert(queue_.isCurrent());
    if (didFinish_) {
        return;
    }
    didFinish_ = true;
    readState_ = ReadState::closed;
    if (onFinished) {
        onFinished(id_);
    }
}

void BridgeClientSession::close() {
    assert(queue_.isCurrent());
    cancelConnection();
    failQueuedSends();
    finish();
}

} // namespace varnello
