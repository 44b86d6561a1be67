#include "app/LedgerCommands.h"

#include "ledger/CommandLedger.h"
#include "ledger/LedgerFill.h"
#include "ledger/ReadOnlyLedgerFileSystem.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <map>
#include <vector>

namespace varnello {

namespace {

// Every text of the two commands.
enum class Say {
    noFolder,
    noFiles,
    loads,
    loadsAfterConversion,
    doesNotLoad,
    full,
    freshLedgerHint,
    bridgeRuns,
    nothingToSetAside,
    wouldMove,
    wouldForget,
    dryRun,
    moved,
    forgotten,
    couldNotSetAside,
};

const char* say(Say text) noexcept {
    switch (text) {
    case Say::noFolder:
        return "The folder does not exist yet: the bridge creates it at its first start.";
    case Say::noFiles:
        return "Files: none (a fresh ledger begins with the first command)";
    case Say::loads:
        return "Loads: yes";
    case Say::loadsAfterConversion:
        return "Loads: yes, once converted: the files hold an older format, which the bridge "
               "converts at its next start.";
    case Say::doesNotLoad:
        return "Loads: no: ";
    case Say::full:
        return "The ledger is full: every new command is refused.";
    case Say::freshLedgerHint:
        return "To begin a fresh ledger between shows, stop the bridge and run "
               "\u2018varnello-bridge ledger set-aside\u2019.";
    case Say::bridgeRuns:
        return "Varnello Bridge is running and holds this ledger: stop it first, then run this "
               "again. Nothing was moved.";
    case Say::nothingToSetAside:
        return "Nothing to set aside: there is no ledger file and no tombstone file in ";
    case Say::wouldMove:
        return "Would move into ";
    case Say::wouldForget:
        return "Command identifiers seen before would no longer be remembered: an iPad that sends "
               "one of them again would have it executed again.";
    case Say::dryRun:
        return "Nothing was changed. Run \u2018varnello-bridge ledger set-aside --yes\u2019 to do "
               "it.";
    case Say::moved:
        return "Moved into ";
    case Say::forgotten:
        return "Command identifiers seen before are no longer remembered: an iPad that sends one "
               "of them again will have it executed again. The next start begins a fresh ledger.";
    case Say::couldNotSetAside:
        return "Could not set the ledger aside: ";
    }
    return "";
}

std::vector<std::string> sortedEntries(LedgerFileSystem& fileSystem,
                                       const std::filesystem::path& folder) {
    std::vector<std::string> names = fileSystem.directoryEntries(folder);
    std::sort(names.begin(), names.end());
    return names;
}

std::string utcStamp(std::chrono::system_clock::time_point now) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
    return text;
}

// Returns the fill it printed.
LedgerFill printLoaded(const CommandLedger& ledger, std::ostream& out) {
    std::map<CommandLedgerState, std::int64_t> counts;
    for (const CommandLedger::Entry& entry : ledger.orderedEntries()) {
        ++counts[entry.state];
    }
    const LedgerFill fill{ledger.tombstones().insertionCount(),
                          ledger.tombstones().maximumInsertions()};
    out << "Ledger ID: " << ledger.ledgerID().text() << "\n";
    out << "Entries: " << ledger.orderedEntries().size() << " of " << ledger.maximumEntries()
        << " (accepted " << counts[CommandLedgerState::accepted] << ", executed "
        << counts[CommandLedgerState::executed] << ", failed " << counts[CommandLedgerState::failed]
        << ")\n";
    out << "Insertions: " << fill.insertionCount << " of " << fill.maximumInsertions << " ("
        << fill.percent() << "%)\n";
    return fill;
}

} // namespace

int printLedgerStatus(std::shared_ptr<LedgerFileSystem> fileSystem,
                      const std::filesystem::path& ledgerFile, std::ostream& out) {
    const std::filesystem::path folder = ledgerFile.parent_path();
    out << "Folder: " << folder.string() << "\n";
    try {
        if (fileSystem->kind(folder) == LedgerFileSystem::Kind::missing) {
            out << say(Say::noFolder) << "\n"
                << say(Say::noFiles) << "\n"
                << say(Say::loads) << "\n";
            return 0;
        }
        const std::vector<std::string> names = sortedEntries(*fileSystem, folder);
        if (names.empty()) {
            out << say(Say::noFiles) << "\n";
        } else {
            out << "Files:\n";
            for (const std::string& name : names) {
                out << "  " << name << "\n";
            }
        }
    } catch (const std::exception& error) {
        out << say(Say::doesNotLoad) << error.what() << "\n";
        return 1;
    }
    auto readOnly = std::make_shared<ReadOnlyLedgerFileSystem>(fileSystem);
    try {
        const CommandLedger ledger(ledgerFile, readOnly, CommandLedger::standardMaximumEntries,
                                   CommandLedger::standardTombstoneBitCount,
                                   CommandLedger::standardTombstoneHashCount,
                                   CommandLedger::standardTombstoneMaximumInsertions);
        const LedgerFill fill = printLoaded(ledger, out);
        out << say(Say::loads) << "\n";
        if (fill.full()) {
            out << say(Say::full) << "\n" << say(Say::freshLedgerHint) << "\n";
        }
        return 0;
    } catch (const std::exception& error) {
        if (readOnly->writeRefused()) {
            out << say(Say::loadsAfterConversion) << "\n";
            return 0;
        }
        out << say(Say::doesNotLoad) << error.what() << "\n" << say(Say::freshLedgerHint) << "\n";
        return 1;
    }
}

int setLedgerAside(LedgerFileSystem& fileSystem, const std::filesystem::path& ledgerFile, bool yes,
                   std::chrono::system_clock::time_point now, std::ostream& out) {
    const std::filesystem::path folder = ledgerFile.parent_path();
    try {
        if (fileSystem.kind(folder) == LedgerFileSystem::Kind::missing) {
            out << say(Say::nothingToSetAside) << folder.string() << ".\n";
            return 0;
        }
        const auto lock = fileSystem.tryLockExclusive(CommandLedger::lockFileFor(ledgerFile));
        if (!lock) {
            out << say(Say::bridgeRuns) << "\n";
            return 1;
        }
        std::vector<std::filesystem::path> files;
        for (const auto& file : {ledgerFile, CommandLedger::tombstoneFileFor(ledgerFile)}) {
            if (fileSystem.kind(file) != LedgerFileSystem::Kind::missing) {
                files.push_back(file);
            }
        }
        if (files.empty()) {
            out << say(Say::nothingToSetAside) << folder.string() << ".\n";
            return 0;
        }
        const std::filesystem::path target = folder / ("set-aside-" + utcStamp(now));
        if (!yes) {
            out << say(Say::wouldMove) << target.string() << ":\n";
            for (const auto& file : files) {
                out << "  " << file.filename().string() << "\n";
            }
            out << say(Say::wouldForget) << "\n" << say(Say::dryRun) << "\n";
            return 0;
        }
        // Fails when it exists: two set-asides never share a folder.
        fileSystem.createDirectory(target);
        fileSystem.syncDirectory(folder);
        out << say(Say::moved) << target.string() << ":\n";
        for (const auto& file : files) {
            fileSystem.rename(file, target / file.filename());
            out << "  " << file.filename().string() << "\n";
        }
        fileSystem.syncDirectory(target);
        fileSystem.syncDirectory(folder);
        out << say(Say::forgotten) << "\n";
        return 0;
    } catch (const std::exception& error) {
        out << say(Say::couldNotSetAside) << error.what() << "\n";
        return 1;
    }
}

} // namespace varnello
