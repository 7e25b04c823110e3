#include "decode/signature_list.h"

#include <string>

#include "crypto/certificate.h"
#include "decode/byte_reader.h"

namespace qorvex::decode {

namespace {

constexpr std::size_t kListHeaderSize = 28;  // type, list size, header size, signature size
constexpr std::size_t kOwnerSize = 16;

enum class EntryData : std::uint8_t { Certificate, Hash, Other };

EntryData EntryDataOf(const Guid& type) {
    if (type == guids::kCertX509) return EntryData::Certificate;
    if (type == guids::kCertSha1 || type == guids::kCertSha224 || type == guids::kCertSha256 ||
        type == guids::kCertSha384 || type == guids::kCertSha512) {
        return EntryData::Hash;
    }
    return EntryData::Other;
}

std::string Describe(const Guid& type) {
    const char* name = KnownGuidName(type);
    return name != nullptr ? name : GuidText(type);
}

}  // namespace

std::size_t FixedSignatureDataSize(const Guid& type) noexcept {
    static const struct {
        const Guid* type;
        std::size_t size;
    } kSizes[] = {
        {&guids::kCertSha1, 20},
        {&guids::kCertSha224, 28},
        {&guids::kCertSha256, 32},
        {&guids::kCertSha384, 48},
        {&guids::kCertSha512, 64},
        {&guids::kCertRsa2048, 256},
        {&guids::kCertRsa2048Sha256, 256},
        {&guids::kCertRsa2048Sha1, 256},
        // A certificate's to-be-signed hash and the EFI_TIME of its revocation.
        {&guids::kCertX509Sha256, 32 + 16},
        {&guids::kCertX509Sha384, 48 + 16},
        {&guids::kCertX509Sha512, 64 + 16},
    };
    for (const auto& known : kSizes) {
        if (*known.type == type) return known.size;
    }
    return 0;
}

SignatureDatabase DecodeSignatureDatabase(std::span<const std::uint8_t> data) {
    SignatureDatabase database;
    ByteReader reader(data);
    while (!reader.AtEnd()) {
        const std::size_t start = reader.offset();
        const auto fault = [&](std::string reason) {
            database.malformed = Malformed{std::move(reason), start, data};
        };
        SignatureList list;
        if (!reader.ReadGuid(list.type) || !reader.U32(list.listSize) ||
            !reader.U32(list.headerSize) || !reader.U32(list.signatureSize)) {
            fault("a signature list header is cut short: " + std::to_string(data.size() - start) +
                  " bytes left");
            break;
        }
        const std::size_t left = data.size() - start;
        if (list.listSize < kListHeaderSize || list.listSize > left) {
            fault("a signature list says it is " + std::to_string(list.listSize) + " bytes long; " +
                  std::to_string(left) + " are left");
            break;
        }
        const std::size_t body = list.listSize - kListHeaderSize;
        if (list.headerSize > body) {
            fault("a signature list's header of " + std::to_string(list.headerSize) +
                  " bytes does not fit in the list");
            break;
        }
        const std::size_t entriesSize = body - list.headerSize;
        if (entriesSize != 0 &&
            (list.signatureSize < kOwnerSize || entriesSize % list.signatureSize != 0)) {
            fault("a signature list of " + std::to_string(entriesSize) +
                  " bytes of entries has entries of " + std::to_string(list.signatureSize) +
                  " bytes");
            break;
        }
        const std::size_t fixed = FixedSignatureDataSize(list.type);
        if (entriesSize != 0 && fixed != 0 && list.signatureSize != kOwnerSize + fixed) {
            fault("an " + Describe(list.type) + " entry is " + std::to_string(kOwnerSize + fixed) +
                  " bytes; this list says " + std::to_string(list.signatureSize));
            break;
        }
        reader.Take(list.headerSize, list.header);
        const std::size_t count = entriesSize == 0 ? 0 : entriesSize / list.signatureSize;
        list.signatures.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            SignatureEntry entry;
            reader.ReadGuid(entry.owner);
            reader.Take(list.signatureSize - kOwnerSize, entry.data);
            list.signatures.push_back(entry);
        }
        database.lists.push_back(std::move(list));
    }
    return database;
}

void AddX509(Node& object, std::span<const std::uint8_t> der) {
    const crypto::Certificate certificate = crypto::ReadCertificate(der);
    if (!certificate.parsed) {
        // The DER stays in "certificate"; an entry that is not one is worth saying so, since
        // firmware that checks against it finds nothing either.
        object.Add("x509Error", Node::Text(certificate.error));
        return;
    }
    object.Add("x509", std::move(Node::Object()
                                     .Add("subject", Node::Text(certificate.subject))
                                     .Add("issuer", Node::Text(certificate.issuer))
                                     .Add("serialNumber", Node::Text(certificate.serialNumber))
                                     .Add("sha256", Node::Text(certificate.sha256Fingerprint))
                                     .Add("notBefore", Node::Text(certificate.notBefore))
                                     .Add("notAfter", Node::Text(certificate.notAfter))));
}

