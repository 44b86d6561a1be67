#pragma once

#include "support/Executor.h"

#include <QObject>

namespace varnello {

// The main thread's executor over Qt's event loop: work is queued to the thread
// of `context` (the application's thread) and runs there in posting order.
// post and postAfter are thread-safe. `context` must outlive every caller; work
// still queued when it is destroyed is dropped. Create it on the main thread.
class QtMainExecutor final : public Executor {
public:
    explicit QtMainExecutor(QObject& context);

    void post(Work work) override;
    void postAfter(std::chrono::milliseconds delay, Work work) override;
    bool isCurrent() const noexcept override;

private:
    QObject* context_;
    QThread* thread_;
};

} // namespace varnello
