#include "crypto/internal.h"

#include <algorithm>

namespace qorvex::crypto::internal {

std::optional<std::size_t> DerElementSize(std::span<const std::uint8_t> der,
                                          std::uint8_t tag) noexcept {
    if (der.size() < 2 || der[0] != tag) return std::nullopt;
    std::size_t header = 2;
    std::size_t length = der[1];
    if (length & 0x80) {
        // Long form: 1 to 4 length bytes (0x80 alone is the indefinite form, which DER forbids).
        const std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || der.size() < 2 + count) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = (length << 8) | der[2 + i];
        header += count;
    }
    if (length > der.size() - header) return std::nullopt;
    return header + length;
}

std::optional<std::span<const std::uint8_t>> DerContent(std::span<const std::uint8_t> der,
                                                        std::uint8_t tag) noexcept {
    const auto size = DerElementSize(der, tag);
    if (!size || *size != der.size()) return std::nullopt;
    // The header is what the content does not take; its length is at most 6 bytes.
    const std::size_t header = der[1] & 0x80 ? 2 + (der[1] & 0x7F) : 2;
    return der.subspan(header);
}

Bytes WithoutLeadingZeros(std::span<const std::uint8_t> bytes) {
    const auto first = std::find_if(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b; });
    return Bytes(first, bytes.end());
}

std::optional<Bytes> LeftPadded(std::span<const std::uint8_t> bytes, std::size_t size) {
    Bytes value = WithoutLeadingZeros(bytes);
    if (value.size() > size) return std::nullopt;
    value.insert(value.begin(), size - value.size(), 0);
    return value;
}

}  // namespace qorvex::crypto::internal
