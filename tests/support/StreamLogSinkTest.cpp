#include "support/StreamLogSink.h"

#include "support/Logger.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>

namespace varnello {
namespace {

TEST(StreamLogSink, WritesTheDocumentedLineFormat) {
    using namespace std::chrono;
    const auto time = system_clock::time_point(seconds(1796946001 - 86400) + milliseconds(123));
    const struct {
        LogLevel level;
        const char* line;
    } cases[] = {
        {LogLevel::info, "2026-12-09T23:40:01.123Z info orvane.TessaroBridge runtime: hi\n"},
        {LogLevel::standard, "2026-12-09T23:40:01.123Z default orvane.TessaroBridge runtime: hi\n"},
        {LogLevel::error, "2026-12-09T23:40:01.123Z error orvane.TessaroBridge runtime: hi\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StreamLogSink::formatLine(time, LogRecord{"runtime", c.level, "hi"}), c.line);
    }
}

TEST(StreamLogSink, LoggerWritesThroughTheSink) {
    char* buffer = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&buffer, &size);
    ASSERT_NE(stream, nullptr);
    {
        auto sink = std::make_shared<StreamLogSink>(stream, [] {
            return std::chrono::system_clock::time_point(std::chrono::milliseconds(5));
        });
        Logger(sink, "lifecycle").notice("Varnello Bridge start");
    }
    std::fclose(stream);
    EXPECT_EQ(std::string(buffer, size),
              "1970-01-01T00:00:00.005Z default orvane.TessaroBridge lifecycle: Varnello Bridge "
              "start\n");
    std::free(buffer);
}

} // namespace
} // namespace varnello
