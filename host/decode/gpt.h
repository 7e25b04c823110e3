// UEFI_GPT_DATA, the data of EV_EFI_GPT_EVENT (and EV_EFI_GPT_EVENT2): the GPT header
// (EFI_PARTITION_TABLE_HEADER, 92 bytes) of the disk the boot manager came from, the number of
// partitions measured and each of their entries (type and unique GUID, first and last LBA,
// attributes, name), each of the header's entry size.
//
// Threading: pure functions; results point into the bytes given.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "decode/description.h"
#include "decode/guid.h"

namespace qorvex::decode {

struct GptHeader {
    std::span<const std::uint8_t> signature;  // "EFI PART"
    std::uint32_t revision = 0;
    std::uint32_t headerSize = 0;
    std::uint32_t headerCrc32 = 0;
    std::uint64_t myLba = 0;
    std::uint64_t alternateLba = 0;
    std::uint64_t firstUsableLba = 0;
    std::uint64_t lastUsableLba = 0;
    Guid diskGuid;
    std::uint64_t partitionEntryLba = 0;
    std::uint32_t numberOfPartitionEntries = 0;
    std::uint32_t sizeOfPartitionEntry = 0;
    std::uint32_t partitionEntryArrayCrc32 = 0;
};

struct GptPartition {
    Guid type;
    Guid unique;
    std::uint64_t firstLba = 0;
    std::uint64_t lastLba = 0;
    std::uint64_t attributes = 0;
    std::u16string name;  // trailing zero units dropped
};

struct GptData {
    bool headerRead = false;
    GptHeader header;
    bool countRead = false;
    std::uint64_t numberOfPartitions = 0;  // as written
    std::vector<GptPartition> partitions;  // those present
    std::optional<Malformed> malformed;
};

// The smallest partition entry, and the header's size in the event.
inline constexpr std::uint32_t kGptPartitionEntryMinimumSize = 128;
inline constexpr std::size_t kGptHeaderSize = 92;

GptData DecodeGpt(std::span<const std::uint8_t> data);
// {"header": {...}, "numberOfPartitions", "partitions": [{"type", "typeName", "unique",
// "firstLba", "lastLba", "attributes", "name"}]}.
Node Describe(const GptData& gpt);

}  // namespace qorvex::decode
