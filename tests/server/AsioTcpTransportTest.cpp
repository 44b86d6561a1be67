#include "server/AsioTcpTransport.h"

#include "server/AsioServerQueue.h"
#include "server/AsioTcpConnection.h"
#include "server/TransportTestSupport.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <numeric>
#include <sys/resource.h>
#include <thread>

namespace varnello {
namespace {

using test::bytesOf;
using test::LoopbackClient;
using test::onQueue;
using test::Recorder;

struct ListenerEvent {
    TcpListener::State state;
    std::optional<TransportError> error;
    bool onQueue;
};

struct ConnectionEvent {
    TcpConnection::State state;
    std::optional<TransportError> error;
};

struct Received {
    std::vector<std::uint8_t> content;
    bool isComplete;
    std::optional<TransportError> error;
    bool onQueue;
};

TcpListenerParameters iPadParameters() {
    return {TcpKeepalive{}, true, std::nullopt};
}

class AsioTcpTransportTest : public ::testing::Test {
protected:
    // The queue's thread must be gone before the recorders its handlers write to.
    void TearDown() override {
        cancelAll();
        queue.stop(std::chrono::seconds(5));
    }

    void cancelAll() {
        onQueue(queue, [this] {
            for (auto& connection : accepted.values()) {
                connection->cancel();
            }
            if (listener) {
                listener->cancel();
            }
        });
    }

    // Cancels everything and forgets what was reported. The previous listener reports
    // its cancellation later, on the queue; it is waited for, or it would pass for
    // the next listener's first report.
    void startAfresh() {
        const bool hadListener = listener != nullptr;
        const auto reported = listenerEvents.values().size();
        cancelAll();
        if (hadListener) {
            listenerEvents.waitFor(reported + 1);
        }
        listenerEvents.clear();
    }

    // Starts a listener and returns its port once it reports ready.
    std::uint16_t listen(const TcpListenerParameters& parameters) {
        listener = transport.makeListener(parameters);
        listener->setStateUpdateHandler(
            [this](TcpListener::State state, const std::optional<TransportError>& error) {
                listenerEvents.add({state, error, queue.isCurrent()});
            });
        listener->setNewConnectionHandler([this](std::shared_ptr<TcpConnection> connection) {
            connectionsOnQueue.add(queue.isCurrent());
            accepted.add(std::move(connection));
        });
        listener->start();
        const auto events = listenerEvents.waitFor(1);
        EXPECT_EQ(events[0].state, TcpListener::State::ready);
        EXPECT_TRUE(events[0].onQueue);
        const auto port = onQueue(queue, [this] { return listener->port(); });
        EXPECT_TRUE(port.has_value());
        return port.value_or(0);
    }

    // The nth accepted connection, started, with its state reports recorded.
    std::shared_ptr<TcpConnection> acceptedConnection(std::size_t index = 0) {
        auto connection = accepted.waitFor(index + 1)[index];
        onQueue(queue, [this, connection] {
            connection->setStateUpdateHandler(
                [this](TcpConnection::State state, const std::optional<TransportError>& error) {
                    connectionEvents.add({state, error});
                });
            connection->start();
        });
        return connection;
    }

    void receive(const std::shared_ptr<TcpConnection>& connection, std::size_t minimum,
                 std::size_t maximum) {
        queue.post([this, connection, minimum, maximum] {
            connection->receive(
                minimum, maximum,
                [this](std::vector<std::uint8_t> content, bool isComplete,
                       const std::optional<TransportError>& error) {
                    received.add({std::move(content), isComplete, error, queue.isCurrent()});
                });
        });
    }

