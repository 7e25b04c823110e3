#include "cli/tcg_log_health.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/json_text.h"
#include "cli/tcg_log_names.h"
#include "crypto/certificate.h"
#include "decode/efi_variable.h"
#include "decode/event_types.h"
#include "decode/signature_list.h"
#include "decode/text_events.h"
#include "digest/digest.h"
#include "utf/codec.h"

namespace qorvex::host {

namespace {
struct Origin {
    std::uint32_t pcr = 0;
    std::uint64_t event = 0;
    std::uint64_t phase = 0;
};
}  // namespace

// A loaded module or ELAM record of SIPA values, as the walk read it.
struct SipaRecord {
    Origin origin;
    std::uint32_t type = 0;
    // A record holds a dozen values at most; a hostile one may repeat them: the first counts.
    std::vector<std::pair<std::uint32_t, std::span<const std::uint8_t>>> values;

    const std::span<const std::uint8_t>* Find(std::uint32_t valueType) const {
        for (const auto& [t, data] : values) {
            if (t == valueType) return &data;
        }
        return nullptr;
    }
    void Add(std::uint32_t valueType, std::span<const std::uint8_t> data) {
        if (Find(valueType) == nullptr) values.emplace_back(valueType, data);
    }
};

namespace {

using decode::Node;

constexpr std::uint32_t kSipaTrustBoundary = 0x40010001;
constexpr std::uint32_t kSipaElamAggregation = 0x40010002;
constexpr std::uint32_t kSipaLoadedModuleAggregation = 0x40010003;
constexpr std::uint32_t kSipaBootCounter = 0x00020002;
constexpr std::uint32_t kSipaTransferControl = 0x00020003;
constexpr std::uint32_t kSipaBitlockerUnlock = 0x00020005;
constexpr std::uint32_t kSipaApplicationSvn = 0x00020009;
constexpr std::uint32_t kSipaBootRevocationList = 0x00040002;
constexpr std::uint32_t kSipaOsRevocationList = 0x00050013;
constexpr std::uint32_t kSipaSiPolicy = 0x0005000F;
constexpr std::uint32_t kSipaSbcpInfo = 0x00050029;
constexpr std::uint32_t kSipaDataExecutionPrevention = 0x00050004;

constexpr std::uint32_t kSipaFilePath = 0x00070001;
constexpr std::uint32_t kSipaImageSize = 0x00070002;
constexpr std::uint32_t kSipaHashAlgorithm = 0x00070003;
constexpr std::uint32_t kSipaAuthenticodeHash = 0x00070004;
constexpr std::uint32_t kSipaAuthorityIssuer = 0x00070005;
constexpr std::uint32_t kSipaAuthoritySerial = 0x00070006;
constexpr std::uint32_t kSipaAuthorityPublisher = 0x00070008;
constexpr std::uint32_t kSipaAuthorityThumbprint = 0x00070009;
constexpr std::uint32_t kSipaImageValidated = 0x0007000A;

constexpr std::uint32_t kSipaElamKeyName = 0x00090001;
constexpr std::uint32_t kSipaElamConfiguration = 0x00090002;
constexpr std::uint32_t kSipaElamPolicy = 0x00090003;
constexpr std::uint32_t kSipaElamMeasured = 0x00090004;

// The fields read straight from one SIPA value each, in the order the report lists them.
struct PlainField {
    const char* name;
    std::uint32_t type;
};
constexpr PlainField kPlainFields[] = {
    {"bootCounter", kSipaBootCounter},
    {"transferControl", kSipaTransferControl},
    {"bitlockerUnlock", kSipaBitlockerUnlock},
    {"bootDebugging", 0x00040001},
    {"osKernelDebug", 0x00050001},
    {"hypervisorDebug", 0x0005000D},
    {"testSigning", 0x00050003},
    {"flightSigning", 0x00050021},
    {"codeIntegrity", 0x00050002},
    {"dataExecutionPrevention", kSipaDataExecutionPrevention},
    {"safeMode", 0x00050005},
    {"winPE", 0x00050006},
    {"vsmRequired", 0x000A0001},
    {"secureBootRequired", 0x000A0002},
    {"iommuRequired", 0x000A0003},
    {"mmioNxRequired", 0x000A0004},
    {"msrFilteringRequired", 0x000A0005},
    {"mandatoryEnforcement", 0x000A0006},
    {"hvciPolicy", 0x000A0007},
    {"hypervisorLaunchType", 0x0005000A},
    {"hypervisorIommuPolicy", 0x0005000C},
    {"hypervisorMmioNxPolicy", 0x00050010},
    {"hypervisorMsrFilterPolicy", 0x00050011},
    {"vsmLaunchType", 0x00050012},
    {"applicationSvn", kSipaApplicationSvn},
    {"bootRevocationList", kSipaBootRevocationList},
    {"osRevocationList", kSipaOsRevocationList},
    {"siPolicy", kSipaSiPolicy},
    {"sbcp", kSipaSbcpInfo},
};

// The security switches of the summary: which values are the less secure ones.
enum class Weak : std::uint8_t {
    NonZero,    // on (debugging, test signing, ...) is weaker
    Zero,       // off (code integrity) is weaker
    AlwaysOff,  // DEP: Windows' boot policy value 2 (AlwaysOff) is the one that disables it
};
struct SwitchRule {
    const char* field;
    std::uint32_t type;
    Weak weak;
};
constexpr SwitchRule kSwitches[] = {
    {"bootDebugging", 0x00040001, Weak::NonZero},
    {"osKernelDebug", 0x00050001, Weak::NonZero},
    {"hypervisorDebug", 0x0005000D, Weak::NonZero},
    {"testSigning", 0x00050003, Weak::NonZero},
    {"flightSigning", 0x00050021, Weak::NonZero},
    {"codeIntegrity", 0x00050002, Weak::Zero},
    {"dataExecutionPrevention", kSipaDataExecutionPrevention, Weak::AlwaysOff},
    {"safeMode", 0x00050005, Weak::NonZero},
    {"winPE", 0x00050006, Weak::NonZero},
};

bool IsWeak(Weak weak, std::uint64_t value) {
    switch (weak) {
        case Weak::NonZero:
            return value != 0;
        case Weak::Zero:
            return value == 0;
        case Weak::AlwaysOff:
            return value == 2;
    }
    return true;
}

// Windows' DEP policies (the boot option nx).
const char* DepPolicyName(std::uint64_t value) {
    switch (value) {
        case 0:
            return "OptIn";
        case 1:
            return "OptOut";
        case 2:
            return "AlwaysOff";
        case 3:
            return "AlwaysOn";
        default:
            return "";
    }
}

// BitLocker's unlock flags (FVEB_UNLOCK_FLAG_*).
constexpr std::pair<std::uint64_t, const char*> kUnlockFlags[] = {
    {0x001, "cached"},     {0x002, "media"},    {0x004, "tpm"},
    {0x010, "pin"},        {0x020, "external"}, {0x040, "recovery"},
    {0x080, "passphrase"}, {0x100, "network"},  {0x200, "auto-unlock"},
};

// EV_EFI_ACTION texts by which firmware says it lowered Secure Boot's guard.
constexpr const char* kWeakeningActions[] = {
    "DMA Protection Disabled",
    "UEFI Debug Mode",
};

std::uint64_t LoadLe(std::span<const std::uint8_t> bytes, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;) value = value << 8 | bytes[i];
    return value;
}

std::u16string Utf16(std::span<const std::uint8_t> bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8));
    while (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

// A SIPA value as the listing reads it.
Node SipaValueNode(std::uint32_t type, std::span<const std::uint8_t> data) {
    const SipaValue value = DecodeSipaValue(type, data);
    switch (value.kind) {
        case SipaValue::Kind::None:
            return Node::Bytes({});
        case SipaValue::Kind::Number:
            return Node::Number(value.number);
        case SipaValue::Kind::HexNumber:
            return Node::Hex(value.number);
        case SipaValue::Kind::Text:
            if (value.utf16) return Node::Text(Utf16(value.bytes));
            return Node::Text(std::string_view(reinterpret_cast<const char*>(value.bytes.data()),
                                               value.bytes.size()));
        case SipaValue::Kind::Bytes:
            return Node::Bytes(value.bytes);
    }
    return Node::Bytes(data);
}

// FILETIME (100 ns since 1601) as UTC, "2022-01-14T09:12:33Z".
std::string FileTimeText(std::uint64_t fileTime) {
    const std::int64_t seconds = static_cast<std::int64_t>(fileTime / 10000000) - 11644473600LL;
    std::int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    const std::int64_t rest = seconds - days * 86400;
    // Civil date from days since 1970-01-01 (H. Hinnant's algorithm).
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[96];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lldZ",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(day), static_cast<long long>(rest / 3600),
                  static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
    return text;
}

// A revocation list's identity: its creation time and digest.
Node RevocationListNode(std::span<const std::uint8_t> data) {
    constexpr std::size_t kHeader = 8 + 4 + 2;
    if (data.size() < kHeader) return Node::Bytes(data);
    const std::uint64_t digestLength = LoadLe(data.subspan(8), 4);
    if (digestLength != data.size() - kHeader) return Node::Bytes(data);
    Node node = Node::Object();
    const std::uint16_t algorithm = static_cast<std::uint16_t>(LoadLe(data.subspan(12), 2));
    node.Add("created", Node::Text(FileTimeText(LoadLe(data, 8))))
        .Add("hashAlgorithm", Node::Hex(algorithm, digest::TpmAlgorithmName(algorithm)))
        .Add("digest", Node::Bytes(data.subspan(kHeader)));
    return node;
}

// The code integrity policy: version, name and digest.
Node SiPolicyNode(std::span<const std::uint8_t> data) {
    constexpr std::size_t kHeader = 8 + 2 + 2 + 4;
    if (data.size() < kHeader) return Node::Bytes(data);
    const std::size_t nameLength = static_cast<std::size_t>(LoadLe(data.subspan(8), 2));
    const std::uint16_t algorithm = static_cast<std::uint16_t>(LoadLe(data.subspan(10), 2));
    const std::uint64_t digestLength = LoadLe(data.subspan(12), 4);
    if (nameLength + digestLength != data.size() - kHeader) return Node::Bytes(data);
    const std::uint64_t version = LoadLe(data, 8);
    const std::string versionText =
        std::to_string(version >> 48) + '.' + std::to_string(version >> 32 & 0xFFFF) + '.' +
        std::to_string(version >> 16 & 0xFFFF) + '.' + std::to_string(version & 0xFFFF);
    Node node = Node::Object();
    node.Add("version", Node::Text(versionText))
        .Add("name", Node::Text(Utf16(data.subspan(kHeader, nameLength))))
        .Add("hashAlgorithm", Node::Hex(algorithm, digest::TpmAlgorithmName(algorithm)))
        .Add("digest", Node::Bytes(data.subspan(kHeader + nameLength)));
    return node;
}

Node FieldValue(std::uint32_t type, std::span<const std::uint8_t> data) {
    switch (type) {
        case kSipaBootRevocationList:
        case kSipaOsRevocationList:
            return RevocationListNode(data);
        case kSipaSiPolicy:
            return SiPolicyNode(data);
        case kSipaTransferControl: {
            const SipaValue value = DecodeSipaValue(type, data);
            if (value.kind != SipaValue::Kind::HexNumber) return Node::Bytes(data);
            return Node::Hex(value.number, value.number == 1   ? "OS loader"
                                           : value.number == 2 ? "resume"
                                                               : "");
        }
        case kSipaDataExecutionPrevention: {
            const SipaValue value = DecodeSipaValue(type, data);
            if (value.kind != SipaValue::Kind::Number) return Node::Bytes(data);
            return Node::Number(value.number, DepPolicyName(value.number));
        }
        case kSipaBitlockerUnlock: {
            const SipaValue value = DecodeSipaValue(type, data);
            if (value.kind != SipaValue::Kind::HexNumber) return Node::Bytes(data);
            std::string flags;
            std::uint64_t rest = value.number;
            for (const auto& [bit, name] : kUnlockFlags) {
                if ((rest & bit) == 0) continue;
                // Appended piece by piece: g++ 12 -O3 warns on a temporary's concatenation.
                if (!flags.empty()) flags += ',';
                flags += name;
                rest &= ~bit;
            }
            if (rest != 0) {
                char text[24];
                std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(rest));
                if (!flags.empty()) flags += ',';
                flags += text;
            }
            return Node::Hex(value.number, value.number == 0 ? "none" : flags);
        }
        default:
            return SipaValueNode(type, data);
    }
}

