#include "server/AsioTcpConnection.h"

#include "server/AsioTransportErrors.h"

#include <algorithm>
#include <asio/error.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cassert>
#include <cerrno>
#include <utility>

namespace varnello {

AsioTcpConnection::AsioTcpConnection(asio::io_context& context, asio::ip::tcp::socket socket)
    : queue_(context.get_executor()), socket_(std::move(socket)) {
    // Reads are made once the socket is readable, and must never block the queue.
    std::error_code ignored;
    socket_.non_blocking(true, ignored);
}

bool AsioTcpConnection::isOnQueue() const noexcept {
    return queue_.running_in_this_thread();
}

void AsioTcpConnection::setStateUpdateHandler(StateHandler handler) {
    stateHandler_ = std::move(handler);
}

void AsioTcpConnection::start() {
    assert(isOnQueue());
    if (started_ || cancelled_) {
        return;
    }
    started_ = true;
    if (failure_) {
        postReport(State::failed, failure_);
    } else {
        postReport(State::ready, std::nullopt);
    }
}

void AsioTcpConnection::receive(std::size_t minimumIncompleteLength, std::size_t maximumLength,
                                ReceiveCompletion completion) {
    assert(isOnQueue());
    auto refuse = [&](const std::optional<TransportError>& error, bool isComplete) {
        asio::post(queue_, [completion = std::move(completion), error, isComplete] {
            if (completion) {
                completion({}, isComplete, error);
            }
        });
    };
    if (cancelled_) {
        return refuse(transportErrorFromErrno(ECANCELED), false);
    }
    if (failure_) {
        return refuse(failure_, false);
    }
    if (pendingReceive_) {
        return refuse(transportErrorFromErrno(EALREADY), false);
    }
    if (maximumLength == 0 || minimumIncompleteLength > maximumLength) {
        return refuse(transportErrorFromErrno(EINVAL), false);
    }
    if (peerFinished_) {
        return refuse(std::nullopt, true);
    }
    pendingReceive_ = std::move(completion);
    if (!pendingReceive_) {
        pendingReceive_ = [](std::vector<std::uint8_t>, bool,
                             const std::optional<TransportError>&) {};
    }
    received_ = 0;
    maximumLength_ = maximumLength;
    minimumLength_ = std::max<std::size_t>(minimumIncompleteLength, 1);
    readSome();
}

// Waits for bytes before taking a buffer for them, so a connection that sends
// nothing holds no receive buffer.
void AsioTcpConnection::readSome() {
    socket_.async_wait(
        asio::ip::tcp::socket::wait_read,
        [self = shared_from_this()](const std::error_code& error) { self->onReadable(error); });
}

void AsioTcpConnection::onReadable(const std::error_code& error) {
    if (!pendingReceive_) {
        return;
    }
    if (error) {
        onRead(error, 0);
        return;
    }
    if (receiveBuffer_.size() != maximumLength_) {
        receiveBuffer_.resize(maximumLength_);
    }
    std::error_code readError;
    const std::size_t count = socket_.read_some(
        asio::buffer(receiveBuffer_.data() + received_, receiveBuffer_.size() - received_),
        readError);
    if (readError == asio::error::would_block || readError == asio::error::try_again) {
        readSome();
        return;
    }
    onRead(readError, count);
}

void AsioTcpConnection::onRead(const std::error_code& error, std::size_t count) {
    if (!pendingReceive_) {
        // Already completed by cancel or a failure.
        return;
    }
    received_ += count;
    if (error == asio::error::eof) {
        peerFinished_ = true;
        completeReceive(true, std::nullopt);
    } else if (error) {
        const TransportError failure = transportErrorFrom(error);
        completeReceive(false, failure);
        fail(failure);
    } else if (received_ < minimumLength_) {
        readSome();
    } else {
        completeReceive(false, std::nullopt);
    }
}

void AsioTcpConnection::completeReceive(bool isComplete,
                                        const std::optional<TransportError>& error) {
    auto completion = std::exchange(pendingReceive_, nullptr);
    receiveBuffer_.resize(received_);
    auto content = std::exchange(receiveBuffer_, {});
    received_ = 0;
    completion(std::move(content), isComplete, error);
}

void AsioTcpConnection::send(std::vector<std::uint8_t> content, SendCompletion completion) {
    assert(isOnQueue());
    if (cancelled_ || failure_) {
        auto error = cancelled_ ? transportErrorFromErrno(ECANCELED) : *failure_;
        asio::post(queue_, [completion = std::move(completion), error] {
            if (completion) {
                completion(error);
            }
        });
        return;
    }
    sends_.push_back(
        PendingSend{std::make_shared<const std::vector<std::uint8_t>>(std::move(content)),
                    std::move(completion)});
    if (!writing_) {
        writeNext();
    }
}

void AsioTcpConnection::writeNext() {
    if (sends_.empty() || cancelled_ || failure_) {
        writing_ = false;
        return;
    }
    writing_ = true;
    // The write holds its bytes itself: a cancel may drop the queue meanwhile.
    auto content = sends_.front().content;
    asio::async_write(socket_, asio::buffer(*content),
                      [self = shared_from_this(), content](
                          const std::error_code& error, std::size_t) { self->onWritten(error); });
}

void AsioTcpConnection::onWritten(const std::error_code& error) {
    if (sends_.empty() || cancelled_ || failure_) {
        writing_ = false;
        return;
    }
    if (error) {
        writing_ = false;
        fail(transportErrorFrom(error));
        return;
    }
    auto completion = std::move(sends_.front().completion);
    sends_.pop_front();
    writeNext();
    if (completion) {
        completion(std::nullopt);
    }
}

void AsioTcpConnection::fail(const TransportError& error) {
    if (cancelled_ || failure_) {
        return;
    }
    failure_ = error;
    std::error_code ignored;
    socket_.close(ignored);
    abandonPending(error);
    postReport(State::failed, error);
}

void AsioTcpConnection::cancel() {
    assert(isOnQueue());
    if (cancelled_) {
        return;
    }
    cancelled_ = true;
    std::error_code ignored;
    socket_.shutdown(asio::socket_base::shutdown_both, ignored);
    socket_.close(ignored);
    abandonPending(transportErrorFromErrno(ECANCELED));
    postReport(State::cancelled, std::nullopt);
}

void AsioTcpConnection::abandonPending(const TransportError& error) {
    auto executor = queue_;
    if (auto completion = std::exchange(pendingReceive_, nullptr)) {
        asio::post(executor,
                   [completion = std::move(completion), error] { completion({}, false, error); });
    }
    for (auto& pending : std::exchange(sends_, {})) {
        if (pending.completion) {
            asio::post(executor,
                       [completion = std::move(pending.completion), error] { completion(error); });
        }
    }
}

void AsioTcpConnection::postReport(State state, std::optional<TransportError> error) {
    asio::post(queue_, [self = shared_from_this(), state, error = std::move(error)] {
        if (state == State::ready && (self->cancelled_ || self->failure_)) {
            return;
        }
        if (self->stateHandler_) {
            self->stateHandler_(state, error);
        }
        if (state == State::cancelled) {
            // Nothing is reported after this; let go of what the handler holds.
            self->stateHandler_ = nullptr;
        }
    });
}

int AsioTcpConnection::nativeHandle() noexcept {
    return socket_.is_open() ? socket_.native_handle() : -1;
}

} // namespace varnello