    AsioServerQueue queue;
    AsioTcpTransport transport{queue.context()};
    Recorder<ListenerEvent> listenerEvents;
    Recorder<bool> connectionsOnQueue;
    Recorder<std::shared_ptr<TcpConnection>> accepted;
    Recorder<ConnectionEvent> connectionEvents;
    Recorder<Received> received;
    std::shared_ptr<TcpListener> listener;
};

TEST_F(AsioTcpTransportTest, ListenerReportsReadyWithAPortAndAcceptsOnTheQueue) {
    const auto port = listen(iPadParameters());
    ASSERT_NE(port, 0);

    LoopbackClient client("127.0.0.1", port);
    acceptedConnection();

    EXPECT_TRUE(connectionsOnQueue.waitFor(1)[0]);
    const auto events = connectionEvents.waitFor(1);
    EXPECT_EQ(events[0].state, TcpConnection::State::ready);
}

TEST_F(AsioTcpTransportTest, AnyAddressListenerIsReachedOverIPv6Loopback) {
    const auto port = listen(iPadParameters());
    std::optional<LoopbackClient> client;
    try {
        client.emplace("::1", port);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    auto connection = acceptedConnection();
    client->send(bytesOf("v6"));
    receive(connection, 1, 65540);
    EXPECT_EQ(received.waitFor(1)[0].content, bytesOf("v6"));
}

// Without keepalive is how the Agent API listener is made: its connections too
// send each answer at once (TCP_NODELAY).
TEST_F(AsioTcpTransportTest, AcceptedSocketsCarryTheKeepaliveOptionsNoDelayAndCloseOnExec) {
    struct Case {
        std::optional<TcpKeepalive> keepalive;
        int enabled;
        int idle, interval, count; // checked only when enabled
    };
    const Case cases[] = {
        {TcpKeepalive{}, 1, 30, 10, 3},
        {TcpKeepalive{std::chrono::seconds{45}, std::chrono::seconds{5}, 7}, 1, 45, 5, 7},
        {std::nullopt, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        startAfresh();
        const auto before = accepted.values().size();
        const auto port = listen({c.keepalive, true, std::nullopt});
        LoopbackClient client("127.0.0.1", port);
        auto connection = std::dynamic_pointer_cast<AsioTcpConnection>(acceptedConnection(before));
        ASSERT_NE(connection, nullptr);
        const int descriptor = onQueue(queue, [connection] { return connection->nativeHandle(); });

        auto option = [descriptor](int level, int name) {
            int value = -1;
            socklen_t length = sizeof value;
            EXPECT_EQ(::getsockopt(descriptor, level, name, &value, &length), 0);
            return value;
        };
        EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE) != 0, c.enabled != 0);
        if (c.enabled) {
            EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), c.idle);
            EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), c.interval);
            EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), c.count);
        }
        EXPECT_NE(option(IPPROTO_TCP, TCP_NODELAY), 0);
        EXPECT_NE(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, 0);
    }
}

// With every descriptor taken, accepting fails: the listener tries again later
// rather than failing, and accepts once a descriptor is free again.
TEST_F(AsioTcpTransportTest, ListenerOutOfDescriptorsWaitsAndAcceptsOnceOneIsFree) {
    const auto port = listen(iPadParameters());
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(client) + 16;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    std::vector<int> filler;
    for (int descriptor; (descriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        filler.push_back(descriptor);
    }
    const int openError = errno;

    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int connected = ::connect(client, reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto acceptedWhileFull = accepted.values().size();

    for (const int descriptor : filler) {
        ::close(descriptor);
    }
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &original), 0);
    EXPECT_EQ(openError, EMFILE);
    ASSERT_EQ(connected, 0);
    EXPECT_EQ(acceptedWhileFull, 0U);
    acceptedConnection(); // waits for it
    EXPECT_EQ(listenerEvents.values().size(), 1U) << "still only the ready report";
    ::close(client);
}

TEST_F(AsioTcpTransportTest, ReceiveDeliversBetweenOneAndTheMaximumInOrder) {
    const auto port = listen(iPadParameters());
    LoopbackClient client("127.0.0.1", port);
    auto connection = acceptedConnection();

    std::vector<std::uint8_t> sent(1000);
    std::iota(sent.begin(), sent.end(), std::uint8_t{0});
    client.send(sent);

    std::vector<std::uint8_t> collected;
    for (std::size_t count = 1; collected.size() < sent.size(); ++count) {
        receive(connection, 1, 7);
        const auto result = received.waitFor(count).back();
        ASSERT_FALSE(result.error.has_value());
        ASSERT_FALSE(result.isComplete);
        ASSERT_GE(result.content.size(), 1u);
        ASSERT_LE(result.content.size(), 7u);
        EXPECT_TRUE(result.onQueue);
        collected.insert(collected.end(), result.content.begin(), result.content.end());
    }
    EXPECT_EQ(collected, sent);
}

