#include "support/StreamLogSink.h"

#include <ctime>
#include <string>

namespace varnello {

StreamLogSink::StreamLogSink(std::FILE* stream, Clock clock)
    : stream_(stream), clock_(std::move(clock)) {}

std::string StreamLogSink::formatLine(std::chrono::system_clock::time_point time,
                                      const LogRecord& record) {
    using namespace std::chrono;
    const auto millis = duration_cast<milliseconds>(time.time_since_epoch()).count();
    auto seconds = static_cast<std::time_t>(millis / 1000);
    auto fraction = millis % 1000;
    if (fraction < 0) {
        fraction += 1000;
        --seconds;
    }
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[80];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(fraction));
    std::string line = stamp;
    line += ' ';
    line += logLevelName(record.level);
    line += ' ';
    line += logSubsystem;
    line += ' ';
    line += record.category;
    line += ": ";
    line += record.text;
    line += '\n';
    return line;
}

void StreamLogSink::write(const LogRecord& record) {
    const std::string line = formatLine(clock_(), record);
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stream_);
    std::fflush(stream_);
}

} // namespace varnello
