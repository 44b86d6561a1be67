#pragma once

#include <filesystem>

namespace varnello::bench {

// CPU time, in microseconds of this thread, of one OSC output as the bridge makes it:
// the destination read from preferences.json in `configFolder` (written here), then
// OSCForwarder over the system's sockets (resolve 127.0.0.1, open a socket, send one
// datagram, close) to a UDP socket on 127.0.0.1 that nobody reads; the mean over
// `sends`.
double oscOutputCpuMicroseconds(const std::filesystem::path& configFolder, int sends);

} // namespace varnello::bench
