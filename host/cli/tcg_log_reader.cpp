#include "cli/tcg_log_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>

#include "cli/json_text.h"
#include "digest/digest.h"
#include "utf/codec.h"

namespace qorvex::host {

namespace {

namespace tb = antimalware::trusted_boot;

using tb::kEvEventTag;
using tb::kEvNoAction;
constexpr std::uint32_t kSipaHeaderSize = 8;
constexpr char kStartupLocalitySignature[16] = "StartupLocality";

// What the module's reader needs besides the visitor; the analyst's views keep nothing of it.
class IgnoringSink final : public tb::TcgLogSink {
public:
    void OnModulePath(const std::uint8_t*, std::size_t) override {}
    void OnCompactHash(std::uint32_t, const std::uint8_t*) override {}
};

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08x", static_cast<unsigned>(value));
    return text;
}

using digest::ToHex;

std::uint64_t LoadLittleEndian(std::span<const std::uint8_t> bytes) noexcept {
    std::uint64_t value = 0;
    for (std::size_t i = bytes.size(); i > 0; --i) value = (value << 8) | bytes[i - 1];
    return value;
}

// ---- Event and SIPA names -------------------------------------------------------------------

struct NamedType {
    std::uint32_t type;
    const char* name;
};

constexpr NamedType kEventTypes[] = {
    {0x00000000, "EV_PREBOOT_CERT"},
    {0x00000001, "EV_POST_CODE"},
    {0x00000002, "EV_UNUSED"},
    {0x00000003, "EV_NO_ACTION"},
    {0x00000004, "EV_SEPARATOR"},
    {0x00000005, "EV_ACTION"},
    {0x00000006, "EV_EVENT_TAG"},
    {0x00000007, "EV_S_CRTM_CONTENTS"},
    {0x00000008, "EV_S_CRTM_VERSION"},
    {0x00000009, "EV_CPU_MICROCODE"},
    {0x0000000A, "EV_PLATFORM_CONFIG_FLAGS"},
    {0x0000000B, "EV_TABLE_OF_DEVICES"},
    {0x0000000C, "EV_COMPACT_HASH"},
    {0x0000000D, "EV_IPL"},
    {0x0000000E, "EV_IPL_PARTITION_DATA"},
    {0x0000000F, "EV_NONHOST_CODE"},
    {0x00000010, "EV_NONHOST_CONFIG"},
    {0x00000011, "EV_NONHOST_INFO"},
    {0x00000012, "EV_OMIT_BOOT_DEVICE_EVENTS"},
    {0x00000013, "EV_POST_CODE2"},
    {0x80000000, "EV_EFI_EVENT_BASE"},
    {0x80000001, "EV_EFI_VARIABLE_DRIVER_CONFIG"},
    {0x80000002, "EV_EFI_VARIABLE_BOOT"},
    {0x80000003, "EV_EFI_BOOT_SERVICES_APPLICATION"},
    {0x80000004, "EV_EFI_BOOT_SERVICES_DRIVER"},
    {0x80000005, "EV_EFI_RUNTIME_SERVICES_DRIVER"},
    {0x80000006, "EV_EFI_GPT_EVENT"},
    {0x80000007, "EV_EFI_ACTION"},
    {0x80000008, "EV_EFI_PLATFORM_FIRMWARE_BLOB"},
    {0x80000009, "EV_EFI_HANDOFF_TABLES"},
    {0x8000000A, "EV_EFI_PLATFORM_FIRMWARE_BLOB2"},
    {0x8000000B, "EV_EFI_HANDOFF_TABLES2"},
    {0x8000000C, "EV_EFI_VARIABLE_BOOT2"},
    {0x8000000D, "EV_EFI_GPT_EVENT2"},
    {0x80000010, "EV_EFI_HCRTM_EVENT"},
    {0x800000E0, "EV_EFI_VARIABLE_AUTHORITY"},
    {0x800000E1, "EV_EFI_SPDM_FIRMWARE_BLOB"},
    {0x800000E2, "EV_EFI_SPDM_FIRMWARE_CONFIG"},
    {0x800000E3, "EV_EFI_SPDM_DEVICE_POLICY"},
    {0x800000E4, "EV_EFI_SPDM_DEVICE_AUTHORITY"},
};

enum class SipaValue : std::uint8_t {
    Bytes,   // shown as hex
    Number,  // little-endian unsigned of 1 to 8 bytes
    Text,    // UTF-16LE, trailing zero units dropped
};

struct SipaType {
    std::uint32_t type;
    const char* name;
    SipaValue value;
};

// Names as the Windows boot configuration log headers spell them. Containers (the aggregation
// bit) have no value of their own.
constexpr SipaType kSipaTypes[] = {
    {0x40010001, "SIPAEVENT_TRUSTBOUNDARY", SipaValue::Bytes},
    {0x40010002, "SIPAEVENT_ELAM_AGGREGATION", SipaValue::Bytes},
    {0x40010003, "SIPAEVENT_LOADEDMODULE_AGGREGATION", SipaValue::Bytes},
    {0xC0010004, "SIPAEVENT_TRUSTPOINT_AGGREGATION", SipaValue::Bytes},
    {0x40010005, "SIPAEVENT_KSR_AGGREGATION", SipaValue::Bytes},
    {0x40010006, "SIPAEVENT_KSR_SIGNED_MEASUREMENT_AGGREGATION", SipaValue::Bytes},
    {0x00020001, "SIPAEVENT_INFORMATION", SipaValue::Bytes},
    {0x00020002, "SIPAEVENT_BOOTCOUNTER", SipaValue::Number},
    {0x00020003, "SIPAEVENT_TRANSFER_CONTROL", SipaValue::Number},
    {0x00020004, "SIPAEVENT_APPLICATION_RETURN", SipaValue::Number},
    {0x00020005, "SIPAEVENT_BITLOCKER_UNLOCK", SipaValue::Number},
    {0x00020006, "SIPAEVENT_EVENTCOUNTER", SipaValue::Number},
    {0x00020007, "SIPAEVENT_COUNTERID", SipaValue::Number},
    {0x00020008, "SIPAEVENT_MORBIT_NOT_CANCELABLE", SipaValue::Number},
    {0x00020009, "SIPAEVENT_APPLICATION_SVN", SipaValue::Number},
    {0x0002000A, "SIPAEVENT_SVN_CHAIN_STATUS", SipaValue::Number},
    {0x0002000B, "SIPAEVENT_MORBIT_API_STATUS", SipaValue::Number},
    {0x00030001, "SIPAERROR_FIRMWAREFAILURE", SipaValue::Number},
    {0x00030003, "SIPAERROR_TPMFAILURE", SipaValue::Number},
    {0x00030004, "SIPAERROR_INTERNALFAILURE", SipaValue::Number},
    {0x00040001, "SIPAEVENT_BOOTDEBUGGING", SipaValue::Number},
    {0x00040002, "SIPAEVENT_BOOT_REVOCATION_LIST", SipaValue::Bytes},
    {0x00050001, "SIPAEVENT_OSKERNELDEBUG", SipaValue::Number},
    {0x00050002, "SIPAEVENT_CODEINTEGRITY", SipaValue::Number},
    {0x00050003, "SIPAEVENT_TESTSIGNING", SipaValue::Number},
    {0x00050004, "SIPAEVENT_DATAEXECUTIONPREVENTION", SipaValue::Number},
    {0x00050005, "SIPAEVENT_SAFEMODE", SipaValue::Number},
    {0x00050006, "SIPAEVENT_WINPE", SipaValue::Number},
    {0x00050007, "SIPAEVENT_PHYSICALADDRESSEXTENSION", SipaValue::Number},
    {0x00050008, "SIPAEVENT_OSDEVICE", SipaValue::Number},
    {0x00050009, "SIPAEVENT_SYSTEMROOT", SipaValue::Text},
    {0x0005000A, "SIPAEVENT_HYPERVISOR_LAUNCH_TYPE", SipaValue::Number},
    {0x0005000B, "SIPAEVENT_HYPERVISOR_PATH", SipaValue::Text},
    {0x0005000C, "SIPAEVENT_HYPERVISOR_IOMMU_POLICY", SipaValue::Number},
    {0x0005000D, "SIPAEVENT_HYPERVISOR_DEBUG", SipaValue::Number},
    {0x0005000E, "SIPAEVENT_DRIVER_LOAD_POLICY", SipaValue::Number},
    {0x0005000F, "SIPAEVENT_SI_POLICY", SipaValue::Bytes},
    {0x00050010, "SIPAEVENT_HYPERVISOR_MMIO_NX_POLICY", SipaValue::Number},
    {0x00050011, "SIPAEVENT_HYPERVISOR_MSR_FILTER_POLICY", SipaValue::Number},
    {0x00050012, "SIPAEVENT_VSM_LAUNCH_TYPE", SipaValue::Number},
    {0x00050013, "SIPAEVENT_OS_REVOCATION_LIST", SipaValue::Bytes},
    {0x00050014, "SIPAEVENT_SMT_STATUS", SipaValue::Number},
    {0x00050020, "SIPAEVENT_VSM_IDK_INFO", SipaValue::Bytes},
    {0x00050021, "SIPAEVENT_FLIGHTSIGNING", SipaValue::Number},
    {0x00050022, "SIPAEVENT_PAGEFILE_ENCRYPTION_ENABLED", SipaValue::Number},
    {0x00050023, "SIPAEVENT_VSM_IDKS_INFO", SipaValue::Bytes},
    {0x00050024, "SIPAEVENT_HIBERNATION_DISABLED", SipaValue::Number},
    {0x00050025, "SIPAEVENT_DUMPS_DISABLED", SipaValue::Number},
    {0x00050026, "SIPAEVENT_DUMP_ENCRYPTION_ENABLED", SipaValue::Number},
    {0x00050027, "SIPAEVENT_DUMP_ENCRYPTION_KEY_DIGEST", SipaValue::Bytes},
    {0x00050028, "SIPAEVENT_LSAISO_CONFIG", SipaValue::Bytes},
    {0x00050029, "SIPAEVENT_SBCP_INFO", SipaValue::Bytes},
    {0x00050030, "SIPAEVENT_HYPERVISOR_BOOT_DMA_PROTECTION", SipaValue::Number},
    {0x00060001, "SIPAEVENT_NOAUTHORITY", SipaValue::Bytes},
    {0x00060002, "SIPAEVENT_AUTHORITYPUBKEY", SipaValue::Bytes},
    {0x00070001, "SIPAEVENT_FILEPATH", SipaValue::Text},
    {0x00070002, "SIPAEVENT_IMAGESIZE", SipaValue::Number},
    {0x00070003, "SIPAEVENT_HASHALGORITHMID", SipaValue::Number},
    {0x00070004, "SIPAEVENT_AUTHENTICODEHASH", SipaValue::Bytes},
    {0x00070005, "SIPAEVENT_AUTHORITYISSUER", SipaValue::Text},
    {0x00070006, "SIPAEVENT_AUTHORITYSERIAL", SipaValue::Bytes},
    {0x00070007, "SIPAEVENT_IMAGEBASE", SipaValue::Number},
    {0x00070008, "SIPAEVENT_AUTHORITYPUBLISHER", SipaValue::Text},
    {0x00070009, "SIPAEVENT_AUTHORITYSHA1THUMBPRINT", SipaValue::Bytes},
    {0x0007000A, "SIPAEVENT_IMAGEVALIDATED", SipaValue::Number},
    {0x0007000B, "SIPAEVENT_MODULE_SVN", SipaValue::Number},
    {0x80080001, "SIPAEVENT_QUOTE", SipaValue::Bytes},
    {0x80080002, "SIPAEVENT_QUOTESIGNATURE", SipaValue::Bytes},
    {0x80080003, "SIPAEVENT_AIKID", SipaValue::Bytes},
    {0x80080004, "SIPAEVENT_AIKPUBDIGEST", SipaValue::Bytes},
    {0x00090001, "SIPAEVENT_ELAM_KEYNAME", SipaValue::Text},
    {0x00090002, "SIPAEVENT_ELAM_CONFIGURATION", SipaValue::Bytes},
    {0x00090003, "SIPAEVENT_ELAM_POLICY", SipaValue::Bytes},
    {0x00090004, "SIPAEVENT_ELAM_MEASURED", SipaValue::Bytes},
    {0x000A0001, "SIPAEVENT_VBS_VSM_REQUIRED", SipaValue::Number},
    {0x000A0002, "SIPAEVENT_VBS_SECUREBOOT_REQUIRED", SipaValue::Number},
    {0x000A0003, "SIPAEVENT_VBS_IOMMU_REQUIRED", SipaValue::Number},
    {0x000A0004, "SIPAEVENT_VBS_MMIO_NX_REQUIRED", SipaValue::Number},
    {0x000A0005, "SIPAEVENT_VBS_MSR_FILTERING_REQUIRED", SipaValue::Number},
    {0x000A0006, "SIPAEVENT_VBS_MANDATORY_ENFORCEMENT", SipaValue::Number},
    {0x000A0007, "SIPAEVENT_VBS_HVCI_POLICY", SipaValue::Number},
    {0x000A0008, "SIPAEVENT_VBS_MICROSOFT_BOOT_CHAIN_REQUIRED", SipaValue::Number},
    {0x000A0009, "SIPAEVENT_VBS_DUMP_USES_AMEROOT", SipaValue::Number},
    {0x000A000A, "SIPAEVENT_VBS_VSM_NOSECRETS_ENFORCED", SipaValue::Number},
    {0x000B0001, "SIPAEVENT_KSR_SIGNATURE", SipaValue::Bytes},
    {0x000C0001, "SIPAEVENT_DRTM_STATE_AUTH", SipaValue::Bytes},
    {0x000C0002, "SIPAEVENT_DRTM_SMM_LEVEL", SipaValue::Number},
    {0x000C0003, "SIPAEVENT_DRTM_AMD_SMM_HASH", SipaValue::Bytes},
    {0x000C0004, "SIPAEVENT_DRTM_AMD_SMM_SIGNER_KEY", SipaValue::Bytes},
};

const SipaType* FindSipaType(std::uint32_t type) noexcept {
    for (const SipaType& entry : kSipaTypes) {
        if (entry.type == type) return &entry;
    }
    return nullptr;
}

bool IsSipaContainer(std::uint32_t type) noexcept {
    return (type & tb::kSipaTypeAggregation) != 0;
}

// A SIPA element's value, decoded where its type says text or number.
struct DecodedValue {
    enum class Kind : std::uint8_t { None, Number, Text, Bytes } kind = Kind::None;
    std::uint64_t number = 0;
    std::u16string text;
    std::span<const std::uint8_t> bytes;
};

DecodedValue DecodeSipaValue(std::uint32_t type, std::span<const std::uint8_t> data) {
    DecodedValue value;
    if (IsSipaContainer(type)) return value;
    const SipaType* known = FindSipaType(type);
    const SipaValue kind = known != nullptr ? known->value : SipaValue::Bytes;
    if (kind == SipaValue::Number && !data.empty() && data.size() <= 8) {
        value.kind = DecodedValue::Kind::Number;
        value.number = LoadLittleEndian(data);
        return value;
    }
    if (kind == SipaValue::Text && data.size() % 2 == 0) {
        std::size_t units = data.size() / 2;
        while (units > 0 && data[2 * units - 2] == 0 && data[2 * units - 1] == 0) --units;
        value.kind = DecodedValue::Kind::Text;
        value.text.resize(units);
        tb::ReadUtf16Le(data.data(), units, value.text.data());
        return value;
    }
    value.kind = DecodedValue::Kind::Bytes;
    value.bytes = data;
    return value;
}

// ---- Walking the log ------------------------------------------------------------------------

struct SipaElement {
    std::size_t depth = 0;  // 0 for an element directly in the event data
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;
};

struct EventDigest {
    std::uint16_t algorithm = 0;
    std::span<const std::uint8_t> value;
};

// One event with what the walk found inside it. Spans point into the log.
struct EventRecord {
    tb::TcgEventView view;  // its digests span is not kept; see digests
    std::vector<EventDigest> digests;
    std::vector<SipaElement> sipa;
};

struct WalkCallbacks {
    std::function<void(TcgLogLayout, std::span<const tb::TcgDigestAlgorithm>)> layout;
    std::function<void(const EventRecord&)> event;  // once the event's SIPA elements are known
};

// Hands each event to the callbacks whole. Only EV_EVENT_TAG events collect SIPA elements.
class CollectingVisitor final : public tb::TcgLogEventVisitor {
public:
    explicit CollectingVisitor(const WalkCallbacks& callbacks) : m_callbacks(callbacks) {}

