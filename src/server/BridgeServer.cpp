#include "server/BridgeServer.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeHello.h"
#include "server/BonjourAdvertisement.h"
#include "server/DescriptorLimit.h"

#include <algorithm>
#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

namespace {

constexpr const char* unknownNetworkStatus = "Unknown network status";

std::string describe(const std::optional<TransportError>& error) {
    return error ? error->description() : std::string(unknownNetworkStatus);
}

} // namespace

BridgeServer::BridgeServer(BridgeIdentity identity, std::weak_ptr<BridgeCommandIntake> commands,
                           BridgeServerEnvironment environment)
    : identity_(std::move(identity)), commands_(std::move(commands)),
      mainExecutor_(environment.mainExecutor), queue_(environment.serverQueue),
      transport_(environment.transport), bonjourPublisher_(std::move(environment.bonjourPublisher)),
      limits_(ConnectionLimits::forDescriptorLimit(descriptorLimit())),
      router_(std::make_shared<AgentRequestRouter>(queue_)) {}

void BridgeServer::setConnectionLimits(ConnectionLimits limits) {
    assert(mainExecutor_.isCurrent());
    limits_ = limits;
}

BridgeServer::~BridgeServer() {
    // Whatever is still open belongs to the server queue; the sessions'
    // callbacks find the server gone and do nothing.
    auto closeAll = [sessions = std::move(sessions_), controls = std::move(agentControlSessions_),
                     listener = listener_, agentListener = agentControlListener_] {
        for (const auto& session : sessions) {
            session->close();
        }
        for (const auto& [id, control] : controls) {
            control->close();
        }
        if (listener) {
            listener->cancel();
        }
        if (agentListener) {
            agentListener->cancel();
        }
    };
    if (queue_.isCurrent()) {
        closeAll();
    } else {
        queue_.post(std::move(closeAll));
    }
    // The publisher goes with this last piece of work, on the main thread.
    mainExecutor_.post([publisher = std::move(bonjourPublisher_)] {
        if (publisher) {
            publisher->stop();
        }
    });
}

void BridgeServer::start(std::optional<std::uint16_t> iPadPort) {
    assert(mainExecutor_.isCurrent());
    if (listener_) {
        return;
    }
    TcpListenerParameters parameters;
    parameters.keepalive = TcpKeepalive{};
    parameters.allowLocalEndpointReuse = true;
    parameters.localPort = iPadPort;
    auto listener = transport_.makeListener(parameters);

    std::weak_ptr<BridgeServer> weak = weak_from_this();
    const TcpListener* reporter = listener.get();
    listener->setStateUpdateHandler(
        [weak, reporter](TcpListener::State state, const std::optional<TransportError>& error) {
            if (auto self = weak.lock()) {
                self->handleListenerState(reporter, state, error);
            }
        });
    listener->setNewConnectionHandler([weak](std::shared_ptr<TcpConnection> connection) {
        if (auto self = weak.lock()) {
            self->acceptClientConnection(std::move(connection));
        }
    });

    std::shared_ptr<TcpListener> agentListener;
    startAgentControlListener(agentListener);

    listener_ = listener;
    setState(BridgeServerState::starting());
    queue_.post([listener] { listener->start(); });
}

void BridgeServer::startAgentControlListener(std::shared_ptr<TcpListener>& created) {
    TcpListenerParameters parameters;
    parameters.requiredLocalEndpoint = TcpEndpoint{"127.0.0.1", agentControlPort};
    // Without reuse, the connections this bridge closed a moment ago (TIME_WAIT)
    // would keep a restarted bridge off its own port for a minute. A port held
    // by another listener is still refused.
    parameters.allowLocalEndpointReuse = true;
    created = transport_.makeListener(parameters);

    std::weak_ptr<BridgeServer> weak = weak_from_this();
    const TcpListener* reporter = created.get();
    created->setStateUpdateHandler(
        [weak, reporter](TcpListener::State state, const std::optional<TransportError>&) {
            auto self = weak.lock();
            // A taken port only costs the Agent API; iPads are still served.
            if (self && state == TcpListener::State::failed &&
                self->agentControlListener_.get() == reporter) {
                self->agentControlListener_.reset();
            }
        });
    created->setNewConnectionHandler([weak](std::shared_ptr<TcpConnection> connection) {
        if (auto self = weak.lock()) {
            self->acceptAgentControlConnection(std::move(connection));
        }
    });
    agentControlListener_ = created;
    queue_.post([created] { created->start(); });
}

