#include "protocol/TessaroBridgeFrameDecoder.h"

#include "protocol/TessaroBridgeConstants.h"
#include "protocol/TessaroBridgeWireError.h"

#include <algorithm>

namespace varnello {
namespace {

constexpr std::size_t prefixBytes = 4;

} // namespace

std::size_t TessaroBridgeFrameDecoder::checkedLength(const std::uint8_t* prefix) {
    const std::uint32_t length = (std::uint32_t{prefix[0]} << 24) |
                                 (std::uint32_t{prefix[1]} << 16) |
                                 (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]};
    if (length == 0) {
        buffer_.clear();
        throw TessaroBridgeWireError::malformedFrame();
    }
    if (length > maximumFrameBytes) {
        buffer_.clear();
        throw TessaroBridgeWireError::frameTooLarge(length);
    }
    return length;
}

std::vector<TessaroBridgeMessage>
TessaroBridgeFrameDecoder::append(std::span<const std::uint8_t> data) {
    std::vector<TessaroBridgeMessage> messages;
    if (data.empty()) {
        return messages;
    }
    std::size_t taken = 0;
    const auto takeUpTo = [&](std::size_t wanted) {
        const std::size_t count = std::min(wanted, data.size() - taken);
        buffer_.insert(buffer_.end(), data.begin() + static_cast<std::ptrdiff_t>(taken),
                       data.begin() + static_cast<std::ptrdiff_t>(taken + count));
        taken += count;
    };
    const auto keepRest = [&] {
        buffer_.insert(buffer_.end(), data.begin() + static_cast<std::ptrdiff_t>(taken),
                       data.end());
    };

    // Bytes kept from earlier calls: complete their frame from the new data.
    // Usually one partial frame; after a payload that failed to decode, maybe more.
    while (!buffer_.empty()) {
        if (buffer_.size() < prefixBytes) {
            takeUpTo(prefixBytes - buffer_.size());
            if (buffer_.size() < prefixBytes) {
                return messages;
            }
        }
        const std::size_t length = checkedLength(buffer_.data());
        const std::size_t frameBytes = prefixBytes + length;
        if (buffer_.size() < frameBytes) {
            buffer_.reserve(frameBytes);
            takeUpTo(frameBytes - buffer_.size());
            if (buffer_.size() < frameBytes) {
                return messages;
            }
        }
        const auto payload = std::span<const std::uint8_t>(buffer_).subspan(prefixBytes, length);
        try {
            messages.push_back(decodeMessage(payload));
        } catch (...) {
            buffer_.erase(buffer_.begin(),
                          buffer_.begin() + static_cast<std::ptrdiff_t>(frameBytes));
            keepRest();
            throw;
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(frameBytes));
    }

    // Frames lying wholly inside the new data are decoded where they are, uncopied.
    while (data.size() - taken >= prefixBytes) {
        const std::size_t length = checkedLength(data.data() + taken);
        if (data.size() - taken - prefixBytes < length) {
            break;
        }
        const auto payload = data.subspan(taken + prefixBytes, length);
        taken += prefixBytes + length;
        try {
            messages.push_back(decodeMessage(payload));
        } catch (...) {
            keepRest();
            throw;
        }
    }
    keepRest();
    return messages;
}

} // namespace varnello
