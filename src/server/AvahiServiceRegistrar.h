#pragma once

#include "server/AvahiPointers.h"
#include "server/DnsServiceRegistrar.h"
#include "support/Executor.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace varnello {

// DNS-SD publication through the Avahi daemon, with an Avahi client on its own
// threaded poll. Main thread only: every call into Avahi is made from the main
// thread under the poll's lock. Avahi's callbacks, on the poll's thread, only
// post what they saw to the main thread, where it is acted on. The client
// waits for a daemon that is not running yet, is made anew when the daemon
// goes away (and re-publishes), and a name collision takes Avahi's
// alternative name. Nothing is started before the first publish.
class AvahiServiceRegistrar final : public DnsServiceRegistrar {
public:
    explicit AvahiServiceRegistrar(Executor& mainThread);
    ~AvahiServiceRegistrar() override;

    AvahiServiceRegistrar(const AvahiServiceRegistrar&) = delete;
    AvahiServiceRegistrar& operator=(const AvahiServiceRegistrar&) = delete;

    void setHandlers(Handlers handlers) override;
    void publish(const DnsServiceAdvertisement& advertisement) override;
    void withdraw() override;

private:
    // What an Avahi callback needs to reach its registrar on the main thread;
    // fixed before the Avahi object it serves is made.
    struct CallbackContext {
        Executor* mainThread;
        std::weak_ptr<void> alive;
        AvahiServiceRegistrar* owner;
        std::uint64_t generation;
    };

    static void onClientState(AvahiClient* client, AvahiClientState state, void* context);
    static void onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state, void* context);

    bool startPoll();
    void connect();
    void registerService();
    void dropGroup();
    void handleClientState(std::uint64_t generation, AvahiClientState state, int error);
    void handleGroupState(std::uint64_t generation, AvahiEntryGroupState state, int error);
    void reportRegistered();
    void reportFailure(int avahiError);

    Executor& mainThread_;
    Handlers handlers_;
    std::shared_ptr<void> alive_;
    std::optional<DnsServiceAdvertisement> advertisement_;
    std::string currentName_;

    // Declared so that the poll outlives the client, and the client its group.
    AvahiThreadedPollPtr poll_;
    std::unique_ptr<CallbackContext> clientContext_;
    AvahiClientPtr client_;
    std::unique_ptr<CallbackContext> groupContext_;
    AvahiEntryGroupPtr group_;
    std::uint64_t clientGeneration_ = 0;
    std::uint64_t groupGeneration_ = 0;
};

} // namespace varnello