Node Occurrence(Node value, const Origin& origin) {
    Node node = Node::Object();
    node.Add("value", std::move(value))
        .Add("pcr", Node::Number(origin.pcr))
        .Add("event", Node::Number(origin.event))
        .Add("phase", Node::Number(origin.phase));
    return node;
}

void AddOrigin(Node& node, const Origin& origin) {
    node.Add("pcr", Node::Number(origin.pcr))
        .Add("event", Node::Number(origin.event))
        .Add("phase", Node::Number(origin.phase));
}

// One loaded module or ELAM driver: its SIPA values by type, first one kept.
using Aggregate = SipaRecord;

// Windows' hash algorithm ids (ALG_ID) of loaded modules.
const char* WindowsHashName(std::uint64_t id) {
    switch (id) {
        case 0x8004:
            return "sha1";
        case 0x800C:
            return "sha256";
        case 0x800D:
            return "sha384";
        case 0x800E:
            return "sha512";
        default:
            return "";
    }
}

// A loaded module's record is written field by field, straight to the output, when a log holds
// tens of thousands of them: the same fields, in the same form, as its description tree.
struct Scalar {
    enum class Kind : std::uint8_t { Absent, Number, Hex, Bool, Text, Bytes } kind = Kind::Absent;
    std::uint64_t number = 0;
    const char* label = "";
    std::string text;  // UTF-8
    std::span<const std::uint8_t> bytes;
};