Node Describe(const SignatureDatabase& database) {
    Node lists = Node::List();
    for (const SignatureList& list : database.lists) {
        Node node = Node::Object();
        node.Add("type", Node::GuidValue(list.type))
            .Add("listSize", Node::Number(list.listSize))
            .Add("headerSize", Node::Number(list.headerSize))
            .Add("signatureSize", Node::Number(list.signatureSize))
            .Add("count", Node::Number(list.signatures.size()));
        if (!list.header.empty()) node.Add("header", Node::Bytes(list.header));
        const char* dataName = "data";
        switch (EntryDataOf(list.type)) {
            case EntryData::Certificate:
                dataName = "certificate";
                break;
            case EntryData::Hash:
                dataName = "hash";
                break;
            case EntryData::Other:
                break;
        }
        const bool certificates = EntryDataOf(list.type) == EntryData::Certificate;
        Node signatures = Node::List();
        for (const SignatureEntry& entry : list.signatures) {
            Node signature = Node::Object();
            signature.Add("owner", Node::GuidValue(entry.owner))
                .Add(dataName, Node::Bytes(entry.data));
            if (certificates) AddX509(signature, entry.data);
            signatures.Push(std::move(signature));
        }
        node.Add("signatures", std::move(signatures));
        lists.Push(std::move(node));
    }
    return lists;
}

std::size_t DerElementSize(std::span<const std::uint8_t> bytes) noexcept {
    constexpr std::uint8_t kSequence = 0x30;
    if (bytes.size() < 2 || bytes[0] != kSequence) return 0;
    std::size_t length = bytes[1];
    std::size_t headerSize = 2;
    if (length >= 0x80) {
        const std::size_t lengthBytes = length & 0x7F;
        // DER's definite long form; four length bytes cover anything a log can hold.
        if (lengthBytes == 0 || lengthBytes > 4 || bytes.size() < 2 + lengthBytes) return 0;
        length = 0;
        for (std::size_t i = 0; i < lengthBytes; ++i) length = (length << 8) | bytes[2 + i];
        headerSize += lengthBytes;
    }
    if (length > bytes.size() - headerSize) return 0;
    return headerSize + length;
}

AuthorityData DecodeAuthorityData(std::span<const std::uint8_t> data) {
    AuthorityData authority;
    authority.data = data;
    if (data.size() > kOwnerSize) {
        const auto rest = data.subspan(kOwnerSize);
        const std::size_t hashSize = rest.size();
        if (DerElementSize(rest) == rest.size()) {
            authority.form = AuthorityData::Form::SignatureCertificate;
        } else if (hashSize == 20 || hashSize == 28 || hashSize == 32 || hashSize == 48 ||
                   hashSize == 64) {
            authority.form = AuthorityData::Form::SignatureHash;
        }
        if (authority.form != AuthorityData::Form::Bytes) {
            authority.owner = GuidAt(data);
            authority.data = rest;
            return authority;
        }
    }
    if (!data.empty() && DerElementSize(data) == data.size()) {
        authority.form = AuthorityData::Form::Certificate;
    } else if (auto text = ReadNarrowText(data); text && !data.empty()) {
        authority.form = AuthorityData::Form::Text;
        authority.text = std::move(*text);
    }
    return authority;
}

void AddAuthorityData(Node& object, const AuthorityData& authority) {
    switch (authority.form) {
        case AuthorityData::Form::SignatureCertificate:
        case AuthorityData::Form::SignatureHash: {
            const bool certificate = authority.form == AuthorityData::Form::SignatureCertificate;
            Node signature = Node::Object();
            signature.Add("owner", Node::GuidValue(authority.owner))
                .Add(certificate ? "certificate" : "hash", Node::Bytes(authority.data));
            if (certificate) AddX509(signature, authority.data);
            object.Add("signature", std::move(signature));
            return;
        }
        case AuthorityData::Form::Certificate:
            object.Add("certificate", Node::Bytes(authority.data));
            AddX509(object, authority.data);
            return;
        case AuthorityData::Form::Text:
            object.Add("text", Node::Text(authority.text.text));
            return;
        case AuthorityData::Form::Bytes:
            object.Add("data", Node::Bytes(authority.data));
            return;
    }
}

}  // namespace qorvex::decode
