// Windows boot configuration (SIPA) data as a description tree, for the event decoders'
// DescribeEvent: each element {"type": 0x..., "typeName": "SIPAEVENT_...", "value": ...}, a
// container's elements in its "children". Values read as cli/tcg_log_names.h says (numbers,
// hex numbers, text, bytes). An element whose header or data runs past its container ends that
// container's list with a "malformed" object; the elements before it are kept.
//
// Threading: plain functions.
#pragma once

#include <cstdint>
#include <span>

#include "decode/description.h"

namespace qorvex::host {

decode::Node DescribeSipaData(std::span<const std::uint8_t> data);

}  // namespace qorvex::host