Scalar ModuleScalar(std::uint32_t type, const std::span<const std::uint8_t>* found) {
    Scalar scalar;
    if (found == nullptr) {
        scalar.kind = Scalar::Kind::Text;
        scalar.text = "absent";
        return scalar;
    }
    const SipaValue value = DecodeSipaValue(type, *found);
    if (type == kSipaImageValidated) {
        if (value.kind == SipaValue::Kind::Number) {
            scalar.kind = Scalar::Kind::Bool;
            scalar.number = value.number != 0;
            return scalar;
        }
        scalar.kind = Scalar::Kind::Bytes;
        scalar.bytes = *found;
        return scalar;
    }
    switch (value.kind) {
        case SipaValue::Kind::Number:
            scalar.kind = Scalar::Kind::Number;
            scalar.number = value.number;
            break;
        case SipaValue::Kind::HexNumber:
            scalar.kind = Scalar::Kind::Hex;
            scalar.number = value.number;
            if (type == kSipaHashAlgorithm) scalar.label = WindowsHashName(value.number);
            break;
        case SipaValue::Kind::Text:
            scalar.kind = Scalar::Kind::Text;
            // ASCII text is UTF-8 as it lies (the decoder read it as bytes up to 0x7F).
            scalar.text = value.utf16 ? utf::ToUtf8(Utf16(value.bytes))
                                      : std::string(value.bytes.begin(), value.bytes.end());
            break;
        case SipaValue::Kind::None:
        case SipaValue::Kind::Bytes:
            scalar.kind = Scalar::Kind::Bytes;
            scalar.bytes =
                value.kind == SipaValue::Kind::None ? std::span<const std::uint8_t>() : value.bytes;
            break;
    }
    return scalar;
}

