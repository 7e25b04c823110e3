#include "cli/tcg_log_health.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/tcg_log_names.h"
#include "crypto/certificate.h"
#include "decode/efi_variable.h"
#include "decode/event_types.h"
#include "decode/signature_list.h"
#include "decode/text_events.h"
#include "digest/digest.h"

namespace qorvex::host {

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
                flags += (flags.empty() ? "" : ",") + std::string(name);
                rest &= ~bit;
            }
            if (rest != 0) {
                char text[24];
                std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(rest));
                flags += (flags.empty() ? "" : ",") + std::string(text);
            }
            return Node::Hex(value.number, value.number == 0 ? "none" : flags);
        }
        default:
            return SipaValueNode(type, data);
    }
}

struct Origin {
    std::uint32_t pcr = 0;
    std::uint64_t event = 0;
    std::uint64_t phase = 0;
};

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
struct Aggregate {
    Origin origin;
    std::map<std::uint32_t, std::span<const std::uint8_t>> values;
};

Node ModuleNode(const Aggregate& module) {
    Node node = Node::Object();
    const auto add = [&](const char* name, std::uint32_t type) {
        const auto found = module.values.find(type);
        node.Add(name, found == module.values.end() ? Node::Text("absent")
                                                    : SipaValueNode(type, found->second));
    };
    add("path", kSipaFilePath);
    add("imageSize", kSipaImageSize);
    add("hashAlgorithm", kSipaHashAlgorithm);
    add("authenticodeHash", kSipaAuthenticodeHash);
    Node signer = Node::Object();
    const auto addSigner = [&](const char* name, std::uint32_t type) {
        const auto found = module.values.find(type);
        signer.Add(name, found == module.values.end() ? Node::Text("absent")
                                                      : SipaValueNode(type, found->second));
    };
    addSigner("issuer", kSipaAuthorityIssuer);
    addSigner("publisher", kSipaAuthorityPublisher);
    addSigner("serial", kSipaAuthoritySerial);
    addSigner("sha1Thumbprint", kSipaAuthorityThumbprint);
    node.Add("signer", std::move(signer));
    const auto validated = module.values.find(kSipaImageValidated);
    if (validated == module.values.end()) {
        node.Add("validated", Node::Text("absent"));
    } else {
        const SipaValue value = DecodeSipaValue(kSipaImageValidated, validated->second);
        node.Add("validated", value.kind == SipaValue::Kind::Number
                                  ? Node::Bool(value.number != 0)
                                  : Node::Bytes(validated->second));
    }
    AddOrigin(node, module.origin);
    return node;
}

Node ElamNode(const Aggregate& elam) {
    Node node = Node::Object();
    const auto key = elam.values.find(kSipaElamKeyName);
    node.Add("keyName", key == elam.values.end() ? Node::Text("absent")
                                                 : SipaValueNode(kSipaElamKeyName, key->second));
    node.Add("measured", Node::Bool(elam.values.count(kSipaElamMeasured) != 0))
        .Add("configuration", Node::Bool(elam.values.count(kSipaElamConfiguration) != 0))
        .Add("policy", Node::Bool(elam.values.count(kSipaElamPolicy) != 0));
    AddOrigin(node, elam.origin);
    return node;
}

// ---- Secure Boot -------------------------------------------------------------------------------

