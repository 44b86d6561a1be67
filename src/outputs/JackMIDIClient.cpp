#include "outputs/JackMIDIClient.h"

#include <algorithm>
#include <cerrno>
#include <jack/metadata.h>
#include <jack/midiport.h>
#include <pthread.h>
#include <string>
#include <utility>

namespace varnello {
namespace {

// Room for 256 of the longest sequences a command may carry.
constexpr std::size_t ringSize = 65536;

// 0 for a byte that does not start a channel voice message.
std::size_t channelMessageLength(std::uint8_t status) noexcept {
    if (status < 0x80 || status >= 0xF0) {
        return 0;
    }
    const std::uint8_t kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 2 : 3;
}

} // namespace

JackMIDIClient::JackMIDIClient(std::unique_ptr<jack_client_t, ClientCloser> client,
                               MIDISystem::LossHandler onServerGone) noexcept
    : client_(std::move(client)), onServerGone_(std::move(onServerGone)) {}

JackMIDIClient::~JackMIDIClient() {
    closeOutputPort();
}

MIDIStatus JackMIDIClient::open(std::string_view name, MIDISystem::LossHandler onServerGone,
                                std::unique_ptr<JackMIDIClient>& out) {
    jack_status_t openStatus{};
    std::unique_ptr<jack_client_t, ClientCloser> client(
        jack_client_open(std::string(name).c_str(), JackNoStartServer, &openStatus));
    if (!client) {
        return openStatus != 0 ? -static_cast<MIDIStatus>(openStatus) : -1;
    }
    std::unique_ptr<JackMIDIClient> opened(
        new JackMIDIClient(std::move(client), std::move(onServerGone)));
    if (jack_set_process_callback(opened->client_.get(), &JackMIDIClient::process, opened.get()) !=
        0) {
        return jackStatus::callbackRefused;
    }
    jack_on_shutdown(opened->client_.get(), &JackMIDIClient::serverShutDown, opened.get());
    out = std::move(opened);
    return 0;
}

MIDIStatus JackMIDIClient::openOutputPort(std::string_view name) {
    if (port_ != nullptr) {
        return jackStatus::outputPortExists;
    }
    std::unique_ptr<jack_ringbuffer_t, RingbufferFree> ring(jack_ringbuffer_create(ringSize));
    if (!ring) {
        return -ENOMEM;
    }
    // Keeps the process thread from faulting pages in; best effort.
    jack_ringbuffer_mlock(ring.get());
    jack_port_t* port =
        jack_port_register(client_.get(), std::string(name).c_str(), JACK_DEFAULT_MIDI_TYPE,
                           JackPortIsOutput | JackPortIsTerminal, 0);
    if (port == nullptr) {
        return jackStatus::portRefused;
    }
    // Set before activation, which orders them before the first process cycle.
    ring_ = std::move(ring);
    port_ = port;
    if (jack_activate(client_.get()) != 0) {
        jack_port_unregister(client_.get(), port_);
        port_ = nullptr;
        ring_.reset();
        return jackStatus::activationRefused;
    }
    return 0;
}

void JackMIDIClient::closeOutputPort() noexcept {
    if (port_ == nullptr) {
        return;
    }
    // After the server went away only closing the client is allowed; that
    // releases the port with it.
    if (serverGone_.load(std::memory_order_acquire)) {
        port_ = nullptr;
        ring_.reset();
        return;
    }
    // Deactivation waits for a running process cycle, so the ring and port
    // are no longer in use when they go.
    jack_deactivate(client_.get());
    jack_remove_properties(client_.get(), jack_port_uuid(port_));
    jack_port_unregister(client_.get(), port_);
    port_ = nullptr;
    ring_.reset();
}

MIDIStatus JackMIDIClient::setPortProperty(const char* key, const std::string& value,
                                           const char* type) {
    if (port_ == nullptr) {
        return -EINVAL;
    }
    return jack_set_property(client_.get(), jack_port_uuid(port_), key, value.c_str(), type) == 0
               ? 0
               : jackStatus::propertyRefused;
}

MIDIStatus JackMIDIClient::write(std::span<const std::uint8_t> bytes) {
    if (port_ == nullptr) {
        return -EINVAL;
    }
    if (serverGone_.load(std::memory_order_acquire)) {
        return jackStatus::serverGone;
    }
    // All or nothing: a command's messages never go out in part.
    if (jack_ringbuffer_write_space(ring_.get()) < bytes.size()) {
        return -ENOBUFS;
    }
    jack_ringbuffer_write(ring_.get(), reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return 0;
}

int JackMIDIClient::process(jack_nframes_t frames, void* context) {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    static_cast<JackMIDIClient*>(context)->writeQueuedMessages(frames);
    // A cancellation that came meanwhile acts here.
    pthread_setcancelstate(previous, nullptr);
    return 0;
}

void JackMIDIClient::serverShutDown(void* context) {
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    static_cast<JackMIDIClient*>(context)->tellServerGone();
    pthread_setcancelstate(previous, nullptr);
}

void JackMIDIClient::tellServerGone() noexcept {
    serverGone_.store(true, std::memory_order_release);
    if (onServerGone_) {
        onServerGone_();
    }
}

void JackMIDIClient::writeQueuedMessages(jack_nframes_t frames) noexcept {
    void* buffer = jack_port_get_buffer(port_, frames);
    jack_midi_clear_buffer(buffer);
    jack_nframes_t offset = 0;
    while (true) {
        const std::size_t available = jack_ringbuffer_read_space(ring_.get());
        if (available == 0) {
            return;
        }
        jack_midi_data_t message[3];
        jack_ringbuffer_peek(ring_.get(), reinterpret_cast<char*>(message),
                             std::min<std::size_t>(available, sizeof message));
        const std::size_t length = channelMessageLength(message[0]);
        if (length == 0) {
            jack_ringbuffer_read_advance(ring_.get(), 1);
            continue;
        }
        // The producer's write may become visible in two parts around the wrap.
        if (available < length) {
            return;
        }
        // The port buffer is full (ENOBUFS): the rest waits for the next cycle.
        // Asking first keeps JACK from logging the refusal on this thread.
        if (jack_midi_max_event_size(buffer) < length ||
            jack_midi_event_write(buffer, offset, message, length) != 0) {
            return;
        }
        jack_ringbuffer_read_advance(ring_.get(), length);
        if (offset + 1 < frames) {
            ++offset;
        }
    }
}

} // namespace varnello
