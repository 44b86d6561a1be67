#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace varnello {

// Small files that must survive a crash whole or not at all. Failures are errno
// values; callers turn them into their own typed errors. Thread-safe.

struct SmallFileContents {
    int errorNumber = 0; // EFBIG when the file is larger than the limit
    std::string bytes;
    struct stat status {}; // of the file that was read, valid when errorNumber is 0
};

SmallFileContents readSmallFile(const std::filesystem::path& file, std::size_t limit);

enum class ExistingFile { replace, keep };

// Writes a hidden temporary file beside `file`, syncs it, moves it into place and
// syncs the folder, creating the folder when missing. The new file has mode 0600.
// With ExistingFile::keep an existing file is left alone and EEXIST is returned,
// decided atomically by link(2). Returns 0 or an errno value; the temporary file
// never outlives the call.
int writeFileDurably(const std::filesystem::path& file, std::string_view bytes,
                     ExistingFile existing);

} // namespace varnello
