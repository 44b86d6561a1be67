#pragma once

#include "ledger/LedgerFileSystem.h"

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace varnello {

// Crash-safe replacement of the ledger's files on a LedgerFileSystem. Called from the
// ledger's owner only, like the ledger itself.

// Makes sure a folder exists, creating and syncing any missing folders of its chain.
// Throws CommandLedgerError::storageUnavailable when a path of the chain is no folder
// or the root is reached; a failure to create or sync a folder is the platform's error.
void ensureDirectory(LedgerFileSystem& fileSystem, const std::filesystem::path& folder);

// Flushes a folder's entries to stable storage; the platform's error on failure.
void syncDirectory(LedgerFileSystem& fileSystem, const std::filesystem::path& folder);

// The hidden name a save of `file` writes first: ".<name>.<UUID>.tmp" beside it.
std::filesystem::path temporaryPath(const std::filesystem::path& file);

// True for exactly the names temporaryPath gives for a file called fileName.
bool isTemporaryNameOf(std::string_view name, std::string_view fileName);

// Replaces a file: writes and syncs a temporary file beside it, renames it over the
// file, then syncs the folder. Under the file's name there is always either the old or
// the new content, and no temporary file is left when it fails before the rename.
// Throws CommandLedgerError::storageUnavailable when the temporary file cannot be
// created, the platform's error for any other failed step.
void writeAtomically(LedgerFileSystem& fileSystem, std::span<const std::uint8_t> bytes,
                     const std::filesystem::path& file);

} // namespace varnello
