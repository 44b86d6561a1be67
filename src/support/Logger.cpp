#include "support/Logger.h"

#include <utility>

namespace varnello {

std::string_view logLevelName(LogLevel level) noexcept {
    switch (level) {
    case LogLevel::standard:
        return "default";
    case LogLevel::info:
        return "info";
    case LogLevel::error:
        return "error";
    }
    return "default";
}

Logger::Logger(std::shared_ptr<LogSink> sink, std::string category)
    : sink_(std::move(sink)), category_(std::move(category)) {}

void Logger::log(LogLevel level, std::string_view text) const {
    if (sink_) {
        sink_->write(LogRecord{category_, level, std::string(text)});
    }
}

} // namespace varnello
