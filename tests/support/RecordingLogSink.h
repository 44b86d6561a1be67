#pragma once

#include "support/LogSink.h"

#include <mutex>
#include <vector>

namespace varnello {

// Keeps every record in memory, for tests that check what was logged. Thread-safe.
class RecordingLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override {
        std::lock_guard lock(mutex_);
        records_.push_back(record);
    }

    std::vector<LogRecord> records() const {
        std::lock_guard lock(mutex_);
        return records_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

} // namespace varnello
