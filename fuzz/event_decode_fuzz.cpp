// libFuzzer target for the analyst's event decoders. The input is one event: its type (4 bytes,
// little-endian), its PCR (4 bytes) and its data (the rest). DescribeEvent reads it as the
// dispatch does (with a SIPA reader, and for SIPA events without one too); then the PCR picks one
// decoder that reads the same data directly, so every decoder sees every input whatever its type.
// Every tree is rendered as text and as JSON. Besides the sanitizers' checks it traps when a typed
// value or a fault points outside the data, when JSON is not valid JSON, or when a text line holds
// a control character.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "decode/device_path.h"
#include "decode/efi_variable.h"
#include "decode/event_description.h"
#include "decode/event_types.h"
#include "decode/gpt.h"
#include "decode/image_load.h"
#include "decode/no_action.h"
#include "decode/signature_list.h"
#include "decode/spdm.h"
#include "decode/tagged_event.h"
#include "decode/text_events.h"
#include "fuzz/json_check.h"

namespace {

namespace d = qorvex::decode;
using Span = std::span<const std::uint8_t>;

Span g_data;

void CheckInside(Span bytes) {
    if (bytes.empty()) return;
    const auto begin = reinterpret_cast<std::uintptr_t>(g_data.data());
    const auto at = reinterpret_cast<std::uintptr_t>(bytes.data());
    if (at < begin || at - begin > g_data.size() || bytes.size() > g_data.size() - (at - begin))
        __builtin_trap();
}

void CheckFault(const std::optional<d::Malformed>& fault) {
    if (!fault) return;
    CheckInside(fault->bytes);
    if (fault->offset > fault->bytes.size() || fault->reason.empty()) __builtin_trap();
}

void Render(const d::Node& tree) {
    if (!qorvex::fuzz::IsValidJson(d::ToJson(tree))) __builtin_trap();
    const std::string text = d::ToText(tree, 2);
    if (text.empty() || text.back() != '\n') __builtin_trap();
    for (const char c : text) {
        if (c != '\n' && static_cast<unsigned char>(c) < 0x20) __builtin_trap();
    }
    for (const d::Node* fault : d::FindMalformed(tree)) {
        if (fault->Find("reason") == nullptr || fault->Find("bytes") == nullptr) __builtin_trap();
    }
}

void CheckPaths(const std::vector<d::DevicePath>& paths) {
    for (const d::DevicePath& path : paths) {
        CheckFault(path.malformed);
        for (const d::DevicePathNode& node : path.nodes) CheckInside(node.data);
    }
}

void DecodeDirectly(std::uint32_t selector, Span data) {
    switch (selector % 16) {
        case 0: {
            const auto paths = d::DecodeDevicePaths(data);
            CheckPaths(paths);
            d::Node node = d::Node::Object();
            d::AddDevicePaths(node, paths);
            Render(node);
            break;
        }
        case 1: {
            const auto database = d::DecodeSignatureDatabase(data);
            CheckFault(database.malformed);
            for (const auto& list : database.lists) {
                CheckInside(list.header);
                for (const auto& entry : list.signatures) CheckInside(entry.data);
            }
            Render(d::Describe(database));
            break;
        }
        case 2: {
            const auto option = d::DecodeLoadOption(data);
            CheckFault(option.malformed);
            CheckPaths(option.devicePaths);
            CheckInside(option.optionalData);
            Render(d::Describe(option));
            break;
        }
        case 3: {
            const auto event = d::DecodeUefiVariableEvent(data);
            CheckFault(event.malformed);
            for (const auto& variable : event.variables) {
                CheckFault(variable.malformed);
                CheckInside(variable.data);
                // Every kind of content, whatever the variable's name.
                for (const std::uint32_t type :
                     {d::kEvEfiVariableDriverConfig, d::kEvEfiVariableAuthority,
                      d::kEvEfiSpdmDevicePolicy}) {
                    Render(d::DescribeVariable(type, variable));
                }
            }
            Render(d::Describe(d::kEvEfiVariableBoot, event));
            break;
        }
        case 4: {
            const auto gpt = d::DecodeGpt(data);
            CheckFault(gpt.malformed);
            Render(d::Describe(gpt));
            break;
        }
        case 5: {
            const auto image = d::DecodeImageLoadEvent(data);
            CheckFault(image.malformed);
            CheckPaths(image.devicePaths);
            Render(d::Describe(image));
            break;
        }
        case 6: {
            const auto specId = d::DecodeSpecIdEvent(data);
            CheckFault(specId.malformed);
            CheckInside(specId.vendorInfo);
            Render(d::Describe(specId));
            break;
        }
        case 7: {
            const auto manifest = d::DecodeSp800155Event(data);
            CheckFault(manifest.malformed);
            CheckInside(manifest.rimLocator.value);
            CheckInside(manifest.platformCertLocator.value);
            Render(d::Describe(manifest));
            break;
        }
        case 8: {
            const auto record = d::DecodeNvIndexEvent(data);
            CheckFault(record.malformed);
            if (record.instance) CheckFault(record.instance->malformed);
            Render(d::Describe(record));
            break;
        }
        case 9: {
            const auto device = d::DecodeDeviceSecurityEvent(data);
            CheckFault(device.malformed);
            CheckInside(device.rest);
            CheckPaths(device.devicePaths);
            Render(d::Describe(device));
            break;
        }
        case 10: {
            const auto tagged = d::DecodeTaggedEvent(data);
            CheckFault(tagged.malformed);
            CheckInside(tagged.data.bytes);
            Render(d::Describe(tagged));
            break;
        }
        case 11:
            Render(d::Describe(d::DecodeHandoffTables(data)));
            Render(d::Describe(d::DecodeHandoffTables2(data)));
            break;
        case 12:
            Render(d::Describe(d::DecodeFirmwareBlob(data)));
            Render(d::Describe(d::DecodeFirmwareBlob2(data)));
            break;
        case 13: {
            const auto authority = d::DecodeAuthorityData(data);
            CheckInside(authority.data);
            d::Node node = d::Node::Object();
            d::AddAuthorityData(node, authority);
            Render(node);
            break;
        }
        case 14:
            Render(d::Describe(d::DecodeScrtmVersion(data)));
            Render(d::Describe(d::DecodePostCode(data)));
            Render(d::Describe(d::DecodeTextOrBytes(data)));
            break;
        default:
            Render(d::Describe(d::DecodeAction(data)));
            Render(d::Describe(d::DecodeSeparator(data)));
            Render(d::Describe(d::DecodeStartupLocality(data)));
            break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 8) return 0;
    const auto load = [&](std::size_t at) {
        return static_cast<std::uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                                          static_cast<std::uint32_t>(bytes[at + 3]) << 24);
    };
    const std::uint32_t type = load(0);
    const std::uint32_t pcr = load(4);
    g_data = Span(bytes + 8, size - 8);

    int sipaCalls = 0;
    const d::SipaDescriber sipa = [&](Span sipaData) {
        CheckInside(sipaData);
        ++sipaCalls;
        return std::move(d::Node::Object().Add("size", d::Node::Number(sipaData.size())));
    };
    Render(d::DescribeEvent({pcr, type, g_data}, sipa));
    const bool isSipa = d::IsSipaEvent({pcr, type, g_data});
    if ((sipaCalls == 1) != isSipa) __builtin_trap();
    // Without a SIPA reader only SIPA events are described differently.
    if (isSipa) Render(d::DescribeEvent({pcr, type, g_data}));

    DecodeDirectly(pcr, g_data);
    return 0;
}
