#include "ledger/PosixLedgerFileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace varnello {

namespace {

[[noreturn]] void throwErrno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// Closes a descriptor on every path out; errors of that close are of no use here.
class Descriptor {
public:
    explicit Descriptor(int descriptor) noexcept : descriptor_(descriptor) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (descriptor_ >= 0) {
            ::close(descriptor_);
        }
    }
    int get() const noexcept { return descriptor_; }

private:
    int descriptor_;
};

class FlockHold final : public LedgerFileLock {
public:
    explicit FlockHold(int descriptor) noexcept : descriptor_(descriptor) {}
    FlockHold(const FlockHold&) = delete;
    FlockHold& operator=(const FlockHold&) = delete;
    // Closing the last descriptor of the open file releases the lock.
    ~FlockHold() override { ::close(descriptor_); }

private:
    int descriptor_;
};

} // namespace

std::filesystem::path PosixLedgerFileSystem::dataHomeDirectory() {
    // A relative XDG_DATA_HOME is invalid and ignored.
    if (const char* dataHome = std::getenv("XDG_DATA_HOME");
        dataHome != nullptr && dataHome[0] == '/') {
        return dataHome;
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return std::filesystem::path(home) / ".local" / "share";
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
        throw std::system_error(error != 0 ? error : ENOENT, std::generic_category(),
                                "find the home folder");
    }
    return std::filesystem::path(found->pw_dir) / ".local" / "share";
}

LedgerFileSystem::Kind PosixLedgerFileSystem::kind(const std::filesystem::path& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        // ENOTDIR: a component of the path is no folder, so nothing can be there.
        if (errno == ENOENT || errno == ENOTDIR) {
            return Kind::missing;
        }
        throwErrno("stat " + path.string());
    }
    return S_ISDIR(status.st_mode) ? Kind::directory : Kind::other;
}

void PosixLedgerFileSystem::createDirectory(const std::filesystem::path& path) {
    if (::mkdir(path.c_str(), 0700) != 0) {
        throwErrno("mkdir " + path.string());
    }
}

bool PosixLedgerFileSystem::createEmptyFile(const std::filesystem::path& path) noexcept {
    const int descriptor =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        return false;
    }
    return ::close(descriptor) == 0;
}

int PosixLedgerFileSystem::openForWriting(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
    if (descriptor < 0) {
        throwErrno("open " + path.string());
    }
    return descriptor;
}

void PosixLedgerFileSystem::writeAll(int descriptor, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno("write");
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
}

void PosixLedgerFileSystem::syncFile(int descriptor) {
    if (::fsync(descriptor) != 0) {
        throwErrno("fsync");
    }
}

void PosixLedgerFileSystem::closeFile(int descriptor) {
    // Never retried: on Linux the descriptor is gone even when close reports an error.
    if (::close(descriptor) != 0) {
        throwErrno("close");
    }
}

void PosixLedgerFileSystem::rename(const std::filesystem::path& from,
                                   const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        throwErrno("rename " + from.string());
    }
}

void PosixLedgerFileSystem::remove(const std::filesystem::path& path) noexcept {
    ::unlink(path.c_str());
}

std::vector<std::uint8_t> PosixLedgerFileSystem::readFile(const std::filesystem::path& path) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        throwErrno("open " + path.string());
    }
    struct stat status {};
    if (::fstat(file.get(), &status) != 0) {
        throwErrno("fstat " + path.string());
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(static_cast<std::size_t>(status.st_size) + 1);
    std::uint8_t chunk[65536];
    for (;;) {
        const ssize_t count = ::read(file.get(), chunk, sizeof chunk);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            throwErrno("read " + path.string());
        }
        if (count == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + count);
    }
}

void PosixLedgerFileSystem::syncDirectory(const std::filesystem::path& path) {
    Descriptor folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0) {
        throwErrno("open " + path.string());
    }
    if (::fsync(folder.get()) != 0) {
        throwErrno("fsync " + path.string());
    }
}

std::vector<std::string>
PosixLedgerFileSystem::directoryEntries(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) {
        throwErrno("open " + path.string());
    }
    DIR* stream = ::fdopendir(descriptor); // owns the descriptor from here on
    if (stream == nullptr) {
        const int error = errno;
        ::close(descriptor);
        throw std::system_error(error, std::generic_category(), "opendir " + path.string());
    }
    std::vector<std::string> names;
    errno = 0;
    while (const dirent* item = ::readdir(stream)) {
        const std::string_view name = item->d_name;
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
        errno = 0;
    }
    const int error = errno;
    ::closedir(stream);
    if (error != 0) {
        throw std::system_error(error, std::generic_category(), "readdir " + path.string());
    }
    return names;
}

std::unique_ptr<LedgerFileLock>
PosixLedgerFileSystem::tryLockExclusive(const std::filesystem::path& path) {
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        throwErrno("open " + path.string());
    }
    auto hold = std::make_unique<FlockHold>(descriptor);
    while (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return nullptr;
        }
        if (errno != EINTR) {
            throwErrno("flock " + path.string());
        }
    }
    return hold;
}

} // namespace varnello
