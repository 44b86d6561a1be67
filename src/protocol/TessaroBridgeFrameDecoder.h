#pragma once

#include "protocol/TessaroBridgeFrameCodec.h"
#include "protocol/TessaroBridgeMessage.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace varnello {

// Cuts one connection's byte stream, in chunks of any size, back into
// messages. One per connection, used only from its session's context (the
// server queue); not thread-safe.
//
// Between calls that return normally it keeps less than one frame: at most
// 65539 bytes. A frame announcing 0 or more than 65536 bytes is refused from
// its prefix alone and empties the buffer. A payload that fails to decode
// leaves the bytes after its frame buffered. A failing call returns none of
// the messages it completed before the failure.
class TessaroBridgeFrameDecoder {
public:
    TessaroBridgeFrameDecoder() = default;

    // The messages completed by `data`, in stream order (often none). Throws
    // TessaroBridgeWireError (malformedFrame, frameTooLarge, or a decode-time
    // check) or TessaroBridgeDecodingFailure.
    std::vector<TessaroBridgeMessage> append(std::span<const std::uint8_t> data);

    // Bytes received and not yet consumed.
    std::size_t bufferedByteCount() const noexcept { return buffer_.size(); }

private:
    // The announced payload length; empties the buffer and throws when it is
    // 0 or over 65536.
    std::size_t checkedLength(const std::uint8_t* prefix);

    std::vector<std::uint8_t> buffer_;
};

} // namespace varnello
