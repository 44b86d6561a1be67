#include "support/Base64.h"

#include <array>

namespace varnello {
namespace {

constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeDecodeTable() {
    std::array<std::int8_t, 256> table{};
    table.fill(-1);
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(alphabet[i])] = static_cast<std::int8_t>(i);
    }
    return table;
}

constexpr auto decodeTable = makeDecodeTable();

} // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text.push_back(alphabet[(group >> 18) & 0x3F]);
        text.push_back(alphabet[(group >> 12) & 0x3F]);
        text.push_back(alphabet[(group >> 6) & 0x3F]);
        text.push_back(alphabet[group & 0x3F]);
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t group = bytes[i] << 16;
        text.push_back(alphabet[(group >> 18) & 0x3F]);
        text.push_back(alphabet[(group >> 12) & 0x3F]);
        text.append("==");
    } else if (rest == 2) {
        const std::uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8);
        text.push_back(alphabet[(group >> 18) & 0x3F]);
        text.push_back(alphabet[(group >> 12) & 0x3F]);
        text.push_back(alphabet[(group >> 6) & 0x3F]);
        text.push_back('=');
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        std::size_t padding = 0;
        if (last) {
            padding = text[i + 3] == '=' ? (text[i + 2] == '=' ? 2 : 1) : 0;
        }
        std::uint32_t group = 0;
        for (std::size_t k = 0; k < 4 - padding; ++k) {
            const std::int8_t value = decodeTable[static_cast<unsigned char>(text[i + k])];
            if (value < 0) {
                return std::nullopt;
            }
            group |= static_cast<std::uint32_t>(value) << (18 - 6 * k);
        }
        bytes.push_back(static_cast<std::uint8_t>(group >> 16));
        if (padding < 2) {
            bytes.push_back(static_cast<std::uint8_t>(group >> 8));
        } else if ((group & 0xFFFF) != 0) {
            return std::nullopt;
        }
        if (padding < 1) {
            bytes.push_back(static_cast<std::uint8_t>(group));
        } else if ((group & 0xFF) != 0) {
            return std::nullopt;
        }
    }
    return bytes;
}

} // namespace varnello
