#pragma once

#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace varnello {

// SIGINT and SIGTERM, delivered through a signalfd to the Qt event loop instead of
// interrupting whatever thread they hit. Main thread only.
class TerminationSignals {
public:
    // Blocks both signals for the calling thread and every thread it starts later:
    // call first thing in main, before any thread exists. Throws std::system_error.
    static void block();

    // Calls `onSignal` with the signal's number, from the event loop. Throws
    // std::system_error.
    explicit TerminationSignals(std::function<void(int)> onSignal);
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

private:
    void readPending();

    int descriptor_;
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

} // namespace varnello
