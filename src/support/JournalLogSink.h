#pragma once

#include "support/LogSink.h"

#include <memory>

namespace varnello {

// Sends records to the systemd journal with the subsystem and category as
// fields. Thread-safe.
class JournalLogSink final : public LogSink {
public:
    void write(const LogRecord& record) override;
};

// The journal when the program runs under systemd (JOURNAL_STREAM is set),
// standard error otherwise.
std::shared_ptr<LogSink> makeProgramLogSink();

} // namespace varnello