void BridgeServer::handleListenerState(const TcpListener* reporter, TcpListener::State state,
                                       const std::optional<TransportError>& error) {
    assert(queue_.isCurrent());
    // A listener this server has already let go of (after a failure or stop)
    // still reports its cancellation; that must not overwrite the state.
    if (listener_.get() != reporter) {
        return;
    }
    switch (state) {
    case TcpListener::State::setup:
        setState(BridgeServerState::starting());
        return;
    case TcpListener::State::waiting:
        setState(BridgeServerState::waiting(describe(error)));
        return;
    case TcpListener::State::ready: {
        const std::uint16_t port = listener_->port().value_or(0);
        mainExecutor_.post([publisher = bonjourPublisher_,
                            name = bonjourServiceName(identity_.displayName, identity_.id),
                            txt = bonjourTxtRecord(identity_.displayName, identity_.id), port] {
            if (publisher) {
                publisher->publish(name, port, txt);
            }
        });
        setState(BridgeServerState::ready(port));
        return;
    }
    case TcpListener::State::failed: {
        auto failed = std::move(listener_);
        failed->cancel();
        withdrawOnMain();
        setState(BridgeServerState::failed(describe(error)));
        return;
    }
    case TcpListener::State::cancelled:
        listener_.reset();
        withdrawOnMain();
        setState(BridgeServerState::stopped());
        return;
    }
    setState(BridgeServerState::failed(unknownNetworkStatus));
}

void BridgeServer::acceptClientConnection(std::shared_ptr<TcpConnection> connection) {
    assert(queue_.isCurrent());
    if (!listener_ || !makeRoomForClient()) {
        // Accepted and closed at once, so that the backlog never fills.
        connection->cancel();
        return;
    }
    std::optional<TessaroBridgeHello> hello;
    try {
        hello = TessaroBridgeHello::make(
            TessaroBridgePeerRole::bridge, supportedProtocolVersion, identity_.id,
            identity_.displayName, {TessaroBridgeCapability::midi, TessaroBridgeCapability::osc});
    } catch (const std::exception&) {
        connection->cancel();
        return;
    }
    auto session = std::make_shared<BridgeClientSession>(
        queue_, Uuid::random(), std::move(connection), std::move(*hello), commands_);
    std::weak_ptr<BridgeServer> weak = weak_from_this();
    session->onFinished = [weak](const Uuid& id) {
        if (auto self = weak.lock()) {
            self->removeSession(id);
        }
    };
    session->onAgentResponse = [weak](const TessaroBridgeAgentResponse& response) {
        if (auto self = weak.lock()) {
            self->completeAgentRequest(response);
        }
    };
    sessions_.push_back(session);
    clientConnections_.push_back(session);
    reportStatus();
    session->start();
}

// At the cap, the oldest session without a valid hello gives way: an iPad says
// hello at once, so it is a device that connected and never spoke.
bool BridgeServer::makeRoomForClient() {
    std::erase_if(clientConnections_, [](const auto& weak) {
        const auto session = weak.lock();
        return !session || !session->holdsConnection();
    });
    if (clientConnections_.size() < limits_.maximumClientConnections) {
        return true;
    }
    const auto silent = std::find_if(sessions_.begin(), sessions_.end(), [](const auto& session) {
        return !session->tessaroHello() && session->holdsConnection();
    });
    if (silent == sessions_.end()) {
        return false;
    }
    const auto evicted = *silent;
    evicted->close();
    std::erase_if(clientConnections_,
                  [&evicted](const auto& weak) { return weak.lock() == evicted; });
    return clientConnections_.size() < limits_.maximumClientConnections;
}