    void OnLayout(TcgLogLayout layout,
                  std::span<const tb::TcgDigestAlgorithm> algorithms) override {
        if (m_callbacks.layout) m_callbacks.layout(layout, algorithms);
    }
    void OnEvent(const tb::TcgEventView& event) override {
        Flush();
        m_current.view = event;
        m_current.view.digests = {};
        m_current.digests.clear();
        for (const tb::TcgEventDigest& digest : event.digests)
            m_current.digests.push_back({digest.algorithm, digest.value});
        m_current.sipa.clear();
        m_containerEnds.clear();
        m_pending = true;
    }
    void OnSipaEvent(std::uint64_t offset, std::uint32_t type,
                     std::span<const std::uint8_t> data) override {
        while (!m_containerEnds.empty() && offset >= m_containerEnds.back())
            m_containerEnds.pop_back();
        m_current.sipa.push_back({m_containerEnds.size(), type, data});
        if (IsSipaContainer(type))
            m_containerEnds.push_back(offset + kSipaHeaderSize + data.size());
    }
    // The last event, after the walk.
    void Flush() {
        if (!m_pending) return;
        m_pending = false;
        if (m_callbacks.event) m_callbacks.event(m_current);
    }

private:
    const WalkCallbacks& m_callbacks;
    EventRecord m_current;
    std::vector<std::uint64_t> m_containerEnds;  // of the open containers, innermost last
    bool m_pending = false;
};

tb::TcgLogParseResult Walk(std::span<const std::uint8_t> log, const WalkCallbacks& callbacks) {
    IgnoringSink sink;
    CollectingVisitor visitor(callbacks);
    const tb::TcgLogParseResult result = tb::ParseTcgLog(log, sink, &visitor);
    visitor.Flush();
    return result;
}

bool IsStartupLocality(const tb::TcgEventView& event) noexcept {
    return event.pcrIndex == 0 && event.eventType == kEvNoAction &&
           event.data.size() >= sizeof kStartupLocalitySignature + 1 &&
           std::memcmp(event.data.data(), kStartupLocalitySignature,
                       sizeof kStartupLocalitySignature) == 0;
}

// ---- JSON and text helpers ------------------------------------------------------------------

std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted += text;
    quoted += '"';
    return quoted;
}

