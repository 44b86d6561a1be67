#include "support/ManualExecutor.h"

#include <cassert>

namespace varnello {

ManualExecutor::ManualExecutor() : owner_(std::this_thread::get_id()) {}

void ManualExecutor::post(Work work) {
    postAfter(std::chrono::milliseconds(0), std::move(work));
}

void ManualExecutor::postAfter(std::chrono::milliseconds delay, Work work) {
    std::lock_guard lock(mutex_);
    queue_.emplace(std::pair(now_ + delay, sequence_++), std::move(work));
}

bool ManualExecutor::isCurrent() const noexcept {
    return std::this_thread::get_id() == owner_;
}

bool ManualExecutor::runOneDue() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty() || queue_.begin()->first.first > now_) {
            return false;
        }
        work = std::move(queue_.begin()->second);
        queue_.erase(queue_.begin());
    }
    work();
    return true;
}

std::size_t ManualExecutor::runDue() {
    assert(isCurrent());
    std::size_t count = 0;
    while (runOneDue()) {
        ++count;
    }
    return count;
}

std::size_t ManualExecutor::advance(std::chrono::milliseconds by) {
    assert(isCurrent());
    std::size_t count = runDue();
    const auto target = now() + by;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty() || queue_.begin()->first.first > target) {
                now_ = target;
                break;
            }
            now_ = std::max(now_, queue_.begin()->first.first);
        }
        count += runDue();
    }
    return count + runDue();
}

std::chrono::milliseconds ManualExecutor::now() const {
    std::lock_guard lock(mutex_);
    return now_;
}

std::size_t ManualExecutor::pendingCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

} // namespace varnello
