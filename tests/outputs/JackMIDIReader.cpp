#include "JackMIDIReader.h"

#include <jack/midiport.h>
#include <thread>

namespace varnello::test {

std::unique_ptr<JackMIDIReader> JackMIDIReader::open() {
    jack_status_t status{};
    jack_client_t* client = jack_client_open("varnello-test-reader", JackNoStartServer, &status);
    if (client == nullptr) {
        return nullptr;
    }
    jack_port_t* port =
        jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_ringbuffer_t* ring = jack_ringbuffer_create(1 << 20);
    if (port == nullptr || ring == nullptr) {
        jack_client_close(client);
        if (ring != nullptr) {
            jack_ringbuffer_free(ring);
        }
        return nullptr;
    }
    std::unique_ptr<JackMIDIReader> reader(new JackMIDIReader(client, port, ring));
    if (jack_set_process_callback(client, &JackMIDIReader::process, reader.get()) != 0 ||
        jack_set_xrun_callback(client, &JackMIDIReader::xrun, reader.get()) != 0 ||
        jack_activate(client) != 0) {
        return nullptr;
    }
    return reader;
}

JackMIDIReader::~JackMIDIReader() {
    jack_client_close(client_);
    jack_ringbuffer_free(ring_);
}

bool JackMIDIReader::connectFrom(const std::string& outputPort) {
    return jack_connect(client_, outputPort.c_str(), jack_port_name(port_)) == 0;
}

int JackMIDIReader::process(jack_nframes_t frames, void* context) noexcept {
    auto& self = *static_cast<JackMIDIReader*>(context);
    void* buffer = jack_port_get_buffer(self.port_, frames);
    const jack_nframes_t count = jack_midi_get_event_count(buffer);
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, buffer, i) != 0 || event.size > 255) {
            continue;
        }
        // Each event as its length, then its bytes.
        const auto size = static_cast<unsigned char>(event.size);
        if (jack_ringbuffer_write_space(self.ring_) < event.size + 1) {
            return 0;
        }
        jack_ringbuffer_write(self.ring_, reinterpret_cast<const char*>(&size), 1);
        jack_ringbuffer_write(self.ring_, reinterpret_cast<const char*>(event.buffer), event.size);
    }
    return 0;
}

int JackMIDIReader::xrun(void* context) noexcept {
    ++static_cast<JackMIDIReader*>(context)->xruns_;
    return 0;
}

std::vector<std::vector<std::uint8_t>> JackMIDIReader::take(std::size_t count,
                                                            std::chrono::milliseconds wait,
                                                            std::chrono::milliseconds idle) {
    const auto start = std::chrono::steady_clock::now();
    auto lastArrival = start;
    while (true) {
        unsigned char size = 0;
        while (jack_ringbuffer_read_space(ring_) > 0) {
            jack_ringbuffer_peek(ring_, reinterpret_cast<char*>(&size), 1);
            if (jack_ringbuffer_read_space(ring_) < size + 1U) {
                break;
            }
            jack_ringbuffer_read_advance(ring_, 1);
            std::vector<std::uint8_t> event(size);
            jack_ringbuffer_read(ring_, reinterpret_cast<char*>(event.data()), size);
            events_.push_back(std::move(event));
            lastArrival = std::chrono::steady_clock::now();
        }
        const auto now = std::chrono::steady_clock::now();
        if (events_.size() >= count || now - start >= wait || now - lastArrival >= idle) {
            std::vector<std::vector<std::uint8_t>> taken = std::move(events_);
            events_.clear();
            return taken;
        }
        // A real server delivers only once per process cycle; nothing to drive instead.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

} // namespace varnello::test
