#pragma once

#include "server/DnsServiceError.h"

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace varnello {

// TXT record entries, key to value, each value as UTF-8 bytes.
using DnsTxtRecord = std::map<std::string, std::string>;

struct DnsServiceAdvertisement {
    std::string name;
    std::string type; // e.g. "_tessaro._tcp.", in the default domain
    std::uint16_t port = 0;
    DnsTxtRecord txt;

    friend bool operator==(const DnsServiceAdvertisement&,
                           const DnsServiceAdvertisement&) = default;
};

// Publishes at most one DNS-SD service at a time and reports what became of
// it. Main thread only; the handlers are called on the main thread, later,
// never from inside publish or withdraw.
class DnsServiceRegistrar {
public:
    struct Handlers {
        // The service is announced under `name` (which differs from the one
        // asked for after a name collision).
        std::function<void(const std::string& name, const std::string& type)> onRegistered;
        std::function<void(const DnsServiceError& error)> onFailed;
    };

    virtual ~DnsServiceRegistrar() = default;

    virtual void setHandlers(Handlers handlers) = 0;
    // Replaces whatever was published before.
    virtual void publish(const DnsServiceAdvertisement& advertisement) = 0;
    // Withdraws the service; nothing when none is published.
    virtual void withdraw() = 0;
};

} // namespace varnello
