// Opens a command ledger on an arbitrary ledger file beside an arbitrary tombstone
// file, in a folder of its own that every input reuses. The input is a flags byte,
// a byte that is the entry limit less one, the ledger file's length as two
// big-endian bytes, the ledger file and then the tombstone file. Flag 1 leaves out
// the ledger file, flag 2 the tombstone file; flag 4 appends the tombstone bytes'
// SHA-256, so that the fields behind its digest are reached too.
//
// Checks that opening throws nothing but CommandLedgerError: the folder is there and
// free, so a platform error or a lock refusal would be a fault too. An opened ledger
// must answer each entry with its stored state, take a fresh identifier, record it
// and find it executed when opened again.

#include "ledger/CommandLedger.h"
#include "ledger/CommandLedgerError.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "support/Sha256.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;
using varnello::CommandLedger;
using varnello::CommandLedgerError;
using varnello::CommandLedgerState;

constexpr std::uint8_t withoutLedgerFile = 1;
constexpr std::uint8_t withoutTombstoneFile = 2;
constexpr std::uint8_t appendTombstoneDigest = 4;

// Fixed, so that a run can be repeated; an input may hold it too.
const varnello::Uuid freshID(varnello::Uuid::Bytes{0x5A, 0x11, 0xC0, 0xDE, 0x00, 0x00, 0x40, 0x00,
                                                   0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01});

fs::path& folderPath() {
    static fs::path path;
    return path;
}

void removeFolder() {
    std::error_code ignored;
    fs::remove_all(folderPath(), ignored);
}

// Made once per process; fsync on tmpfs costs next to nothing, so /dev/shm is preferred.
const fs::path& ledgerFolder() {
    if (folderPath().empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = base != nullptr && base[0] == '/' ? base
                              : fs::is_directory("/dev/shm")    ? "/dev/shm"
                                                                : "/tmp";
        pattern += "/ledger-fuzz-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folderPath() = pattern;
        std::atexit(removeFolder);
    }
    return folderPath();
}

void clearFolder(const fs::path& folder) {
    for (const auto& item : fs::directory_iterator(folder)) {
        fs::remove(item.path());
    }
}

void writeFile(const fs::path& file, std::span<const std::uint8_t> bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        std::abort();
    }
}

std::unique_ptr<CommandLedger> open(const fs::path& file, std::int64_t maximumEntries) {
    return std::make_unique<CommandLedger>(
        file, std::make_shared<varnello::PosixLedgerFileSystem>(), maximumEntries, 4096, 3, 512);
}

void exercise(const fs::path& file, std::int64_t maximumEntries) {
    std::unique_ptr<CommandLedger> ledger;
    try {
        ledger = open(file, maximumEntries);
    } catch (const CommandLedgerError&) {
        return;
    }
    const auto& entries = ledger->orderedEntries();
    if (static_cast<std::int64_t>(entries.size()) > maximumEntries) {
        std::abort();
    }
    for (const auto& entry : entries) {
        if (ledger->reserve(entry.id) != entry.state) {
            std::abort();
        }
    }
    if (std::any_of(entries.begin(), entries.end(),
                    [](const auto& entry) { return entry.id == freshID; })) {
        return;
    }

    std::optional<CommandLedgerState> seen;
    try {
        seen = ledger->reserve(freshID);
    } catch (const CommandLedgerError& error) {
        if (error.code() != CommandLedgerError::Code::saturated) {
            std::abort();
        }
        return;
    }
    if (seen) {
        // Only the tombstones can know it, and they know no outcome.
        if (*seen != CommandLedgerState::accepted) {
            std::abort();
        }
        return;
    }
    ledger->record(freshID, CommandLedgerState::executed);
    ledger.reset();
    if (open(file, maximumEntries)->reserve(freshID) != CommandLedgerState::executed) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) {
        return 0;
    }
    const std::span<const std::uint8_t> input(data, size);
    const std::uint8_t flags = input[0];
    const std::int64_t maximumEntries = 1 + std::int64_t{input[1]};
    const std::size_t ledgerLength =
        std::min<std::size_t>((std::size_t{input[2]} << 8) | input[3], size - 4);
    const auto ledgerBytes = input.subspan(4, ledgerLength);
    std::vector<std::uint8_t> tombstoneBytes(ledgerBytes.end(), input.end());
    if ((flags & appendTombstoneDigest) != 0) {
        const varnello::Sha256Digest digest =
            varnello::sha256(std::span(std::as_const(tombstoneBytes)));
        tombstoneBytes.insert(tombstoneBytes.end(), digest.begin(), digest.end());
    }

    const fs::path& folder = ledgerFolder();
    const fs::path ledgerFile = folder / "command-ledger.json";
    if ((flags & withoutLedgerFile) == 0) {
        writeFile(ledgerFile, ledgerBytes);
    }
    if ((flags & withoutTombstoneFile) == 0) {
        writeFile(folder / "command-ledger.tombstones-v1.bin", tombstoneBytes);
    }
    exercise(ledgerFile, maximumEntries);
    clearFolder(folder);
    return 0;
}