Node ScalarNode(const Scalar& scalar) {
    switch (scalar.kind) {
        case Scalar::Kind::Number:
            return Node::Number(scalar.number, scalar.label);
        case Scalar::Kind::Hex:
            return Node::Hex(scalar.number, scalar.label);
        case Scalar::Kind::Bool:
            return Node::Bool(scalar.number != 0);
        case Scalar::Kind::Bytes:
            return Node::Bytes(scalar.bytes);
        case Scalar::Kind::Absent:
        case Scalar::Kind::Text:
            break;
    }
    return Node::Text(scalar.text);
}

// The module's fields in order; depth 1 is inside "signer".
struct ModuleField {
    const char* name;
    std::uint32_t type;
    int depth;
};
constexpr ModuleField kModuleFields[] = {
    {"path", kSipaFilePath, 0},
    {"imageSize", kSipaImageSize, 0},
    {"hashAlgorithm", kSipaHashAlgorithm, 0},
    {"authenticodeHash", kSipaAuthenticodeHash, 0},
    {"issuer", kSipaAuthorityIssuer, 1},
    {"publisher", kSipaAuthorityPublisher, 1},
    {"serial", kSipaAuthoritySerial, 1},
    {"sha1Thumbprint", kSipaAuthorityThumbprint, 1},
    {"validated", kSipaImageValidated, 0},
};

// Calls field(name, depth, scalar) for each field, opening "signer" with a scalar-less call.
template <class Field>
void ForEachModuleField(const Aggregate& module, Field field) {
    int depth = 0;
    for (const ModuleField& f : kModuleFields) {
        if (f.depth != depth) {
            if (f.depth == 1) field("signer", 0, nullptr);
            depth = f.depth;
        }
        const Scalar scalar = ModuleScalar(f.type, module.Find(f.type));
        field(f.name, f.depth, &scalar);
    }
    for (const auto& [name, value] :
         {std::pair<const char*, std::uint64_t>{"pcr", module.origin.pcr},
          {"event", module.origin.event},
          {"phase", module.origin.phase}}) {
        Scalar scalar;
        scalar.kind = Scalar::Kind::Number;
        scalar.number = value;
        field(name, 0, &scalar);
    }
}

Node ModuleNode(const Aggregate& module) {
    Node node = Node::Object();
    std::optional<Node> signer;
    ForEachModuleField(module, [&](const char* name, int depth, const Scalar* scalar) {
        if (scalar == nullptr) {
            signer = Node::Object();
            return;
        }
        if (depth == 1) {
            signer->Add(name, ScalarNode(*scalar));
            return;
        }
        if (signer) {
            node.Add("signer", std::move(*signer));
            signer.reset();
        }
        node.Add(name, ScalarNode(*scalar));
    });
    return node;
}

