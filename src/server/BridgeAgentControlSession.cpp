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
    connection_->start();
}

void BridgeAgentControlSession::handleState(TcpConnection::State state) {
    assert(queue_.isCurrent());
    switch (state) {
    case TcpConnection::State::ready:
        receiveNext();
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
    if (didCancel_ || didFinish_) {
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
            if (didReceiveRequest_ || request == nullptr) {
                close();
                return;
            }
            didReceiveRequest_ = true;
            std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
            requestHandler_(*request, [weak](const TessaroBridgeAgentResponse& response) {
                if (auto self = weak.lock()) {
                    self->sendResponse(response);
                }
            });
            if (didCancel_ || didFinish_) {
                return;
            }
        }
    }
    if (hasError || (isComplete && !responseInFlight_)) {
        // The peer is gone or has stopped sending before its answer was ready.
        close();
        return;
    }
    if (!didReceiveRequest_) {
        receiveNext();
    }
}

void BridgeAgentControlSession::sendResponse(const TessaroBridgeAgentResponse& response) {
    assert(queue_.isCurrent());
    if (didCancel_ || didFinish_) {
        return;
    }
    std::vector<std::uint8_t> frame;
    try {
        frame = encodeFrame(response);
    } catch (const std::exception&) {
        close();
        return;
    }
    responseInFlight_ = true;
    // Kept until the response is out, also when the server has let go of the
    // session while stopping; cancelling ends the send in any case.
    keepAliveUntilCancelled_ = shared_from_this();
    std::weak_ptr<BridgeAgentControlSession> weak = weak_from_this();
    connection_->send(std::move(frame), [weak](const std::optional<TransportError>&) {
        if (auto self = weak.lock()) {
            self->close();
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
    if (!didCancel_) {
        didCancel_ = true;
        connection_->cancel();
    }
    finish();
    keepAliveUntilCancelled_.reset();
}

} // namespace varnello
