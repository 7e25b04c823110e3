#include "cli/tcg_log_sipa.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/tcg_log_names.h"

namespace qorvex::host {

namespace {

constexpr std::size_t kHeaderSize = 8;

std::uint32_t Load32(const std::uint8_t* p) noexcept {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

decode::Node ValueNode(const SipaValue& value) {
    switch (value.kind) {
        case SipaValue::Kind::None:
            break;
        case SipaValue::Kind::Number:
            return decode::Node::Number(value.number);
        case SipaValue::Kind::HexNumber:
            return decode::Node::Hex(value.number);
        case SipaValue::Kind::Text:
            if (value.utf16) {
                std::u16string text(value.bytes.size() / 2, u'\0');
                for (std::size_t i = 0; i < text.size(); ++i) {
                    text[i] =
                        static_cast<char16_t>(value.bytes[2 * i] | value.bytes[2 * i + 1] << 8);
                }
                return decode::Node::Text(std::u16string_view(text));
            }
            return decode::Node::Text(std::string_view(
                reinterpret_cast<const char*>(value.bytes.data()), value.bytes.size()));
        case SipaValue::Kind::Bytes:
            break;
    }
    return decode::Node::Bytes(value.bytes);
}

// A container being filled: its list, its bytes, and how far they are read.
struct Open {
    decode::Node list = decode::Node::List();
    std::span<const std::uint8_t> bytes;
    std::size_t offset = 0;
    std::uint32_t type = 0;
    std::optional<decode::Malformed> cut;  // a container whose size runs past its parent
};

}  // namespace

decode::Node DescribeSipaData(std::span<const std::uint8_t> data) {
    // Containers nest as deep as the data says: kept on a stack, never recursed into.
    std::vector<Open> stack;
    stack.push_back(Open{decode::Node::List(), data, 0, 0, std::nullopt});
    for (;;) {
        Open& top = stack.back();
        if (top.offset >= top.bytes.size()) {
            if (stack.size() == 1) break;
            Open done = std::move(stack.back());
            stack.pop_back();
            decode::Node container = decode::Node::Object();
            container.Add("type", decode::Node::Hex(done.type, SipaEventTypeName(done.type)));
            container.Add("children", std::move(done.list));
            if (done.cut) container.AddMalformed(&*done.cut);
            stack.back().list.Push(std::move(container));
            continue;
        }
        const auto rest = top.bytes.subspan(top.offset);
        // Windows writes trust points whose container claims more than the event holds: what
        // it holds is still read, and the container says it was cut.
        if (rest.size() >= kHeaderSize && IsSipaContainer(Load32(rest.data())) &&
            Load32(rest.data() + 4) > rest.size() - kHeaderSize) {
            const std::uint32_t type = Load32(rest.data());
            decode::Malformed cut{"a SIPA container says it holds " +
                                      std::to_string(Load32(rest.data() + 4)) + " bytes; " +
                                      std::to_string(rest.size() - kHeaderSize) + " follow",
                                  top.offset, top.bytes};
            top.offset = top.bytes.size();
            stack.push_back(
                Open{decode::Node::List(), rest.subspan(kHeaderSize), 0, type, std::move(cut)});
            continue;
        }
        if (rest.size() < kHeaderSize || Load32(rest.data() + 4) > rest.size() - kHeaderSize) {
            const decode::Malformed fault{
                rest.size() < kHeaderSize
                    ? "a SIPA element's header is 8 bytes; " + std::to_string(rest.size()) +
                          " are left"
                    : "a SIPA element says it holds " + std::to_string(Load32(rest.data() + 4)) +
                          " bytes; " + std::to_string(rest.size() - kHeaderSize) + " follow",
                top.offset, top.bytes};
            decode::Node malformed = decode::Node::Object();
            malformed.AddMalformed(&fault);
            top.list.Push(std::move(malformed));
            top.offset = top.bytes.size();
            continue;
        }
        const std::uint32_t type = Load32(rest.data());
        const auto value = rest.subspan(kHeaderSize, Load32(rest.data() + 4));
        top.offset += kHeaderSize + value.size();
        if (IsSipaContainer(type)) {
            stack.push_back(Open{decode::Node::List(), value, 0, type, std::nullopt});
            continue;
        }
        decode::Node element = decode::Node::Object();
        element.Add("type", decode::Node::Hex(type, SipaEventTypeName(type)));
        element.Add("value", ValueNode(DecodeSipaValue(type, value)));
        top.list.Push(std::move(element));
    }
    decode::Node root = decode::Node::Object();
    root.Add("sipa", std::move(stack.front().list));
    return root;
}

}  // namespace qorvex::host