void AppendHex(std::string& out, std::uint64_t value) {
    static constexpr char kDigits[] = "0123456789abcdef";
    char digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    out += "0x";
    while (count > 0) out += digits[--count];
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
            out += escape;
        }
    }
}

// The text form of a byte string: its first 64 bytes.
constexpr std::size_t kMaxTextBytes = 64;

void AppendScalarText(std::string& out, const Scalar& scalar) {
    switch (scalar.kind) {
        case Scalar::Kind::Number:
            out += std::to_string(scalar.number);
            break;
        case Scalar::Kind::Hex:
            AppendHex(out, scalar.number);
            break;
        case Scalar::Kind::Bool:
            out += scalar.number != 0 ? "true" : "false";
            break;
        case Scalar::Kind::Bytes: {
            if (scalar.bytes.empty()) {
                out += "(empty)";
                break;
            }
            const std::size_t shown = std::min(scalar.bytes.size(), kMaxTextBytes);
            out += digest::ToHex(scalar.bytes.first(shown));
            if (shown < scalar.bytes.size())
                out += "... (" + std::to_string(scalar.bytes.size()) + " bytes)";
            break;
        }
        case Scalar::Kind::Absent:
        case Scalar::Kind::Text:
            if (scalar.text.empty()) {
                out += "\"\"";
            } else {
                AppendEscaped(out, scalar.text);
            }
            break;
    }
    if (*scalar.label != '\0') {
        out += " (";
        AppendEscaped(out, scalar.label);
        out += ')';
    }
}

void AppendScalarJson(std::string& out, const char* name, const Scalar& scalar) {
    out += '"';
    out += name;
    out += "\": ";
    switch (scalar.kind) {
        case Scalar::Kind::Number:
            out += std::to_string(scalar.number);
            break;
        case Scalar::Kind::Hex:
            out += '"';
            AppendHex(out, scalar.number);
            out += '"';
            break;
        case Scalar::Kind::Bool:
            out += scalar.number != 0 ? "true" : "false";
            break;
        case Scalar::Kind::Bytes:
            out += '"';
            out += digest::ToHex(scalar.bytes);
            out += '"';
            break;
        case Scalar::Kind::Absent:
        case Scalar::Kind::Text:
            out += JsonString(scalar.text);
            break;
    }
    if (*scalar.label != '\0') {
        out += ", \"";
        out += name;
        out += "Name\": ";
        out += JsonString(std::string_view(scalar.label));
    }
}

Node ElamNode(const Aggregate& elam) {
    Node node = Node::Object();
    const auto* key = elam.Find(kSipaElamKeyName);
    node.Add("keyName",
             key == nullptr ? Node::Text("absent") : SipaValueNode(kSipaElamKeyName, *key));
    node.Add("measured", Node::Bool(elam.Find(kSipaElamMeasured) != nullptr))
        .Add("configuration", Node::Bool(elam.Find(kSipaElamConfiguration) != nullptr))
        .Add("policy", Node::Bool(elam.Find(kSipaElamPolicy) != nullptr));
    AddOrigin(node, elam.origin);
    return node;
}

// ---- Secure Boot -------------------------------------------------------------------------------

// The same certificates come back in every boot a log holds (db, KEK, each authority): each is
// read once. A hostile log may hold a new one in every event; past kMaxCached, further ones are
// read each time instead of kept.
class CertificateCache {
public:
    const crypto::Certificate& Read(std::span<const std::uint8_t> der) {
        std::string key(der.begin(), der.end());
        if (const auto found = m_read.find(key); found != m_read.end()) return found->second;
        if (m_read.size() >= kMaxCached) {
            m_uncached = crypto::ReadCertificate(der);
            return m_uncached;
        }
        return m_read.emplace(std::move(key), crypto::ReadCertificate(der)).first->second;
    }

private:
    static constexpr std::size_t kMaxCached = 256;
    std::map<std::string, crypto::Certificate> m_read;  // by the certificate's bytes
    crypto::Certificate m_uncached;
};

Node CertificateNode(CertificateCache& cache, std::span<const std::uint8_t> der) {
    const crypto::Certificate& certificate = cache.Read(der);
    Node node = Node::Object();
    if (!certificate.parsed) {
        node.Add("error", Node::Text(certificate.error))
            .Add("sha256", Node::Bytes(digest::Hash(digest::Algorithm::Sha256, der)));
        return node;
    }
    node.Add("subject", Node::Text(certificate.subject))
        .Add("issuer", Node::Text(certificate.issuer))
        .Add("serial", Node::Text(certificate.serialNumber))
        .Add("sha256Fingerprint", Node::Text(certificate.sha256Fingerprint));
    return node;
}

