// The declared Windows Runtime IIDs of the collections we iterate are recomputed here from
// their generic interface and element type, the way the runtime derives a parameterised IID
// (a name-based UUID: SHA-1 over a fixed namespace and the type signature). A typo in one of
// the sixteen bytes would make every QueryInterface for it fail on a real system.
#include <win/winrt/winrt.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// A plain SHA-1 (FIPS 180-4), enough for hashing short signatures.
std::array<std::uint8_t, 20> Sha1(const std::vector<std::uint8_t>& message) {
    std::uint32_t h[5] = {0x67452301u, 0xEFCDAB89u, 0x98BADCFEu, 0x10325476u, 0xC3D2E1F0u};
    std::vector<std::uint8_t> data = message;
    const std::uint64_t bitLength = static_cast<std::uint64_t>(message.size()) * 8;
    data.push_back(0x80);
    while (data.size() % 64 != 56) data.push_back(0);
    for (int i = 7; i >= 0; --i) data.push_back(static_cast<std::uint8_t>(bitLength >> (i * 8)));
    const auto rotl = [](std::uint32_t x, int n) { return (x << n) | (x >> (32 - n)); };
    for (std::size_t block = 0; block < data.size(); block += 64) {
        std::uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            w[i] = (std::uint32_t{data[block + 4 * i]} << 24) |
                   (std::uint32_t{data[block + 4 * i + 1]} << 16) |
                   (std::uint32_t{data[block + 4 * i + 2]} << 8) | data[block + 4 * i + 3];
        }
        for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        std::uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            std::uint32_t f, k;
            if (i < 20) {
                f = (b & c) | (~b & d), k = 0x5A827999u;
            } else if (i < 40) {
                f = b ^ c ^ d, k = 0x6ED9EBA1u;
            } else if (i < 60) {
                f = (b & c) | (b & d) | (c & d), k = 0x8F1BBCDCu;
            } else {
                f = b ^ c ^ d, k = 0xCA62C1D6u;
            }
            const std::uint32_t t = rotl(a, 5) + f + e + k + w[i];
            e = d, d = c, c = rotl(b, 30), b = a, a = t;
        }
        h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
    }
    std::array<std::uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i)
        digest[i] = static_cast<std::uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}

std::string Hex(const std::array<std::uint8_t, 20>& digest) {
    std::string text;
    char byte[3];
    for (std::uint8_t b : digest) {
        std::snprintf(byte, sizeof byte, "%02x", b);
        text += byte;
    }
    return text;
}

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

TEST(Sha1, MatchesTheStandardTestVectors) {
    EXPECT_EQ(Hex(Sha1(Bytes(""))), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Hex(Sha1(Bytes("abc"))), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // Two blocks: the padding spills over.
    EXPECT_EQ(Hex(Sha1(Bytes("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"))),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
}

// The text form the runtime hashes: lower-case hex in braces.
std::string Text(const win::GUID& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1],
                  g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
    return text;
}

// {11f47ad5-7b73-42c0-abae-878b1e16adee}, in RFC 4122 byte order.
constexpr std::uint8_t kPinterfaceNamespace[16] = {0x11, 0xf4, 0x7a, 0xd5, 0x7b, 0x73, 0x42, 0xc0,
                                                   0xab, 0xae, 0x87, 0x8b, 0x1e, 0x16, 0xad, 0xee};

win::GUID ParameterisedIid(const std::string& signature) {
    std::vector<std::uint8_t> input(std::begin(kPinterfaceNamespace),
                                    std::end(kPinterfaceNamespace));
    input.insert(input.end(), signature.begin(), signature.end());
    auto d = Sha1(input);
    d[6] = static_cast<std::uint8_t>((d[6] & 0x0F) | 0x50);
    d[8] = static_cast<std::uint8_t>((d[8] & 0x3F) | 0x80);
    win::GUID g{};
    g.Data1 = (std::uint32_t{d[0]} << 24) | (std::uint32_t{d[1]} << 16) |
              (std::uint32_t{d[2]} << 8) | d[3];
    g.Data2 = static_cast<std::uint16_t>((d[4] << 8) | d[5]);
    g.Data3 = static_cast<std::uint16_t>((d[6] << 8) | d[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = d[8 + i];
    return g;
}

template <class T>
std::string ElementSignature() {
    return std::string("rc(") + win::CollectionIids<T>::kRuntimeClass + ";" + Text(win::IidOf<T>) +
           ")";
}

struct ParameterisedCase {
    const char* name;
    win::GUID generic;
    std::string element;
    win::GUID declared;
};

TEST(WinRtAbi, DeclaredCollectionIidsAreTheOnesTheRuntimeDerives) {
    const ParameterisedCase cases[] = {
        {"IIterable<Package>", win::kGenericIterable, ElementSignature<win::IPackage>(),
         win::IidOf<win::IIterable<win::IPackage>>},
        {"IIterator<Package>", win::kGenericIterator, ElementSignature<win::IPackage>(),
         win::IidOf<win::IIterator<win::IPackage>>},
        {"IIterable<PackageVolume>", win::kGenericIterable, ElementSignature<win::IPackageVolume>(),
         win::IidOf<win::IIterable<win::IPackageVolume>>},
        {"IIterator<PackageVolume>", win::kGenericIterator, ElementSignature<win::IPackageVolume>(),
         win::IidOf<win::IIterator<win::IPackageVolume>>},
    };
    for (const auto& c : cases) {
        const std::string signature = "pinterface(" + Text(c.generic) + ";" + c.element + ")";
        EXPECT_EQ(Text(ParameterisedIid(signature)), Text(c.declared)) << c.name;
    }
}

TEST(WinRtAbi, ParameterisedIidOfAStructArgumentMatchesThePublishedValue) {
    // The deployment operation's IID, which the module never asks for: it shows that the
    // derivation above is the published one, not merely self-consistent.
    const std::string signature =
        "pinterface({b5d036d7-e297-498f-ba60-0289e76e23dd};"
        "rc(Windows.Management.Deployment.DeploymentResult;{2563b9ae-b77d-4c1f-8a7b-20e6ad515ef3});"
        "struct(Windows.Management.Deployment.DeploymentProgress;"
        "enum(Windows.Management.Deployment.DeploymentProgressState;i4);u4))";
    EXPECT_EQ(Text(ParameterisedIid(signature)), "{5a97aab7-b6ea-55ac-a5dc-d5b164d94e94}");
}

TEST(WinRtAbi, ScalarsHaveTheirPublishedWidths) {
    static_assert(sizeof(win::boolean) == 1);
    static_assert(sizeof(win::PackageState) == 4);
    static_assert(sizeof(win::PackageTypes) == 4);
    static_assert(sizeof(win::TrustLevel) == 4);
    static_assert(sizeof(win::PackageVersion) == 8);
    static_assert(sizeof(win::HSTRING) == sizeof(void*));
    // Each interface is one vtable pointer: no virtual destructor or data sneaked in.
    static_assert(sizeof(win::IPackageManager3) == sizeof(void*));
    static_assert(sizeof(win::IIterator<win::IPackage>) == sizeof(void*));
    SUCCEED();
}

}  // namespace
