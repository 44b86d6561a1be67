// The time one command spends in each output: one OSC send to a numeric
// loopback address (resolution, socket, sendto, close) and one MIDI send on
// the JACK backend (validation and hand-over to the process thread). Each
// iteration times one call; the median and the 99th percentile of those
// times are reported as counters, in microseconds.

#include "outputs/MIDIBackendChoice.h"
#include "outputs/OSCForwarder.h"
#include "outputs/VirtualMIDISource.h"
#include "outputs/VirtualMIDISourceError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <chrono>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnello {
namespace {

using Clock = std::chrono::steady_clock;

void reportPercentiles(benchmark::State& state, std::vector<double>& microseconds) {
    if (microseconds.empty()) {
        return;
    }
    std::sort(microseconds.begin(), microseconds.end());
    const auto at = [&](double fraction) {
        const auto index = static_cast<std::size_t>(fraction * (microseconds.size() - 1));
        return microseconds[index];
    };
    state.counters["median_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
}

double microsecondsBetween(Clock::time_point start, Clock::time_point end) {
    return std::chrono::duration<double, std::micro>(end - start).count();
}

// A loopback UDP socket that takes the datagrams; read outside the timed part.
class LoopbackSink {
public:
    LoopbackSink() {
        socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackSink() { ::close(socket_); }
    LoopbackSink(const LoopbackSink&) = delete;
    LoopbackSink& operator=(const LoopbackSink&) = delete;

    std::uint16_t port() const noexcept { return port_; }
    void drain() const {
        char datagram[2048];
        while (::recv(socket_, datagram, sizeof datagram, 0) > 0) {
        }
    }

private:
    int socket_ = -1;
    std::uint16_t port_ = 0;
};

void oscSendToNumericLoopback(benchmark::State& state) {
    const LoopbackSink sink;
    const OSCForwarder forwarder;
    const OSCForwardingConfiguration configuration{
        .isEnabled = true, .host = "127.0.0.1", .port = sink.port()};
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    int sinceDrain = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        forwarder.send("/varnello/cue/1", configuration);
        samples.push_back(microsecondsBetween(start, Clock::now()));
        if (++sinceDrain == 64) {
            state.PauseTiming();
            sink.drain();
            sinceDrain = 0;
            state.ResumeTiming();
        }
    }
    reportPercentiles(state, samples);
}
BENCHMARK(oscSendToNumericLoopback)->Iterations(20000)->Unit(benchmark::kMicrosecond);

void jackMIDISend(benchmark::State& state) {
    std::unique_ptr<VirtualMIDISource> source;
    try {
        source = std::make_unique<VirtualMIDISource>(makeMIDISystem(MIDIBackendChoice::jack),
                                                     0x54564231);
    } catch (const VirtualMIDISourceError& error) {
        state.SkipWithError(("no JACK server answers: " + error.message()).c_str());
        return;
    }
    const std::uint8_t noteOn[] = {0x90, 0x3C, 0x64};
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(state.max_iterations));
    for (auto _ : state) {
        const auto start = Clock::now();
        source->send(noteOn);
        samples.push_back(microsecondsBetween(start, Clock::now()));
    }
    reportPercentiles(state, samples);
}
// 10000 note-ons fit the hand-over buffer even if the server ran no cycle meanwhile.
BENCHMARK(jackMIDISend)->Iterations(10000)->Unit(benchmark::kMicrosecond);

} // namespace
} // namespace varnello