bool IsCertificateList(const decode::Guid& type) {
    return type == decode::guids::kCertX509;
}

Node SignatureDatabaseNode(CertificateCache& cache, std::span<const std::uint8_t> data) {
    const decode::SignatureDatabase database = decode::DecodeSignatureDatabase(data);
    Node lists = Node::List();
    for (const decode::SignatureList& list : database.lists) {
        Node entry = Node::Object();
        entry.Add("type", Node::GuidValue(list.type))
            .Add("count", Node::Number(list.signatures.size()));
        if (IsCertificateList(list.type)) {
            Node certificates = Node::List();
            for (const decode::SignatureEntry& signature : list.signatures)
                certificates.Push(CertificateNode(cache, signature.data));
            entry.Add("certificates", std::move(certificates));
        }
        lists.Push(std::move(entry));
    }
    Node node = Node::Object();
    node.Add("lists", std::move(lists));
    node.AddMalformed(database.malformed ? &*database.malformed : nullptr);
    return node;
}

Node AuthorityNode(CertificateCache& cache, std::span<const std::uint8_t> data) {
    const decode::AuthorityData authority = decode::DecodeAuthorityData(data);
    Node node = Node::Object();
    switch (authority.form) {
        case decode::AuthorityData::Form::SignatureCertificate:
            node.Add("owner", Node::GuidValue(authority.owner))
                .Add("certificate", CertificateNode(cache, authority.data));
            break;
        case decode::AuthorityData::Form::Certificate:
            node.Add("certificate", CertificateNode(cache, authority.data));
            break;
        case decode::AuthorityData::Form::SignatureHash:
            node.Add("owner", Node::GuidValue(authority.owner))
                .Add("hash", Node::Bytes(authority.data));
            break;
        case decode::AuthorityData::Form::Text:
            node.Add("text", Node::Text(authority.text.text));
            break;
        case decode::AuthorityData::Form::Bytes:
            node.Add("data", Node::Bytes(authority.data));
            break;
    }
    return node;
}

// The Secure Boot variables the report follows, by vendor and name.
enum class SecureBootVariable : std::uint8_t { SecureBoot, PK, KEK, Db, Dbx, Other };

SecureBootVariable WhichVariable(const decode::UefiVariable& variable) {
    if (variable.vendor == decode::guids::kEfiGlobalVariable) {
        if (variable.name == u"SecureBoot") return SecureBootVariable::SecureBoot;
        if (variable.name == u"PK") return SecureBootVariable::PK;
        if (variable.name == u"KEK") return SecureBootVariable::KEK;
    }
    if (variable.vendor == decode::guids::kImageSecurityDatabase) {
        if (variable.name == u"db") return SecureBootVariable::Db;
        if (variable.name == u"dbx") return SecureBootVariable::Dbx;
    }
    return SecureBootVariable::Other;
}

class HealthWalk {
public:
    explicit HealthWalk(const LoadedModuleSink& onLoadedModule)
        : m_onLoadedModule(onLoadedModule) {}

    void OnEvent(const EventRecord& event) {
        const TcgEventView& view = event.view;
        if (!view.complete) return;
        if (view.eventType == decode::kEvEventTag && !event.sipa.empty()) OnSipa(event);
        const bool secureBootPcr = view.pcrIndex == 7 || view.pcrIndex == 0 || view.pcrIndex == 1;
        if (!secureBootPcr) return;
        const Origin origin{view.pcrIndex, view.index, 0};
        if (view.eventType == decode::kEvEfiVariableDriverConfig) {
            const decode::UefiVariableEvent variables = decode::DecodeUefiVariableEvent(view.data);
            for (const decode::UefiVariable& variable : variables.variables) {
                if (variable.malformed) continue;
                OnVariable(variable, origin);
            }
        } else if (view.eventType == decode::kEvEfiVariableAuthority) {
            const decode::UefiVariableEvent variables = decode::DecodeUefiVariableEvent(view.data);
            for (const decode::UefiVariable& variable : variables.variables) {
                if (variable.malformed) continue;
                Node node = AuthorityNode(m_certificates, variable.data);
                node.Add("variable", Node::Text(variable.name));
                AddOrigin(node, origin);
                m_authorities.Push(std::move(node));
            }
        } else if (view.eventType == decode::kEvEfiAction && view.pcrIndex == 7) {
            const decode::ActionText action = decode::DecodeAction(view.data);
            const bool weakens =
                std::any_of(std::begin(kWeakeningActions), std::end(kWeakeningActions),
                            [&](const char* text) { return action.text == text; });
            Node node = Node::Object();
            node.Add("action", Node::Text(action.text)).Add("weakens", Node::Bool(weakens));
            AddOrigin(node, origin);
            m_actions.Push(std::move(node));
            m_weakened = m_weakened || weakens;
        }
    }

