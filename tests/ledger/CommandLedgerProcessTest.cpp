#include "ledger/CommandLedger.h"
#include "ledger/CommandLedgerLockError.h"
#include "ledger/PosixLedgerFileSystem.h"
#include "support/TemporaryFolder.h"

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <poll.h>
#include <random>
#include <set>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace varnello::testing {
namespace {

using State = CommandLedgerState;

constexpr std::int64_t windowSize = 64;

std::unique_ptr<CommandLedger> openLedger(const std::filesystem::path& file) {
    // The standard filter, so that every reservation rewrites a full-size tombstone file.
    return std::make_unique<CommandLedger>(file, std::make_shared<PosixLedgerFileSystem>(),
                                           windowSize, CommandLedger::standardTombstoneBitCount,
                                           CommandLedger::standardTombstoneHashCount,
                                           CommandLedger::standardTombstoneMaximumInsertions);
}

// What a child tells its parent, one fixed-size message per event (atomic on a pipe).
struct Report {
    char kind; // 'r' reserved as new, 'e' / 'f' recorded executed / failed, 'x' failed, 'L' ready
    Uuid::Bytes id;
};

void send(int descriptor, char kind, const Uuid& id = Uuid()) {
    const Report report{kind, id.bytes()};
    if (::write(descriptor, &report, sizeof report) != sizeof report) {
        ::_exit(3);
    }
}

// Reads one report; nullopt at end of stream or after timeoutMilliseconds of silence.
std::optional<Report> receive(int descriptor, int timeoutMilliseconds) {
    pollfd item{descriptor, POLLIN, 0};
    if (::poll(&item, 1, timeoutMilliseconds) <= 0) {
        return std::nullopt;
    }
    Report report{};
    const ssize_t count = ::read(descriptor, &report, sizeof report);
    if (count != static_cast<ssize_t>(sizeof report)) {
        return std::nullopt;
    }
    return report;
}

// A forked child running body(writeEnd); killed and reaped if the test leaves early.
class Child {
public:
    explicit Child(const std::function<void(int)>& body) {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            throw std::system_error(errno, std::generic_category(), "pipe2");
        }
        pid_ = ::fork();
        if (pid_ < 0) {
            throw std::system_error(errno, std::generic_category(), "fork");
        }
        if (pid_ == 0) {
            ::close(ends[0]);
            try {
                body(ends[1]);
            } catch (const std::exception&) {
                send(ends[1], 'x');
                ::_exit(1);
            }
            ::_exit(0);
        }
        ::close(ends[1]);
        reports_ = ends[0];
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child() {
        if (pid_ > 0) {
            kill();
        }
        ::close(reports_);
    }

    int reports() const noexcept { return reports_; }

