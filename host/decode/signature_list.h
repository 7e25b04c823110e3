// Secure Boot signature databases (PK, KEK, db, dbx and their kin): EFI_SIGNATURE_LISTs back to
// back, each of one signature type (X.509 certificates, SHA-256 hashes, ...) holding entries of
// one size, each an owner GUID and the signature data. Also the data of EV_EFI_VARIABLE_AUTHORITY
// events: the one entry (owner and certificate, or hash) that allowed an image to load.
//
// Certificates are handed out as their DER bytes; their descriptions carry, beside the DER, what
// the certificate library reads of them (subject, issuer, serial number, SHA-256 fingerprint,
// validity), or why it could not read one.
//
// A list whose sizes disagree with each other or with the bytes left is malformed; the lists
// and entries before it are kept. An empty database (no bytes) is valid: no lists.
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "decode/description.h"
#include "decode/guid.h"
#include "decode/text_events.h"

namespace qorvex::decode {

struct SignatureEntry {
    Guid owner;
    std::span<const std::uint8_t> data;  // a certificate's DER, a hash, ...
};

struct SignatureList {
    Guid type;  // EFI_CERT_X509_GUID, EFI_CERT_SHA256_GUID, ...
    std::uint32_t listSize = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t signatureSize = 0;  // of each entry, owner included
    std::span<const std::uint8_t> header;
    std::vector<SignatureEntry> signatures;
};

struct SignatureDatabase {
    std::vector<SignatureList> lists;
    std::optional<Malformed> malformed;
};

SignatureDatabase DecodeSignatureDatabase(std::span<const std::uint8_t> data);

// The size of an entry's data for signature types of a fixed size (hashes, RSA-2048 keys, the
// revocation hashes of certificates); 0 for others (certificates).
std::size_t FixedSignatureDataSize(const Guid& type) noexcept;

// The list of lists: each {"type", "typeName", "listSize", "headerSize", "signatureSize",
// "count", ["header"], "signatures": [{"owner", "ownerName", "certificate" | "hash" | "data"}]}.
Node Describe(const SignatureDatabase& database);

// Adds "x509": {"subject", "issuer", "serialNumber", "sha256", "notBefore", "notAfter"} for a
// certificate's DER, or "x509Error" with why it is none, to an object.
void AddX509(Node& object, std::span<const std::uint8_t> der);

// The total size of the DER element (a certificate is a SEQUENCE) at the start of bytes, or 0
// when the bytes do not start with one that fits.
std::size_t DerElementSize(std::span<const std::uint8_t> bytes) noexcept;

// EV_EFI_VARIABLE_AUTHORITY's data. Firmware writes the EFI_SIGNATURE_DATA of the db entry that
// allowed the image (owner and certificate, or owner and hash); boot loaders that keep their own
// databases write other records there (shim: its built-in certificate alone, SBAT levels as text,
// one-byte switches), shown as what they are.
struct AuthorityData {
    enum class Form : std::uint8_t {
        SignatureCertificate,  // owner and a certificate's DER
        SignatureHash,         // owner and a hash of 20, 28, 32, 48 or 64 bytes
        Certificate,           // a certificate's DER alone
        Text,
        Bytes,
    } form = Form::Bytes;
    Guid owner;                          // Signature* forms
    std::span<const std::uint8_t> data;  // the certificate, hash or bytes
    EventText text;                      // Form::Text
};
AuthorityData DecodeAuthorityData(std::span<const std::uint8_t> data);
// Adds {"signature": {"owner", "certificate" | "hash"}}, "certificate", "text" or "data" to an
// object.
void AddAuthorityData(Node& object, const AuthorityData& authority);

}  // namespace qorvex::decode
