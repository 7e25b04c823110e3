// A cursor over the bytes of one structure of event data. Every read checks the bytes left
// first, so a size field that lies (up to 2^64 - 1) can never move the cursor or a span past the
// end; a read that does not fit fails and changes nothing. Numbers are little-endian, as UEFI
// and the TCG logs write them.
//
// Threading: a ByteReader is used by one thread at a time; it only reads the bytes it was given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "decode/guid.h"

namespace qorvex::decode {

class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) noexcept : m_bytes(bytes) {}

    std::size_t offset() const noexcept { return m_offset; }
    std::size_t remaining() const noexcept { return m_bytes.size() - m_offset; }
    bool AtEnd() const noexcept { return m_offset == m_bytes.size(); }
    // The bytes not read yet.
    std::span<const std::uint8_t> Rest() const noexcept { return m_bytes.subspan(m_offset); }

    bool U8(std::uint8_t& value) noexcept { return Number(value); }
    bool U16(std::uint16_t& value) noexcept { return Number(value); }
    bool U32(std::uint32_t& value) noexcept { return Number(value); }
    bool U64(std::uint64_t& value) noexcept { return Number(value); }

    bool ReadGuid(Guid& guid) noexcept {
        if (remaining() < guid.bytes.size()) return false;
        guid = GuidAt(Rest());
        m_offset += guid.bytes.size();
        return true;
    }

    // The next count bytes.
    bool Take(std::uint64_t count, std::span<const std::uint8_t>& bytes) noexcept {
        if (count > remaining()) return false;
        bytes = m_bytes.subspan(m_offset, static_cast<std::size_t>(count));
        m_offset += static_cast<std::size_t>(count);
        return true;
    }

    bool Skip(std::uint64_t count) noexcept {
        std::span<const std::uint8_t> skipped;
        return Take(count, skipped);
    }

private:
    template <typename T>
    bool Number(T& value) noexcept {
        if (remaining() < sizeof(T)) return false;
        std::uint64_t result = 0;
        for (std::size_t i = sizeof(T); i > 0; --i)
            result = (result << 8) | m_bytes[m_offset + i - 1];
        value = static_cast<T>(result);
        m_offset += sizeof(T);
        return true;
    }

    std::span<const std::uint8_t> m_bytes;
    std::size_t m_offset = 0;
};

}  // namespace qorvex::decode
