#pragma once

#include "protocol/TessaroBridgeAgentRequest.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "server/BridgeClientSession.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnello {

// Answers Agent API requests: lists the connected iPads itself, relays every
// other request to the one iPad that offers the Agent API, and keeps the
// requests awaiting that iPad's answer until it comes, the send fails, 10
// seconds pass or the server stops. Each completion is called at most once.
// Owned by the server; server queue only.
class AgentRequestRouter : public std::enable_shared_from_this<AgentRequestRouter> {
public:
    using Completion = std::function<void(const TessaroBridgeAgentResponse& response)>;
    using Sessions = std::vector<std::shared_ptr<BridgeClientSession>>;

    static constexpr std::size_t maximumPendingAgentRequests = 16;
    static constexpr std::chrono::seconds agentResponseTimeout{10};

    explicit AgentRequestRouter(Executor& queue);

    // sessions: the connected iPads in the order they connected.
    void route(const TessaroBridgeAgentRequest& request, const Sessions& sessions,
               Completion completion);
    // Relays an iPad's answer to the request it belongs to; an answer to a
    // request that is not pending is ignored.
    void complete(const TessaroBridgeAgentResponse& response);
    // Answers every pending request: the server is stopping.
    void answerAllStopping();

    std::size_t pendingCount() const noexcept { return pending_.size(); }

    // The answer to a devices request: every iPad that has sent its hello, in
    // the order given. When the whole list would not fit in one response
    // payload, it lists as many as fit from the front and says so in the
    // detail, rather than failing the request.
    static TessaroBridgeAgentResponse devicesResponse(const Uuid& requestID,
                                                      const Sessions& sessions);

private:
    struct Pending {
        Completion completion;
        // Tells this request from a later one that reuses its identifier, so
        // that a stale timer or send failure cannot answer the newer one.
        std::uint64_t token;
    };

    void forward(const TessaroBridgeAgentRequest& request, BridgeClientSession& session,
                 Completion completion);
    void completeIf(const Uuid& requestID, std::uint64_t token,
                    const TessaroBridgeAgentResponse& response);

    Executor& queue_;
    std::unordered_map<Uuid, Pending> pending_;
    std::uint64_t nextToken_ = 0;
};

} // namespace varnello
