// A small JSON reader for machine.json: the whole grammar of RFC 8259, values kept as a tree
// with the line and column where each starts, so that the loader can point at a wrong value.
// It never throws on bad input; it reports the first error with its position.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace winsim::detail::json {

struct Member;

struct Value {
    enum class Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Kind::Null;
    bool boolean = false;
    std::string text;  // String: the UTF-8 contents; Number: the literal as written
    std::vector<Value> items;
    std::vector<Member> members;  // in file order, names unique
    std::size_t line = 0;
    std::size_t column = 0;

    const Value* Find(std::string_view key) const;
};

struct Member {
    std::string name;
    Value value;
};

const char* KindName(Value::Kind kind);

struct Error {
    std::size_t line = 0;
    std::size_t column = 0;
    std::string message;
};

// Nesting deeper than this is refused rather than risking the stack.
inline constexpr std::size_t kMaxDepth = 64;

// Parses one JSON text (an optional UTF-8 byte order mark, one value, white space). Returns false
// and fills error on the first problem.
bool Parse(std::string_view text, Value& out, Error& error);

}  // namespace winsim::detail::json
