#pragma once

#include "outputs/MIDISystem.h"

#include <alsa/asoundlib.h>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

namespace varnello {

// One ALSA sequencer client opened for output, with the encoder that turns
// MIDI bytes into sequencer events. Every failure is ALSA's -errno. Not
// thread-safe: one caller at a time.
class AlsaSequencer {
public:
    // Opens the default sequencer under clientName; on success `out` owns it.
    static MIDIStatus open(std::string_view clientName, std::unique_ptr<AlsaSequencer>& out);

    AlsaSequencer(const AlsaSequencer&) = delete;
    AlsaSequencer& operator=(const AlsaSequencer&) = delete;

    // A port that other clients can read from and subscribe to.
    MIDIStatus createReadablePort(std::string_view name, int& port);
    MIDIStatus deletePort(int port) noexcept;
    // Encodes bytes into events from `port`, to its subscribers, delivered
    // directly (not queued), then drains the output buffer once.
    MIDIStatus sendMIDI(int port, std::span<const std::uint8_t> bytes);
    // 0 while the client works; the status of the send that found its
    // connection to the sequencer broken (no device, a bad descriptor).
    MIDIStatus loss() const noexcept { return loss_; }

private:
    struct SequencerCloser {
        void operator()(snd_seq_t* sequencer) const noexcept { snd_seq_close(sequencer); }
    };
    struct EncoderFree {
        void operator()(snd_midi_event_t* encoder) const noexcept { snd_midi_event_free(encoder); }
    };

    AlsaSequencer(std::unique_ptr<snd_seq_t, SequencerCloser> sequencer,
                  std::unique_ptr<snd_midi_event_t, EncoderFree> encoder) noexcept;

    std::unique_ptr<snd_seq_t, SequencerCloser> sequencer_;
    MIDIStatus failed(int status) noexcept;

    std::unique_ptr<snd_midi_event_t, EncoderFree> encoder_;
    MIDIStatus loss_ = 0;
};

} // namespace varnello
