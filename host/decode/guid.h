// EFI GUIDs as measured-boot logs carry them: 16 bytes, the first three fields little-endian
// (EFI_GUID), written in the registry form "8be4df61-93ca-11d2-aa0d-00e098032b8c" in lower case,
// as firmware setup screens and the Linux tools print them. A table of the GUIDs analysts meet in
// logs (variable vendors, signature types and owners, configuration tables, partition types)
// gives their names.
//
// Threading: plain values and pure functions.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>

namespace qorvex::decode {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};  // as stored in the log

    friend bool operator==(const Guid&, const Guid&) = default;
};

// The GUID whose registry form is data1-data2-data3-data4[0..1]-data4[2..7].
constexpr Guid MakeGuid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                        std::array<std::uint8_t, 8> data4) noexcept {
    Guid guid;
    for (int i = 0; i < 4; ++i) guid.bytes[i] = static_cast<std::uint8_t>(data1 >> (8 * i));
    for (int i = 0; i < 2; ++i) {
        guid.bytes[4 + i] = static_cast<std::uint8_t>(data2 >> (8 * i));
        guid.bytes[6 + i] = static_cast<std::uint8_t>(data3 >> (8 * i));
    }
    for (int i = 0; i < 8; ++i) guid.bytes[8 + i] = data4[i];
    return guid;
}

// The GUID of the first 16 bytes (which the caller has checked are there).
Guid GuidAt(std::span<const std::uint8_t> bytes) noexcept;

// "8be4df61-93ca-11d2-aa0d-00e098032b8c".
std::string GuidText(const Guid& guid);

// The name of a well-known GUID ("EFI_GLOBAL_VARIABLE", "EFI_CERT_X509_GUID", "EFI system
// partition", ...), or nullptr.
const char* KnownGuidName(const Guid& guid) noexcept;

namespace guids {
inline constexpr Guid kEfiGlobalVariable =
    MakeGuid(0x8be4df61, 0x93ca, 0x11d2, {0xaa, 0x0d, 0x00, 0xe0, 0x98, 0x03, 0x2b, 0x8c});
inline constexpr Guid kImageSecurityDatabase =
    MakeGuid(0xd719b2cb, 0x3d3a, 0x4596, {0xa3, 0xbc, 0xda, 0xd0, 0x0e, 0x67, 0x65, 0x6f});
inline constexpr Guid kShimLock =
    MakeGuid(0x605dab50, 0xe046, 0x4300, {0xab, 0xb6, 0x3d, 0xd8, 0x10, 0xdd, 0x8b, 0x23});

inline constexpr Guid kCertSha1 =
    MakeGuid(0x826ca512, 0xcf10, 0x4ac9, {0xb1, 0x87, 0xbe, 0x01, 0x49, 0x66, 0x31, 0xbd});
inline constexpr Guid kCertSha224 =
    MakeGuid(0x0b6e5233, 0xa65c, 0x44c9, {0x94, 0x07, 0xd9, 0xab, 0x83, 0xbf, 0xc8, 0xbd});
inline constexpr Guid kCertSha256 =
    MakeGuid(0xc1c41626, 0x504c, 0x4092, {0xac, 0xa9, 0x41, 0xf9, 0x36, 0x93, 0x43, 0x28});
inline constexpr Guid kCertSha384 =
    MakeGuid(0xff3e5307, 0x9fd0, 0x48c9, {0x85, 0xf1, 0x8a, 0xd5, 0x6c, 0x70, 0x1e, 0x01});
inline constexpr Guid kCertSha512 =
    MakeGuid(0x093e0fae, 0xa6c4, 0x4f50, {0x9f, 0x1b, 0xd4, 0x1e, 0x2b, 0x89, 0xc1, 0x9a});
inline constexpr Guid kCertRsa2048 =
    MakeGuid(0x3c5766e8, 0x269c, 0x4e34, {0xaa, 0x14, 0xed, 0x77, 0x6e, 0x85, 0xb3, 0xb6});
inline constexpr Guid kCertRsa2048Sha256 =
    MakeGuid(0xe2b36190, 0x879b, 0x4a3d, {0xad, 0x8d, 0xf2, 0xe7, 0xbb, 0xa3, 0x27, 0x84});
inline constexpr Guid kCertRsa2048Sha1 =
    MakeGuid(0x67f8444f, 0x8743, 0x48f1, {0xa3, 0x28, 0x1e, 0xaa, 0xb8, 0x73, 0x60, 0x80});
inline constexpr Guid kCertX509 =
    MakeGuid(0xa5c059a1, 0x94e4, 0x4aa7, {0x87, 0xb5, 0xab, 0x15, 0x5c, 0x2b, 0xf0, 0x72});
inline constexpr Guid kCertX509Sha256 =
    MakeGuid(0x3bd2a492, 0x96c0, 0x4079, {0xb4, 0x20, 0xfc, 0xf9, 0x8e, 0xf1, 0x03, 0xed});
inline constexpr Guid kCertX509Sha384 =
    MakeGuid(0x7076876e, 0x80c2, 0x4ee6, {0xaa, 0xd2, 0x28, 0xb3, 0x49, 0xa6, 0x86, 0x5b});
inline constexpr Guid kCertX509Sha512 =
    MakeGuid(0x446dbf63, 0x2502, 0x4cda, {0xbc, 0xfa, 0x24, 0x65, 0xd2, 0xb0, 0xfe, 0x9d});
inline constexpr Guid kCertPkcs7 =
    MakeGuid(0x4aafd29d, 0x68df, 0x49ee, {0x8a, 0xa9, 0x34, 0x7d, 0x37, 0x56, 0x65, 0xa7});
}  // namespace guids

}  // namespace qorvex::decode