    Node Finish() {
        Node health = Node::Object();
        // The boot's kind, from the first transfer of control.
        const auto transfers = m_fields.find(kSipaTransferControl);
        if (transfers == m_fields.end()) {
            health.Add("boot", Node::Text("absent"));
        } else {
            const std::uint64_t first = transfers->second.front().first.number();
            health.Add("boot", Node::Text(first == 1   ? "cold boot"
                                          : first == 2 ? "resume"
                                                       : "unknown transfer of control"));
        }
        for (const PlainField& field : kPlainFields) {
            const auto found = m_fields.find(field.type);
            if (found == m_fields.end()) {
                health.Add(field.name, Node::Text("absent"));
                continue;
            }
            Node list = Node::List();
            for (auto& [value, origin] : found->second)
                list.Push(Occurrence(std::move(value), origin));
            health.Add(field.name, std::move(list));
        }
        health.Add("elamDrivers", std::move(m_elams));
        health.Add("loadedModuleCount", Node::Number(m_moduleCount));
        if (!m_onLoadedModule) health.Add("loadedModules", std::move(m_modules));
        health.Add("secureBoot", SecureBootNode());
        health.Add("summary", SummaryNode());
        return health;
    }

private:
    void OnSipa(const EventRecord& event) {
        const std::uint32_t pcr = event.view.pcrIndex;
        // Open containers by depth: their type and, for records, their place in `records`.
        struct Open {
            std::uint32_t type;
            bool record;
        };
        std::vector<Open> open;
        std::vector<Aggregate> records;  // the open records, innermost last
        bool inTrustBoundary = false;
        const auto closeTo = [&](std::size_t depth) {
            while (open.size() > depth) {
                if (open.back().record) {
                    Complete(records.back());
                    records.pop_back();
                }
                open.pop_back();
            }
            inTrustBoundary = std::any_of(open.begin(), open.end(), [](const Open& o) {
                return o.type == kSipaTrustBoundary;
            });
        };
        for (const SipaElement& element : event.sipa) {
            if (open.size() > element.depth) closeTo(element.depth);
            const Origin origin{pcr, event.view.index, inTrustBoundary ? m_phase[pcr] : 0};
            if (IsSipaContainer(element.type)) {
                bool record = false;
                if (element.type == kSipaTrustBoundary) {
                    ++m_phase[pcr];
                    inTrustBoundary = true;
                } else if (element.type == kSipaLoadedModuleAggregation ||
                           element.type == kSipaElamAggregation) {
                    records.push_back({origin, element.type, {}});
                    record = true;
                }
                // Its children sit at depth + 1.
                open.push_back({element.type, record});
                continue;
            }
            if (!records.empty()) {
                records.back().Add(element.type, element.data);
                continue;
            }
            if (IsPlainField(element.type))
                m_fields[element.type].emplace_back(FieldValue(element.type, element.data), origin);
        }
        closeTo(0);
    }

    // A loaded module goes to the sink as soon as its record ends, so a log of many boots never
    // holds them all.
    void Complete(const Aggregate& record) {
        if (record.type == kSipaElamAggregation) {
            m_elams.Push(ElamNode(record));
            return;
        }
        ++m_moduleCount;
        if (m_onLoadedModule) {
            m_onLoadedModule(record);
        } else {
            m_modules.Push(ModuleNode(record));
        }
    }

    static bool IsPlainField(std::uint32_t type) {
        return std::any_of(std::begin(kPlainFields), std::end(kPlainFields),
                           [&](const PlainField& field) { return field.type == type; });
    }

    void OnVariable(const decode::UefiVariable& variable, const Origin& origin) {
        const SecureBootVariable which = WhichVariable(variable);
        if (which == SecureBootVariable::Other) return;
        Node node = Node::Object();
        if (which == SecureBootVariable::SecureBoot) {
            const decode::SwitchValue value = decode::DecodeSwitch(variable.data);
            if (!value.value) {
                node.Add("value", Node::Text("not set"));
                m_secureBootOff = true;
            } else {
                node.Add("value", Node::Text(*value.value != 0 ? "on" : "off"));
                m_secureBootOff = m_secureBootOff || *value.value == 0;
            }
            m_secureBootSeen = true;
        } else {
            // A log of many boots measures the same databases in each: a measurement equal to
            // the one before it of the same variable says so instead of decoding it again.
            auto& previous = m_lastDatabase[static_cast<std::size_t>(which)];
            if (previous.has_value() && previous->size() == variable.data.size() &&
                std::memcmp(previous->data(), variable.data.data(), previous->size()) == 0) {
                node.Add("value", Node::Text("unchanged"));
            } else {
                node.Add("value", SignatureDatabaseNode(m_certificates, variable.data));
                previous = variable.data;
            }
        }
        AddOrigin(node, origin);
        m_variables[static_cast<std::size_t>(which)].push_back(std::move(node));
    }