TEST_F(AsioTcpTransportTest, ReceiveWaitsForTheMinimumLength) {
    const auto port = listen(iPadParameters());
    LoopbackClient client("127.0.0.1", port);
    auto connection = acceptedConnection();

    receive(connection, 6, 100);
    client.send(bytesOf("abc"));
    // Three bytes are fewer than the six asked for: nothing may be delivered yet.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(received.values().empty());
    client.send(bytesOf("defg"));

    const auto result = received.waitFor(1)[0];
    EXPECT_GE(result.content.size(), 6u);
    EXPECT_EQ(std::string(result.content.begin(), result.content.begin() + 6), "abcdef");
}

TEST_F(AsioTcpTransportTest, EndOfStreamSetsTheCompletionFlag) {
    struct Case {
        std::size_t minimum;
    };
    // With a minimum above what arrives, the bytes and the end come together.
    for (const Case c : {Case{1}, Case{10}}) {
        SCOPED_TRACE(c.minimum);
        // Regression: the first listener's late cancellation passed for the second's
        // first report.
        startAfresh();
        received.clear();
        const auto before = accepted.values().size();
        const auto port = listen(iPadParameters());
        LoopbackClient client("127.0.0.1", port);
        auto connection = acceptedConnection(before);
        client.send(bytesOf("abc"));
        client.finishSending();

        std::vector<std::uint8_t> collected;
        for (std::size_t count = 1;; ++count) {
            receive(connection, c.minimum, 100);
            const auto result = received.waitFor(count).back();
            ASSERT_FALSE(result.error.has_value());
            collected.insert(collected.end(), result.content.begin(), result.content.end());
            if (result.isComplete) {
                break;
            }
            ASSERT_LT(count, 5u);
        }
        EXPECT_EQ(collected, bytesOf("abc"));

        // A receive after the end reports the end again.
        const auto count = received.values().size();
        receive(connection, 1, 100);
        const auto again = received.waitFor(count + 1).back();
        EXPECT_TRUE(again.isComplete);
        EXPECT_TRUE(again.content.empty());
        EXPECT_FALSE(again.error.has_value());
    }
}

TEST_F(AsioTcpTransportTest, ManySendsArriveWholeAndInOrder) {
    const auto port = listen(iPadParameters());
    LoopbackClient client("127.0.0.1", port);
    auto connection = acceptedConnection();

    // Large sends fill the socket buffer, so later ones must wait their turn.
    constexpr int sendCount = 120;
    std::vector<std::uint8_t> expected;
    Recorder<std::pair<int, bool>> completions;
    onQueue(queue, [&] {
        for (int i = 0; i < sendCount; ++i) {
            const std::size_t size = (i % 10 == 0) ? 200000 : static_cast<std::size_t>(i + 1);
            std::vector<std::uint8_t> frame(size, static_cast<std::uint8_t>(i));
            expected.insert(expected.end(), frame.begin(), frame.end());
            connection->send(std::move(frame), [&, i](const std::optional<TransportError>& error) {
                completions.add({i, !error.has_value()});
            });
        }
    });

    EXPECT_EQ(client.read(expected.size()), expected);
    const auto done = completions.waitFor(sendCount);
    for (int i = 0; i < sendCount; ++i) {
        EXPECT_EQ(done[static_cast<std::size_t>(i)], std::make_pair(i, true));
    }
}

