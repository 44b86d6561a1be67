#pragma once

#include <avahi-client/client.h>
#include <avahi-client/publish.h>
#include <avahi-common/strlst.h>
#include <avahi-common/thread-watch.h>
#include <memory>

namespace varnello {

// Owners of the Avahi objects; each frees its object the one way Avahi wants.

struct AvahiThreadedPollDeleter {
    void operator()(AvahiThreadedPoll* poll) const noexcept { avahi_threaded_poll_free(poll); }
};
struct AvahiClientDeleter {
    void operator()(AvahiClient* client) const noexcept { avahi_client_free(client); }
};
struct AvahiEntryGroupDeleter {
    void operator()(AvahiEntryGroup* group) const noexcept { avahi_entry_group_free(group); }
};
struct AvahiStringListDeleter {
    void operator()(AvahiStringList* list) const noexcept { avahi_string_list_free(list); }
};

using AvahiThreadedPollPtr = std::unique_ptr<AvahiThreadedPoll, AvahiThreadedPollDeleter>;
using AvahiClientPtr = std::unique_ptr<AvahiClient, AvahiClientDeleter>;
using AvahiEntryGroupPtr = std::unique_ptr<AvahiEntryGroup, AvahiEntryGroupDeleter>;
using AvahiStringListPtr = std::unique_ptr<AvahiStringList, AvahiStringListDeleter>;

// Holds the threaded poll's lock for one scope. Never used inside an Avahi
// callback, which already runs with the lock held.
class AvahiPollLock {
public:
    explicit AvahiPollLock(AvahiThreadedPoll* poll) : poll_(poll) {
        avahi_threaded_poll_lock(poll_);
    }
    ~AvahiPollLock() { avahi_threaded_poll_unlock(poll_); }
    AvahiPollLock(const AvahiPollLock&) = delete;
    AvahiPollLock& operator=(const AvahiPollLock&) = delete;

private:
    AvahiThreadedPoll* poll_;
};

} // namespace varnello
