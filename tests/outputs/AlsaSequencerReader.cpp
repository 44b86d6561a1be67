#include "AlsaSequencerReader.h"

#include <poll.h>

namespace varnello::test {

std::unique_ptr<AlsaSequencerReader> AlsaSequencerReader::open() {
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0) {
        return nullptr;
    }
    snd_seq_set_client_name(sequencer, "varnello-test-reader");
    const int port = snd_seq_create_simple_port(
        sequencer, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
        SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    snd_midi_event_t* decoder = nullptr;
    if (port < 0 || snd_midi_event_new(16, &decoder) < 0) {
        snd_seq_close(sequencer);
        return nullptr;
    }
    // Every message with its own status byte, as it was sent.
    snd_midi_event_no_status(decoder, 1);
    return std::unique_ptr<AlsaSequencerReader>(new AlsaSequencerReader(sequencer, decoder, port));
}

AlsaSequencerReader::~AlsaSequencerReader() {
    snd_midi_event_free(decoder_);
    snd_seq_close(sequencer_);
}

std::vector<AlsaSequencerReader::Port>
AlsaSequencerReader::findPorts(const std::string& clientName, const std::string& portName) const {
    std::vector<Port> found;
    snd_seq_client_info_t* client = nullptr;
    snd_seq_port_info_t* port = nullptr;
    snd_seq_client_info_alloca(&client);
    snd_seq_port_info_alloca(&port);
    snd_seq_client_info_set_client(client, -1);
    while (snd_seq_query_next_client(sequencer_, client) >= 0) {
        if (clientName != snd_seq_client_info_get_name(client)) {
            continue;
        }
        snd_seq_port_info_set_client(port, snd_seq_client_info_get_client(client));
        snd_seq_port_info_set_port(port, -1);
        while (snd_seq_query_next_port(sequencer_, port) >= 0) {
            if (portName == snd_seq_port_info_get_name(port)) {
                found.push_back({*snd_seq_port_info_get_addr(port),
                                 snd_seq_port_info_get_capability(port),
                                 snd_seq_port_info_get_type(port)});
            }
        }
    }
    return found;
}

bool AlsaSequencerReader::subscribeTo(const snd_seq_addr_t& source) {
    return snd_seq_connect_from(sequencer_, port_, source.client, source.port) == 0;
}

std::vector<std::vector<std::uint8_t>> AlsaSequencerReader::take(std::size_t count,
                                                                 int waitMilliseconds) {
    std::vector<std::vector<std::uint8_t>> events;
    pollfd descriptor{};
    snd_seq_poll_descriptors(sequencer_, &descriptor, 1, POLLIN);
    while (events.size() < count) {
        snd_seq_event_t* event = nullptr;
        const int result = snd_seq_event_input(sequencer_, &event);
        if (result == -EAGAIN) {
            if (poll(&descriptor, 1, waitMilliseconds) != 1) {
                break;
            }
            continue;
        }
        if (result < 0) {
            break;
        }
        unsigned char bytes[16];
        const long length = snd_midi_event_decode(decoder_, bytes, sizeof bytes, event);
        if (length > 0) {
            events.emplace_back(bytes, bytes + length);
        }
    }
    return events;
}

} // namespace varnello::test
