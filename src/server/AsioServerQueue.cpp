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
    timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
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
