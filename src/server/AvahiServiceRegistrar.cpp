#include "server/AvahiServiceRegistrar.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>
#include <cassert>

namespace varnello {

namespace {

// Avahi takes the service type without the root's trailing dot.
std::string avahiServiceType(const std::string& type) {
    if (!type.empty() && type.back() == '.') {
        return type.substr(0, type.size() - 1);
    }
    return type;
}

std::string alternativeName(const std::string& name) {
    char* alternative = avahi_alternative_service_name(name.c_str());
    std::string result = alternative ? alternative : name + " #2";
    avahi_free(alternative);
    return result;
}

AvahiStringListPtr txtList(const DnsTxtRecord& txt) {
    AvahiStringList* list = nullptr;
    for (const auto& [key, value] : txt) {
        list = avahi_string_list_add_pair_arbitrary(
            list, key.c_str(), reinterpret_cast<const std::uint8_t*>(value.data()), value.size());
    }
    return AvahiStringListPtr(list);
}

// Collisions with our own other services are renamed at once; a bound keeps a
// daemon that refuses every name from holding us here.
constexpr int maximumLocalRenames = 100;

} // namespace

AvahiServiceRegistrar::AvahiServiceRegistrar(Executor& mainThread)
    : mainThread_(mainThread), alive_(std::make_shared<bool>(true)) {}

AvahiServiceRegistrar::~AvahiServiceRegistrar() {
    if (poll_) {
        // No callback runs once the poll's thread has ended.
        avahi_threaded_poll_stop(poll_.get());
    }
    group_.reset();
    client_.reset();
}

void AvahiServiceRegistrar::setHandlers(Handlers handlers) {
    assert(mainThread_.isCurrent());
    handlers_ = std::move(handlers);
}

void AvahiServiceRegistrar::publish(const DnsServiceAdvertisement& advertisement) {
    assert(mainThread_.isCurrent());
    advertisement_ = advertisement;
    currentName_ = advertisement.name;
    if (!startPoll()) {
        return;
    }
    AvahiPollLock lock(poll_.get());
    if (!client_) {
        connect();
        if (!client_) {
            return;
        }
    }
    dropGroup();
    switch (avahi_client_get_state(client_.get())) {
    case AVAHI_CLIENT_S_RUNNING:
        registerService();
        break;
    case AVAHI_CLIENT_CONNECTING:
        // Published as soon as a daemon appears.
        reportFailure(AVAHI_ERR_NO_DAEMON);
        break;
    default:
        // Published when the daemon is running again.
        break;
    }
}

void AvahiServiceRegistrar::withdraw() {
    assert(mainThread_.isCurrent());
    advertisement_.reset();
    if (!poll_) {
        return;
    }
    AvahiPollLock lock(poll_.get());
    dropGroup();
}

bool AvahiServiceRegistrar::startPoll() {
    if (poll_) {
        return true;
    }
    AvahiThreadedPollPtr poll(avahi_threaded_poll_new());
    if (!poll || avahi_threaded_poll_start(poll.get()) < 0) {
        reportFailure(AVAHI_ERR_NO_MEMORY);
        return false;
    }
    poll_ = std::move(poll);
    return true;
}

void AvahiServiceRegistrar::connect() {
    clientContext_ = std::make_unique<CallbackContext>(
        CallbackContext{&mainThread_, alive_, this, ++clientGeneration_});
    int error = 0;
    client_.reset(avahi_client_new(avahi_threaded_poll_get(poll_.get()), AVAHI_CLIENT_NO_FAIL,
                                   &AvahiServiceRegistrar::onClientState, clientContext_.get(),
                                   &error));
    if (!client_) {
        reportFailure(error);
    }
}

void AvahiServiceRegistrar::registerService() {
    dropGroup();
    groupContext_ = std::make_unique<CallbackContext>(
        CallbackContext{&mainThread_, alive_, this, ++groupGeneration_});
    group_.reset(avahi_entry_group_new(client_.get(), &AvahiServiceRegistrar::onGroupState,
                                       groupContext_.get()));
    if (!group_) {
        reportFailure(avahi_client_errno(client_.get()));
        return;
    }
    const std::string type = avahiServiceType(advertisement_->type);
    const AvahiStringListPtr txt = txtList(advertisement_->txt);
    int result = AVAHI_ERR_COLLISION;
    for (int attempt = 0; result == AVAHI_ERR_COLLISION && attempt < maximumLocalRenames;
         ++attempt) {
        result = avahi_entry_group_add_service_strlst(
            group_.get(), AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, AvahiPublishFlags(0),
            currentName_.c_str(), type.c_str(), nullptr, nullptr, advertisement_->port, txt.get());
        if (result == AVAHI_ERR_COLLISION) {
            currentName_ = alternativeName(currentName_);
        }
    }
    if (result >= 0) {
        result = avahi_entry_group_commit(group_.get());
    }
    if (result < 0) {
        dropGroup();
        reportFailure(result);
    }
}

void AvahiServiceRegistrar::dropGroup() {
    group_.reset();
    groupContext_.reset();
}

void AvahiServiceRegistrar::onClientState(AvahiClient* client, AvahiClientState state,
                                          void* context) {
    const auto* callback = static_cast<const CallbackContext*>(context);
    const int error = state == AVAHI_CLIENT_FAILURE ? avahi_client_errno(client) : 0;
    callback->mainThread->post([alive = callback->alive, owner = callback->owner,
                                generation = callback->generation, state, error] {
        if (alive.lock()) {
            owner->handleClientState(generation, state, error);
        }
    });
}

void AvahiServiceRegistrar::onGroupState(AvahiEntryGroup* group, AvahiEntryGroupState state,
                                         void* context) {
    const auto* callback = static_cast<const CallbackContext*>(context);
    const int error = state == AVAHI_ENTRY_GROUP_FAILURE
                          ? avahi_client_errno(avahi_entry_group_get_client(group))
                          : 0;
    callback->mainThread->post([alive = callback->alive, owner = callback->owner,
                                generation = callback->generation, state, error] {
        if (alive.lock()) {
            owner->handleGroupState(generation, state, error);
        }
    });
}

void AvahiServiceRegistrar::handleClientState(std::uint64_t generation, AvahiClientState state,
                                              int error) {
    if (generation != clientGeneration_ || !client_) {
        return;
    }
    AvahiPollLock lock(poll_.get());
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (advertisement_ && !group_) {
            registerService();
        }
        break;
    case AVAHI_CLIENT_S_COLLISION:
    case AVAHI_CLIENT_S_REGISTERING:
        // The host name is being (re)registered; services follow once running.
        dropGroup();
        break;
    case AVAHI_CLIENT_FAILURE:
        dropGroup();
        client_.reset();
        if (advertisement_) {
            reportFailure(error);
        }
        if (error == AVAHI_ERR_DISCONNECTED) {
            // The daemon went away: wait for the next one and publish again.
            connect();
        }
        break;
    case AVAHI_CLIENT_CONNECTING:
        break;
    }
}

