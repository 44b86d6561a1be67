#pragma once

#include "support/BoundedCommand.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace varnello::test {

// The avahi-daemon the DNS-SD tests talk to: the one already running, or one
// started here on the loopback interface only (as root with a system bus),
// which is then also the one that may be restarted and is stopped at the end.
// Every avahi-daemon command runs under a time limit, and the daemon is stopped
// by the pid it wrote. Main thread of the test only.
class AvahiTestDaemon {
public:
    AvahiTestDaemon() {
        if (isRunning()) {
            available_ = true;
            // A test environment that started the daemon for the tests may
            // hand over its configuration, making it restartable here.
            if (const char* configuration = std::getenv("VARNELLO_TEST_AVAHI_CONFIG")) {
                configuration_ = configuration;
                restartable_ = true;
            }
            return;
        }
        if (::geteuid() != 0 || ::access("/run/dbus/system_bus_socket", F_OK) != 0) {
            return;
        }
        char folder[] = "/tmp/varnello-avahi.XXXXXX";
        if (!::mkdtemp(folder)) {
            return;
        }
        folder_ = folder;
        configuration_ = folder_ + "/avahi-daemon.conf";
        if (FILE* file = std::fopen(configuration_.c_str(), "w")) {
            std::fputs("[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=lo\n"
                       "ratelimit-interval-usec=1000000\nratelimit-burst=1000\n"
                       "[wide-area]\nenable-wide-area=no\n"
                       "[publish]\npublish-hinfo=no\npublish-workstation=no\n",
                       file);
            std::fclose(file);
        }
        started_ = start();
        available_ = started_;
    }

    ~AvahiTestDaemon() {
        if (started_) {
            stop();
        }
        if (!folder_.empty()) {
            std::remove(configuration_.c_str());
            ::rmdir(folder_.c_str());
        }
    }

    AvahiTestDaemon(const AvahiTestDaemon&) = delete;
    AvahiTestDaemon& operator=(const AvahiTestDaemon&) = delete;

    bool isAvailable() const { return available_; }
    // Only a daemon started here, or handed over, may be stopped and started again.
    bool isRestartable() const { return started_ || restartable_; }
    // True when this process could have started a daemon but did not manage to.
    bool failedToStart() const { return !folder_.empty() && !started_; }

    static bool isRunning() {
        return varnello::testing::runBounded({"avahi-daemon", "-c"}, std::chrono::seconds(10))
                   .status == 0;
    }

    // Not this test's child: it forked away when it started.
    bool stop() {
        const pid_t pid = daemonPid();
        if (pid <= 0 || ::kill(pid, SIGTERM) != 0) {
            return false;
        }
        if (waitUntil(false)) {
            return true;
        }
        ::kill(pid, SIGKILL);
        return waitUntil(false);
    }

    bool start() {
        // The daemon it forks keeps its standard output: /dev/null, not a pipe of this
        // test that closes when the start is over.
        const auto started = varnello::testing::runBounded(
            {"sh", "-c", "exec avahi-daemon -f \"$0\" --no-chroot --no-drop-root -D >/dev/null",
             configuration_},
            std::chrono::seconds(20));
        return started.status == 0 && waitUntil(true);
    }

private:
    // The running daemon's pid, from the file it keeps; 0 when there is none.
    static pid_t daemonPid() {
        std::ifstream file("/run/avahi-daemon/pid");
        long pid = 0;
        file >> pid;
        std::ifstream command("/proc/" + std::to_string(pid) + "/comm");
        std::string name;
        std::getline(command, name);
        return pid > 0 && name == "avahi-daemon" ? static_cast<pid_t>(pid) : 0;
    }

    // At most 10 seconds in all, however long each look takes.
    static bool waitUntil(bool running) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (isRunning() == running) {
                return true;
            }
            ::usleep(100000);
        }
        return false;
    }

    bool available_ = false;
    bool started_ = false;
    bool restartable_ = false;
    std::string folder_;
    std::string configuration_;
};

} // namespace varnello::test
