#include "decode/event_description.h"

#include "decode/efi_variable.h"
#include "decode/event_types.h"
#include "decode/gpt.h"
#include "decode/image_load.h"
#include "decode/no_action.h"
#include "decode/spdm.h"
#include "decode/tagged_event.h"
#include "decode/text_events.h"

namespace qorvex::decode {

namespace {

Node DescribeSipa(std::span<const std::uint8_t> data, const SipaDescriber& sipa) {
    if (sipa) return sipa(data);
    return std::move(Node::Object().Add("sipa", Node::Bytes(data)));
}

Node DescribeNoAction(std::span<const std::uint8_t> data, const SipaDescriber& sipa) {
    switch (ClassifyNoAction(data)) {
        case NoActionKind::SpecId:
            return Describe(DecodeSpecIdEvent(data));
        case NoActionKind::StartupLocality:
            return Describe(DecodeStartupLocality(data));
        case NoActionKind::Sp800155:
            return Describe(DecodeSp800155Event(data));
        case NoActionKind::NvIndexInstance:
        case NoActionKind::NvIndexDynamic:
            return Describe(DecodeNvIndexEvent(data));
        case NoActionKind::Other:
            break;
    }
    if (IsSipaData(data)) return DescribeSipa(data, sipa);
    return Describe(DecodeTextOrBytes(data));
}

}  // namespace

bool IsSipaEvent(const EventData& event) noexcept {
    if (event.type == kEvEventTag) return IsSipaData(event.data);
    if (event.type == kEvNoAction) {
        return ClassifyNoAction(event.data) == NoActionKind::Other && IsSipaData(event.data);
    }
    return false;
}

Node DescribeEvent(const EventData& event, const SipaDescriber& sipa) {
    const auto data = event.data;
    switch (event.type) {
        case kEvEfiVariableDriverConfig:
        case kEvEfiVariableBoot:
        case kEvEfiVariableBoot2:
        case kEvEfiVariableAuthority:
        case kEvEfiSpdmDevicePolicy:
        case kEvEfiSpdmDeviceAuthority:
            return Describe(event.type, DecodeUefiVariableEvent(data));
        case kEvEfiBootServicesApplication:
        case kEvEfiBootServicesDriver:
        case kEvEfiRuntimeServicesDriver:
            return Describe(DecodeImageLoadEvent(data));
        case kEvEfiGptEvent:
        case kEvEfiGptEvent2:
            return Describe(DecodeGpt(data));
        case kEvAction:
        case kEvEfiAction:
            return Describe(DecodeAction(data));
        case kEvSCrtmVersion:
            return Describe(DecodeScrtmVersion(data));
        case kEvPostCode:
        case kEvSCrtmContents:
            return Describe(DecodePostCode(data));
        case kEvEfiPlatformFirmwareBlob:
            return Describe(DecodeFirmwareBlob(data));
        case kEvEfiPlatformFirmwareBlob2:
            return Describe(DecodeFirmwareBlob2(data));
        case kEvEfiHandoffTables:
            return Describe(DecodeHandoffTables(data));
        case kEvEfiHandoffTables2:
            return Describe(DecodeHandoffTables2(data));
        case kEvSeparator:
            return Describe(DecodeSeparator(data));
        case kEvEfiSpdmFirmwareBlob:
        case kEvEfiSpdmFirmwareConfig:
            return Describe(DecodeDeviceSecurityEvent(data));
        case kEvNoAction:
            return DescribeNoAction(data, sipa);
        case kEvEventTag:
            if (IsSipaData(data)) return DescribeSipa(data, sipa);
            return Describe(DecodeTaggedEvent(data));
        default:
            // EV_IPL, EV_OMIT_BOOT_DEVICE_EVENTS and types without a structure of their own.
            return Describe(DecodeTextOrBytes(data));
    }
}

}  // namespace qorvex::decode
