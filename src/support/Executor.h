#pragma once

#include <chrono>
#include <functional>

namespace varnello {

// Runs work, one item at a time, on one thread: in the program the main thread
// (over Qt's event loop), in tests a ManualExecutor driven step by step.
// post and postAfter are thread-safe; isCurrent tells whether the caller runs
// on the executor's thread.
class Executor {
public:
    using Work = std::function<void()>;

    virtual ~Executor() = default;

    virtual void post(Work work) = 0;
    virtual void postAfter(std::chrono::milliseconds delay, Work work) = 0;
    virtual bool isCurrent() const noexcept = 0;
};

} // namespace varnello