std::string DigestName(std::uint16_t algorithm) {
    return digest::TpmAlgorithmName(algorithm);
}

// Text lines never grow with nesting beyond this indent; deeper elements name their depth.
constexpr std::size_t kMaxTextIndentLevels = 16;
// Text lines show at most this many bytes of a byte value.
constexpr std::size_t kMaxTextValueBytes = 64;

std::string TextValue(const DecodedValue& value) {
    switch (value.kind) {
        case DecodedValue::Kind::None:
            return {};
        case DecodedValue::Kind::Number:
            return ": " + std::to_string(value.number);
        case DecodedValue::Kind::Text:
            return ": " + utf::ToUtf8(value.text);
        case DecodedValue::Kind::Bytes: {
            if (value.bytes.empty()) return ": (empty)";
            const std::size_t shown = std::min(value.bytes.size(), kMaxTextValueBytes);
            std::string text = ": " + ToHex(value.bytes.first(shown));
            if (shown < value.bytes.size())
                text += "... (" + std::to_string(value.bytes.size()) + " bytes)";
            return text;
        }
    }
    return {};
}

std::string JsonValueMember(const DecodedValue& value) {
    switch (value.kind) {
        case DecodedValue::Kind::None:
            return {};
        case DecodedValue::Kind::Number:
            return ", \"value\": " + std::to_string(value.number);
        case DecodedValue::Kind::Text:
            return ", \"value\": " + JsonString(value.text);
        case DecodedValue::Kind::Bytes:
            return ", \"hex\": " + Quoted(ToHex(value.bytes));
    }
    return {};
}

