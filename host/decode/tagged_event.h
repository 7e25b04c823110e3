// EV_EVENT_TAG data (TCG_PCClientTaggedEvent): a tag ID and its data. Windows fills these events
// (and EV_NO_ACTION events of PCR 0xFFFFFFFF) with its boot configuration log, SIPA elements of
// the same type / size / data shape; IsSipaData tells the two apart by the first element's type,
// which for SIPA always names one of Windows' event classes. Other tags are shown by ID and data
// (text where the data is text), with names for the tags the Linux EFI stub writes.
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "decode/description.h"
#include "decode/text_events.h"

namespace qorvex::decode {

inline constexpr std::uint32_t kLinuxInitrdTag = 0x8F3B22EC;
inline constexpr std::uint32_t kLinuxLoadOptionsTag = 0x8F3B22ED;

// The data starts with a SIPA element: a type whose flag bits are only the container and
// non-measured flags and whose class (bits 16-23) is one of Windows' event classes (1 to 0x0C).
bool IsSipaData(std::span<const std::uint8_t> data) noexcept;

struct TaggedEvent {
    std::uint32_t tagId = 0;
    std::uint32_t dataSize = 0;  // as written
    FreeFormData data;
    bool headerRead = false;
    std::optional<Malformed> malformed;  // the size does not match the data
};
TaggedEvent DecodeTaggedEvent(std::span<const std::uint8_t> data);
// {"tagId", "tagIdName", "dataSize", "text" | "data"}.
Node Describe(const TaggedEvent& event);

}  // namespace qorvex::decode
