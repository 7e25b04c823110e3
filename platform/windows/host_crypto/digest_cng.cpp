// The digest library on CNG (Windows builds). CNG has no SM3.
#include <windows.h>

// bcrypt.h uses the types of windows.h.
#include <bcrypt.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <stdexcept>

#include "digest/digest.h"
#include "digest/owned.h"

namespace qorvex::digest {

namespace {

constexpr std::size_t kAlgorithmCount = 5;

// One algorithm provider per algorithm for the whole process, opened on first use and never
// closed: opening one loads the provider, which costs far more than a hash of a log event.
const std::array<BCRYPT_ALG_HANDLE, kAlgorithmCount>& Providers() noexcept {
    static const std::array<BCRYPT_ALG_HANDLE, kAlgorithmCount> providers = [] {
        constexpr const wchar_t* kNames[kAlgorithmCount] = {
            BCRYPT_SHA1_ALGORITHM, BCRYPT_SHA256_ALGORITHM, BCRYPT_SHA384_ALGORITHM,
            BCRYPT_SHA512_ALGORITHM, nullptr};
        std::array<BCRYPT_ALG_HANDLE, kAlgorithmCount> opened{};
        for (std::size_t i = 0; i < kAlgorithmCount; ++i) {
            if (kNames[i] == nullptr) continue;
            BCRYPT_ALG_HANDLE handle = nullptr;
            if (BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&handle, kNames[i], nullptr, 0)))
                opened[i] = handle;
        }
        return opened;
    }();
    return providers;
}

BCRYPT_ALG_HANDLE Provider(Algorithm algorithm) noexcept {
    const auto index = static_cast<std::size_t>(algorithm);
    return index < kAlgorithmCount ? Providers()[index] : nullptr;
}

[[noreturn]] void ThrowLibraryFailure(const char* step, NTSTATUS status) {
    char text[80];
    std::snprintf(text, sizeof text, "CNG: %s failed with 0x%08lx", step,
                  static_cast<unsigned long>(status));
    throw std::runtime_error(text);
}

}  // namespace

struct Hasher::State {
    owned::Owned<void, &BCryptDestroyHash> hash;
    bool spent = false;
};

void Hasher::StateDeleter::operator()(State* state) const noexcept {
    delete state;
}

bool Available(Algorithm algorithm) noexcept {
    return Provider(algorithm) != nullptr;
}

Hasher::Hasher(Algorithm algorithm) : m_algorithm(algorithm), m_state(new State) {
    const BCRYPT_ALG_HANDLE provider = Provider(algorithm);
    if (provider == nullptr) throw std::invalid_argument("digest algorithm not available in CNG");
    BCRYPT_HASH_HANDLE hash = nullptr;
    const NTSTATUS status = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) ThrowLibraryFailure("BCryptCreateHash", status);
    m_state->hash.reset(hash);
}

Hasher::~Hasher() = default;
Hasher::Hasher(Hasher&& other) noexcept = default;
Hasher& Hasher::operator=(Hasher&& other) noexcept = default;

Hasher& Hasher::Update(std::span<const std::uint8_t> data) {
    if (!m_state || m_state->spent) throw std::logic_error("digest updated after Finish");
    // BCryptHashData takes a ULONG count.
    constexpr std::size_t kMaxPiece = std::numeric_limits<ULONG>::max();
    while (!data.empty()) {
        const std::size_t piece = std::min(data.size(), kMaxPiece);
        const NTSTATUS status = BCryptHashData(m_state->hash.get(), const_cast<PUCHAR>(data.data()),
                                               static_cast<ULONG>(piece), 0);
        if (!BCRYPT_SUCCESS(status)) ThrowLibraryFailure("BCryptHashData", status);
        data = data.subspan(piece);
    }
    return *this;
}

std::vector<std::uint8_t> Hasher::Finish() {
    if (!m_state || m_state->spent) throw std::logic_error("digest finished twice");
    m_state->spent = true;
    std::vector<std::uint8_t> digest(DigestSize(m_algorithm));
    const NTSTATUS status =
        BCryptFinishHash(m_state->hash.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
    if (!BCRYPT_SUCCESS(status)) ThrowLibraryFailure("BCryptFinishHash", status);
    return digest;
}

}  // namespace qorvex::digest
