#include "decode/no_action.h"

#include <cstring>
#include <string_view>

#include "decode/byte_reader.h"
#include "decode/device_path.h"
#include "decode/text_events.h"
#include "digest/digest.h"

namespace qorvex::decode {

namespace {

constexpr std::size_t kSignatureSize = 16;

// The 16 signature bytes equal text and then zeros.
bool HasSignature(std::span<const std::uint8_t> data, std::string_view text) noexcept {
    if (data.size() < kSignatureSize || text.size() > kSignatureSize) return false;
    if (std::memcmp(data.data(), text.data(), text.size()) != 0) return false;
    for (std::size_t i = text.size(); i < kSignatureSize; ++i) {
        if (data[i] != 0) return false;
    }
    return true;
}

std::string SignatureText(std::span<const std::uint8_t> data) {
    std::string text(reinterpret_cast<const char*>(data.data()),
                     std::min(data.size(), kSignatureSize));
    const auto end = text.find('\0');
    if (end != std::string::npos) text.resize(end);
    return text;
}

std::string SizedText(std::span<const std::uint8_t> bytes) {
    if (auto text = ReadNarrowText(bytes)) return text->text;
    return std::string(bytes.begin(), bytes.end());
}

// A UINT8 size and that many bytes of text.
bool ReadSizedText(ByteReader& reader, std::string& text) {
    std::uint8_t size = 0;
    std::span<const std::uint8_t> bytes;
    if (!reader.U8(size) || !reader.Take(size, bytes)) return false;
    text = SizedText(bytes);
    return true;
}

Node DescribeLocator(const Sp800155Locator& locator) {
    static const char* const kTypes[] = {"raw", "URI", "device path", "UEFI variable"};
    Node node = Node::Object();
    node.Add("type", Node::Number(locator.type, locator.type < 4 ? kTypes[locator.type] : ""));
    switch (locator.type) {
        case 1:
            node.Add("uri", Node::Text(SizedText(locator.value)));
            break;
        case 2: {
            AddDevicePaths(node, DecodeDevicePaths(locator.value));
            break;
        }
        case 3:
            if (locator.value.size() >= 16) {
                std::u16string name;
                for (std::size_t i = 16; i + 1 < locator.value.size(); i += 2) {
                    const auto unit =
                        static_cast<char16_t>(locator.value[i] | (locator.value[i + 1] << 8));
                    if (unit == 0) break;
                    name += unit;
                }
                node.Add("guid", Node::GuidValue(GuidAt(locator.value)))
                    .Add("name", Node::Text(name));
                break;
            }
            [[fallthrough]];
        default:
            node.Add("data", Node::Bytes(locator.value));
            break;
    }
    return node;
}

}  // namespace

NoActionKind ClassifyNoAction(std::span<const std::uint8_t> data) noexcept {
    if (HasSignature(data, "Spec ID Event03") || HasSignature(data, "Spec ID Event00") ||
        HasSignature(data, "Spec ID Event02")) {
        return NoActionKind::SpecId;
    }
    if (HasSignature(data, "StartupLocality")) return NoActionKind::StartupLocality;
    if (data.size() >= kSignatureSize && std::memcmp(data.data(), "SP800-155 Event", 15) == 0 &&
        (data[15] == 0 || data[15] == '2' || data[15] == '3')) {
        return NoActionKind::Sp800155;
    }
    if (HasSignature(data, "NvIndexInstance")) return NoActionKind::NvIndexInstance;
    if (HasSignature(data, "NvIndexDynamic ")) return NoActionKind::NvIndexDynamic;
    return NoActionKind::Other;
}

SpecIdEvent DecodeSpecIdEvent(std::span<const std::uint8_t> data) {
    SpecIdEvent event;
    ByteReader reader(data);
    const auto fault = [&](std::string reason) {
        event.malformed = Malformed{std::move(reason), reader.offset(), data};
        return event;
    };
    if (!reader.Skip(kSignatureSize)) return fault("the signature is cut short");
    event.signature = SignatureText(data);
    event.hasAlgorithms = event.signature == "Spec ID Event03";
    if (!reader.U32(event.platformClass) || !reader.U8(event.specVersionMinor) ||
        !reader.U8(event.specVersionMajor) || !reader.U8(event.specErrata) ||
        !reader.U8(event.uintnSize)) {
        return fault("the header's versions are cut short");
    }
    event.fieldsRead = 1;
    if (event.hasAlgorithms) {
        std::uint32_t count = 0;
        if (!reader.U32(count)) return fault("the algorithm count is cut short");
        if (count > reader.remaining() / 4) {
            return fault("the header says " + std::to_string(count) + " algorithms; " +
                         std::to_string(reader.remaining()) + " bytes follow");
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            SpecIdAlgorithm algorithm;
            reader.U16(algorithm.id);
            reader.U16(algorithm.digestSize);
            event.algorithms.push_back(algorithm);
        }
    }
    event.fieldsRead = 2;
    std::uint8_t vendorInfoSize = 0;
    if (!reader.U8(vendorInfoSize)) return fault("the vendor information size is missing");
    if (!reader.Take(vendorInfoSize, event.vendorInfo)) {
        return fault("the vendor information says " + std::to_string(vendorInfoSize) + " bytes; " +
                     std::to_string(reader.remaining()) + " follow");
    }
    event.fieldsRead = 3;
    if (!reader.AtEnd()) {
        return fault(std::to_string(reader.remaining()) + " bytes follow the vendor information");
    }
    return event;
}

Node Describe(const SpecIdEvent& event) {
    Node node = Node::Object();
    node.Add("signature", Node::Text(event.signature));
    if (event.fieldsRead >= 1) {
        node.Add("platformClass",
                 Node::Number(event.platformClass, event.platformClass == 0   ? "client"
                                                   : event.platformClass == 1 ? "server"
                                                                              : ""))
            .Add("specVersionMajor", Node::Number(event.specVersionMajor))
            .Add("specVersionMinor", Node::Number(event.specVersionMinor))
            .Add("specErrata", Node::Number(event.specErrata))
            .Add("uintnSize", Node::Number(event.uintnSize, event.uintnSize == 1   ? "UINT32"
                                                            : event.uintnSize == 2 ? "UINT64"
                                                                                   : ""));
    }
    if (event.fieldsRead >= 2 && event.hasAlgorithms) {
        Node algorithms = Node::List();
        for (const SpecIdAlgorithm& algorithm : event.algorithms) {
            std::string name = digest::TpmAlgorithmName(algorithm.id);
            if (name.rfind("alg_0x", 0) == 0) name.clear();
            algorithms.Push(std::move(Node::Object()
                                          .Add("algorithm", Node::Hex(algorithm.id, name))
                                          .Add("digestSize", Node::Number(algorithm.digestSize))));
        }
        node.Add("algorithms", std::move(algorithms));
    }
    if (event.fieldsRead >= 3) node.Add("vendorInfo", Node::Bytes(event.vendorInfo));
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

StartupLocalityEvent DecodeStartupLocality(std::span<const std::uint8_t> data) {
    StartupLocalityEvent event;
    if (data.size() == kSignatureSize + 1) {
        event.locality = data[kSignatureSize];
    } else {
        event.malformed = Malformed{
            "a StartupLocality event is 17 bytes; this one " + std::to_string(data.size()), 0,
            data};
    }
    return event;
}

Node Describe(const StartupLocalityEvent& event) {
    Node node = Node::Object();
    node.Add("signature", Node::Text("StartupLocality"));
    if (event.locality) node.Add("locality", Node::Number(*event.locality));
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

Sp800155Event DecodeSp800155Event(std::span<const std::uint8_t> data) {
    Sp800155Event event;
    ByteReader reader(data);
    event.signature = SignatureText(data);
    if (!reader.Skip(kSignatureSize) || !reader.U32(event.vendorId) ||
        !reader.ReadGuid(event.referenceManifestGuid)) {
        event.malformed =
            Malformed{"the SP800-155 event's header is cut short", reader.offset(), data};
        return event;
    }
    event.headerRead = true;
    const bool first = data[15] == 0;
    const bool third = data[15] == '3';
    // The first form was written with and without the platform fields: they are read when they
    // fit exactly.
    ByteReader fields = reader;
    Sp800155Event withFields = event;
    const bool platformFields = ReadSizedText(fields, withFields.platformManufacturer) &&
                                ReadSizedText(fields, withFields.platformModel) &&
                                ReadSizedText(fields, withFields.platformVersion) &&
                                ReadSizedText(fields, withFields.firmwareManufacturer) &&
                                fields.U32(withFields.firmwareManufacturerId) &&
                                ReadSizedText(fields, withFields.firmwareVersion);
    if (first) {
        if (platformFields && fields.AtEnd()) {
            withFields.hasPlatformFields = true;
            return withFields;
        }
        event.rest = reader.Rest();
        return event;
    }
    if (!platformFields) {
        event.malformed = Malformed{"the platform fields are cut short", fields.offset(), data};
        event.rest = reader.Rest();
        return event;
    }
    withFields.hasPlatformFields = true;
    if (third) {
        Sp800155Locator* locators[] = {&withFields.rimLocator, &withFields.platformCertLocator};
        for (Sp800155Locator* locator : locators) {
            std::uint32_t length = 0;
            if (!fields.U32(locator->type) || !fields.U32(length) ||
                !fields.Take(length, locator->value)) {
                withFields.malformed = Malformed{"a locator is cut short", fields.offset(), data};
                withFields.rest = fields.Rest();
                return withFields;
            }
        }
        withFields.hasLocators = true;
    }
    withFields.rest = fields.Rest();
    if (!fields.AtEnd()) {
        withFields.malformed =
            Malformed{std::to_string(fields.remaining()) + " bytes follow the last field",
                      fields.offset(), data};
    }
    return withFields;
}

Node Describe(const Sp800155Event& event) {
    Node node = Node::Object();
    node.Add("signature", Node::Text(event.signature));
    if (event.headerRead) {
        node.Add("vendorId", Node::Number(event.vendorId))
            .Add("referenceManifestGuid", Node::GuidValue(event.referenceManifestGuid));
    }
    if (event.hasPlatformFields) {
        node.Add("platformManufacturer", Node::Text(event.platformManufacturer))
            .Add("platformModel", Node::Text(event.platformModel))
            .Add("platformVersion", Node::Text(event.platformVersion))
            .Add("firmwareManufacturer", Node::Text(event.firmwareManufacturer))
            .Add("firmwareManufacturerId", Node::Number(event.firmwareManufacturerId))
            .Add("firmwareVersion", Node::Text(event.firmwareVersion));
    }
    if (event.hasLocators) {
        node.Add("rimLocator", DescribeLocator(event.rimLocator))
            .Add("platformCertLocator", DescribeLocator(event.platformCertLocator));
    }
    if (!event.rest.empty()) node.Add("data", Node::Bytes(event.rest));
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

NvIndexEvent DecodeNvIndexEvent(std::span<const std::uint8_t> data) {
    NvIndexEvent event;
    ByteReader reader(data);
    event.signature = SignatureText(data);
    const bool dynamic = ClassifyNoAction(data) == NoActionKind::NvIndexDynamic;
    if (!reader.Skip(kSignatureSize) || !reader.U16(event.version) || !reader.Skip(6) ||
        (dynamic && !reader.U64(event.uid))) {
        event.malformed =
            Malformed{"the NV index record's header is cut short", reader.offset(), data};
        return event;
    }
    event.headerRead = true;
    if (!dynamic) {
        event.instance = DecodeDeviceSecurityEvent(reader.Rest());
        return event;
    }
    std::uint16_t descriptionSize = 0, dataSize = 0;
    std::span<const std::uint8_t> description;
    if (!reader.U16(descriptionSize) || !reader.Take(descriptionSize, description) ||
        !reader.U16(dataSize) || !reader.Take(dataSize, event.data)) {
        event.malformed = Malformed{"the NV index record's description or data is cut short",
                                    reader.offset(), data};
        return event;
    }
    event.description = SizedText(description);
    if (!event.description.empty() && event.description.back() == '\0')
        event.description.pop_back();
    if (!reader.AtEnd()) {
        event.malformed = Malformed{std::to_string(reader.remaining()) + " bytes follow the data",
                                    reader.offset(), data};
    }
    return event;
}

Node Describe(const NvIndexEvent& event) {
    Node node = Node::Object();
    node.Add("signature", Node::Text(event.signature));
    if (event.headerRead) {
        node.Add("version", Node::Number(event.version));
        if (event.instance) {
            node.Add("deviceSecurity", Describe(*event.instance));
        } else {
            node.Add("uid", Node::Hex(event.uid));
            if (!event.malformed) {
                node.Add("description", Node::Text(event.description))
                    .Add("data", Node::Bytes(event.data));
            }
        }
    }
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

}  // namespace qorvex::decode
