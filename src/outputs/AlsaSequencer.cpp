#include "outputs/AlsaSequencer.h"

#include <cerrno>
#include <string>
#include <utility>

namespace varnello {
namespace {

// Large enough for the longest channel voice message the encoder must hold.
constexpr std::size_t encoderBufferSize = 16;

// Statuses after which the sequencer client can carry nothing any more; every
// other failure (a full pool, an interrupted call) leaves it usable.
bool meansClientBroken(int status) noexcept {
    switch (-status) {
    case ENODEV:
    case ENXIO:
    case EBADF:
    case EBADFD:
    case ESHUTDOWN:
        return true;
    default:
        return false;
    }
}

} // namespace

AlsaSequencer::AlsaSequencer(std::unique_ptr<snd_seq_t, SequencerCloser> sequencer,
                             std::unique_ptr<snd_midi_event_t, EncoderFree> encoder) noexcept
    : sequencer_(std::move(sequencer)), encoder_(std::move(encoder)) {}

MIDIStatus AlsaSequencer::open(std::string_view clientName, std::unique_ptr<AlsaSequencer>& out) {
    snd_seq_t* rawSequencer = nullptr;
    if (const int status = snd_seq_open(&rawSequencer, "default", SND_SEQ_OPEN_OUTPUT, 0);
        status < 0) {
        return status;
    }
    std::unique_ptr<snd_seq_t, SequencerCloser> sequencer(rawSequencer);
    if (const int status =
            snd_seq_set_client_name(sequencer.get(), std::string(clientName).c_str());
        status < 0) {
        return status;
    }
    snd_midi_event_t* rawEncoder = nullptr;
    if (const int status = snd_midi_event_new(encoderBufferSize, &rawEncoder); status < 0) {
        return status;
    }
    std::unique_ptr<snd_midi_event_t, EncoderFree> encoder(rawEncoder);
    out.reset(new AlsaSequencer(std::move(sequencer), std::move(encoder)));
    return 0;
}

MIDIStatus AlsaSequencer::createReadablePort(std::string_view name, int& port) {
    const int result =
        snd_seq_create_simple_port(sequencer_.get(), std::string(name).c_str(),
                                   SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                   SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    if (result < 0) {
        return result;
    }
    port = result;
    return 0;
}

MIDIStatus AlsaSequencer::deletePort(int port) noexcept {
    return snd_seq_delete_simple_port(sequencer_.get(), port);
}

MIDIStatus AlsaSequencer::sendMIDI(int port, std::span<const std::uint8_t> bytes) {
    // A partial message left by an earlier failed send must not prefix this one.
    snd_midi_event_reset_encode(encoder_.get());
    const std::uint8_t* next = bytes.data();
    long remaining = static_cast<long>(bytes.size());
    while (remaining > 0) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        const long consumed = snd_midi_event_encode(encoder_.get(), next, remaining, &event);
        if (consumed < 0) {
            return static_cast<MIDIStatus>(consumed);
        }
        if (consumed == 0) {
            return -EINVAL;
        }
        next += consumed;
        remaining -= consumed;
        if (event.type == SND_SEQ_EVENT_NONE) {
            continue;
        }
        snd_seq_ev_set_source(&event, static_cast<unsigned char>(port));
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        if (const int status = snd_seq_event_output(sequencer_.get(), &event); status < 0) {
            return failed(status);
        }
    }
    if (const int status = snd_seq_drain_output(sequencer_.get()); status < 0) {
        return failed(status);
    }
    return 0;
}

MIDIStatus AlsaSequencer::failed(int status) noexcept {
    snd_seq_drop_output(sequencer_.get());
    if (meansClientBroken(status)) {
        loss_ = status;
    }
    return status;
}

} // namespace varnello
