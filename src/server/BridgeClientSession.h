#pragma once

#include "protocol/TessaroBridgeAcknowledgement.h"
#include "protocol/TessaroBridgeAgentResponse.h"
#include "protocol/TessaroBridgeCommand.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeHello.h"
#include "protocol/TessaroBridgeMessage.h"
#include "server/BridgeCommandIntake.h"
#include "server/TcpConnection.h"
#include "support/Executor.h"
#include "support/Uuid.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnello {

// One iPad connection: sends the bridge's hello first, requires the iPad's
// hello, answers each command with the acknowledgement its execution gave, and
// passes agent responses on. Messages are handled in order: while a command is
// out for execution the next message waits, so answers keep the order of what
// they answer. Any protocol violation closes the connection, and so do silence
// before the hello and a peer that takes nothing of what waits for it. Owned
// by the server's registry; server queue only.
class BridgeClientSession : public std::enable_shared_from_this<BridgeClientSession> {
public:
    using FinishedHandler = std::function<void(const Uuid& id)>;
    using AgentResponseHandler = std::function<void(const TessaroBridgeAgentResponse& response)>;
    using FailureAction = std::function<void()>;

    // The largest read: one maximal frame, its 4-byte prefix included.
    static constexpr std::size_t maximumReadBytes = 65540;
    // Reading pauses while more than this many bytes of answers wait to go
    // out, so a peer that sends without reading cannot grow the queue.
    // It also bounds the relayed agent requests: one that would take the
    // bytes waiting beyond it is refused at once.
    static constexpr std::size_t maximumQueuedSendBytes = 65540;
    // A connection without a valid hello by then is closed: a LAN device that
    // connects and never speaks does not keep its descriptor.
    static constexpr std::chrono::seconds helloTimeout{30};
    // A peer that takes none of what waits to be sent for about this long (20
    // to 30 s) is closed, and whatever waits for it fails.
    static constexpr std::chrono::seconds sendStallTimeout{30};
    static constexpr const char* helloRequiredDetail = "Send a valid Varnello hello first.";

    BridgeClientSession(Executor& queue, Uuid id, std::shared_ptr<TcpConnection> connection,
                        TessaroBridgeHello bridgeHello,
                        std::weak_ptr<BridgeCommandIntake> commands);

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
    // Until the connection is cancelled or fails, it holds a descriptor (a
    // finished session may still be sending the answers of a half-close).
    bool holdsConnection() const noexcept { return writeState_ != WriteState::closed; }

    // Frames a relayed message and sends it after those sent before, one send
    // in flight at a time. onFailure runs, at once or later, when it is not
    // sent: the session has finished, the message cannot be framed (the
    // session closes), its bytes would take those waiting beyond
    // maximumQueuedSendBytes (the session stays open), the send fails (the
    // session closes), or the session closes while the message waits.
    void sendMessage(const TessaroBridgeMessage& message, FailureAction onFailure);

    // Calls onFinished once; nothing more is read.
    void finish();
    // Cancels the connection, fails every send waiting, then finishes.
    void close();

private:
    // The input direction.
    enum class ReadState {
        starting,     // the connection is not ready yet
        open,         // a receive is pending, or what the last one brought is handled
        paused,       // answers pile up: no receive until they have gone out
        peerFinished, // the peer sent its last bytes; they are still handled and answered
        failed,       // the receive failed: the session closes after the messages in hand
        closed,       // nothing more is read or handled
    };
    // The output direction.
    enum class WriteState {
        idle,     // nothing in flight, nothing waiting
        inFlight, // one send in flight; others may wait behind it
        draining, // finished after a half-close: cancelled once the rest is out
        closed,   // the connection is cancelled or failed: nothing more goes out
    };
    struct Outgoing {
        std::vector<std::uint8_t> frame;
        FailureAction onFailure;
    };
    // Looks at the sends every sendStallTimeout / stallChecks while one is in
    // flight; that many looks in a row without a completed send is a stall.
    struct StallWatch {
        std::uint64_t completedSends;
        int quietChecks;
    };
    static constexpr int stallChecks = 3;

    void handleState(TcpConnection::State state);
    void receiveNext();
    void handleReceived(const std::vector<std::uint8_t>& content, bool isComplete, bool hasError);
    void handleNextMessage();
    void continueAfterMessages();
    void handleMessage(const TessaroBridgeMessage& message);
    void handleAcknowledgement(const TessaroBridgeAcknowledgement& acknowledgement);
    void postNextMessage();
    void sendOwn(const TessaroBridgeMessage& message);
    std::optional<std::vector<std::uint8_t>> frameOrClose(const TessaroBridgeMessage& message);
    void enqueue(std::vector<std::uint8_t> frame, FailureAction onFailure);
    void sendFront();
    void handleSendCompletion(bool hasError, const FailureAction& onFailure);
    void failQueuedSends();
    void cancelConnection();
    void connectionEnded();
    void helloTimedOut();
    void watchForStall();
    void postStallCheck();
    void checkForStall();

    Executor& queue_;
    Uuid id_;
    std::shared_ptr<TcpConnection> connection_;
    TessaroBridgeHello bridgeHello_;
    // Held weakly: once it is gone, commands are answered that the bridge is
    // no longer available.
    std::weak_ptr<BridgeCommandIntake> commands_;
    TessaroBridgeFrameDecoder decoder_;
    bool didFinish_ = false;
    std::optional<TessaroBridgeHello> tessaroHello_;
    ReadState readState_ = ReadState::starting;
    WriteState writeState_ = WriteState::idle;
    // Messages of the last read not handled yet: one is handled per turn of
    // the queue, so other connections' commands are not held up by a burst.
    std::deque<TessaroBridgeMessage> incoming_;
    // A command is out for execution; its acknowledgement resumes the messages.
    bool awaitingAcknowledgement_ = false;
    // Frames waiting behind the one in flight, and their bytes.
    std::deque<Outgoing> outgoing_;
    std::size_t queuedSendBytes_ = 0;
    std::uint64_t completedSends_ = 0;
    std::optional<StallWatch> stallWatch_;
    // While draining, the session keeps itself: the registry has let go.
    std::shared_ptr<BridgeClientSession> keepAliveUntilCancelled_;
};

} // namespace varnello