void AvahiServiceRegistrar::handleGroupState(std::uint64_t generation, AvahiEntryGroupState state,
                                             int error) {
    if (generation != groupGeneration_ || !group_ || !advertisement_) {
        return;
    }
    switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
        reportRegistered();
        break;
    case AVAHI_ENTRY_GROUP_COLLISION: {
        AvahiPollLock lock(poll_.get());
        currentName_ = alternativeName(currentName_);
        registerService();
        break;
    }
    case AVAHI_ENTRY_GROUP_FAILURE: {
        AvahiPollLock lock(poll_.get());
        dropGroup();
        reportFailure(error);
        break;
    }
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING:
        break;
    }
}

void AvahiServiceRegistrar::reportRegistered() {
    mainThread_.post([alive = std::weak_ptr<void>(alive_), this, name = currentName_,
                      type = advertisement_->type] {
        if (alive.lock() && handlers_.onRegistered) {
            handlers_.onRegistered(name, type);
        }
    });
}

void AvahiServiceRegistrar::reportFailure(int avahiError) {
    DnsServiceError error(avahiError, avahi_strerror(avahiError));
    mainThread_.post([alive = std::weak_ptr<void>(alive_), this, error] {
        if (alive.lock() && handlers_.onFailed) {
            handlers_.onFailed(error);
        }
    });
}

} // namespace varnello
