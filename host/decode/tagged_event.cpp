#include "decode/tagged_event.h"

#include <string>

#include "decode/byte_reader.h"

namespace qorvex::decode {

bool IsSipaData(std::span<const std::uint8_t> data) noexcept {
    ByteReader reader(data);
    // The size is not checked: Windows writes trust points whose size runs past the event's
    // data, and the SIPA reader reports that.
    std::uint32_t type = 0, size = 0;
    if (!reader.U32(type) || !reader.U32(size)) return false;
    const std::uint32_t otherFlags = (type >> 24) & 0x3F;
    const std::uint32_t eventClass = (type >> 16) & 0xFF;
    return otherFlags == 0 && eventClass >= 0x01 && eventClass <= 0x0C;
}

TaggedEvent DecodeTaggedEvent(std::span<const std::uint8_t> data) {
    TaggedEvent event;
    ByteReader reader(data);
    event.headerRead = reader.U32(event.tagId) && reader.U32(event.dataSize);
    if (!event.headerRead) {
        event.malformed = Malformed{
            "a tagged event's header is 8 bytes; the data holds " + std::to_string(data.size()), 0,
            data};
        return event;
    }
    if (event.dataSize != reader.remaining()) {
        event.malformed = Malformed{"the tag's data says " + std::to_string(event.dataSize) +
                                        " bytes; " + std::to_string(reader.remaining()) + " follow",
                                    reader.offset(), data};
    }
    event.data = DecodeTextOrBytes(reader.Rest());
    return event;
}

Node Describe(const TaggedEvent& event) {
    Node node = Node::Object();
    if (event.headerRead) {
        const char* name = event.tagId == kLinuxInitrdTag        ? "Linux initrd"
                           : event.tagId == kLinuxLoadOptionsTag ? "Linux load options"
                                                                 : "";
        node.Add("tagId", Node::Hex(event.tagId, name))
            .Add("dataSize", Node::Number(event.dataSize));
        if (event.data.form == FreeFormData::Form::Text) {
            node.Add("text", Node::Text(event.data.text.text));
        } else {
            node.Add("data", Node::Bytes(event.data.bytes));
        }
    }
    node.AddMalformed(event.malformed ? &*event.malformed : nullptr);
    return node;
}

}  // namespace qorvex::decode
