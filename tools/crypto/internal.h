// Small helpers the crypto library's sources share. Not for use outside tools/crypto.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "crypto/tpm2.h"

namespace qorvex::crypto::internal {

// The whole size (tag, length and content) of the DER element with this tag that `der` starts
// with, when its definite length fits in `der`; nothing otherwise. The libraries are then
// handed exactly those bytes, so that they agree on what trailing bytes mean.
std::optional<std::size_t> DerElementSize(std::span<const std::uint8_t> der,
                                          std::uint8_t tag) noexcept;
inline constexpr std::uint8_t kDerSequence = 0x30;
inline constexpr std::uint8_t kDerInteger = 0x02;

// The content bytes of `der` when it is exactly one DER element with this tag.
std::optional<std::span<const std::uint8_t>> DerContent(std::span<const std::uint8_t> der,
                                                        std::uint8_t tag) noexcept;

// The bytes without leading zero bytes.
Bytes WithoutLeadingZeros(std::span<const std::uint8_t> bytes);

// The big-endian integer in `bytes` as `size` bytes, zeros added in front; nothing when it
// needs more than `size` bytes.
std::optional<Bytes> LeftPadded(std::span<const std::uint8_t> bytes, std::size_t size);

}  // namespace qorvex::crypto::internal
