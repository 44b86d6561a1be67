#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeHello.h"
#include "protocol/TessaroBridgeMessage.h"
#include "server/TcpConnection.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnello {

// Hands a command on for execution. The completion runs in a later turn of the
// server queue with the command's acknowledgement, never within the call, and
// never at all once the bridge is gone.
using BridgeCommandSubmitter = std::function<void(
    const TessaroBridgeCommand& command,
    std::function<void(const TessaroBridgeAcknowledgement& acknowledgement)> completion)>;

// One iPad connection: sends the bridge's hello first, requires the iPad's
// hello, answers each command with the acknowledgement its execution gave, and
// passes agent responses on. Messages are handled in order: while a command is
// out for execution the next message waits, so answers keep the order of what
// they answer. Any protocol violation closes the connection. Owned by the
// server's registry; server queue only.
class BridgeClientSession : public std::enable_shared_from_this<BridgeClientSession> {
public:
    using FinishedHandler = std::function<void(const Uuid& id)>;
    using AgentResponseHandler = std::function<void(const TessaroBridgeAgentResponse& response)>;
    using FailureAction = std::function<void()>;

    // The largest read: one maximal frame, its 4-byte prefix included.
    static constexpr std::size_t maximumReadBytes = 65540;
    // Reading pauses while more than this many bytes of answers wait to go
    // out, so a peer that sends without reading cannot grow the queue.
    static constexpr std::size_t maximumQueuedSendBytes = 65540;
    static constexpr const char* helloRequiredDetail = "Send a valid Varnello hello first.";

    BridgeClientSession(Executor& queue, Uuid id, std::shared_ptr<TcpConnection> connection,
                        TessaroBridgeHello bridgeHello, BridgeCommandSubmitter submitCommand);

    // Set before start.
    FinishedHandler onFinished;
    AgentResponseHandler onAgentResponse;

    // Installs the connection's state handler (holding this session weakly)
    // and starts the connection.
    void start();

    const Uuid& id() const noexcept { return id_; }
    // The iPad's hello once accepted.
    const std::optional<TessaroBridgeHello>& tessaroHello() const noexcept { return tessaroHello_; }
    bool didFinish() const noexcept { return didFinish_; }

    // Frames the message and sends it after those sent before, one send in
    // flight at a time. When it cannot be framed or sent, or the session has
    // finished, the session closes and then onFailure runs.
    void sendMessage(const TessaroBridgeMessage& message, FailureAction onFailure);

    // Calls onFinished once.
    void finish();
    // Cancels the connection, then finishes.
    void close();

private:
    struct Outgoing {
        std::vector<std::uint8_t> frame;
        FailureAction onFailure;
    };

    void handleState(TcpConnection::State state);
    void receiveNext();
    void handleReceived(const std::vector<std::uint8_t>& content, bool isComplete, bool hasError);
    void handleNextMessage();
    void continueAfterMessages();
    void handleMessage(const TessaroBridgeMessage& message);
    void handleAcknowledgement(const TessaroBridgeAcknowledgement& acknowledgement);
    void postNextMessage();
    void sendFront();
    void handleSendCompletion(bool hasError, const FailureAction& onFailure);
    void failQueuedSends();
    void cancelConnection();

    Executor& queue_;
    Uuid id_;
    std::shared_ptr<TcpConnection> connection_;
    TessaroBridgeHello bridgeHello_;
    BridgeCommandSubmitter submitCommand_;
    TessaroBridgeFrameDecoder decoder_;
    bool didFinish_ = false;
    bool didReceiveClientHello_ = false;
    std::optional<TessaroBridgeHello> tessaroHello_;
    bool didCancel_ = false;
    // Messages of the last read not handled yet: one is handled per turn of
    // the queue, so other connections' commands are not held up by a burst.
    std::deque<TessaroBridgeMessage> incoming_;
    // A command is out for execution; its acknowledgement resumes the messages.
    bool awaitingAcknowledgement_ = false;
    bool peerFinishedSending_ = false;
    bool receiveFailed_ = false;
    // Frames waiting for the one in flight, and their bytes.
    std::deque<Outgoing> outgoing_;
    std::size_t queuedSendBytes_ = 0;
    bool sendInFlight_ = false;
    bool readingPaused_ = false;
    // The peer has finished sending: the connection is cancelled once the
    // answers already queued have gone out.
    bool cancelWhenDrained_ = false;
    std::shared_ptr<BridgeClientSession> keepAliveUntilCancelled_;
};

} // namespace varnello
