#include "support/JournalLogSink.h"

#include "support/StreamLogSink.h"

#include <cstdlib>
#include <string>
#include <syslog.h>
#include <systemd/sd-journal.h>

namespace varnello {
namespace {

int priorityOf(LogLevel level) {
    switch (level) {
    case LogLevel::standard:
        return LOG_NOTICE;
    case LogLevel::info:
        return LOG_INFO;
    case LogLevel::error:
        return LOG_ERR;
    }
    return LOG_NOTICE;
}

} // namespace

void JournalLogSink::write(const LogRecord& record) {
    const std::string subsystem(logSubsystem);
    sd_journal_send("MESSAGE=%s", record.text.c_str(), "PRIORITY=%d", priorityOf(record.level),
                    "SYSLOG_IDENTIFIER=varnello-bridge", "SUBSYSTEM=%s", subsystem.c_str(),
                    "CATEGORY=%s", record.category.c_str(), nullptr);
}

std::shared_ptr<LogSink> makeProgramLogSink() {
    if (std::getenv("JOURNAL_STREAM") != nullptr) {
        return std::make_shared<JournalLogSink>();
    }
    return std::make_shared<StreamLogSink>(stderr);
}

} // namespace varnello