std::string EndNote(const PcrReplay& replay) {
    if (replay.end == TcgLogEnd::Complete) return {};
    return std::string("the log is ") + EndName(replay.end) + "; the values cover the " +
           std::to_string(replay.eventCount) + " events read before the fault";
}

}  // namespace

std::string TcgEventTypeName(std::uint32_t type) {
    for (const NamedType& entry : kEventTypes) {
        if (entry.type == type) return entry.name;
    }
    return Hex32(type);
}

std::string SipaEventTypeName(std::uint32_t type) {
    if (const SipaType* known = FindSipaType(type)) return known->name;
    return Hex32(type);
}

const char* LayoutName(TcgLogLayout layout) noexcept {
    return layout == TcgLogLayout::CryptoAgile ? "crypto-agile" : "sha1";
}

const char* EndName(TcgLogEnd end) noexcept {
    switch (end) {
        case TcgLogEnd::Complete:
            return "complete";
        case TcgLogEnd::Truncated:
            return "truncated";
        case TcgLogEnd::Malformed:
            return "malformed";
    }
    return "malformed";
}

PcrReplay ReplayPcrs(std::span<const std::uint8_t> log) {
    PcrReplay replay;
    // Per bank: the running value of each PCR 0-23 and whether an event extended it.
    struct Running {
        std::optional<digest::Algorithm> algorithm;
        std::vector<std::uint8_t> values[kHighestReplayedPcr + 1];
        bool extended[kHighestReplayedPcr + 1] = {};
    };
    std::vector<Running> running;
    bool pcr0Extended = false;

    WalkCallbacks callbacks;
    callbacks.layout = [&](TcgLogLayout layout,
                           std::span<const tb::TcgDigestAlgorithm> algorithms) {
        replay.layout = layout;
        for (const tb::TcgDigestAlgorithm& algorithm : algorithms) {
            PcrBank bank;
            bank.algorithm = algorithm.id;
            bank.name = DigestName(algorithm.id);
            Running state;
            state.algorithm = digest::FromTpmAlgorithm(algorithm.id);
            // A bank whose table size disagrees with the hash is not one we can replay.
            bank.supported = state.algorithm.has_value() &&
                             digest::DigestSize(*state.algorithm) == algorithm.size;
            if (bank.supported) {
                for (std::uint32_t pcr = 0; pcr <= kHighestReplayedPcr; ++pcr) {
                    const bool allOnes = pcr >= 17 && pcr <= 22;
                    state.values[pcr].assign(algorithm.size, allOnes ? 0xFF : 0x00);
                }
            }
            replay.banks.push_back(std::move(bank));
            running.push_back(std::move(state));
        }
    };
    callbacks.event = [&](const EventRecord& event) {
        const tb::TcgEventView& view = event.view;
        if (IsStartupLocality(view)) {
            if (!pcr0Extended && !replay.hasStartupLocality) {
                replay.hasStartupLocality = true;
                replay.startupLocality = view.data[sizeof kStartupLocalitySignature];
                for (Running& state : running) {
                    if (!state.values[0].empty()) state.values[0].back() = replay.startupLocality;
                }
            }
            return;
        }
        if (view.eventType == kEvNoAction || view.pcrIndex > kHighestReplayedPcr ||
            !view.complete) {
            return;
        }
        const std::uint32_t pcr = view.pcrIndex;
        for (std::size_t b = 0; b < replay.banks.size(); ++b) {
            if (!replay.banks[b].supported) continue;
            const auto found = std::find_if(
                event.digests.begin(), event.digests.end(),
                [&](const EventDigest& d) { return d.algorithm == replay.banks[b].algorithm; });
            if (found == event.digests.end()) continue;
            Running& state = running[b];
            digest::Hasher hasher(*state.algorithm);
            hasher.Update(state.values[pcr]).Update(found->value);
            state.values[pcr] = hasher.Finish();
            state.extended[pcr] = true;
            if (pcr == 0) pcr0Extended = true;
        }
    };
    const tb::TcgLogParseResult result = Walk(log, callbacks);
    replay.end = result.end;
    replay.eventCount = result.eventCount;
    for (std::size_t b = 0; b < replay.banks.size(); ++b) {
        for (std::uint32_t pcr = 0; pcr <= kHighestReplayedPcr; ++pcr) {
            if (running[b].extended[pcr])
                replay.banks[b].values.emplace(pcr, std::move(running[b].values[pcr]));
        }
    }
    return replay;
}

