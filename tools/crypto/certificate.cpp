#include "crypto/certificate.h"

#include <cstdio>
#include <span>
#include <string_view>

#include "crypto/backend.h"
#include "crypto/internal.h"
#include "digest/digest.h"

namespace qorvex::crypto {

namespace {

using backend::NameAttribute;

constexpr std::uint8_t kDerBitString = 0x03;

// The short names RFC 4514 defines, and those crypt32 and OpenSSL both print for the other
// attributes certificates commonly carry.
std::string_view AttributeName(std::string_view oid) noexcept {
    static constexpr struct {
        std::string_view oid;
        std::string_view name;
    } kNames[] = {
        {"2.5.4.3", "CN"},
        {"2.5.4.4", "SN"},
        {"2.5.4.5", "SERIALNUMBER"},
        {"2.5.4.6", "C"},
        {"2.5.4.7", "L"},
        {"2.5.4.8", "ST"},
        {"2.5.4.9", "STREET"},
        {"2.5.4.10", "O"},
        {"2.5.4.11", "OU"},
        {"2.5.4.12", "T"},
        {"2.5.4.42", "GN"},
        {"0.9.2342.19200300.100.1.1", "UID"},
        {"0.9.2342.19200300.100.1.25", "DC"},
        {"1.2.840.113549.1.9.1", "E"},
    };
    for (const auto& known : kNames) {
        if (known.oid == oid) return known.name;
    }
    return oid;
}

void AppendEscapedValue(std::string& out, const NameAttribute& attribute) {
    if (!attribute.isText) {
        out += '#';
        out += digest::ToHex(std::span(
            reinterpret_cast<const std::uint8_t*>(attribute.value.data()), attribute.value.size()));
        return;
    }
    const std::string& value = attribute.value;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        const bool special =
            c == ',' || c == '+' || c == '"' || c == '\\' || c == '<' || c == '>' || c == ';';
        const bool leading = i == 0 && (c == '#' || c == ' ');
        const bool trailing = i + 1 == value.size() && c == ' ';
        if (c == '\0') {
            out += "\\00";
            continue;
        }
        if (special || leading || trailing) out += '\\';
        out += c;
    }
}

// RFC 4514: the last RDN first, RDNs joined by ",", the attributes of one RDN by "+".
std::string FormatName(const std::vector<NameAttribute>& attributes) {
    std::string text;
    std::size_t end = attributes.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && attributes[begin - 1].rdn == attributes[end - 1].rdn) --begin;
        if (!text.empty()) text += ',';
        for (std::size_t i = begin; i < end; ++i) {
            if (i != begin) text += '+';
            text += AttributeName(attributes[i].oid);
            text += '=';
            AppendEscapedValue(text, attributes[i]);
        }
        end = begin;
    }
    return text;
}

// The INTEGER's value in hex: two's complement content bytes to sign and magnitude.
std::string FormatSerialNumber(std::vector<std::uint8_t> bytes) {
    if (bytes.empty()) return "00";
    const bool negative = (bytes[0] & 0x80) != 0;
    if (negative) {
        // The magnitude is the two's complement negation.
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(~b);
        for (std::size_t i = bytes.size(); i-- > 0;) {
            if (++bytes[i] != 0) break;
        }
    }
    const Bytes magnitude = internal::WithoutLeadingZeros(bytes);
    if (magnitude.empty()) return "00";
    std::string text = negative ? "-" : "";
    text += digest::ToHex(magnitude);
    return text;
}

std::string FormatTime(const backend::CivilTime& time) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    return text;
}

// Certificate ::= SEQUENCE { tbsCertificate SEQUENCE, signatureAlgorithm SEQUENCE,
// signatureValue BIT STRING }, and nothing else. crypt32 (in Wine at least) also takes a bare
// TBSCertificate for a certificate; libcrypto does not. Checked here, both agree.
bool IsSignedStructure(std::span<const std::uint8_t> certificate) {
    const auto content = internal::DerContent(certificate, internal::kDerSequence);
    if (!content) return false;
    auto rest = *content;
    for (const std::uint8_t tag : {internal::kDerSequence, internal::kDerSequence, kDerBitString}) {
        const auto size = internal::DerElementSize(rest, tag);
        if (!size) return false;
        rest = rest.subspan(*size);
    }
    return rest.empty();
}

}  // namespace

Certificate ReadCertificate(std::span<const std::uint8_t> der) {
    Certificate certificate;
    const auto size = internal::DerElementSize(der, internal::kDerSequence);
    if (!size) {
        certificate.error = "not a whole DER SEQUENCE";
        return certificate;
    }
    const auto exact = der.first(*size);
    if (!IsSignedStructure(exact)) {
        certificate.error = "not a signed certificate (TBSCertificate, algorithm, signature)";
        return certificate;
    }
    std::string error;
    const auto decoded = backend::DecodeCertificate(exact, error);
    if (!decoded) {
        certificate.error = std::string(backend::LibraryName()) + ": " + error;
        return certificate;
    }
    certificate.parsed = true;
    certificate.subject = FormatName(decoded->subject);
    certificate.issuer = FormatName(decoded->issuer);
    certificate.serialNumber = FormatSerialNumber(decoded->serialNumber);
    certificate.sha256Fingerprint = digest::ToHex(digest::Hash(digest::Algorithm::Sha256, exact));
    certificate.sha1Thumbprint = digest::ToHex(digest::Hash(digest::Algorithm::Sha1, exact));
    certificate.notBefore = FormatTime(decoded->notBefore);
    certificate.notAfter = FormatTime(decoded->notAfter);
    return certificate;
}

}  // namespace qorvex::crypto
