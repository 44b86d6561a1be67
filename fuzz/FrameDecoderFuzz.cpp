// Feeds arbitrary bytes in arbitrary chunks to one frame decoder. The first
// byte of each step gives the length of the chunk that follows it. Checks that
// every failure is one of the two typed errors and that a call returning
// normally leaves less than one whole frame buffered.

#include "protocol/TessaroBridgeDecodingFailure.h"
#include "protocol/TessaroBridgeFrameDecoder.h"
#include "protocol/TessaroBridgeWireError.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    varnello::TessaroBridgeFrameDecoder decoder;
    std::size_t offset = 0;
    while (offset < input.size()) {
        // 0 stands for "everything that is left", so big chunks are reached too.
        const std::size_t wanted = input[offset++];
        const std::size_t count =
            wanted == 0 ? input.size() - offset : std::min(wanted, input.size() - offset);
        const auto chunk = input.subspan(offset, count);
        offset += count;
        try {
            const auto messages = decoder.append(chunk);
            for (const auto& message : messages) {
                // Whatever was decoded encodes again and decodes to itself; only
                // the size may fail, since escapes in the input may be written shorter.
                try {
                    const auto frame = varnello::encodeFrame(message);
                    if (!(varnello::decodeMessage(std::span(frame).subspan(4)) == message)) {
                        std::abort();
                    }
                } catch (const varnello::TessaroBridgeWireError& error) {
                    if (error.code() != varnello::TessaroBridgeWireError::Code::frameTooLarge) {
                        std::abort();
                    }
                }
            }
            if (decoder.bufferedByteCount() > 65539) {
                std::abort();
            }
        } catch (const varnello::TessaroBridgeWireError&) {
        } catch (const varnello::TessaroBridgeDecodingFailure&) {
        }
    }
    return 0;
}