std::string ReadLogFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return "cannot open log file '" + path + "': not a regular file";
    std::ifstream in(path, std::ios::binary);
    if (!in) return "cannot open log file '" + path + "'";
    char chunk[64 * 1024];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        bytes.insert(bytes.end(), chunk, chunk + in.gcount());
        if (in.eof()) break;
    }
    if (in.bad()) return "cannot read log file '" + path + "'";
    return {};
}

void PrintPcrsJsonMember(std::ostream& out, std::span<const PcrReplay> replays) {
    out << "\"pcrs\": [";
    for (std::size_t r = 0; r < replays.size(); ++r) {
        if (r != 0) out << ", ";
        out << '{';
        bool firstBank = true;
        for (const PcrBank& bank : replays[r].banks) {
            if (!firstBank) out << ", ";
            firstBank = false;
            out << Quoted(bank.name) << ": ";
            if (!bank.supported) {
                out << "null";
                continue;
            }
            out << '{';
            bool firstPcr = true;
            for (const auto& [pcr, value] : bank.values) {
                if (!firstPcr) out << ", ";
                firstPcr = false;
                out << '"' << pcr << "\": " << Quoted(ToHex(value));
            }
            out << '}';
        }
        out << '}';
    }
    out << ']';
}

void PrintPcrsText(std::ostream& out, std::span<const NamedLogFile> logs,
                   std::span<const PcrReplay> replays) {
    for (std::size_t r = 0; r < replays.size() && r < logs.size(); ++r) {
        const PcrReplay& replay = replays[r];
        out << "PCRs of " << logs[r].name << " (" << LayoutName(replay.layout) << " layout";
        if (replay.hasStartupLocality)
            out << ", startup locality " << static_cast<unsigned>(replay.startupLocality);
        out << "):\n";
        if (const std::string note = EndNote(replay); !note.empty())
            out << "  note: " << note << '\n';
        if (replay.banks.empty()) out << "  no digest bank could be read\n";
        for (const PcrBank& bank : replay.banks) {
            if (!bank.supported) {
                out << "  " << bank.name << ": unsupported digest algorithm, not replayed\n";
                continue;
            }
            if (bank.values.empty()) out << "  " << bank.name << ": no PCR extended\n";
            for (const auto& [pcr, value] : bank.values) {
                char prefix[32];
                std::snprintf(prefix, sizeof prefix, "  %-8s %2u  ", bank.name.c_str(),
                              static_cast<unsigned>(pcr));
                out << prefix << ToHex(value) << '\n';
            }
        }
    }
}

