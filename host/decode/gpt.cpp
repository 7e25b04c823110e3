#include "decode/gpt.h"

#include <algorithm>
#include <cstring>

#include "decode/byte_reader.h"

namespace qorvex::decode {

namespace {

constexpr char kGptSignature[] = "EFI PART";
constexpr std::size_t kPartitionNameUnits = 36;

std::string AttributeNames(std::uint64_t attributes) {
    std::string names;
    const auto add = [&](const char* name) {
        if (!names.empty()) names += ", ";
        names += name;
    };
    if ((attributes & 0x1) != 0) add("required");
    if ((attributes & 0x2) != 0) add("no block IO protocol");
    if ((attributes & 0x4) != 0) add("legacy BIOS bootable");
    return names;
}

}  // namespace

GptData DecodeGpt(std::span<const std::uint8_t> data) {
    GptData gpt;
    ByteReader reader(data);
    GptHeader& h = gpt.header;
    std::uint32_t reserved = 0;
    gpt.headerRead = reader.Take(8, h.signature) && reader.U32(h.revision) &&
                     reader.U32(h.headerSize) && reader.U32(h.headerCrc32) &&
                     reader.U32(reserved) && reader.U64(h.myLba) && reader.U64(h.alternateLba) &&
                     reader.U64(h.firstUsableLba) && reader.U64(h.lastUsableLba) &&
                     reader.ReadGuid(h.diskGuid) && reader.U64(h.partitionEntryLba) &&
                     reader.U32(h.numberOfPartitionEntries) && reader.U32(h.sizeOfPartitionEntry) &&
                     reader.U32(h.partitionEntryArrayCrc32);
    if (!gpt.headerRead) {
        gpt.malformed = Malformed{
            "the GPT header is 92 bytes; the data holds " + std::to_string(data.size()), 0, data};
        return gpt;
    }
    if (std::memcmp(h.signature.data(), kGptSignature, 8) != 0) {
        gpt.malformed = Malformed{"the GPT header does not start with \"EFI PART\"", 0, data};
        return gpt;
    }
    gpt.countRead = reader.U64(gpt.numberOfPartitions);
    if (!gpt.countRead) {
        gpt.malformed = Malformed{"the number of partitions is cut short", reader.offset(), data};
        return gpt;
    }
    const std::uint32_t entrySize = h.sizeOfPartitionEntry;
    if (entrySize < kGptPartitionEntryMinimumSize) {
        gpt.malformed = Malformed{"partition entries are at least 128 bytes; the header says " +
                                      std::to_string(entrySize),
                                  kGptHeaderSize - 8, data};
        return gpt;
    }
    const std::uint64_t present = reader.remaining() / entrySize;
    if (gpt.numberOfPartitions != present || reader.remaining() % entrySize != 0) {
        gpt.malformed = Malformed{"the data says " + std::to_string(gpt.numberOfPartitions) +
                                      " partitions of " + std::to_string(entrySize) + " bytes; " +
                                      std::to_string(reader.remaining()) + " bytes follow",
                                  reader.offset(), data};
    }
    const std::uint64_t count = std::min(gpt.numberOfPartitions, present);
    for (std::uint64_t i = 0; i < count; ++i) {
        std::span<const std::uint8_t> entry;
        reader.Take(entrySize, entry);
        ByteReader fields(entry);
        GptPartition partition;
        fields.ReadGuid(partition.type);
        fields.ReadGuid(partition.unique);
        fields.U64(partition.firstLba);
        fields.U64(partition.lastLba);
        fields.U64(partition.attributes);
        std::uint16_t unit = 0;
        for (std::size_t k = 0; k < kPartitionNameUnits && fields.U16(unit); ++k)
            partition.name += static_cast<char16_t>(unit);
        const auto end = partition.name.find(u'\0');
        if (end != std::u16string::npos) partition.name.resize(end);
        gpt.partitions.push_back(std::move(partition));
    }
    return gpt;
}

Node Describe(const GptData& gpt) {
    Node node = Node::Object();
    if (gpt.headerRead) {
        const GptHeader& h = gpt.header;
        Node header = Node::Object();
        header.Add("signature", Node::Text(std::string(h.signature.begin(), h.signature.end())))
            .Add("revision", Node::Hex(h.revision))
            .Add("headerSize", Node::Number(h.headerSize))
            .Add("headerCrc32", Node::Hex(h.headerCrc32))
            .Add("myLba", Node::Number(h.myLba))
            .Add("alternateLba", Node::Number(h.alternateLba))
            .Add("firstUsableLba", Node::Number(h.firstUsableLba))
            .Add("lastUsableLba", Node::Number(h.lastUsableLba))
            .Add("diskGuid", Node::GuidValue(h.diskGuid))
            .Add("partitionEntryLba", Node::Number(h.partitionEntryLba))
            .Add("numberOfPartitionEntries", Node::Number(h.numberOfPartitionEntries))
            .Add("sizeOfPartitionEntry", Node::Number(h.sizeOfPartitionEntry))
            .Add("partitionEntryArrayCrc32", Node::Hex(h.partitionEntryArrayCrc32));
        node.Add("header", std::move(header));
    }
    if (gpt.countRead) {
        node.Add("numberOfPartitions", Node::Number(gpt.numberOfPartitions));
        Node partitions = Node::List();
        for (const GptPartition& p : gpt.partitions) {
            partitions.Push(std::move(
                Node::Object()
                    .Add("type", Node::GuidValue(p.type))
                    .Add("unique", Node::GuidValue(p.unique))
                    .Add("firstLba", Node::Number(p.firstLba))
                    .Add("lastLba", Node::Number(p.lastLba))
                    .Add("attributes", Node::Hex(p.attributes, AttributeNames(p.attributes)))
                    .Add("name", Node::Text(p.name))));
        }
        node.Add("partitions", std::move(partitions));
    }
    node.AddMalformed(gpt.malformed ? &*gpt.malformed : nullptr);
    return node;
}

}  // namespace qorvex::decode
