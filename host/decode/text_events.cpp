#include "decode/text_events.h"

#include <algorithm>

#include "decode/byte_reader.h"
#include "utf/codec.h"

namespace qorvex::decode {

namespace {

bool IsTextControl(char32_t c) noexcept {
    if (c == U'\t' || c == U'\n' || c == U'\r') return false;
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// The length of the well-formed UTF-8 sequence at text[i], or 0.
std::size_t Utf8SequenceAt(std::span<const std::uint8_t> text, std::size_t i, char32_t& c) {
    const std::uint8_t lead = text[i];
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        c = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        c = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t next = text[i + k];
        if ((next & 0xC0) != 0x80) return 0;
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || utf::IsSurrogate(c)) return 0;
    return length;
}

Node TextNode(const EventText& text) {
    return Node::Text(text.text);
}

}  // namespace

std::optional<EventText> ReadNarrowText(std::span<const std::uint8_t> bytes) {
    std::size_t end = bytes.size();
    while (end > 0 && bytes[end - 1] == 0) --end;
    // Only an empty string or a lone terminator is empty text; zero filler is not text.
    if (end == 0 && bytes.size() > 1) return std::nullopt;
    const auto text = bytes.first(end);
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        const std::size_t length = Utf8SequenceAt(text, i, c);
        if (length == 0 || IsTextControl(c)) return std::nullopt;
        i += length;
    }
    return EventText{TextEncoding::Narrow, std::string(text.begin(), text.end())};
}

std::optional<EventText> ReadUtf16Text(std::span<const std::uint8_t> bytes) {
    if (bytes.size() % 2 != 0) return std::nullopt;
    std::u16string units(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    while (!units.empty() && units.back() == 0) units.pop_back();
    if (units.empty() && bytes.size() > 2) return std::nullopt;
    for (std::size_t i = 0; i < units.size();) {
        const char32_t c = utf::NextCodePoint(units.data(), units.size(), i);
        if (utf::IsSurrogate(c) || IsTextControl(c) || c == 0xFFFE || c == 0xFFFF) {
            return std::nullopt;
        }
    }
    return EventText{TextEncoding::Utf16, utf::ToUtf8(units)};
}

std::optional<EventText> ReadAnyText(std::span<const std::uint8_t> bytes) {
    // UTF-16 only when most of its units are ASCII: two bytes of binary data nearly always make
    // a printable UTF-16 unit, so UTF-16 of other scripts cannot be told from binary data.
    if (bytes.size() % 2 == 0 && !bytes.empty()) {
        std::size_t units = 0, ascii = 0;
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
            if (bytes[i] == 0 && bytes[i + 1] == 0) continue;
            ++units;
            if (bytes[i + 1] == 0 && bytes[i] < 0x80) ++ascii;
        }
        if (2 * ascii >= units) {
            if (auto text = ReadUtf16Text(bytes)) return text;
        }
    }
    return ReadNarrowText(bytes);
}

FirmwareBlob DecodeFirmwareBlob(std::span<const std::uint8_t> data) {
    FirmwareBlob blob;
    ByteReader reader(data);
    blob.located = reader.U64(blob.base) && reader.U64(blob.length);
    if (!blob.located) {
        blob.malformed = Malformed{"a firmware blob is 16 bytes (base, length); the data holds " +
                                       std::to_string(data.size()),
                                   reader.offset(), data};
    } else if (!reader.AtEnd()) {
        blob.malformed = Malformed{
            std::to_string(reader.remaining()) + " bytes follow the firmware blob's length",
            reader.offset(), data};
    }
    return blob;
}

FirmwareBlob DecodeFirmwareBlob2(std::span<const std::uint8_t> data) {
    FirmwareBlob blob;
    ByteReader reader(data);
    std::uint8_t size = 0;
    std::span<const std::uint8_t> description;
    if (!reader.U8(size) || !reader.Take(size, description)) {
        blob.malformed = Malformed{"the blob description is cut short", reader.offset(), data};
        return blob;
    }
    const auto text = ReadNarrowText(description);
    blob.description = text ? text->text : std::string(description.begin(), description.end());
    blob.located = reader.U64(blob.base) && reader.U64(blob.length);
    if (!blob.located) {
        blob.malformed =
            Malformed{"the blob's base and length are cut short", reader.offset(), data};
    } else if (!reader.AtEnd()) {
        blob.malformed = Malformed{
            std::to_string(reader.remaining()) + " bytes follow the firmware blob's length",
            reader.offset(), data};
    }
    return blob;
}

Node Describe(const FirmwareBlob& blob) {
    Node node = Node::Object();
    if (blob.description) node.Add("description", Node::Text(*blob.description));
    if (blob.located) {
        node.Add("base", Node::Hex(blob.base)).Add("length", Node::Number(blob.length));
    }
    node.AddMalformed(blob.malformed ? &*blob.malformed : nullptr);
    return node;
}

FreeFormData DecodeTextOrBytes(std::span<const std::uint8_t> data) {
    FreeFormData result;
    result.bytes = data;
    if (!data.empty()) {
        if (auto text = ReadAnyText(data)) {
            result.form = FreeFormData::Form::Text;
            result.text = std::move(*text);
        }
    }
    return result;
}