TEST_F(AsioTcpTransportTest, CancelCompletesThePendingReceiveThenReportsCancelledOnce) {
    const auto port = listen(iPadParameters());
    LoopbackClient client("127.0.0.1", port);
    auto connection = acceptedConnection();
    ASSERT_EQ(connectionEvents.waitFor(1)[0].state, TcpConnection::State::ready);

    Recorder<std::string> order;
    onQueue(queue, [&] {
        connection->setStateUpdateHandler(
            [&](TcpConnection::State state, const std::optional<TransportError>&) {
                order.add(state == TcpConnection::State::cancelled ? "cancelled" : "other");
            });
        connection->receive(
            1, 65540,
            [&](std::vector<std::uint8_t>, bool, const std::optional<TransportError>& error) {
                order.add(error && error->errorNumber() == ECANCELED ? "receive cancelled"
                                                                     : "receive other");
            });
        connection->cancel();
        connection->cancel();
        connection->send(bytesOf("late"), [&](const std::optional<TransportError>& error) {
            order.add(error ? "send failed" : "send ok");
        });
    });

    EXPECT_EQ(order.waitFor(3),
              (std::vector<std::string>{"receive cancelled", "cancelled", "send failed"}));
    EXPECT_TRUE(client.seesEndOfStream());
    // A second cancel reports nothing more.
    onQueue(queue, [] {});
    EXPECT_EQ(order.values().size(), 3u);
}

TEST_F(AsioTcpTransportTest, PeerResetFailsThePendingReceiveAndReportsFailed) {
    const auto port = listen(iPadParameters());
    std::shared_ptr<TcpConnection> connection;
    {
        LoopbackClient client("127.0.0.1", port);
        connection = acceptedConnection();
        ASSERT_EQ(connectionEvents.waitFor(1)[0].state, TcpConnection::State::ready);
        client.resetOnClose();
    }
    receive(connection, 1, 100);
    const auto result = received.waitFor(1)[0];
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->errorNumber(), ECONNRESET);
    EXPECT_FALSE(result.isComplete);

    const auto events = connectionEvents.waitFor(2);
    EXPECT_EQ(events[1].state, TcpConnection::State::failed);
    EXPECT_EQ(events[1].error, result.error);

    // Later operations fail at once with the same error.
    receive(connection, 1, 100);
    EXPECT_EQ(received.waitFor(2)[1].error, result.error);
}

// A peer that vanished must fail the send, not raise SIGPIPE and end the program.
TEST_F(AsioTcpTransportTest, SendingToAResetPeerFailsTheSend) {
    const auto port = listen(iPadParameters());
    std::shared_ptr<TcpConnection> connection;
    {
        LoopbackClient client("127.0.0.1", port);
        connection = acceptedConnection();
        ASSERT_EQ(connectionEvents.waitFor(1)[0].state, TcpConnection::State::ready);
        client.resetOnClose();
    }
    Recorder<std::optional<TransportError>> completions;
    onQueue(queue, [&] {
        for (int i = 0; i < 3; ++i) {
            connection->send(
                std::vector<std::uint8_t>(100000, 7),
                [&](const std::optional<TransportError>& error) { completions.add(error); });
        }
    });
    const auto results = completions.waitFor(3);
    ASSERT_TRUE(results.back().has_value());
    EXPECT_TRUE(results.back()->errorNumber() == ECONNRESET ||
                results.back()->errorNumber() == EPIPE)
        << results.back()->description();
    EXPECT_EQ(connectionEvents.waitFor(2)[1].state, TcpConnection::State::failed);
}

TEST_F(AsioTcpTransportTest, TakenPortIsAFailedReportWithTheSystemText) {
    const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);
    const std::uint16_t takenPort = ntohs(address.sin_port);

    listener = transport.makeListener({std::nullopt, false, TcpEndpoint{"127.0.0.1", takenPort}});
    listener->setStateUpdateHandler(
        [this](TcpListener::State state, const std::optional<TransportError>& error) {
            listenerEvents.add({state, error, queue.isCurrent()});
        });
    ASSERT_NO_THROW(listener->start());

    const auto event = listenerEvents.waitFor(1)[0];
    EXPECT_EQ(event.state, TcpListener::State::failed);
    EXPECT_TRUE(event.onQueue);
    ASSERT_TRUE(event.error.has_value());
    EXPECT_EQ(*event.error, TransportError(EADDRINUSE, "Address already in use"));
    ::close(blocker);
}

