#include "app/QtMainExecutor.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <utility>

namespace varnello {

QtMainExecutor::QtMainExecutor(QObject& context) : context_(&context), thread_(context.thread()) {}

void QtMainExecutor::post(Work work) {
    QMetaObject::invokeMethod(context_, std::move(work), Qt::QueuedConnection);
}

void QtMainExecutor::postAfter(std::chrono::milliseconds delay, Work work) {
    // A timer belongs to the thread that starts it, and only the main thread runs
    // an event loop: hop there first.
    post([context = context_, delay, work = std::move(work)]() mutable {
        QTimer::singleShot(delay, context, std::move(work));
    });
}

bool QtMainExecutor::isCurrent() const noexcept {
    return QThread::currentThread() == thread_;
}

} // namespace varnello