FreeFormData DecodeScrtmVersion(std::span<const std::uint8_t> data) {
    FreeFormData result;
    result.bytes = data;
    if (auto text = ReadAnyText(data)) {
        result.form = FreeFormData::Form::Text;
        result.text = std::move(*text);
    } else if (data.size() == 16) {
        result.form = FreeFormData::Form::Guid;
        result.guid = GuidAt(data);
    }
    return result;
}

FreeFormData DecodePostCode(std::span<const std::uint8_t> data) {
    FreeFormData result;
    result.bytes = data;
    auto text = data.empty() ? std::nullopt : ReadAnyText(data);
    if (data.size() == 16 && !text) {
        result.form = FreeFormData::Form::FirmwareBlob;
        result.blob = DecodeFirmwareBlob(data);
    } else if (text) {
        result.form = FreeFormData::Form::Text;
        result.text = std::move(*text);
    }
    return result;
}

Node Describe(const FreeFormData& data) {
    switch (data.form) {
        case FreeFormData::Form::Text:
            return std::move(Node::Object().Add("text", TextNode(data.text)));
        case FreeFormData::Form::Guid:
            return std::move(Node::Object().Add("guid", Node::GuidValue(data.guid)));
        case FreeFormData::Form::FirmwareBlob:
            return Describe(data.blob);
        case FreeFormData::Form::Bytes:
            break;
    }
    return std::move(Node::Object().Add("data", Node::Bytes(data.bytes)));
}

ActionText DecodeAction(std::span<const std::uint8_t> data) {
    ActionText action;
    if (auto text = ReadAnyText(data)) {
        action.text = std::move(text->text);
    } else {
        action.malformed = Malformed{"the action is not text", 0, data};
    }
    return action;
}

Node Describe(const ActionText& action) {
    Node node = Node::Object();
    if (!action.malformed) node.Add("text", Node::Text(action.text));
    node.AddMalformed(action.malformed ? &*action.malformed : nullptr);
    return node;
}

namespace {

HandoffTables ReadTables(ByteReader& reader, std::span<const std::uint8_t> data,
                         HandoffTables tables) {
    if (!reader.U64(tables.numberOfTables)) {
        tables.malformed = Malformed{"the table count is cut short", reader.offset(), data};
        return tables;
    }
    constexpr std::size_t kEntrySize = 24;  // vendor GUID and table address
    if (tables.numberOfTables > reader.remaining() / kEntrySize) {
        tables.malformed =
            Malformed{"the data says " + std::to_string(tables.numberOfTables) +
                          " tables but holds " + std::to_string(reader.remaining() / kEntrySize),
                      reader.offset(), data};
    }
    const std::uint64_t present =
        std::min<std::uint64_t>(tables.numberOfTables, reader.remaining() / kEntrySize);
    for (std::uint64_t i = 0; i < present; ++i) {
        ConfigurationTable table;
        reader.ReadGuid(table.vendor);
        reader.U64(table.address);
        tables.tables.push_back(table);
    }
    if (!tables.malformed && !reader.AtEnd()) {
        tables.malformed =
            Malformed{std::to_string(reader.remaining()) + " bytes follow the last table",
                      reader.offset(), data};
    }
    return tables;
}

}  // namespace

HandoffTables DecodeHandoffTables(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    return ReadTables(reader, data, HandoffTables{});
}

HandoffTables DecodeHandoffTables2(std::span<const std::uint8_t> data) {
    ByteReader reader(data);
    HandoffTables tables;
    std::uint8_t size = 0;
    std::span<const std::uint8_t> description;
    if (!reader.U8(size) || !reader.Take(size, description)) {
        tables.malformed = Malformed{"the table description is cut short", reader.offset(), data};
        return tables;
    }
    const auto text = ReadNarrowText(description);
    tables.description = text ? text->text : std::string(description.begin(), description.end());
    return ReadTables(reader, data, std::move(tables));
}

Node Describe(const HandoffTables& tables) {
    Node node = Node::Object();
    if (tables.description) node.Add("description", Node::Text(*tables.description));
    node.Add("numberOfTables", Node::Number(tables.numberOfTables));
    Node list = Node::List();
    for (const ConfigurationTable& table : tables.tables) {
        list.Push(std::move(Node::Object()
                                .Add("guid", Node::GuidValue(table.vendor))
                                .Add("address", Node::Hex(table.address))));
    }
    node.Add("tables", std::move(list));
    node.AddMalformed(tables.malformed ? &*tables.malformed : nullptr);
    return node;
}

Separator DecodeSeparator(std::span<const std::uint8_t> data) {
    Separator separator;
    separator.data = data;
    ByteReader reader(data);
    std::uint32_t value = 0;
    if (data.size() == 4 && reader.U32(value)) {
        separator.value = value;
        separator.isError = value == kSeparatorErrorValue;
    }
    return separator;
}

Node Describe(const Separator& separator) {
    Node node = Node::Object();
    if (!separator.value) {
        node.Add("data", Node::Bytes(separator.data));
        return node;
    }
    // Windows writes "WBCL" as the separator of its boot configuration log.
    const std::uint32_t value = *separator.value;
    std::string label;
    for (int i = 0; i < 4; ++i) {
        const auto c = static_cast<char>((value >> (8 * i)) & 0xFF);
        if (c < 0x21 || c > 0x7E) {
            label.clear();
            break;
        }
        label += c;
    }
    node.Add("value", Node::Hex(value, label)).Add("error", Node::Bool(separator.isError));
    return node;
}

}  // namespace qorvex::decode
