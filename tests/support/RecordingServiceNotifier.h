#pragma once

#include "support/ServiceNotifier.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace varnello {

// Keeps every notification as systemd would receive it ("READY=1",
// "STATUS=…", "WATCHDOG=1", "STOPPING=1"), with the thread that sent it; the
// watchdog time-out is the test's to choose. Thread-safe.
class RecordingServiceNotifier final : public ServiceNotifier {
public:
    struct Notification {
        std::string text;
        std::thread::id thread;
    };

    explicit RecordingServiceNotifier(
        std::optional<std::chrono::microseconds> watchdogTimeout = std::nullopt)
        : watchdogTimeout_(watchdogTimeout) {}

    void ready() override { add("READY=1"); }
    void status(std::string_view text) override { add("STATUS=" + std::string(text)); }
    void watchdog() override { add("WATCHDOG=1"); }
    void stopping() override { add("STOPPING=1"); }
    std::optional<std::chrono::microseconds> watchdogTimeout() const override {
        return watchdogTimeout_;
    }

    std::vector<Notification> notifications() const {
        std::lock_guard lock(mutex_);
        return notifications_;
    }

    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        for (const auto& notification : notifications()) {
            result.push_back(notification.text);
        }
        return result;
    }

private:
    void add(std::string text) {
        std::lock_guard lock(mutex_);
        notifications_.push_back({std::move(text), std::this_thread::get_id()});
    }

    std::optional<std::chrono::microseconds> watchdogTimeout_;
    mutable std::mutex mutex_;
    std::vector<Notification> notifications_;
};

} // namespace varnello
