#pragma once

#include "ledger/LedgerFileSystem.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <ostream>

namespace varnello {

// The two commands that let a person look after the command ledger while no show
// depends on it: `ledger status` and `ledger set-aside`. Each writes its report to
// `out` and returns the program's exit status. `ledgerFile` is the ledger file; its
// tombstone and lock files lie beside it. Main thread.

// Reports the folder, the files in it, the ledger ID, the entries and their states,
// the insertions and their maximum, and whether the files load (with the loader's
// exact error text when not). Changes nothing, whether or not a bridge runs. 0 when
// the files load (or there are none yet), 1 when they do not.
int printLedgerStatus(std::shared_ptr<LedgerFileSystem> fileSystem,
                      const std::filesystem::path& ledgerFile, std::ostream& out);

// With `yes`, moves the ledger file and the tombstone file, and nothing else, into a
// new folder "set-aside-<UTC time>" beside them and syncs both folders; without, only
// says what it would move. Holds the ledger's lock throughout, so it never runs beside
// a bridge (status 1 then). Never deletes anything.
int setLedgerAside(LedgerFileSystem& fileSystem, const std::filesystem::path& ledgerFile, bool yes,
                   std::chrono::system_clock::time_point now, std::ostream& out);

} // namespace varnello
