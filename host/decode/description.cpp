#include "decode/description.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <utility>

#include "cli/json_text.h"
#include "digest/digest.h"
#include "utf/codec.h"

namespace qorvex::decode {

namespace {

// Text lines never grow with nesting beyond this indent; deeper lines name their depth.
constexpr std::size_t kMaxTextIndentLevels = 16;
// Text lines show at most this many bytes of a byte string.
constexpr std::size_t kMaxTextBytes = 64;

constexpr char kHexDigits[] = "0123456789abcdef";

std::string HexText(std::uint64_t value) {
    char digits[16];
    std::size_t count = 0;
    do {
        digits[count++] = kHexDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    std::string text = "0x";
    while (count > 0) text += digits[--count];
    return text;
}

// A JSON string of text that needs no escaping (the member names, most values) is written as
// it is; anything else goes through the host's JSON string writer.
void AppendJsonString(std::string& out, std::string_view text) {
    const bool plain = std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\';
    });
    if (!plain) {
        out += host::JsonString(text);
        return;
    }
    out += '"';
    out += text;
    out += '"';
}

// Text made printable on one line: control characters escaped, the rest as it is (Windows
// paths keep their single backslashes).
void AppendEscapedText(std::string& out, std::string_view text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7F) {
            out += c;
            continue;
        }
        switch (c) {
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(byte));
                out += escape;
            }
        }
    }
}

void AppendTextScalar(std::string& out, const Node& node) {
    switch (node.kind()) {
        case Node::Kind::Number:
            out += std::to_string(node.number());
            break;
        case Node::Kind::HexNumber:
            out += HexText(node.number());
            break;
        case Node::Kind::Bool:
            out += node.number() != 0 ? "true" : "false";
            break;
        case Node::Kind::Text:
            if (node.text().empty()) {
                out += "\"\"";
            } else {
                AppendEscapedText(out, node.text());
            }
            break;
        case Node::Kind::Guid:
            out += GuidText(node.guid());
            break;
        case Node::Kind::Bytes: {
            const auto bytes = node.bytes();
            if (bytes.empty()) {
                out += "(empty)";
                break;
            }
            const std::size_t shown = std::min(bytes.size(), kMaxTextBytes);
            out += digest::ToHex(bytes.first(shown));
            if (shown < bytes.size()) out += "... (" + std::to_string(bytes.size()) + " bytes)";
            break;
        }
        case Node::Kind::Object:
        case Node::Kind::List:
            break;
    }
    if (!node.label().empty()) {
        out += " (";
        AppendEscapedText(out, node.label());
        out += ')';
    }
}

void AppendJsonScalar(std::string& out, const Node& node) {
    switch (node.kind()) {
        case Node::Kind::Number:
            out += std::to_string(node.number());
            break;
        case Node::Kind::HexNumber:
            out += '"';
            out += HexText(node.number());
            out += '"';
            break;
        case Node::Kind::Bool:
            out += node.number() != 0 ? "true" : "false";
            break;
        case Node::Kind::Text:
            AppendJsonString(out, node.text());
            break;
        case Node::Kind::Guid:
            out += '"';
            out += GuidText(node.guid());
            out += '"';
            break;
        case Node::Kind::Bytes:
            // Appended in place: certificates and SIPA trees run to kilobytes.
            out += '"';
            out += digest::ToHex(node.bytes());
            out += '"';
            break;
        case Node::Kind::Object:
        case Node::Kind::List:
            break;
    }
}

bool AllScalars(const Node& list) noexcept {
    return std::none_of(list.children().begin(), list.children().end(),
                        [](const Node& item) { return item.IsContainer(); });
}

std::string ValidUtf8(std::string_view text) {
    const bool ascii = std::all_of(text.begin(), text.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) return std::string(text);
    return utf::ToUtf8(utf::ToUtf16(text));
}

}  // namespace

Node Node::Object() {
    return Node(Kind::Object);
}

Node Node::List() {
    return Node(Kind::List);
}

Node Node::Number(std::uint64_t value, std::string label) {
    Node node(Kind::Number);
    node.m_number = value;
    node.m_label = ValidUtf8(label);
    return node;
}