TEST_F(AsioTcpTransportTest, RequiredLocalEndpointIsUsedAsGiven) {
    const auto wanted = test::freeLoopbackPort();
    const auto port = listen({std::nullopt, false, TcpEndpoint{"127.0.0.1", wanted}});
    EXPECT_EQ(port, wanted);
    LoopbackClient client("127.0.0.1", port);
    acceptedConnection();
    EXPECT_THROW(LoopbackClient("::1", port), std::runtime_error);
}

TEST_F(AsioTcpTransportTest, AFixedLocalPortIsTakenOnEveryAddress) {
    const auto wanted = test::freeLoopbackPort();
    auto parameters = iPadParameters();
    parameters.localPort = wanted;
    EXPECT_EQ(listen(parameters), wanted);
    LoopbackClient client("127.0.0.1", wanted);
    acceptedConnection();
    EXPECT_TRUE(connectionsOnQueue.waitFor(1)[0]);
    std::optional<LoopbackClient> overIPv6;
    try {
        overIPv6.emplace("::1", wanted);
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "this machine has no IPv6 loopback";
    }
    acceptedConnection(1);
}

// A fixed port held by an IPv6-only listener once fell back to an IPv4-only
// listener: iPads on IPv6 then met another program on the bridge's port.
TEST_F(AsioTcpTransportTest, ATakenFixedPortFailsInsteadOfFallingBackToIPv4Alone) {
    const int blocker = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (blocker < 0) {
        GTEST_SKIP() << "this machine has no IPv6";
    }
    const int on = 1;
    ASSERT_EQ(::setsockopt(blocker, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on), 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_any;
    ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(blocker, 1), 0);
    socklen_t length = sizeof address;
    ::getsockname(blocker, reinterpret_cast<sockaddr*>(&address), &length);

    auto parameters = iPadParameters();
    parameters.localPort = ntohs(address.sin6_port);
    listener = transport.makeListener(parameters);
    listener->setStateUpdateHandler(
        [this](TcpListener::State state, const std::optional<TransportError>& error) {
            listenerEvents.add({state, error, queue.isCurrent()});
        });
    listener->start();
    const auto event = listenerEvents.waitFor(1)[0];
    EXPECT_EQ(event.state, TcpListener::State::failed);
    ASSERT_TRUE(event.error.has_value());
    EXPECT_EQ(*event.error, TransportError(EADDRINUSE, "Address already in use"));
    ::close(blocker);
}

TEST_F(AsioTcpTransportTest, CancelledListenerReportsCancelledOnceAndRefusesConnections) {
    const auto port = listen(iPadParameters());
    listener->cancel(); // from the test thread: carried to the queue
    onQueue(queue, [this] { listener->cancel(); });

    const auto events = listenerEvents.waitFor(2);
    EXPECT_EQ(events[1].state, TcpListener::State::cancelled);
    EXPECT_TRUE(events[1].onQueue);
    EXPECT_THROW(LoopbackClient("127.0.0.1", port), std::runtime_error);
    onQueue(queue, [] {});
    EXPECT_EQ(listenerEvents.values().size(), 2u);
}

TEST_F(AsioTcpTransportTest, UnusableParametersAreRefusedAtCreation) {
    const TcpListenerParameters cases[] = {
        {std::nullopt, false, TcpEndpoint{"localhost", 1234}},
        {std::nullopt, false, TcpEndpoint{"", 1234}},
        {std::nullopt, false, TcpEndpoint{"127.0.0.256", 1234}},
        {TcpKeepalive{std::chrono::seconds{0}, std::chrono::seconds{10}, 3}, true, std::nullopt},
        {TcpKeepalive{std::chrono::seconds{30}, std::chrono::seconds{40000}, 3}, true,
         std::nullopt},
        {TcpKeepalive{std::chrono::seconds{30}, std::chrono::seconds{10}, 0}, true, std::nullopt},
        {TcpKeepalive{std::chrono::seconds{30}, std::chrono::seconds{10}, 128}, true, std::nullopt},
    };
    for (const auto& parameters : cases) {
        try {
            transport.makeListener(parameters);
            ADD_FAILURE() << "accepted unusable parameters";
        } catch (const TransportError& error) {
            EXPECT_EQ(error.errorNumber(), EINVAL);
            EXPECT_FALSE(error.description().empty());
        }
    }
}

} // namespace
} // namespace varnello
