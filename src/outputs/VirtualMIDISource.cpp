#include "outputs/VirtualMIDISource.h"

#include "outputs/VirtualMIDISourceError.h"
#include "protocol/TessaroBridgeValidation.h"

#include <cassert>
#include <mutex>
#include <utility>

namespace varnello {
namespace {

constexpr std::string_view sourceName = "Varnello Bridge";
constexpr std::string_view manufacturer = "QV";
constexpr std::string_view model = "Varnello Bridge";

} // namespace

// The context that reopens a lost client. Shared with the MIDI system's loss
// handler, which runs on the system's own thread: the lock keeps it from
// posting to a context that stopReopening has let go of.
struct VirtualMIDISource::Reopening {
    using Step = void (Connection::*)();

    // Any thread: runs `step` of the connection on the context after `delay`.
    void post(std::chrono::milliseconds delay, Step step);

    // Any thread.
    bool active() {
        std::lock_guard lock(mutex);
        return context != nullptr;
    }

    std::mutex mutex;
    Executor* context = nullptr;
    std::weak_ptr<Connection> connection;
};

// The client, its source and the state of both. Owned by the context once
// reopenOn has named one.
struct VirtualMIDISource::Connection {
    Connection(std::unique_ptr<MIDISystem> midiSystem, std::uint32_t id,
               std::shared_ptr<Reopening> reopen)
        : system(std::move(midiSystem)), uniqueID(id), reopening(std::move(reopen)) {
        open();
    }

    ~Connection() { release(); }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Throws VirtualMIDISourceError; a failure leaves nothing registered.
    void open() {
        if (const MIDIStatus status = system->createClient(sourceName, client); status != 0) {
            client = 0;
            throw VirtualMIDISourceError::coreMIDI("Create MIDI client", status);
        }
        if (const MIDIStatus status = system->createSource(client, sourceName, endpoint);
            status != 0) {
            endpoint = 0;
            system->disposeClient(client);
            client = 0;
            throw VirtualMIDISourceError::coreMIDI("Create virtual MIDI source", status);
        }
        // Descriptive only: a system that refuses a property still carries the MIDI.
        system->setStringProperty(endpoint, MIDIStringProperty::manufacturer, manufacturer);
        system->setStringProperty(endpoint, MIDIStringProperty::model, model);
        system->setIntegerProperty(endpoint, MIDIIntegerProperty::uniqueID,
                                   static_cast<std::int32_t>(uniqueID));
        state = MIDIConnectionState::connected;
    }

    void release() noexcept {
        if (endpoint != 0) {
            system->disposeEndpoint(endpoint);
            endpoint = 0;
        }
        if (client != 0) {
            system->disposeClient(client);
            client = 0;
        }
    }

    void assertOnContext() const noexcept { assert(owner == nullptr || owner->isCurrent()); }

    void send(std::span<const std::uint8_t> bytes) {
        assertOnContext();
        validateMIDIBytes(bytes);
        if (state == MIDIConnectionState::lost) {
            throw VirtualMIDISourceError::coreMIDI("Send MIDI", lossStatus);
        }
        const MIDIStatus status = system->emit(endpoint, system->currentHostTime(), bytes);
        if (status != 0) {
            if (const MIDIStatus loss = system->clientLoss(client); loss != 0) {
                lose(loss);
            }
            throw VirtualMIDISourceError::coreMIDI("Send MIDI", status);
        }
    }

    // The lost client is released by the first attempt, not now: JACK may
    // still be inside its own callback on this client, and a server that is
    // shutting down fails when its clients vanish under it.
    void lose(MIDIStatus status) {
        state = MIDIConnectionState::lost;
        lossStatus = status;
        if (onChange) {
            onChange(MIDIConnectionState::lost, status);
        }
        reopening->post(reopenInterval, &Connection::attemptReopening);
    }

    // The MIDI system noticed a lost client by itself.
    void checkClient() {
        assertOnContext();
        if (state != MIDIConnectionState::connected) {
            return;
        }
        if (const MIDIStatus loss = system->clientLoss(client); loss != 0) {
            lose(loss);
        }
    }

    // The one chain of attempts: started by lose, continued until one succeeds.
    void attemptReopening() {
        assertOnContext();
        assert(state == MIDIConnectionState::lost);
        // The bridge is stopping: a client now would only be closed again.
        if (!reopening->active()) {
            return;
        }
        // Whatever was queued in the lost client goes with it, so nothing sent
        // before the loss can sound after the reopening.
        release();
        try {
            open();
        } catch (const VirtualMIDISourceError&) {
            reopening->post(reopenInterval, &Connection::attemptReopening);
            return;
        }
        if (onChange) {
            onChange(MIDIConnectionState::connected, 0);
        }
    }

    std::unique_ptr<MIDISystem> system;
    std::uint32_t uniqueID;
    std::shared_ptr<Reopening> reopening;
    MIDIClientRef client = 0;
    MIDIEndpointRef endpoint = 0;
    MIDIConnectionState state = MIDIConnectionState::lost;
    // Why the output was lost: the status of every send until it is back.
    MIDIStatus lossStatus = 0;
    Executor* owner = nullptr;
    ConnectionHandler onChange;
};

void VirtualMIDISource::Reopening::post(std::chrono::milliseconds delay, Step step) {
    std::lock_guard lock(mutex);
    if (context == nullptr) {
        return;
    }
    auto work = [weak = connection, step] {
        if (auto target = weak.lock()) {
            ((*target).*step)();
        }
    };
    if (delay.count() == 0) {
        context->post(std::move(work));
    } else {
        context->postAfter(delay, std::move(work));
    }
}

VirtualMIDISource::VirtualMIDISource(std::unique_ptr<MIDISystem> system, std::uint32_t uniqueID)
    : reopening_(std::make_shared<Reopening>()) {
    assert(system);
    system->setLossHandler([reopening = reopening_] {
        reopening->post(std::chrono::milliseconds(0), &Connection::checkClient);
    });
    connection_ = std::make_shared<Connection>(std::move(system), uniqueID, reopening_);
    std::lock_guard lock(reopening_->mutex);
    reopening_->connection = connection_;
}

VirtualMIDISource::~VirtualMIDISource() {
    stopReopening();
}

void VirtualMIDISource::reopenOn(Executor& context, ConnectionHandler onChange) {
    assert(connection_->owner == nullptr);
    connection_->owner = &context;
    connection_->onChange = std::move(onChange);
    {
        std::lock_guard lock(reopening_->mutex);
        reopening_->context = &context;
    }
    // A loss before now was either noticed by a send, which could not yet
    // start the attempts, or told by the system to no one.
    if (connection_->state == MIDIConnectionState::lost) {
        reopening_->post(std::chrono::milliseconds(0), &Connection::attemptReopening);
    } else {
        reopening_->post(std::chrono::milliseconds(0), &Connection::checkClient);
    }
}

void VirtualMIDISource::stopReopening() noexcept {
    std::lock_guard lock(reopening_->mutex);
    reopening_->context = nullptr;
}

void VirtualMIDISource::send(std::span<const std::uint8_t> bytes) {
    connection_->send(bytes);
}

std::string_view VirtualMIDISource::systemName() const noexcept {
    return connection_->system->systemName();
}

MIDIConnectionState VirtualMIDISource::state() const noexcept {
    return connection_->state;
}

MIDIClientRef VirtualMIDISource::client() const noexcept {
    return connection_->client;
}

MIDIEndpointRef VirtualMIDISource::endpoint() const noexcept {
    return connection_->endpoint;
}

} // namespace varnello
