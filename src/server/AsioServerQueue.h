#pragma once

#include "support/Executor.h"

#include <asio/io_context.hpp>
#include <chrono>
#include <memory>

namespace varnello {

// The server queue: one io_context run by one dedicated thread, named
// "TessaroBridge", from construction until stop. Everything of the server
// runs there, one handler at a time, so what only it touches needs no lock.
// post, postAfter and isCurrent are thread-safe; stop and the destructor are
// called from another thread (the destructor also copes with being run on the
// queue itself, or after stop left a stuck thread, by letting the thread finish
// on its own).
class AsioServerQueue final : public Executor {
public:
    AsioServerQueue();
    ~AsioServerQueue() override;

    AsioServerQueue(const AsioServerQueue&) = delete;
    AsioServerQueue& operator=(const AsioServerQueue&) = delete;

    void post(Work work) override;
    // A one-shot timer on the queue; it cannot be cancelled, so the work
    // should hold its target weakly.
    void postAfter(std::chrono::milliseconds delay, Work work) override;
    bool isCurrent() const noexcept override;

    // For the transport: sockets and timers are made on this context. They
    // must be destroyed before the queue.
    asio::io_context& context() noexcept;

    // Lets the queue run until it has nothing left to do (no posted work,
    // no socket or timer waiting), for at most `grace`, then stops it and
    // joins its thread. Work posted after that is dropped. Idempotent.
    //
    // The handler running when the grace ends has handlerLimit more to return.
    // One that does not (stuck in a name lookup, say) cannot be interrupted:
    // the thread is then left to itself and stop answers false, and from then on
    // the caller must end the process without destroying anything that handler
    // may touch. True when the thread has ended.
    bool stop(std::chrono::milliseconds grace = std::chrono::milliseconds{0});

    static constexpr std::chrono::milliseconds handlerLimit{500};

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace varnello
