#include "server/AsioTcpListener.h"

#include "server/AsioTcpConnection.h"
#include "server/AsioTransportErrors.h"

#include <asio/error.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace varnello {

namespace {

std::error_code lastError() {
    return {errno, std::system_category()};
}

// While descriptors or buffers run out, accepting again at once would spin.
constexpr std::chrono::milliseconds exhaustedRetryDelay{100};

} // namespace

AsioTcpListener::AsioTcpListener(asio::io_context& context, TcpListenerParameters parameters,
                                 std::optional<asio::ip::tcp::endpoint> requiredEndpoint)
    : context_(context), parameters_(std::move(parameters)),
      requiredEndpoint_(std::move(requiredEndpoint)), acceptor_(context), retryTimer_(context) {}

void AsioTcpListener::setStateUpdateHandler(StateHandler handler) {
    stateHandler_ = std::move(handler);
}

void AsioTcpListener::setNewConnectionHandler(NewConnectionHandler handler) {
    newConnectionHandler_ = std::move(handler);
}

void AsioTcpListener::start() {
    if (std::exchange(started_, true)) {
        return;
    }
    asio::post(context_, [self = shared_from_this()] { self->open(); });
}

std::optional<std::uint16_t> AsioTcpListener::port() const {
    return port_;
}

void AsioTcpListener::cancel() {
    if (context_.get_executor().running_in_this_thread()) {
        cancelOnQueue();
    } else {
        asio::post(context_, [self = shared_from_this()] { self->cancelOnQueue(); });
    }
}

void AsioTcpListener::open() {
    if (cancelled_) {
        return;
    }
    std::error_code error;
    if (requiredEndpoint_) {
        error = bindAndListen(*requiredEndpoint_, false);
    } else {
        const std::uint16_t port = parameters_.localPort.value_or(0);
        error = bindAndListen({asio::ip::address_v6::any(), port}, true);
        // No IPv6 on this machine: IPv4 alone. A taken port is taken for both.
        if (error && error != asio::error::address_in_use) {
            error = bindAndListen({asio::ip::address_v4::any(), port}, false);
        }
    }
    if (error) {
        fail(transportErrorFrom(error));
        return;
    }
    port_ = acceptor_.local_endpoint(error).port();
    if (error) {
        fail(transportErrorFrom(error));
        return;
    }
    report(State::ready, std::nullopt);
    acceptNext();
}

std::error_code AsioTcpListener::bindAndListen(const asio::ip::tcp::endpoint& endpoint,
                                               bool dualStack) {
    std::error_code error;
    acceptor_.close(error);
    const int descriptor = ::socket(endpoint.protocol().family(),
                                    SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (descriptor < 0) {
        return lastError();
    }
    acceptor_.assign(endpoint.protocol(), descriptor, error);
    if (error) {
        ::close(descriptor);
        return error;
    }
    if (parameters_.allowLocalEndpointReuse) {
        acceptor_.set_option(asio::socket_base::reuse_address(true), error);
    }
    if (!error && dualStack) {
        acceptor_.set_option(asio::ip::v6_only(false), error);
    }
    if (!error) {
        acceptor_.bind(endpoint, error);
    }
    if (!error) {
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        std::error_code ignored;
        acceptor_.close(ignored);
    }
    return error;
}

void AsioTcpListener::acceptNext() {
    acceptor_.async_wait(
        asio::ip::tcp::acceptor::wait_read,
        [self = shared_from_this()](const std::error_code& error) { self->onAcceptable(error); });
}

void AsioTcpListener::onAcceptable(const std::error_code& error) {
    if (cancelled_ || failed_) {
        return;
    }
    if (error) {
        fail(transportErrorFrom(error));
        return;
    }
    acceptOne();
}

void AsioTcpListener::acceptOne() {
    const int descriptor =
        ::accept4(acceptor_.native_handle(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (descriptor < 0) {
        switch (errno) {
        case EAGAIN:
        case EINTR:
        case ECONNABORTED:
        case EPROTO:
        case EPERM:
            // Only this one connection attempt is lost.
            acceptNext();
            return;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            retryAcceptLater();
            return;
        default:
            fail(transportErrorFromErrno(errno));
            return;
        }
    }
    if (configureAccepted(descriptor)) {
        ::close(descriptor);
        acceptNext();
        return;
    }
    std::error_code error;
    asio::ip::tcp::socket socket(context_);
    socket.assign(acceptor_.local_endpoint(error).protocol(), descriptor, error);
    if (error) {
        ::close(descriptor);
        acceptNext();
        return;
    }
    auto connection = std::make_shared<AsioTcpConnection>(context_, std::move(socket));
    acceptNext();
    if (newConnectionHandler_) {
        newConnectionHandler_(std::move(connection));
    }
}

void AsioTcpListener::retryAcceptLater() {
    retryTimer_.expires_after(exhaustedRetryDelay);
    retryTimer_.async_wait([self = shared_from_this()](const std::error_code& error) {
        if (!error && !self->cancelled_ && !self->failed_) {
            self->acceptNext();
        }
    });
}

std::error_code AsioTcpListener::configureAccepted(int descriptor) const {
    const int on = 1;
    // Answers are small and go out the moment they are ready: without this,
    // an answer waits for the peer's acknowledgement of the one before (up to
    // 40 ms against a peer that delays its acknowledgements).
    if (::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
        return lastError();
    }
    if (!parameters_.keepalive) {
        return {};
    }
    const TcpKeepalive& keepalive = *parameters_.keepalive;
    const int idle = static_cast<int>(keepalive.idle.count());
    const int interval = static_cast<int>(keepalive.interval.count());
    const int count = keepalive.count;
    if (::setsockopt(descriptor, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0 ||
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) != 0 ||
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0 ||
        ::setsockopt(descriptor, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) != 0) {
        return lastError();
    }
    return {};
}

void AsioTcpListener::fail(const TransportError& error) {
    failed_ = true;
    std::error_code ignored;
    acceptor_.close(ignored);
    retryTimer_.cancel();
    report(State::failed, error);
}

void AsioTcpListener::cancelOnQueue() {
    if (std::exchange(cancelled_, true)) {
        return;
    }
    std::error_code ignored;
    acceptor_.close(ignored);
    retryTimer_.cancel();
    asio::post(context_, [self = shared_from_this()] {
        self->report(State::cancelled, std::nullopt);
        // Nothing is reported after this; let go of what the handlers hold.
        self->stateHandler_ = nullptr;
        self->newConnectionHandler_ = nullptr;
    });
}

void AsioTcpListener::report(State state, const std::optional<TransportError>& error) {
    if (stateHandler_) {
        stateHandler_(state, error);
    }
}

} // namespace varnello
