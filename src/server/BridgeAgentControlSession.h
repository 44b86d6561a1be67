#pragma once

#include "protocol/TessaroBridgeAgentRequest.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "server/TcpConnection.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnello {

// One Agent API connection: reads exactly one agent request, hands it to the
// request handler, sends the one response and closes. Anything else closes the
// connection without a response. Owned by the server's registry; server queue
// only.
class BridgeAgentControlSession : public std::enable_shared_from_this<BridgeAgentControlSession> {
public:
    using ResponseCompletion = std::function<void(const TessaroBridgeAgentResponse& response)>;
    using RequestHandler = std::function<void(const TessaroBridgeAgentRequest& request,
                                              ResponseCompletion completion)>;
    using FinishedHandler = std::function<void(const Uuid& id)>;

    static constexpr std::size_t maximumReadBytes = 65540;

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
    bool isResponding() const noexcept { return responseInFlight_; }

    // Sends the response, then cancels the connection and finishes, whether
    // or not the send succeeded.
    void sendResponse(const TessaroBridgeAgentResponse& response);

    // Calls onFinished once.
    void finish();
    // Cancels the connection, then finishes.
    void close();

private:
    void handleState(TcpConnection::State state);
    void receiveNext();
    void handleReceived(const std::vector<std::uint8_t>& content, bool isComplete, bool hasError);

    Executor& queue_;
    Uuid id_;
    std::shared_ptr<TcpConnection> connection_;
    RequestHandler requestHandler_;
    TessaroBridgeFrameDecoder decoder_;
    bool didReceiveRequest_ = false;
    bool didFinish_ = false;
    bool didCancel_ = false;
    bool responseInFlight_ = false;
    std::shared_ptr<BridgeAgentControlSession> keepAliveUntilCancelled_;
};

} // namespace varnello
