#pragma once

#include "support/LogSink.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <mutex>

namespace varnello {

// Writes one line per record to a stdio stream (standard error in the program):
// "2026-12-09T23:40:01.123Z info orvane.TessaroBridge runtime: text".
// Thread-safe.
class StreamLogSink final : public LogSink {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    explicit StreamLogSink(
        std::FILE* stream, Clock clock = [] { return std::chrono::system_clock::now(); });

    void write(const LogRecord& record) override;

    static std::string formatLine(std::chrono::system_clock::time_point time,
                                  const LogRecord& record);

private:
    std::FILE* stream_;
    Clock clock_;
    std::mutex mutex_;
};

} // namespace varnello