Node CertificateNode(std::span<const std::uint8_t> der) {
    const crypto::Certificate certificate = crypto::ReadCertificate(der);
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

Node SignatureDatabaseNode(std::span<const std::uint8_t> data) {
    const decode::SignatureDatabase database = decode::DecodeSignatureDatabase(data);
    Node lists = Node::List();
    for (const decode::SignatureList& list : database.lists) {
        Node entry = Node::Object();
        entry.Add("type", Node::GuidValue(list.type))
            .Add("count", Node::Number(list.signatures.size()));
        if (IsCertificateList(list.type)) {
            Node certificates = Node::List();
            for (const decode::SignatureEntry& signature : list.signatures)
                certificates.Push(CertificateNode(signature.data));
            entry.Add("certificates", std::move(certificates));
        }
        lists.Push(std::move(entry));
    }
    Node node = Node::Object();
    node.Add("lists", std::move(lists));
    node.AddMalformed(database.malformed ? &*database.malformed : nullptr);
    return node;
}

Node AuthorityNode(std::span<const std::uint8_t> data) {
    const decode::AuthorityData authority = decode::DecodeAuthorityData(data);
    Node node = Node::Object();
    switch (authority.form) {
        case decode::AuthorityData::Form::SignatureCertificate:
            node.Add("owner", Node::GuidValue(authority.owner))
                .Add("certificate", CertificateNode(authority.data));
            break;
        case decode::AuthorityData::Form::Certificate:
            node.Add("certificate", CertificateNode(authority.data));
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
                Node node = AuthorityNode(variable.data);
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
        Node elams = Node::List();
        for (const Aggregate& elam : m_elams) elams.Push(ElamNode(elam));
        health.Add("elamDrivers", std::move(elams));
        Node modules = Node::List();
        for (const Aggregate& module : m_modules) modules.Push(ModuleNode(module));
        health.Add("loadedModuleCount", Node::Number(m_modules.size()))
            .Add("loadedModules", std::move(modules));
        health.Add("secureBoot", SecureBootNode());
        health.Add("summary", SummaryNode());
        return health;
    }

private:
    void OnSipa(const EventRecord& event) {
        const std::uint32_t pcr = event.view.pcrIndex;
        // Open containers by depth: their type and, for aggregates, the record they fill.
        struct Open {
            std::uint32_t type;
            Aggregate* aggregate;
        };
        std::vector<Open> open;
        for (const SipaElement& element : event.sipa) {
            if (open.size() > element.depth) open.resize(element.depth);
            const bool inTrustBoundary = std::any_of(open.begin(), open.end(), [](const Open& o) {
                return o.type == kSipaTrustBoundary;
            });
            const Origin origin{pcr, event.view.index, inTrustBoundary ? m_phase[pcr] : 0};
            if (IsSipaContainer(element.type)) {
                Aggregate* aggregate = nullptr;
                if (element.type == kSipaTrustBoundary) {
                    ++m_phase[pcr];
                } else if (element.type == kSipaLoadedModuleAggregation) {
                    m_modules.push_back({origin, {}});
                    aggregate = &m_modules.back();
                } else if (element.type == kSipaElamAggregation) {
                    m_elams.push_back({origin, {}});
                    aggregate = &m_elams.back();
                }
                // Children sit at depth + 1; a container the walk shows without children still
                // takes its place.
                open.resize(element.depth);
                open.push_back({element.type, aggregate});
                continue;
            }
            Aggregate* aggregate = nullptr;
            for (auto it = open.rbegin(); it != open.rend() && aggregate == nullptr; ++it)
                aggregate = it->aggregate;
            if (aggregate != nullptr) {
                aggregate->values.emplace(element.type, element.data);
                continue;
            }
            if (IsPlainField(element.type))
                m_fields[element.type].emplace_back(FieldValue(element.type, element.data), origin);
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
            node.Add("value", SignatureDatabaseNode(variable.data));
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
    // Deques: the open containers point at their records while later ones are added.
    std::deque<Aggregate> m_modules;
    std::deque<Aggregate> m_elams;
    std::vector<Node> m_variables[5];
    Node m_authorities = Node::List();
    Node m_actions = Node::List();
    bool m_secureBootSeen = false;
    bool m_secureBootOff = false;
    bool m_weakened = false;
};

}  // namespace

Node DescribeHealth(const TcgLogReport& report) {
    HealthWalk walk;
    ForEachEvent(report.bytes, [&](const EventRecord& event) { walk.OnEvent(event); });
    return walk.Finish();
}

}  // namespace qorvex::host