void PrintEventsText(std::ostream& out, std::span<const NamedLogFile> logs) {
    for (const NamedLogFile& log : logs) {
        out << "log " << log.name << '\n';
        WalkCallbacks callbacks;
        callbacks.layout = [&](TcgLogLayout layout,
                               std::span<const tb::TcgDigestAlgorithm> algorithms) {
            out << "layout " << LayoutName(layout) << ", digests";
            for (const tb::TcgDigestAlgorithm& algorithm : algorithms)
                out << ' ' << DigestName(algorithm.id);
            out << '\n';
        };
        callbacks.event = [&](const EventRecord& event) {
            const tb::TcgEventView& view = event.view;
            out << '#' << view.index << " PCR " << view.pcrIndex << ' '
                << TcgEventTypeName(view.eventType) << " size " << view.data.size();
            for (const EventDigest& digest : event.digests)
                out << ' ' << DigestName(digest.algorithm) << ':' << ToHex(digest.value);
            if (!view.complete) out << " (cut short by the end of the log)";
            out << '\n';
            for (const SipaElement& element : event.sipa) {
                const std::size_t levels = std::min(element.depth, kMaxTextIndentLevels);
                out << std::string(4 + 2 * levels, ' ');
                if (element.depth > kMaxTextIndentLevels) out << "(depth " << element.depth << ") ";
                out << SipaEventTypeName(element.type)
                    << TextValue(DecodeSipaValue(element.type, element.data)) << '\n';
            }
        };
        const tb::TcgLogParseResult result = Walk(log.bytes, callbacks);
        out << "end " << EndName(result.end) << ", " << result.eventCount << " events\n";
    }
}