    Node SecureBootNode() {
        static constexpr const char* kNames[] = {"secureBoot", "pk", "kek", "db", "dbx"};
        Node node = Node::Object();
        for (std::size_t i = 0; i < std::size(kNames); ++i) {
            if (m_variables[i].empty()) {
                node.Add(kNames[i], Node::Text("absent"));
                continue;
            }
            Node list = Node::List();
            for (Node& entry : m_variables[i]) list.Push(std::move(entry));
            node.Add(kNames[i], std::move(list));
        }
        node.Add("authorities", std::move(m_authorities))
            .Add("firmwareActions", std::move(m_actions));
        return node;
    }

    Node SummaryNode() {
        Node summary = Node::Object();
        for (const SwitchRule& rule : kSwitches) {
            const auto found = m_fields.find(rule.type);
            if (found == m_fields.end()) {
                summary.Add(rule.field, Node::Text("absent"));
                continue;
            }
            // The least secure value, from the first event that showed it.
            const std::pair<Node, Origin>* weakest = &found->second.front();
            for (const auto& entry : found->second) {
                if (IsWeak(rule.weak, entry.first.number()) &&
                    !IsWeak(rule.weak, weakest->first.number())) {
                    weakest = &entry;
                }
            }
            const std::uint64_t value = weakest->first.number();
            const bool on = rule.weak == Weak::AlwaysOff ? value != 2 : value != 0;
            Node node = Node::Object();
            node.Add("value", Node::Text(on ? "on" : "off"));
            AddOrigin(node, weakest->second);
            summary.Add(rule.field, std::move(node));
        }
        summary.Add("secureBoot", Node::Text(!m_secureBootSeen ? "absent"
                                             : m_secureBootOff ? "off"
                                                               : "on"));
        summary.Add("secureBootWeakened", Node::Bool(m_weakened));
        return summary;
    }

    std::map<std::uint32_t, std::uint64_t> m_phase;  // trust boundaries seen, per PCR
    std::map<std::uint32_t, std::vector<std::pair<Node, Origin>>> m_fields;
    const LoadedModuleSink& m_onLoadedModule;
    CertificateCache m_certificates;
    std::uint64_t m_moduleCount = 0;
    Node m_modules = Node::List();  // without a sink
    Node m_elams = Node::List();
    std::vector<Node> m_variables[5];
    std::optional<std::span<const std::uint8_t>> m_lastDatabase[5];
    Node m_authorities = Node::List();
    Node m_actions = Node::List();
    bool m_secureBootSeen = false;
    bool m_secureBootOff = false;
    bool m_weakened = false;
};

}  // namespace

Node DescribeLoadedModule(const SipaRecord& record) {
    return ModuleNode(record);
}

void AppendLoadedModuleJson(std::string& out, const SipaRecord& record) {
    out += '{';
    bool first = true;
    int openDepth = 0;
    ForEachModuleField(record, [&](const char* name, int depth, const Scalar* scalar) {
        if (depth < openDepth) {
            out += '}';
            openDepth = depth;
        }
        if (!first) out += ", ";
        first = false;
        if (scalar == nullptr) {
            out += '"';
            out += name;
            out += "\": {";
            openDepth = 1;
            first = true;
            return;
        }
        AppendScalarJson(out, name, *scalar);
    });
    if (openDepth != 0) out += '}';
    out += '}';
}

void AppendLoadedModuleText(std::string& out, const SipaRecord& record, std::size_t indent) {
    bool first = true;
    ForEachModuleField(record, [&](const char* name, int depth, const Scalar* scalar) {
        if (first) {
            out.append(indent, ' ');
            out += "- ";
            first = false;
        } else {
            out.append(indent + 2 + 2 * static_cast<std::size_t>(depth), ' ');
        }
        out += name;
        if (scalar == nullptr) {
            out += ":\n";
            return;
        }
        out += ": ";
        AppendScalarText(out, *scalar);
        out += '\n';
    });
}

Node DescribeHealth(const TcgLogReport& report, const LoadedModuleSink& onLoadedModule) {
    HealthWalk walk(onLoadedModule);
    ForEachEvent(report.bytes, [&](const EventRecord& event) { walk.OnEvent(event); });
    return walk.Finish();
}

}  // namespace qorvex::host
