#include "decode/spdm.h"

#include <cstring>

#include "decode/byte_reader.h"
#include "decode/text_events.h"

namespace qorvex::decode {

namespace {

constexpr char kSignature1[16] = "SPDM Device Sec";  // zero-terminated
constexpr char kSignature2[] = "SPDM Device Sec2";   // all 16 characters

const char* DeviceTypeName(std::uint32_t type) {
    switch (type) {
        case 0:
            return "null";
        case 1:
            return "PCI";
        case 2:
            return "USB";
        default:
            return "";
    }
}

const char* AuthStateName(std::uint8_t state) {
    switch (state) {
        case 0:
            return "success";
        case 1:
            return "no authentication";
        case 2:
            return "no binding";
        case 3:
            return "failed: no signature";
        case 4:
            return "failed: invalid";
        case 0xFF:
            return "no SPDM";
        default:
            return "";
    }
}

}  // namespace

DeviceSecurityEvent DecodeDeviceSecurityEvent(std::span<const std::uint8_t> data) {
    DeviceSecurityEvent event;
    ByteReader reader(data);
    std::span<const std::uint8_t> signature;
    if (!reader.Take(16, signature) || !reader.U16(event.version)) {
        event.malformed = Malformed{"the device security header is cut short", 0, data};
        return event;
    }
    const bool first = std::memcmp(signature.data(), kSignature1, 16) == 0;
    const bool second = std::memcmp(signature.data(), kSignature2, 16) == 0;
    if (!first && !second) {
        event.malformed = Malformed{"not an SPDM device security record", 0, data};
        return event;
    }
    event.signature = first ? "SPDM Device Sec" : "SPDM Device Sec2";
    if (first) {
        event.headerRead = reader.U16(event.length16) && reader.U32(event.spdmHashAlgorithm) &&
                           reader.U32(event.deviceType);
    } else {
        std::uint8_t reserved = 0;
        event.headerRead = reader.U8(event.authState) && reader.U8(reserved) &&
                           reader.U32(event.length32) && reader.U32(event.deviceType) &&
                           reader.U32(event.subHeaderType) && reader.U32(event.subHeaderLength) &&
                           reader.U64(event.subHeaderUid) && reader.U64(event.devicePathLength);
        std::span<const std::uint8_t> paths;
        if (event.headerRead && !reader.Take(event.devicePathLength, paths)) {
            event.malformed =
                Malformed{"the device path says " + std::to_string(event.devicePathLength) +
                              " bytes; " + std::to_string(reader.remaining()) + " follow",
                          reader.offset(), data};
            return event;
        }
        event.devicePaths = DecodeDevicePaths(paths);
    }
    if (!event.headerRead) {
        event.malformed =
            Malformed{"the device security header is cut short", reader.offset(), data};
        return event;
    }
    event.rest = reader.Rest();
    return event;
}

Node Describe(const DeviceSecurityEvent& event) {
    Node node = Node::Object();
    if (!event.signature.empty()) {
        node.Add("signature", Node::Text(event.signature))
            .Add("version", Node::Number(event.version));
    }
    if (event.headerRead) {
        if (event.signature == "SPDM Device Sec") {
            node.Add("length", Node::Number(event.length16))
                .Add("spdmHashAlgorithm", Node::Hex(event.spdmHashAlgorithm));
        } else {
            node.Add("authState", Node::Number(event.authState, AuthStateName(event.authState)))
                .Add("length", Node::Number(event.length32));
        }
        node.Add("deviceType", Node::Number(event.deviceType, DeviceTypeName(event.deviceType)));
        if (event.signature != "SPDM Device Sec") {
            node.Add("subHeaderType", Node::Number(event.subHeaderType))
                .Add("subHeaderLength", Node::Number(event.subHeaderLength))
                .Add("subHeaderUid", Node::Hex(event.subHeaderUid))
                .Add("devicePathLength", Node::Number(event.devicePathLength));
            AddDevicePaths(node, event.devicePaths);
        }
        node.Add("data", Node::Bytes(event.rest));
    }
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

}  // namespace qorvex::decode
