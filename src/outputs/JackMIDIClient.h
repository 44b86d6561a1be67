#pragma once

#include "outputs/MIDISystem.h"

#include <atomic>
#include <cstdint>
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <memory>
#include <span>
#include <string_view>

namespace varnello {

// Fixed statuses of JACK failures that carry no code of their own. A client
// that cannot be opened reports JACK's status bits, negated instead (no
// server: JackFailure | JackServerFailed, -17).
namespace jackStatus {
inline constexpr MIDIStatus callbackRefused = -3001;
inline constexpr MIDIStatus portRefused = -3002;
inline constexpr MIDIStatus activationRefused = -3003;
inline constexpr MIDIStatus serverGone = -3004;
inline constexpr MIDIStatus outputPortExists = -3005;
inline constexpr MIDIStatus propertyRefused = -3006;
} // namespace jackStatus

// One JACK client with at most one MIDI output port. Bytes written by one
// producer thread go through a lock-free ring buffer to JACK's process thread,
// which writes them out one channel message per event. Not thread-safe apart
// from that hand-over and the server's going away: one caller at a time.
class JackMIDIClient {
public:
    // Opens a client of an already running server; never starts one.
    // `onServerGone` runs on a JACK thread when the server goes away.
    static MIDIStatus open(std::string_view name, MIDISystem::LossHandler onServerGone,
                           std::unique_ptr<JackMIDIClient>& out);
    ~JackMIDIClient();

    JackMIDIClient(const JackMIDIClient&) = delete;
    JackMIDIClient& operator=(const JackMIDIClient&) = delete;

    // Registers the output port and activates the client.
    MIDIStatus openOutputPort(std::string_view name);
    void closeOutputPort() noexcept;
    bool hasOutputPort() const noexcept { return port_ != nullptr; }
    // A metadata property of the output port; type empty for text.
    MIDIStatus setPortProperty(const char* key, const std::string& value, const char* type);
    // Queues whole channel messages for the next process cycles.
    MIDIStatus write(std::span<const std::uint8_t> bytes);
    // Once true, only closing the client is left: a new server needs a new client.
    bool serverGone() const noexcept { return serverGone_.load(std::memory_order_acquire); }

private:
    struct ClientCloser {
        void operator()(jack_client_t* client) const noexcept { jack_client_close(client); }
    };
    struct RingbufferFree {
        void operator()(jack_ringbuffer_t* ring) const noexcept { jack_ringbuffer_free(ring); }
    };

    JackMIDIClient(std::unique_ptr<jack_client_t, ClientCloser> client,
                   MIDISystem::LossHandler onServerGone) noexcept;

    // JACK may cancel the threads that call these (jack_client_close does,
    // from another thread, once the server is gone), at any instruction: they
    // hold the cancellation off while they run, and take it only on their way
    // out, where nothing of theirs is left to unwind. Hence not noexcept.
    static int process(jack_nframes_t frames, void* context);
    static void serverShutDown(void* context);
    void writeQueuedMessages(jack_nframes_t frames) noexcept;
    void tellServerGone() noexcept;

    std::unique_ptr<jack_client_t, ClientCloser> client_;
    std::unique_ptr<jack_ringbuffer_t, RingbufferFree> ring_;
    MIDISystem::LossHandler onServerGone_;
    jack_port_t* port_ = nullptr;
    std::atomic<bool> serverGone_{false};
};

} // namespace varnello
