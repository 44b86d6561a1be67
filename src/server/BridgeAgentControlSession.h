#pragma once

#include "protocol/TessaroBridgeAgentRequest.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "server/TcpConnection.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnello {

// One Agent API connection: reads exactly one agent request, hands it to the
// request handler, sends the one response and closes. Anything else closes the
// connection without a response, and so do silence before the request and an
// agent that takes nothing of its response. Owned by the server's registry;
// server queue only.
class BridgeAgentControlSession : public std::enable_shared_from_this<BridgeAgentControlSession> {
public:
    using ResponseCompletion = std::function<void(const TessaroBridgeAgentResponse& response)>;
    using RequestHandler = std::function<void(const TessaroBridgeAgentRequest& request,
                                              ResponseCompletion completion)>;
    using FinishedHandler = std::function<void(const Uuid& id)>;

    static constexpr std::size_t maximumReadBytes = 65540;
    // A connection without a request by then is closed.
    static constexpr std::chrono::seconds requestTimeout{30};
    // A response not taken by then is given up, and the connection closed.
    static constexpr std::chrono::seconds sendStallTimeout{30};

    BridgeAgentControlSession(Executor& queue, Uuid id, std::shared_ptr<TcpConnection> connection,
                              RequestHandler requestHandler);

    // Set before start.
    FinishedHandler onFinished;

    // Installs the connection's state handler (holding this session weakly)
    // and starts the connection.
    void start();

    const Uuid& id() const noexcept { return id_; }
    bool didFinish() const noexcept { return didFinish_; }
    // A response is being sent; the session closes itself once it is out.
    bool isResponding() const noexcept { return stage_ == Stage::responding; }

    // Sends the response, then cancels the connection and finishes, whether
    // or not the send succeeded.
    void sendResponse(const TessaroBridgeAgentResponse& response);

    // Calls onFinished once.
    void finish();
    // Cancels the connection, then finishes.
    void close();

private:
    enum class Stage {
        connecting, // the connection is not ready yet
        reading,    // until the one request has arrived
        waiting,    // no reads: the response is being made
        responding, // the response is in flight
        closed,     // the connection is cancelled
    };

    void handleState(TcpConnection::State state);
    void closeIfStill(Stage stage);
    void receiveNext();
    void handleReceived(const std::vector<std::uint8_t>& content, bool isComplete, bool hasError);

    Executor& queue_;
    Uuid id_;
    std::shared_ptr<TcpConnection> connection_;
    RequestHandler requestHandler_;
    TessaroBridgeFrameDecoder decoder_;
    Stage stage_ = Stage::connecting;
    bool didFinish_ = false;
    std::shared_ptr<BridgeAgentControlSession> keepAliveUntilCancelled_;
};

} // namespace varnello
