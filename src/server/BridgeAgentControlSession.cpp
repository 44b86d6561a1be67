#include "server/BridgeAgentControlSession.h"

#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeMessage.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

BridgeAgentControlSession::BridgeAgentControlSession(Executor& queue, Uuid id,
                                                     std::shared_ptr<TcpConnection> connection,
                                                     RequestHandler requestHandler)
    : queue_(queue), id_(id), connection_(std::move(connection)),
      requestHandler_(std::move(requestHandler)) {}

void BridgeAgentControlSession::start() {
    assert(queue_.isCurrent());
    std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
    connection_->setStateUpdateHandler(
        [weak](TcpConnection::State state, const std::optional<TransportError>&) {
            if (auto self = weak.lock()) {
                self->handleState(state);
            }
        });
    queue_.postAfter(requestTimeout, [weak] {
        if (auto self = weak.lock()) {
            self->closeIfStill(Stage::connecting);
            self->closeIfStill(Stage::reading);
        }
    });
    connection_->start();
}

void BridgeAgentControlSession::closeIfStill(Stage stage) {
    assert(queue_.isCurrent());
    if (stage_ == stage) {
        close();
    }
}

void BridgeAgentControlSession::handleState(TcpConnection::State state) {
    assert(queue_.isCurrent());
    switch (state) {
    case TcpConnection::State::ready:
        if (stage_ == Stage::connecting) {
            stage_ = Stage::reading;
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

void BridgeAgentControlSession::receiveNext() {
    std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
    connection_->receive(1, maximumReadBytes,
                         [weak](std::vector<std::uint8_t> content, bool isComplete,
                                const std::optional<TransportError>& error) {
                             if (auto self = weak.lock()) {
                                 self->handleReceived(content, isComplete, error.has_value());
                             }
                         });
}

void BridgeAgentControlSession::handleReceived(const std::vector<std::uint8_t>& content,
                                               bool isComplete, bool hasError) {
    assert(queue_.isCurrent());
    if (stage_ != Stage::reading || didFinish_) {
        return;
    }
    if (!content.empty()) {
        std::vector<TessaroBridgeMessage> messages;
        try {
            messages = decoder_.append(content);
        } catch (const std::exception&) {
            close();
            return;
        }
        for (const auto& message : messages) {
            const auto* request = message.bodyIf<TessaroBridgeAgentRequest>();
            if (stage_ != Stage::reading || request == nullptr) {
                close();
                return;
            }
            stage_ = Stage::waiting;
            std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
            requestHandler_(*request, [weak](const TessaroBridgeAgentResponse& response) {
                if (auto self = weak.lock()) {
                    self->sendResponse(response);
                }
            });
            if (stage_ == Stage::closed || didFinish_) {
                return;
            }
        }
    }
    if (hasError || (isComplete && stage_ != Stage::responding)) {
        // The peer is gone or has stopped sending before its answer was ready.
        close();
        return;
    }
    if (stage_ == Stage::reading) {
        receiveNext();
    }
}

void BridgeAgentControlSession::sendResponse(const TessaroBridgeAgentResponse& response) {
    assert(queue_.isCurrent());
    if (stage_ != Stage::waiting || didFinish_) {
        return;
    }
    std::vector<std::uint8_t> frame;
    try {
        frame = encodeFrame(response);
    } catch (const std::exception&) {
        close();
        return;
    }
    stage_ = Stage::responding;
    // Kept until the response is out, also when the server has let go of the
    // session while stopping; cancelling ends the send in any case.
    keepAliveUntilCancelled_ = shared_from_this();
    std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
    connection_->send(std::move(frame), [weak](const std::optional<TransportError>&) {
        if (auto self = weak.lock()) {
            self->close();
        }
    });
    queue_.postAfter(sendStallTimeout, [weak] {
        if (auto self = weak.lock()) {
            self->closeIfStill(Stage::responding);
        }
    });
}

void BridgeAgentControlSession::finish() {
    assert(queue_.isCurrent());
    if (didFinish_) {
        return;
    }
    didFinish_ = true;
    if (onFinished) {
        onFinished(id_);
    }
}

void BridgeAgentControlSession::close() {
    assert(queue_.isCurrent());
    if (stage_ != Stage::closed) {
        stage_ = Stage::closed;
        connection_->cancel();
    }
    finish();
    keepAliveUntilCancelled_.reset();
}

} // namespace varnello
