#pragma once

#include <alsa/asoundlib.h>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnello::test {

// A sequencer client with one writable port that reads what the ports it
// subscribes to send, each event turned back into MIDI bytes.
class AlsaSequencerReader {
public:
    struct Port {
        snd_seq_addr_t address;
        unsigned int capability;
        unsigned int type;
    };

    // Nothing when the sequencer cannot be opened.
    static std::unique_ptr<AlsaSequencerReader> open();
    ~AlsaSequencerReader();

    AlsaSequencerReader(const AlsaSequencerReader&) = delete;
    AlsaSequencerReader& operator=(const AlsaSequencerReader&) = delete;

    // Every port named portName of every client named clientName.
    std::vector<Port> findPorts(const std::string& clientName, const std::string& portName) const;
    bool subscribeTo(const snd_seq_addr_t& source);
    // Waits until `count` events have arrived or none came for waitMilliseconds.
    std::vector<std::vector<std::uint8_t>> take(std::size_t count, int waitMilliseconds);

private:
    AlsaSequencerReader(snd_seq_t* sequencer, snd_midi_event_t* decoder, int port) noexcept
        : sequencer_(sequencer), decoder_(decoder), port_(port) {}

    snd_seq_t* sequencer_;
    snd_midi_event_t* decoder_;
    int port_;
};

} // namespace varnello::test
