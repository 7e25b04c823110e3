// The one shape every decoded event takes for printing: a tree of named fields holding numbers,
// hex numbers, booleans, text, GUIDs, byte strings, lists and nested objects. Each decoder turns
// its typed value into such a tree, so the text, JSON and CEL writers, `diff` and the health
// report print and compare any event alike without knowing its kind.
//
// Text is kept as UTF-8 (anything else becomes U+FFFD when the node is made). A scalar may carry
// a label, the symbolic name of its value ("EFI_CERT_X509_GUID" for a GUID, "on" for a switch);
// text shows it in parentheses after the value, JSON as a sibling member named after the field
// with "Name" appended ("type" and "typeName").
//
// A structure that could not be read whole is described by what was read before the fault and a
// "malformed" member: {"reason": ..., "offset": ..., "bytes": ...}, the bytes being those of the
// whole structure. FindMalformed lists them wherever they sit in a tree.
//
// Trees may nest deeply (SIPA containers nest as deep as a log says); building, rendering,
// searching and destroying them never recurse.
//
// Threading: a Node is a plain value; concurrent reads of one tree are safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "decode/guid.h"

namespace qorvex::decode {

// Why a structure could not be read whole.
struct Malformed {
    std::string reason;
    std::size_t offset = 0;               // where the fault was found, from the start of bytes
    std::span<const std::uint8_t> bytes;  // the whole structure being read; points into the input
};

class Node {
public:
    enum class Kind : std::uint8_t { Object, List, Number, HexNumber, Bool, Text, Guid, Bytes };

    static Node Object();
    static Node List();
    static Node Number(std::uint64_t value, std::string label = {});
    static Node Hex(std::uint64_t value, std::string label = {});
    static Node Bool(bool value);
    static Node Text(std::string_view utf8);
    static Node Text(std::u16string_view utf16);
    // Labelled with its name when it is a well-known GUID.
    static Node GuidValue(const Guid& guid);
    static Node Bytes(std::span<const std::uint8_t> bytes);
    static Node Describe(const Malformed& malformed);

    Node(Node&& other) noexcept = default;
    Node& operator=(Node&& other) noexcept = default;
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    ~Node();

    // Appends a member to an object (returns the object).
    Node& Add(std::string name, Node value);
    // Appends an item to a list (returns the list).
    Node& Push(Node item);
    // Adds the "malformed" member to an object when there is a fault to report.
    Node& AddMalformed(const Malformed* malformed);

    Kind kind() const noexcept { return m_kind; }
    bool IsContainer() const noexcept { return m_kind == Kind::Object || m_kind == Kind::List; }
    const std::string& name() const noexcept { return m_name; }
    const std::string& label() const noexcept { return m_label; }
    std::uint64_t number() const noexcept { return m_number; }  // Number, HexNumber, Bool
    const std::string& text() const noexcept { return m_text; }
    const Guid& guid() const noexcept { return m_guid; }
    std::span<const std::uint8_t> bytes() const noexcept { return m_bytes; }
    std::span<const Node> children() const noexcept { return m_children; }
    // The member of an object with this name, or nullptr.
    const Node* Find(std::string_view name) const noexcept;

private:
    explicit Node(Kind kind) noexcept : m_kind(kind) {}

    Kind m_kind;
    std::string m_name;
    std::string m_label;
    std::uint64_t m_number = 0;
    std::string m_text;
    Guid m_guid;
    std::vector<std::uint8_t> m_bytes;
    std::vector<Node> m_children;
};

// The tree as indented lines ("name: value", objects as "name:" with their members two spaces
// deeper, list items as "- ..."), each line starting with `indent` spaces. Byte strings show their
// first 64 bytes in hex; control characters in text are escaped, so every line stays one line.
void AppendText(std::string& out, const Node& tree, std::size_t indent = 0);
std::string ToText(const Node& tree, std::size_t indent = 0);

// The tree as one line of JSON in the style of qorvex-host's documents ({"a": 1, "b": [...]}):
// numbers as JSON numbers, hex numbers as "0x..." strings, GUIDs and text as strings, byte
// strings as lower-case hex strings, labels as "<field>Name" members (a labelled list item
// becomes {"value": ..., "name": ...}).
void AppendJson(std::string& out, const Node& tree);
std::string ToJson(const Node& tree);

// Every "malformed" object in the tree, in document order.
std::vector<const Node*> FindMalformed(const Node& tree);

}  // namespace qorvex::decode