void BridgeServer::acceptAgentControlConnection(std::shared_ptr<TcpConnection> connection) {
    assert(queue_.isCurrent());
    if (!agentControlListener_ ||
        agentControlSessions_.size() >= limits_.maximumAgentControlConnections) {
        connection->cancel();
        return;
    }
    std::weak_ptr<BridgeServer> weak = weak_from_this();
    auto session = std::make_shared<BridgeAgentControlSession>(
        queue_, Uuid::random(), std::move(connection),
        [weak](const TessaroBridgeAgentRequest& request,
               BridgeAgentControlSession::ResponseCompletion completion) {
            if (auto self = weak.lock()) {
                self->routeAgentRequest(request, std::move(completion));
            }
        });
    session->onFinished = [weak](const Uuid& id) {
        if (auto self = weak.lock()) {
            self->removeAgentControlSession(id);
        }
    };
    agentControlSessions_.emplace(session->id(), session);
    session->start();
}

void BridgeServer::removeSession(const Uuid& id) {
    assert(queue_.isCurrent());
    std::erase_if(sessions_, [&id](const auto& session) { return session->id() == id; });
    reportStatus();
}

void BridgeServer::removeAgentControlSession(const Uuid& id) {
    assert(queue_.isCurrent());
    agentControlSessions_.erase(id);
}

void BridgeServer::routeAgentRequest(const TessaroBridgeAgentRequest& request,
                                     AgentRequestRouter::Completion completion) {
    assert(queue_.isCurrent());
    // A copy: routing may close a session, which leaves the registry.
    const auto sessions = sessions_;
    router_->route(request, sessions, std::move(completion));
}

void BridgeServer::completeAgentRequest(const TessaroBridgeAgentResponse& response) {
    assert(queue_.isCurrent());
    router_->complete(response);
}

void BridgeServer::stop() {
    queue_.post([self = shared_from_this()] { self->shutDown(); });
}

void BridgeServer::shutDown() {
    assert(queue_.isCurrent());
    auto sessions = std::move(sessions_);
    sessions_.clear();
    clientConnections_.clear();
    auto controls = std::move(agentControlSessions_);
    agentControlSessions_.clear();

    // Answered before any session closes, so that each waiting agent gets
    // this answer (not a send failure) and its connection stays open until
    // the answer is out.
    router_->answerAllStopping();
    for (const auto& session : sessions) {
        session->close();
    }
    for (const auto& [id, control] : controls) {
        if (!control->isResponding()) {
            control->close();
        }
    }
    if (auto listener = std::move(listener_)) {
        listener->cancel();
    }
    if (auto agentListener = std::move(agentControlListener_)) {
        agentListener->cancel();
    }
    withdrawOnMain();
    setState(BridgeServerState::stopped());
}

const BridgeServerState& BridgeServer::state() const noexcept {
    assert(queue_.isCurrent());
    return state_;
}

std::int64_t BridgeServer::clientCount() const noexcept {
    assert(queue_.isCurrent());
    return static_cast<std::int64_t>(sessions_.size());
}

void BridgeServer::setState(BridgeServerState state) {
    state_ = std::move(state);
    reportStatus();
}

void BridgeServer::reportStatus() {
    if (onStatusChange) {
        onStatusChange(state_, static_cast<std::int64_t>(sessions_.size()));
    }
}

void BridgeServer::withdrawOnMain() {
    mainExecutor_.post([publisher = bonjourPublisher_] {
        if (publisher) {
            publisher->stop();
        }
    });
}

} // namespace varnello
