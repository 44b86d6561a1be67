#include "server/AsioServerQueue.h"

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cassert>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <thread>
#include <unordered_set>

namespace varnello {

// Shared with the thread, so that a queue destroyed from one of its own
// handlers can let the thread finish and free everything afterwards.
struct AsioServerQueue::Shared {
    asio::io_context context{1};
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> keepRunning{
        asio::make_work_guard(context)};
    std::thread thread;
    std::mutex mutex;
    std::condition_variable finished;
    bool idle = false;
    // The timers waiting, and once stopping, the end of the grace: a timer
    // that would fire after it never runs, so it is dropped rather than
    // holding the stop for the whole grace (a connection's 30-second
    // time-outs, say). Guarded by the mutex; the timers themselves are
    // touched on the queue only.
    std::unordered_set<asio::steady_timer*> timers;
    std::optional<std::chrono::steady_clock::time_point> graceEnd;
};

AsioServerQueue::AsioServerQueue() : shared_(std::make_shared<Shared>()) {
    shared_->thread = std::thread([shared = shared_] {
        pthread_setname_np(pthread_self(), "TessaroBridge");
        shared->context.run();
        {
            std::lock_guard lock(shared->mutex);
            shared->idle = true;
        }
        shared->finished.notify_all();
    });
}

AsioServerQueue::~AsioServerQueue() {
    if (isCurrent()) {
        shared_->context.stop();
        shared_->thread.detach();
        return;
    }
    stop();
}

void AsioServerQueue::post(Work work) {
    asio::post(shared_->context, std::move(work));
}

void AsioServerQueue::postAfter(std::chrono::milliseconds delay, Work work) {
    auto timer = std::make_shared<asio::steady_timer>(shared_->context, delay);
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->graceEnd && timer->expiry() > *shared_->graceEnd) {
            return;
        }
        shared_->timers.insert(timer.get());
    }
    timer->async_wait([shared = std::weak_ptr(shared_), timer,
                       work = std::move(work)](const std::error_code& error) {
        if (auto alive = shared.lock()) {
            std::lock_guard lock(alive->mutex);
            alive->timers.erase(timer.get());
        }
        if (!error) {
            work();
        }
    });
}

bool AsioServerQueue::isCurrent() const noexcept {
    return shared_->context.get_executor().running_in_this_thread();
}

asio::io_context& AsioServerQueue::context() noexcept {
    return shared_->context;
}

bool AsioServerQueue::stop(std::chrono::milliseconds grace) {
    assert(!isCurrent());
    if (!shared_->thread.joinable()) {
        std::lock_guard lock(shared_->mutex);
        return shared_->idle;
    }
    const auto graceEnd = std::chrono::steady_clock::now() + grace;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->graceEnd = graceEnd;
    }
    // Held weakly: a handler that never runs (the queue is stuck) stays in the
    // context, which the shared state owns.
    asio::post(shared_->context, [weak = std::weak_ptr(shared_), graceEnd] {
        const auto shared = weak.lock();
        if (!shared) {
            return;
        }
        std::lock_guard lock(shared->mutex);
        for (auto* timer : shared->timers) {
            if (timer->expiry() > graceEnd) {
                timer->cancel();
            }
        }
    });
    shared_->keepRunning.reset();
    bool ended = false;
    {
        std::unique_lock lock(shared_->mutex);
        shared_->finished.wait_for(lock, grace, [this] { return shared_->idle; });
        shared_->context.stop();
        ended = shared_->finished.wait_for(lock, handlerLimit, [this] { return shared_->idle; });
    }
    if (!ended) {
        // The thread holds its own share of everything it uses.
        shared_->thread.detach();
        return false;
    }
    shared_->thread.join();
    return true;
}

} // namespace varnello
