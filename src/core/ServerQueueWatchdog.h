#pragma once

#include "support/ServiceNotifier.h"

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <memory>

namespace varnello {

// Tells the service manager, from the server queue itself and at half its
// watchdog time-out, that the queue still runs: a queue stuck in one handler
// stops the calls, and the service manager restarts the program.
//
// Must be owned by the std::shared_ptr that start returns. start and stop are
// thread-safe; the timer lives on the queue.
class ServerQueueWatchdog : public std::enable_shared_from_this<ServerQueueWatchdog> {
public:
    // Nothing when the notifier's service manager does not watch. The first call
    // goes out as soon as the queue runs it.
    static std::shared_ptr<ServerQueueWatchdog> start(asio::io_context& queue,
                                                      std::shared_ptr<ServiceNotifier> notifier);

    // No further calls: the timer is cancelled on the queue, so that the queue
    // can run out of work and finish.
    void stop();

    // Half the time-out, at least a millisecond.
    static std::chrono::milliseconds intervalFor(std::chrono::microseconds timeout) noexcept;

    ServerQueueWatchdog(asio::io_context& queue, std::shared_ptr<ServiceNotifier> notifier,
                        std::chrono::milliseconds interval);

private:
    void tick();

    asio::io_context& queue_;
    std::shared_ptr<ServiceNotifier> notifier_;
    std::chrono::milliseconds interval_;
    asio::steady_timer timer_;
};

} // namespace varnello
