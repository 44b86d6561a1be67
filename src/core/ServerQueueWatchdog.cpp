#include "core/ServerQueueWatchdog.h"

#include <algorithm>
#include <asio/post.hpp>
#include <utility>

namespace varnello {

std::shared_ptr<ServerQueueWatchdog>
ServerQueueWatchdog::start(asio::io_context& queue, std::shared_ptr<ServiceNotifier> notifier) {
    if (!notifier) {
        return nullptr;
    }
    const auto timeout = notifier->watchdogTimeout();
    if (!timeout) {
        return nullptr;
    }
    auto watchdog =
        std::make_shared<ServerQueueWatchdog>(queue, std::move(notifier), intervalFor(*timeout));
    asio::post(queue, [weak = std::weak_ptr(watchdog)] {
        if (auto self = weak.lock()) {
            self->tick();
        }
    });
    return watchdog;
}

ServerQueueWatchdog::ServerQueueWatchdog(asio::io_context& queue,
                                         std::shared_ptr<ServiceNotifier> notifier,
                                         std::chrono::milliseconds interval)
    : queue_(queue), notifier_(std::move(notifier)), interval_(interval), timer_(queue) {}

std::chrono::milliseconds
ServerQueueWatchdog::intervalFor(std::chrono::microseconds timeout) noexcept {
    return std::max(std::chrono::milliseconds{1},
                    std::chrono::duration_cast<std::chrono::milliseconds>(timeout / 2));
}

void ServerQueueWatchdog::tick() {
    notifier_->watchdog();
    timer_.expires_after(interval_);
    timer_.async_wait([weak = weak_from_this()](const std::error_code& error) {
        if (auto self = weak.lock(); self && !error) {
            self->tick();
        }
    });
}

void ServerQueueWatchdog::stop() {
    asio::post(queue_, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->timer_.cancel();
        }
    });
}

} // namespace varnello