Node Node::Hex(std::uint64_t value, std::string label) {
    Node node(Kind::HexNumber);
    node.m_number = value;
    node.m_label = ValidUtf8(label);
    return node;
}

Node Node::Bool(bool value) {
    Node node(Kind::Bool);
    node.m_number = value ? 1 : 0;
    return node;
}

Node Node::Text(std::string_view utf8) {
    Node node(Kind::Text);
    node.m_text = ValidUtf8(utf8);
    return node;
}

Node Node::Text(std::u16string_view utf16) {
    Node node(Kind::Text);
    node.m_text = utf::ToUtf8(utf16);
    return node;
}

Node Node::GuidValue(const Guid& guid) {
    Node node(Kind::Guid);
    node.m_guid = guid;
    if (const char* name = KnownGuidName(guid)) node.m_label = name;
    return node;
}

Node Node::Bytes(std::span<const std::uint8_t> bytes) {
    Node node(Kind::Bytes);
    node.m_bytes.assign(bytes.begin(), bytes.end());
    return node;
}

Node Node::Describe(const Malformed& malformed) {
    Node node = Object();
    node.Add("reason", Text(malformed.reason))
        .Add("offset", Number(malformed.offset))
        .Add("bytes", Bytes(malformed.bytes));
    return node;
}

Node::~Node() {
    // Children without children of their own are destroyed without any nesting to undo.
    const bool flat = std::all_of(m_children.begin(), m_children.end(),
                                  [](const Node& child) { return child.m_children.empty(); });
    if (flat) return;
    // Descendants are taken out one level at a time so that no destructor call nests; a tree
    // of any depth is destroyed on a flat stack. Should memory run out for that list, what is
    // left is destroyed the ordinary way.
    try {
        std::vector<Node> pending = std::move(m_children);
        while (!pending.empty()) {
            Node last = std::move(pending.back());
            pending.pop_back();
            for (Node& child : last.m_children) pending.push_back(std::move(child));
            last.m_children.clear();
        }
    } catch (const std::bad_alloc&) {
    }
}

Node& Node::Add(std::string name, Node value) {
    value.m_name = std::move(name);
    m_children.push_back(std::move(value));
    return *this;
}

Node& Node::Push(Node item) {
    item.m_name.clear();
    m_children.push_back(std::move(item));
    return *this;
}

Node& Node::AddMalformed(const Malformed* malformed) {
    if (malformed != nullptr) Add("malformed", Describe(*malformed));
    return *this;
}

const Node* Node::Find(std::string_view name) const noexcept {
    if (m_kind != Kind::Object) return nullptr;
    for (const Node& child : m_children) {
        if (child.m_name == name) return &child;
    }
    return nullptr;
}

