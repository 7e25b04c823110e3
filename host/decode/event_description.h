// One event's data as a description tree, whatever its type: the entry point of the analyst's
// views (`--events` text and JSON, `diff`, CEL). DescribeEvent picks the decoder by event type
// (and, for EV_NO_ACTION, by signature) and never fails: data a decoder cannot read whole is
// described up to the fault with a "malformed" member, so a walk always goes on.
//
// Windows boot configuration (SIPA) data, in EV_EVENT_TAG events and in the EV_NO_ACTION events
// of its trust points, is described by the SIPA reader the caller passes; without one it is
// {"sipa": <bytes>}. IsSipaEvent lets a caller that prints SIPA its own way skip those events.
//
// Threading: DescribeEvent keeps no state; it calls the SIPA describer on the calling thread.
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "decode/description.h"

namespace qorvex::decode {

struct EventData {
    std::uint32_t pcr = 0;
    std::uint32_t type = 0;
    std::span<const std::uint8_t> data;  // the event data present in the log
};

using SipaDescriber = std::function<Node(std::span<const std::uint8_t> data)>;

// EV_EVENT_TAG and EV_NO_ACTION events whose data is SIPA.
bool IsSipaEvent(const EventData& event) noexcept;

// The event's data as a tree (always an object). What each type gives:
//   EV_EFI_VARIABLE_*, EV_EFI_SPDM_DEVICE_POLICY / _AUTHORITY   efi_variable.h
//   EV_EFI_BOOT_SERVICES_APPLICATION / _DRIVER, EV_EFI_RUNTIME_SERVICES_DRIVER   image_load.h
//   EV_EFI_GPT_EVENT, EV_EFI_GPT_EVENT2   gpt.h
//   EV_ACTION, EV_EFI_ACTION, EV_S_CRTM_VERSION, EV_S_CRTM_CONTENTS, EV_POST_CODE, EV_IPL,
//   EV_EFI_PLATFORM_FIRMWARE_BLOB(2), EV_EFI_HANDOFF_TABLES(2), EV_SEPARATOR,
//   EV_OMIT_BOOT_DEVICE_EVENTS   text_events.h
//   EV_NO_ACTION   no_action.h (or SIPA)
//   EV_EVENT_TAG   tagged_event.h (or SIPA)
//   EV_EFI_SPDM_FIRMWARE_BLOB / _CONFIG   spdm.h
//   anything else   {"text": ...} when the data is text, otherwise {"data": ...}
Node DescribeEvent(const EventData& event, const SipaDescriber& sipa = {});

}  // namespace qorvex::decode
