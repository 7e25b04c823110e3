// The digest library on OpenSSL's libcrypto (Linux builds), loaded on first use.
#include <array>
#include <stdexcept>
#include <string>

#include "digest/digest.h"
#include "libcrypto/libcrypto.h"

namespace qorvex::digest {

namespace {

using openssl::LibcryptoFunctions;

constexpr std::size_t kAlgorithmCount = 5;

struct Digests {
    const LibcryptoFunctions* library = nullptr;
    std::array<EVP_MD*, kAlgorithmCount> fetched{};
};

// Each algorithm is fetched from the default provider once: the implicit fetch of a digest
// named by EVP_sha256() and the like repeats a provider lookup, under a lock, in every
// EVP_DigestInit, and a PCR replay starts one digest per event and bank. A fetch that fails (a
// library built without SM3), like a library that cannot be loaded, leaves the algorithm
// unavailable.
const Digests& FetchedDigests() noexcept {
    static const Digests digests = [] {
        Digests result;
        result.library = openssl::TryLibcrypto();
        if (result.library == nullptr) return result;
        constexpr const char* kNames[kAlgorithmCount] = {"SHA1", "SHA256", "SHA384", "SHA512",
                                                         "SM3"};
        for (std::size_t i = 0; i < kAlgorithmCount; ++i)
            result.fetched[i] = result.library->EVP_MD_fetch(nullptr, kNames[i], nullptr);
        result.library->ERR_clear_error();
        return result;
    }();
    return digests;
}

const EVP_MD* FetchedDigest(Algorithm algorithm) noexcept {
    const auto index = static_cast<std::size_t>(algorithm);
    return index < kAlgorithmCount ? FetchedDigests().fetched[index] : nullptr;
}

[[noreturn]] void ThrowLibraryFailure(const char* step) {
    FetchedDigests().library->ERR_clear_error();
    throw std::runtime_error(std::string("libcrypto: ") + step + " failed");
}

}  // namespace

struct Hasher::State {
    openssl::Owned<EVP_MD_CTX, &LibcryptoFunctions::EVP_MD_CTX_free> context;
    bool spent = false;
};

void Hasher::StateDeleter::operator()(State* state) const noexcept {
    delete state;
}

bool Available(Algorithm algorithm) noexcept {
    return FetchedDigest(algorithm) != nullptr;
}

Hasher::Hasher(Algorithm algorithm) : m_algorithm(algorithm), m_state(new State) {
    const EVP_MD* md = FetchedDigest(algorithm);
    if (md == nullptr) throw std::invalid_argument("digest algorithm not available in libcrypto");
    const LibcryptoFunctions& library = *FetchedDigests().library;
    m_state->context.reset(library.EVP_MD_CTX_new());
    if (!m_state->context) throw std::bad_alloc();
    if (library.EVP_DigestInit_ex2(m_state->context.get(), md, nullptr) != 1)
        ThrowLibraryFailure("EVP_DigestInit_ex2");
}

Hasher::~Hasher() = default;
Hasher::Hasher(Hasher&& other) noexcept = default;
Hasher& Hasher::operator=(Hasher&& other) noexcept = default;

Hasher& Hasher::Update(std::span<const std::uint8_t> data) {
    if (!m_state || m_state->spent) throw std::logic_error("digest updated after Finish");
    if (!data.empty() && FetchedDigests().library->EVP_DigestUpdate(m_state->context.get(),
                                                                    data.data(), data.size()) != 1)
        ThrowLibraryFailure("EVP_DigestUpdate");
    return *this;
}

std::vector<std::uint8_t> Hasher::Finish() {
    if (!m_state || m_state->spent) throw std::logic_error("digest finished twice");
    m_state->spent = true;
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int size = 0;
    if (FetchedDigests().library->EVP_DigestFinal_ex(m_state->context.get(), digest.data(),
                                                     &size) != 1)
        ThrowLibraryFailure("EVP_DigestFinal_ex");
    digest.resize(size);
    return digest;
}

}  // namespace qorvex::digest
