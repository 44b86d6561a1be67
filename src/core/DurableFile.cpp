#include "core/DurableFile.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace varnello {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int descriptor) noexcept : descriptor_(descriptor) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }

    int get() const noexcept { return descriptor_; }
    bool valid() const noexcept { return descriptor_ >= 0; }

    // Closing can report a deferred write error, so it is checked where data was written.
    int close() noexcept {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int descriptor_;
};

int writeAll(int descriptor, std::string_view bytes) noexcept {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return 0;
}

int syncFolder(const std::filesystem::path& folder) noexcept {
    FileDescriptor descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!descriptor.valid()) {
        return errno;
    }
    if (::fsync(descriptor.get()) != 0) {
        return errno;
    }
    return 0;
}

// Writes and syncs the temporary file, then moves it into place.
int placeTemporaryFile(const std::filesystem::path& file, const std::string& temporary,
                       FileDescriptor& descriptor, std::string_view bytes,
                       ExistingFile existing) noexcept {
    if (const int error = writeAll(descriptor.get(), bytes); error != 0) {
        return error;
    }
    if (::fsync(descriptor.get()) != 0) {
        return errno;
    }
    if (const int error = descriptor.close(); error != 0) {
        return error;
    }
    if (existing == ExistingFile::replace) {
        return ::rename(temporary.c_str(), file.c_str()) == 0 ? 0 : errno;
    }
    return ::link(temporary.c_str(), file.c_str()) == 0 ? 0 : errno;
}

} // namespace

SmallFileContents readSmallFile(const std::filesystem::path& file, std::size_t limit) {
    SmallFileContents contents;
    FileDescriptor descriptor(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!descriptor.valid()) {
        contents.errorNumber = errno;
        return contents;
    }
    if (::fstat(descriptor.get(), &contents.status) != 0) {
        contents.errorNumber = errno;
        return contents;
    }
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(descriptor.get(), buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            contents.errorNumber = errno;
            return contents;
        }
        if (count == 0) {
            return contents;
        }
        if (contents.bytes.size() + static_cast<std::size_t>(count) > limit) {
            contents.errorNumber = EFBIG;
            contents.bytes.clear();
            return contents;
        }
        contents.bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

int writeFileDurably(const std::filesystem::path& file, std::string_view bytes,
                     ExistingFile existing) {
    const auto folder = file.parent_path();
    if (folder.empty() || !file.has_filename()) {
        return ENOENT;
    }
    std::error_code folderError;
    std::filesystem::create_directories(folder, folderError);
    if (folderError) {
        return folderError.value();
    }
    std::string temporary = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
    FileDescriptor descriptor(::mkostemp(temporary.data(), O_CLOEXEC));
    if (!descriptor.valid()) {
        return errno;
    }
    int error = placeTemporaryFile(file, temporary, descriptor, bytes, existing);
    // After a rename the name is gone; after a link, or a failure, it must go.
    if (error != 0 || existing == ExistingFile::keep) {
        ::unlink(temporary.c_str());
    }
    if (error == 0) {
        error = syncFolder(folder);
    }
    return error;
}

} // namespace varnello
