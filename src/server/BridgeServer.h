#pragma once

#include "core/BridgeIdentity.h"
#include "protocol/TessaroBridgeAgentRequest.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "server/AgentRequestRouter.h"
#include "server/BonjourPublisher.h"
#include "server/BridgeAgentControlSession.h"
#include "server/BridgeClientSession.h"
#include "server/BridgeCommandIntake.h"
#include "server/BridgeServerState.h"
#include "server/ConnectionLimits.h"
#include "server/TcpConnection.h"
#include "server/TcpListener.h"
#include "server/TcpTransport.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

namespace varnello {

// What the server runs on. The executors and the transport must outlive the
// server.
struct BridgeServerEnvironment {
    // The main thread: every call of the publisher goes there.
    Executor& mainExecutor;
    // The server queue: every listener, connection, timer and command runs
    // there. The transport's handlers must run on it too.
    Executor& serverQueue;
    TcpTransport& transport;
    // Owned by the server from here on, and destroyed on the main thread.
    std::unique_ptr<BonjourPublisher> bonjourPublisher;
};

// The network side of the bridge: the iPad listener (advertised through
// DNS-SD), the Agent API listener on 127.0.0.1 port 54884, the sessions of
// both, and the routing of agent requests. Reports every state or client-count
// change through onStatusChange.
//
// Must be owned by a std::shared_ptr. Construction, onStatusChange, start and
// statusText belong to the main thread; stop may be called from any thread;
// everything else runs on the server queue.
class BridgeServer : public std::enable_shared_from_this<BridgeServer> {
public:
    // Called on the server queue (once, for starting, on the main thread from
    // start); the receiver hops to its own thread.
    using StatusChangeHandler =
        std::function<void(const BridgeServerState& state, std::int64_t clientCount)>;

    static constexpr std::uint16_t agentControlPort = 54884;

    BridgeServer(BridgeIdentity identity, std::weak_ptr<BridgeCommandIntake> commands,
                 BridgeServerEnvironment environment);
    ~BridgeServer();

    BridgeServer(const BridgeServer&) = delete;
    BridgeServer& operator=(const BridgeServer&) = delete;

    // Set before start.
    StatusChangeHandler onStatusChange;
    // Set before start; by default the caps for this process's descriptor limit.
    void setConnectionLimits(ConnectionLimits limits);

    // Creates and starts both listeners; does nothing when already started.
    // The iPad listener takes `iPadPort` when given, else a port the system
    // chooses; a taken port ends in the failed state, never on another port.
    // Throws TransportError when either listener cannot be created; then
    // nothing was started. Main thread.
    void start(std::optional<std::uint16_t> iPadPort = std::nullopt);
    // Returns at once. On the server queue it then answers every pending
    // agent request, closes every session, cancels both listeners, withdraws
    // the advertisement and reports stopped with no clients.
    void stop();

    static std::string statusText(const BridgeServerState& state) { return state.statusText(); }

    // Server queue only from here on.
    const BridgeServerState& state() const noexcept;
    std::int64_t clientCount() const noexcept;
    const BridgeIdentity& identity() const noexcept { return identity_; }

    void removeSession(const Uuid& id);
    void removeAgentControlSession(const Uuid& id);
    void routeAgentRequest(const TessaroBridgeAgentRequest& request,
                           AgentRequestRouter::Completion completion);
    void completeAgentRequest(const TessaroBridgeAgentResponse& response);

private:
    void startAgentControlListener(std::shared_ptr<TcpListener>& created);
    void handleListenerState(const TcpListener* reporter, TcpListener::State state,
                             const std::optional<TransportError>& error);
    void acceptClientConnection(std::shared_ptr<TcpConnection> connection);
    void acceptAgentControlConnection(std::shared_ptr<TcpConnection> connection);
    bool makeRoomForClient();
    void shutDown();
    void setState(BridgeServerState state);
    void reportStatus();
    void withdrawOnMain();

    BridgeIdentity identity_;
    // Where every session hands its commands; owned above the server.
    std::weak_ptr<BridgeCommandIntake> commands_;
    Executor& mainExecutor_;
    Executor& queue_;
    TcpTransport& transport_;
    // Shared only with work posted to the main thread.
    std::shared_ptr<BonjourPublisher> bonjourPublisher_;
    std::shared_ptr<TcpListener> listener_;
    std::shared_ptr<TcpListener> agentControlListener_;
    ConnectionLimits limits_;
    // In the order they connected, which is also the order of device lists.
    std::vector<std::shared_ptr<BridgeClientSession>> sessions_;
    // Every iPad session that may still hold its connection, finished ones
    // sending their last answers included: what the cap counts.
    std::vector<std::weak_ptr<BridgeClientSession>> clientConnections_;
    std::unordered_map<Uuid, std::shared_ptr<BridgeAgentControlSession>> agentControlSessions_;
    std::shared_ptr<AgentRequestRouter> router_;
    BridgeServerState state_ = BridgeServerState::stopped();
};

} // namespace varnello
