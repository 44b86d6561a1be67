#pragma once

#include <string>
#include <string_view>

namespace varnello {

enum class LogLevel { standard, info, error };

// The level's word in a log line: "default", "info", "error".
std::string_view logLevelName(LogLevel level) noexcept;

inline constexpr std::string_view logSubsystem = "orvane.TessaroBridge";

struct LogRecord {
    std::string category;
    LogLevel level = LogLevel::standard;
    std::string text;
};

// Where log records go. Implementations are thread-safe.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
};

} // namespace varnello