void PrintEventsJson(std::ostream& out, std::span<const NamedLogFile> logs) {
    out << "{\"logs\": [";
    for (std::size_t l = 0; l < logs.size(); ++l) {
        if (l != 0) out << ", ";
        out << "{\"file\": " << JsonString(logs[l].name);
        bool firstEvent = true;
        WalkCallbacks callbacks;
        callbacks.layout = [&](TcgLogLayout layout,
                               std::span<const tb::TcgDigestAlgorithm> algorithms) {
            out << ", \"layout\": " << Quoted(LayoutName(layout)) << ", \"algorithms\": [";
            for (std::size_t i = 0; i < algorithms.size(); ++i)
                out << (i != 0 ? ", " : "") << Quoted(DigestName(algorithms[i].id));
            out << "], \"events\": [";
        };
        callbacks.event = [&](const EventRecord& event) {
            const tb::TcgEventView& view = event.view;
            out << (firstEvent ? "\n" : ",\n");
            firstEvent = false;
            out << "{\"index\": " << view.index << ", \"pcr\": " << view.pcrIndex
                << ", \"type\": " << Quoted(TcgEventTypeName(view.eventType))
                << ", \"typeValue\": " << view.eventType << ", \"size\": " << view.data.size()
                << ", \"complete\": " << (view.complete ? "true" : "false") << ", \"digests\": {";
            for (std::size_t i = 0; i < event.digests.size(); ++i) {
                out << (i != 0 ? ", " : "") << Quoted(DigestName(event.digests[i].algorithm))
                    << ": " << Quoted(ToHex(event.digests[i].value));
            }
            out << '}';
            if (view.eventType == kEvEventTag) {
                // The elements come in preorder with their depth; each container's children
                // go into its "children" array, closed when an element of its depth or less
                // comes, or at the end.
                out << ", \"sipa\": [";
                std::size_t open = 0;  // containers whose children array is open
                bool first = true;
                for (const SipaElement& element : event.sipa) {
                    for (; open > element.depth; --open) {
                        out << "]}";
                        first = false;
                    }
                    out << (first ? "" : ", ");
                    out << "{\"type\": " << Quoted(SipaEventTypeName(element.type))
                        << ", \"typeValue\": " << element.type;
                    if (IsSipaContainer(element.type)) {
                        out << ", \"children\": [";
                        ++open;
                        first = true;
                    } else {
                        out << JsonValueMember(DecodeSipaValue(element.type, element.data)) << '}';
                        first = false;
                    }
                }
                for (; open > 0; --open) out << "]}";
                out << ']';
            }
            out << '}';
        };
        // Before the layout is known (a header the reader refuses) the members still appear.
        bool sawLayout = false;
        auto layout = callbacks.layout;
        callbacks.layout = [&](TcgLogLayout l, std::span<const tb::TcgDigestAlgorithm> a) {
            sawLayout = true;
            layout(l, a);
        };
        const tb::TcgLogParseResult result = Walk(logs[l].bytes, callbacks);
        if (!sawLayout) {
            out << ", \"layout\": " << Quoted(LayoutName(result.layout))
                << ", \"algorithms\": [], \"events\": [";
        }
        out << (firstEvent ? "]" : "\n]") << ", \"end\": " << Quoted(EndName(result.end))
            << ", \"eventCount\": " << result.eventCount << '}';
    }
    out << "]}\n";
}

}  // namespace qorvex::host
