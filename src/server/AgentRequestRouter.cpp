#include "server/AgentRequestRouter.h"

#include "protocol/TessaroBridgeAgentDevice.h"
#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeMessage.h"
#include "support/PrefixCharacters.h"

#include <cassert>
#include <exception>
#include <utility>

namespace varnello {

namespace {

enum class Refusal {
    tooManyRequests,
    noAgentIPad,
    targetNotConnected,
    requestIDInUse,
    sendFailed,
    timedOut,
    stopping,
};

// Every answer the bridge makes up itself, in one place.
TessaroBridgeAgentResponse refusal(const Uuid& requestID, Refusal reason) {
    using Status = TessaroBridgeAgentResponseStatus;
    Status status = Status::unavailable;
    const char* detail = "";
    switch (reason) {
    case Refusal::tooManyRequests:
        detail = "Too many simultaneous Agent API commands.";
        break;
    case Refusal::noAgentIPad:
        detail = "Choose a connected Varnello iPad with Agent API support.";
        break;
    case Refusal::targetNotConnected:
        detail = "The selected Varnello iPad is not connected.";
        break;
    case Refusal::requestIDInUse:
        status = Status::rejected;
        detail = "This Agent API request ID is already in use.";
        break;
    case Refusal::sendFailed:
        detail = "Could not send the Agent API command to Varnello.";
        break;
    case Refusal::timedOut:
        status = Status::timeout;
        detail = "Varnello did not respond within 10 seconds.";
        break;
    case Refusal::stopping:
        detail = "Varnello Bridge is stopping.";
        break;
    }
    return TessaroBridgeAgentResponse{requestID, status, std::nullopt,
                                      prefixCharacters(detail, maximumDetailCharacters)};
}

bool offersAgentAPI(const BridgeClientSession& session,
                    const std::optional<std::string>& targetPeerID) {
    const auto& hello = session.tessaroHello();
    if (!hello || !hello->capabilities().contains(TessaroBridgeCapability::agentAPI)) {
        return false;
    }
    return !targetPeerID || hello->peerID() == *targetPeerID;
}

} // namespace

AgentRequestRouter::AgentRequestRouter(Executor& queue) : queue_(queue) {}

void AgentRequestRouter::route(const TessaroBridgeAgentRequest& request, const Sessions& sessions,
                               Completion completion) {
    assert(queue_.isCurrent());
    if (request.operation == TessaroBridgeAgentOperation::devices) {
        completion(devicesResponse(request.requestID, sessions));
        return;
    }
    if (pending_.size() >= maximumPendingAgentRequests) {
        completion(refusal(request.requestID, Refusal::tooManyRequests));
        return;
    }
    std::shared_ptr<BridgeClientSession> chosen;
    std::size_t qualifying = 0;
    for (const auto& session : sessions) {
        if (offersAgentAPI(*session, request.targetPeerID)) {
            ++qualifying;
            chosen = session;
        }
    }
    if (qualifying != 1) {
        completion(refusal(request.requestID, request.targetPeerID ? Refusal::targetNotConnected
                                                                   : Refusal::noAgentIPad));
        return;
    }
    if (pending_.contains(request.requestID)) {
        completion(refusal(request.requestID, Refusal::requestIDInUse));
        return;
    }
    forward(request, *chosen, std::move(completion));
}

void AgentRequestRouter::forward(const TessaroBridgeAgentRequest& request,
                                 BridgeClientSession& session, Completion completion) {
    const Uuid requestID = request.requestID;
    const std::uint64_t token = nextToken_++;
    pending_.emplace(requestID, Pending{std::move(completion), token});

    std::weak_ptr<AgentRequestRouter> weak = weak_from_this();
    session.sendMessage(request, [weak, requestID, token] {
        if (auto self = weak.lock()) {
            self->completeIf(requestID, token, refusal(requestID, Refusal::sendFailed));
        }
    });
    queue_.postAfter(agentResponseTimeout, [weak, requestID, token] {
        if (auto self = weak.lock()) {
            self->completeIf(requestID, token, refusal(requestID, Refusal::timedOut));
        }
    });
}

void AgentRequestRouter::complete(const TessaroBridgeAgentResponse& response) {
    assert(queue_.isCurrent());
    auto entry = pending_.find(response.requestID);
    if (entry == pending_.end()) {
        return;
    }
    auto completion = std::move(entry->second.completion);
    pending_.erase(entry);
    completion(response);
}

void AgentRequestRouter::completeIf(const Uuid& requestID, std::uint64_t token,
                                    const TessaroBridgeAgentResponse& response) {
    assert(queue_.isCurrent());
    auto entry = pending_.find(requestID);
    if (entry == pending_.end() || entry->second.token != token) {
        return;
    }
    complete(response);
}

void AgentRequestRouter::answerAllStopping() {
    assert(queue_.isCurrent());
    auto stopping = std::move(pending_);
    pending_.clear();
    for (auto& [requestID, entry] : stopping) {
        entry.completion(refusal(requestID, Refusal::stopping));
    }
}

TessaroBridgeAgentResponse AgentRequestRouter::devicesResponse(const Uuid& requestID,
                                                               const Sessions& sessions) {
    std::vector<TessaroBridgeAgentDevice> devices;
    for (const auto& session : sessions) {
        if (const auto& hello = session->tessaroHello()) {
            devices.push_back({hello->peerID(), hello->displayName(), hello->capabilities()});
        }
    }
    TessaroBridgeAgentResponse response{requestID, TessaroBridgeAgentResponseStatus::accepted,
                                        std::nullopt, std::nullopt};
    try {
        auto payload = TessaroBridgeAgentDevice::encodeList(devices);
        if (payload.size() <= maximumAgentPayloadBytes) {
            response.payload = std::move(payload);
            return response;
        }
        // Each device's share of the array text, so that the longest prefix
        // that fits is found without encoding every prefix.
        const std::size_t total = devices.size();
        std::size_t used = 2; // the brackets
        std::size_t fitting = 0;
        for (; fitting < total; ++fitting) {
            const std::size_t share =
                TessaroBridgeAgentDevice::encodeList({devices[fitting]}).size() - 2 +
                (fitting > 0 ? 1 : 0);
            if (used + share > maximumAgentPayloadBytes) {
                break;
            }
            used += share;
        }
        devices.resize(fitting);
        payload = TessaroBridgeAgentDevice::encodeList(devices);
        while (payload.size() > maximumAgentPayloadBytes && !devices.empty()) {
            devices.pop_back();
            payload = TessaroBridgeAgentDevice::encodeList(devices);
        }
        response.payload = std::move(payload);
        response.detail = prefixCharacters(
            "The device list holds " + std::to_string(devices.size()) + " of " +
                std::to_string(total) +
                " connected Varnello iPads; the others do not fit in one response.",
            maximumDetailCharacters);
    } catch (const std::exception&) {
        response.payload.reset();
        response.detail.reset();
    }
    return response;
}

} // namespace varnello
