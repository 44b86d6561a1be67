#include "server/BridgeClientSession.h"

#include "protocol/TessaroBridgeFrameCodec.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

BridgeClientSession::BridgeClientSession(Executor& queue, Uuid id,
                                         std::shared_ptr<TcpConnection> connection,
                                         TessaroBridgeHello bridgeHello,
                                         BridgeCommandSubmitter submitCommand)
    : queue_(queue), id_(id), connection_(std::move(connection)),
      bridgeHello_(std::move(bridgeHello)), submitCommand_(std::move(submitCommand)) {}

void BridgeClientSession::start() {
    assert(queue_.isCurrent());
    std::weak_ptr<BridgeClientSession> weak = weak_from_this();
    connection_->setStateUpdateHandler(
        [weak](TcpConnection::State state, const std::optional<TransportError>&) {
            if (auto self = weak.lock()) {
                self->handleState(state);
            }
        });
    connection_->start();
}

void BridgeClientSession::handleState(TcpConnection::State state) {
    assert(queue_.isCurrent());
    switch (state) {
    case TcpConnection::State::ready:
        // The bridge speaks first: its hello goes out before the first read.
        sendMessage(bridgeHello_, {});
        if (!didCancel_) {
            receiveNext();
        }
        break;
    case TcpConnection::State::failed:
    case TcpConnection::State::cancelled:
        finish();
        break;
    default:
        break;
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
    if (didCancel_ || didFinish_) {
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
    peerFinishedSending_ = isComplete;
    receiveFailed_ = hasError;
    handleNextMessage();
}

void BridgeClientSession::handleNextMessage() {
    assert(queue_.isCurrent());
    if (didCancel_ || didFinish_) {
        return;
    }
    if (incoming_.empty()) {
        continueAfterMessages();
        return;
    }
    const TessaroBridgeMessage message = std::move(incoming_.front());
    incoming_.pop_front();
    handleMessage(message);
    if (awaitingAcknowledgement_ || didCancel_ || didFinish_) {
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
    if (didCancel_ || didFinish_) {
        return;
    }
    sendMessage(acknowledgement, {});
    postNextMessage();
}

void BridgeClientSession::continueAfterMessages() {
    if (receiveFailed_) {
        close();
        return;
    }
    if (!peerFinishedSending_) {
        if (queuedSendBytes_ > maximumQueuedSendBytes) {
            readingPaused_ = true;
        } else {
            receiveNext();
        }
        return;
    }
    // A half-close still gets the answers to what it sent before.
    finish();
    if (sendInFlight_) {
        // Out of the registry now: the session keeps itself until the
        // connection is cancelled, which also ends every send in flight.
        cancelWhenDrained_ = true;
        keepAliveUntilCancelled_ = shared_from_this();
    } else {
        cancelConnection();
    }
}

void BridgeClientSession::handleMessage(const TessaroBridgeMessage& message) {
    switch (message.type()) {
    case TessaroBridgeMessage::MessageType::hello: {
        const auto& hello = *message.bodyIf<TessaroBridgeHello>();
        if (didReceiveClientHello_ || hello.role() != TessaroBridgePeerRole::tessaro) {
            close();
            return;
        }
        tessaroHello_ = hello;
        didReceiveClientHello_ = true;
        return;
    }
    case TessaroBridgeMessage::MessageType::command: {
        const auto& command = *message.bodyIf<TessaroBridgeCommand>();
        if (!didReceiveClientHello_) {
            sendMessage(TessaroBridgeAcknowledgement{command.id, TessaroBridgeAckStatus::rejected,
                                                     helloRequiredDetail},
                        {});
            return;
        }
        awaitingAcknowledgement_ = true;
        std::weak_ptr<BridgeClientSession> weak = weak_from_this();
        submitCommand_(command, [weak](const TessaroBridgeAcknowledgement& acknowledgement) {
            if (auto self = weak.lock()) {
                self->handleAcknowledgement(acknowledgement);
            }
        });
        return;
    }
    case TessaroBridgeMessage::MessageType::acknowledgement:
    case TessaroBridgeMessage::MessageType::agentRequest:
        close();
        return;
    case TessaroBridgeMessage::MessageType::agentResponse:
        if (!didReceiveClientHello_) {
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
    if (didCancel_ || didFinish_) {
        if (onFailure) {
            onFailure();
        }
        return;
    }
    std::vector<std::uint8_t> frame;
    try {
        frame = encodeFrame(message);
    } catch (const std::exception&) {
        close();
        if (onFailure) {
            onFailure();
        }
        return;
    }
    queuedSendBytes_ += frame.size();
    outgoing_.push_back(Outgoing{std::move(frame), std::move(onFailure)});
    if (!sendInFlight_) {
        sendFront();
    }
}

void BridgeClientSession::sendFront() {
    Outgoing next = std::move(outgoing_.front());
    outgoing_.pop_front();
    queuedSendBytes_ -= next.frame.size();
    sendInFlight_ = true;
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
    sendInFlight_ = false;
    if (hasError) {
        close();
        failQueuedSends();
        if (onFailure) {
            onFailure();
        }
        return;
    }
    if (!outgoing_.empty() && !didCancel_) {
        sendFront();
    } else if (cancelWhenDrained_) {
        cancelConnection();
    }
    if (readingPaused_ && queuedSendBytes_ <= maximumQueuedSendBytes && !didCancel_ &&
        !didFinish_) {
        readingPaused_ = false;
        receiveNext();
    }
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
    if (!didCancel_) {
        didCancel_ = true;
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
    if (onFinished) {
        onFinished(id_);
    }
}

void BridgeClientSession::close() {
    assert(queue_.isCurrent());
    cancelConnection();
    finish();
    if (!sendInFlight_) {
        failQueuedSends();
    }
}

} // namespace varnello
