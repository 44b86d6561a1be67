#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello::test {

// A JACK client with one MIDI input port that collects every event it reads,
// in order, for the test thread to take.
class JackMIDIReader {
public:
    // Nothing when no JACK server answers.
    static std::unique_ptr<JackMIDIReader> open();
    ~JackMIDIReader();

    JackMIDIReader(const JackMIDIReader&) = delete;
    JackMIDIReader& operator=(const JackMIDIReader&) = delete;

    jack_client_t* client() const noexcept { return client_; }
    // Connects the given output port to the reader's input.
    bool connectFrom(const std::string& outputPort);
    // Cycles the server lost so far: what was sent in them never arrives.
    int xruns() const noexcept { return xruns_.load(); }
    // Waits until `count` events have arrived, or none for `idle`, or the wait
    // ends, and returns them all.
    std::vector<std::vector<std::uint8_t>> take(std::size_t count, std::chrono::milliseconds wait,
                                                std::chrono::milliseconds idle);
    std::vector<std::vector<std::uint8_t>> take(std::size_t count, std::chrono::milliseconds wait) {
        return take(count, wait, wait);
    }

private:
    JackMIDIReader(jack_client_t* client, jack_port_t* port, jack_ringbuffer_t* ring) noexcept
        : client_(client), port_(port), ring_(ring) {}

    static int process(jack_nframes_t frames, void* context) noexcept;
    static int xrun(void* context) noexcept;

    jack_client_t* client_;
    jack_port_t* port_;
    jack_ringbuffer_t* ring_;
    std::vector<std::vector<std::uint8_t>> events_;
    std::atomic<int> xruns_{0};
};

} // namespace varnello::test
