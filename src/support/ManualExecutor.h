#pragma once

#include "support/Executor.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

namespace varnello {

// An executor whose time and work advance only when a test says so. Its
// thread is the one that created it. post and postAfter are thread-safe; the
// run and advance methods belong to the creating thread.
class ManualExecutor final : public Executor {
public:
    ManualExecutor();

    void post(Work work) override;
    void postAfter(std::chrono::milliseconds delay, Work work) override;
    bool isCurrent() const noexcept override;

    // Runs every item that is due now, including items they post; returns how many ran.
    std::size_t runDue();
    // Moves the clock forward, running what falls due on the way, in order.
    std::size_t advance(std::chrono::milliseconds by);

    std::chrono::milliseconds now() const;
    std::size_t pendingCount() const;

private:
    bool runOneDue();

    std::thread::id owner_;
    mutable std::mutex mutex_;
    std::chrono::milliseconds now_{0};
    std::uint64_t sequence_ = 0;
    // Ordered by due time, then by posting order.
    std::map<std::pair<std::chrono::milliseconds, std::uint64_t>, Work> queue_;
};

} // namespace varnello