    // SIGKILL, then reap; returns the wait status.
    int kill() {
        ::kill(pid_, SIGKILL);
        return wait();
    }
    int wait() {
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
        return status;
    }

private:
    pid_t pid_ = -1;
    int reports_ = -1;
};

TEST(CommandLedgerCrashTest, KilledWriterNeverLosesAReservation) {
    TemporaryFolder folder;
    const std::filesystem::path file = folder.path() / "ledger" / "command-ledger.json";
    std::mt19937 random(20261210);
    std::set<Uuid> reserved;
    std::map<Uuid, State> recorded;

    for (int round = 0; round < 16; ++round) {
        Child child([&](int out) {
            auto ledger = openLedger(file);
            for (bool executed = true;; executed = !executed) {
                const Uuid id = Uuid::random();
                if (ledger->reserve(id)) {
                    send(out, 'x', id); // a random identifier answered as known
                    return;
                }
                send(out, 'r', id);
                const State state = executed ? State::executed : State::failed;
                ledger->record(id, state);
                send(out, executed ? 'e' : 'f', id);
            }
        });
        // Let it reserve a few, then kill it at a random moment of its next saves.
        const int reservations = std::uniform_int_distribution<int>(1, 4)(random);
        for (int seen = 0; seen < reservations;) {
            const auto report = receive(child.reports(), 30'000);
            ASSERT_TRUE(report.has_value()) << "round " << round << ": the child went silent";
            ASSERT_NE(report->kind, 'x') << "round " << round;
            seen += report->kind == 'r' ? 1 : 0;
            if (report->kind == 'r') {
                reserved.insert(Uuid(report->id));
            } else {
                recorded[Uuid(report->id)] = report->kind == 'e' ? State::executed : State::failed;
            }
        }
        ::usleep(std::uniform_int_distribution<useconds_t>(0, 40'000)(random));
        const int status = child.kill();
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "round " << round;
        while (const auto report = receive(child.reports(), 0)) {
            ASSERT_NE(report->kind, 'x');
            if (report->kind == 'r') {
                reserved.insert(Uuid(report->id));
            } else {
                recorded[Uuid(report->id)] = report->kind == 'e' ? State::executed : State::failed;
            }
        }

        auto ledger = openLedger(file);
        for (const std::string& name : namesIn(file.parent_path())) {
            EXPECT_FALSE(name.ends_with(".tmp")) << name << " survived round " << round;
        }
        std::map<Uuid, State> held;
        for (const auto& entry : ledger->orderedEntries()) {
            held[entry.id] = entry.state;
        }
        for (const Uuid& id : reserved) {
            const std::optional<State> answer = ledger->reserve(id);
            ASSERT_TRUE(answer.has_value()) << id.text() << " became new in round " << round;
            const auto state = recorded.find(id);
            if (state != recorded.end() && held.contains(id)) {
                EXPECT_EQ(*answer, state->second) << id.text();
            }
        }
    }
    EXPECT_GE(reserved.size(), 16U);
}

// A child that opens the ledger, reserves one identifier, says so, and holds the ledger
// until the parent closes the write end of the release pipe.
std::unique_ptr<Child> holdLedger(const std::filesystem::path& file, const Uuid& id,
                                  const int (&releasePipe)[2]) {
    const int release = releasePipe[0];
    const int parentEnd = releasePipe[1];
    auto child = std::make_unique<Child>([&file, &id, release, parentEnd](int out) {
        ::close(parentEnd); // or the read below would never see the end
        auto ledger = openLedger(file);
        ledger->reserve(id);
        send(out, 'L');
        char ignored;
        while (::read(release, &ignored, 1) > 0) {
        }
    });
    return child;
}

TEST(CommandLedgerLockTest, AnotherProcessIsRefusedWhileTheHolderLives) {
    for (const bool killHolder : {false, true}) {
        TemporaryFolder folder;
        const std::filesystem::path file = folder.path() / "command-ledger.json";
        const Uuid id = Uuid::random();
        int release[2];
        ASSERT_EQ(::pipe2(release, O_CLOEXEC), 0);
        auto holder = holdLedger(file, id, release);
        ::close(release[0]);
        const auto ready = receive(holder->reports(), 30'000);
        ASSERT_TRUE(ready && ready->kind == 'L');

        const auto names = namesIn(folder.path());
        const auto ledgerBytes = readBytes(file);
        try {
            openLedger(file);
            ADD_FAILURE() << "a second process opened a ledger in use";
        } catch (const CommandLedgerLockError& error) {
            EXPECT_EQ(std::string(error.what()),
                      "Varnello Bridge is already running: another Varnello Bridge is already "
                      "using the command ledger.");
        }
        EXPECT_EQ(namesIn(folder.path()), names);
        EXPECT_EQ(readBytes(file), ledgerBytes);

        if (killHolder) {
            holder->kill();
        } else {
            ::close(release[1]);
            release[1] = -1;
            const int status = holder->wait();
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        auto ledger = openLedger(file);
        EXPECT_EQ(ledger->reserve(id), State::accepted);
        if (release[1] >= 0) {
            ::close(release[1]);
        }
    }
}

} // namespace
} // namespace varnello::testing
