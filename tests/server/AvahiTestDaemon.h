#pragma once

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

namespace varnello::test {

// The avahi-daemon the DNS-SD tests talk to: the one already running, or one
// started here on the loopback interface only (as root with a system bus),
// which is then also the one that may be restarted and is stopped at the end.
// Runs shell commands of avahi-daemon; main thread of the test only.
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

    static bool isRunning() { return std::system("avahi-daemon -c >/dev/null 2>&1") == 0; }

    bool stop() {
        std::system("avahi-daemon -k >/dev/null 2>&1");
        return waitUntil(false);
    }

    bool start() {
        const std::string command = "avahi-daemon -f '" + configuration_ +
                                    "' --no-chroot --no-drop-root -D >/dev/null 2>&1";
        return std::system(command.c_str()) == 0 && waitUntil(true);
    }

private:
    static bool waitUntil(bool running) {
        for (int attempt = 0; attempt < 100; ++attempt) {
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

struct BrowsedService {
    std::string name;
    std::uint16_t port = 0;
    std::set<std::string> txt;
};

// avahi-browse's parsable text: "\DDD" is the byte DDD (decimal), "\c" is c.
inline std::string unescapeBrowsed(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() &&
            std::isdigit(static_cast<unsigned char>(text[i + 1])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 2])) &&
            std::isdigit(static_cast<unsigned char>(text[i + 3]))) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 3)));
            i += 3;
        } else if (text[i] == '\\' && i + 1 < text.size()) {
            result += text[++i];
        } else {
            result += text[i];
        }
    }
    return result;
}

inline std::vector<std::string> splitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : line) {
        if (c == ';') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    fields.push_back(field);
    return fields;
}

// TXT entries as avahi-browse prints them: "key=value" in double quotes, space
// separated, escaped like names.
inline std::set<std::string> parseTxt(const std::string& text) {
    std::set<std::string> entries;
    std::size_t position = 0;
    while ((position = text.find('"', position)) != std::string::npos) {
        const auto end = text.find('"', position + 1);
        if (end == std::string::npos) {
            break;
        }
        entries.insert(unescapeBrowsed(text.substr(position + 1, end - position - 1)));
        position = end + 1;
    }
    return entries;
}

// One run of avahi-browse, bounded in time: the resolved _tessaro._tcp
// services by instance name (IPv4 on loopback).
inline std::map<std::string, BrowsedService> browseTessaroServices() {
    std::map<std::string, BrowsedService> services;
    FILE* pipe = ::popen("timeout 10 avahi-browse -rpt _tessaro._tcp 2>/dev/null", "r");
    if (!pipe) {
        return services;
    }
    std::string output;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    ::pclose(pipe);
    std::size_t start = 0;
    while (start < output.size()) {
        auto end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        const auto fields = splitFields(output.substr(start, end - start));
        start = end + 1;
        // =;interface;protocol;name;type;domain;host;address;port;txt
        if (fields.size() >= 10 && fields[0] == "=") {
            BrowsedService service{unescapeBrowsed(fields[3]),
                                   static_cast<std::uint16_t>(std::stoi(fields[8])),
                                   parseTxt(fields[9])};
            services[service.name] = service;
        }
    }
    return services;
}

// Browses until `name` is no longer announced: a withdrawn service lingers in
// the daemon's cache for about a second. False when it stays for 10 runs.
inline bool waitUntilGone(const std::string& name) {
    for (int run = 0; run < 10; ++run) {
        if (browseTessaroServices().count(name) == 0) {
            return true;
        }
        ::usleep(500000);
    }
    return false;
}

} // namespace varnello::test
