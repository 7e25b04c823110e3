// X.509 certificates as an analyst reads them (Secure Boot PK, KEK, db and dbx entries, boot
// authorities), decoded by the platform's library: OpenSSL's libcrypto on Linux, crypt32 on
// Windows. Both give the same text for the same certificate:
//   - subject and issuer as RFC 4514 strings (last RDN first, "CN=...,O=...,C=US", with the
//     short names CN, L, ST, O, OU, C, STREET, DC, UID, SERIALNUMBER, T, SN, GN, E and dotted
//     OIDs for the others; ",", "+", quote, "\", "<", ">", ";" and leading "#" or space and
//     trailing space escaped with "\"; a value that is not text written "#" and hex digits);
//   - the serial number as lower-case hex of the integer (no sign byte; "-" before a negative
//     one, which RFC 5280 forbids but old certificates carry);
//   - the SHA-256 fingerprint and SHA-1 thumbprint of the DER, lower-case hex;
//   - validity as UTC, "2011-10-19T18:41:42Z".
//
// Threading: plain functions; no shared state.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qorvex::crypto {

struct Certificate {
    bool parsed = false;
    std::string error;  // why it did not parse; empty when it did
    std::string subject;
    std::string issuer;
    std::string serialNumber;
    std::string sha256Fingerprint;
    std::string sha1Thumbprint;
    std::string notBefore;
    std::string notAfter;
};

// One DER certificate. Bytes after the certificate's outer SEQUENCE are ignored (signature
// lists may pad their entries); bytes that hold no whole certificate give parsed = false.
// Never throws but std::bad_alloc.
Certificate ReadCertificate(std::span<const std::uint8_t> der);

}  // namespace qorvex::crypto