void AppendText(std::string& out, const Node& tree, std::size_t indent) {
    struct Frame {
        const Node* node;
        std::size_t next;
        std::size_t depth;  // of the lines its children start
        bool dashPending;   // an object in a list: its first member goes on the "- " line
    };
    // column: the nesting level the line starts at; dash: the line is a list item's first.
    const auto lineStart = [&](std::size_t column, bool dash) {
        out.append(indent + 2 * std::min(column, kMaxTextIndentLevels), ' ');
        if (dash) out += "- ";
        if (column > kMaxTextIndentLevels) out += "(depth " + std::to_string(column) + ") ";
    };
    const auto inlineList = [&](const Node& list) {
        if (list.children().empty()) {
            out += "[]";
            return;
        }
        bool first = true;
        for (const Node& item : list.children()) {
            if (!first) out += ", ";
            first = false;
            AppendTextScalar(out, item);
        }
    };

    if (!tree.IsContainer()) {
        out.append(indent, ' ');
        AppendTextScalar(out, tree);
        out += '\n';
        return;
    }
    if (tree.kind() == Node::Kind::List && AllScalars(tree)) {
        out.append(indent, ' ');
        inlineList(tree);
        out += '\n';
        return;
    }
    if (tree.children().empty()) {
        out.append(indent, ' ');
        out += "{}\n";
        return;
    }
    std::vector<Frame> stack;
    stack.push_back({&tree, 0, 0, false});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const auto children = frame.node->children();
        if (frame.next == children.size()) {
            stack.pop_back();
            continue;
        }
        const Node& child = children[frame.next++];
        const bool inList = frame.node->kind() == Node::Kind::List;
        const std::size_t depth = frame.depth;
        std::size_t column = depth;
        bool dash = inList;
        if (frame.dashPending) {
            // The item's "- " sits one level out, so its members line up after it.
            dash = true;
            column = depth - 1;
            frame.dashPending = false;
        }
        const bool emptyContainer = child.IsContainer() && child.children().empty();
        const bool scalarList = child.kind() == Node::Kind::List && AllScalars(child);
        if (inList && child.kind() == Node::Kind::Object && !emptyContainer) {
            // Its first member goes on this item's "- " line.
            stack.push_back({&child, 0, depth + 1, true});
            continue;
        }
        // A list in a list gets a bare "-" line of its own, its items below it.
        const bool listInList =
            inList && child.kind() == Node::Kind::List && !emptyContainer && !scalarList;
        lineStart(column, dash && !listInList);
        if (!inList) {
            out += child.name();
            out += ':';
        }
        if (!child.IsContainer()) {
            if (!inList) out += ' ';
            AppendTextScalar(out, child);
            out += '\n';
        } else if (emptyContainer || scalarList) {
            if (!inList) out += ' ';
            if (child.kind() == Node::Kind::Object) {
                out += "{}";
            } else {
                inlineList(child);
            }
            out += '\n';
        } else {
            if (listInList) out += '-';
            out += '\n';
            stack.push_back({&child, 0, depth + 1, false});
        }
    }
}

std::string ToText(const Node& tree, std::size_t indent) {
    std::string out;
    AppendText(out, tree, indent);
    return out;
}

void AppendJson(std::string& out, const Node& tree) {
    struct Frame {
        const Node* node;
        std::size_t next;
    };
    if (!tree.IsContainer()) {
        AppendJsonScalar(out, tree);
        return;
    }
    std::vector<Frame> stack;
    out += tree.kind() == Node::Kind::Object ? '{' : '[';
    stack.push_back({&tree, 0});
    while (!stack.empty()) {
        Frame& frame = stack.back();
        const auto children = frame.node->children();
        const bool inObject = frame.node->kind() == Node::Kind::Object;
        if (frame.next == children.size()) {
            out += inObject ? '}' : ']';
            stack.pop_back();
            continue;
        }
        const Node& child = children[frame.next++];
        if (frame.next > 1) out += ", ";
        if (inObject) {
            AppendJsonString(out, child.name());
            out += ": ";
        }
        if (child.IsContainer()) {
            out += child.kind() == Node::Kind::Object ? '{' : '[';
            stack.push_back({&child, 0});  // frame is not used after this
            continue;
        }
        if (child.label().empty()) {
            AppendJsonScalar(out, child);
        } else if (inObject) {
            AppendJsonScalar(out, child);
            out += ", ";
            AppendJsonString(out, child.name() + "Name");
            out += ": ";
            AppendJsonString(out, child.label());
        } else {
            out += "{\"value\": ";
            AppendJsonScalar(out, child);
            out += ", \"name\": ";
            AppendJsonString(out, child.label());
            out += '}';
        }
    }
}

std::string ToJson(const Node& tree) {
    std::string out;
    AppendJson(out, tree);
    return out;
}

std::vector<const Node*> FindMalformed(const Node& tree) {
    std::vector<const Node*> found;
    std::vector<const Node*> pending{&tree};
    while (!pending.empty()) {
        const Node* node = pending.back();
        pending.pop_back();
        if (node->kind() == Node::Kind::Object && node->name() == "malformed") {
            found.push_back(node);
            continue;
        }
        const auto children = node->children();
        for (std::size_t i = children.size(); i > 0; --i) pending.push_back(&children[i - 1]);
    }
    return found;
}

}  // namespace qorvex::decode
