#pragma once

#include "support/LogSink.h"

#include <memory>
#include <string>
#include <string_view>

namespace varnello {

// A log handle for one category of the bridge's subsystem. Thread-safe.
class Logger {
public:
    Logger(std::shared_ptr<LogSink> sink, std::string category);

    void log(LogLevel level, std::string_view text) const;
    void notice(std::string_view text) const { log(LogLevel::standard, text); }
    void info(std::string_view text) const { log(LogLevel::info, text); }
    void error(std::string_view text) const { log(LogLevel::error, text); }

    const std::string& category() const noexcept { return category_; }
    const std::shared_ptr<LogSink>& sink() const noexcept { return sink_; }

private:
    std::shared_ptr<LogSink> sink_;
    std::string category_;
};

} // namespace varnello
