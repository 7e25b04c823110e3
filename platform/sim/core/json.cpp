#include "core/json.h"

#include <cstdint>
#include <unordered_set>

#include <utf/codec.h>

namespace winsim::detail::json {

const Value* Value::Find(std::string_view key) const {
    for (const auto& [name, value] : members)
        if (name == key) return &value;
    return nullptr;
}

const char* KindName(Value::Kind kind) {
    switch (kind) {
        case Value::Kind::Null:
            return "null";
        case Value::Kind::Bool:
            return "a boolean";
        case Value::Kind::Number:
            return "a number";
        case Value::Kind::String:
            return "a string";
        case Value::Kind::Array:
            return "an array";
        case Value::Kind::Object:
            return "an object";
    }
    return "a value";
}

namespace {

class Parser {
public:
    Parser(std::string_view text, Error& error) : m_text(text), m_error(error) {}

    bool ParseDocument(Value& out) {
        if (m_text.substr(0, 3) == "\xEF\xBB\xBF") m_pos = 3;
        SkipSpace();
        if (!ParseValue(out, 0)) return false;
        SkipSpace();
        if (m_pos != m_text.size()) return Fail("unexpected text after the JSON value");
        return true;
    }

private:
    bool Fail(std::string message) {
        if (m_failed) return false;
        m_failed = true;
        m_error.line = m_line;
        m_error.column = m_pos - m_lineStart + 1;
        m_error.message = std::move(message);
        return false;
    }

    bool AtEnd() const { return m_pos >= m_text.size(); }
    char Peek() const { return AtEnd() ? '\0' : m_text[m_pos]; }

    // Raw line breaks can only occur in white space (strings refuse control characters), so
    // lines are counted here alone.
    void SkipSpace() {
        while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
            if (Peek() == '\n') {
                ++m_line;
                m_lineStart = m_pos + 1;
            }
            ++m_pos;
        }
    }

    void Locate(Value& value) const {
        value.line = m_line;
        value.column = m_pos - m_lineStart + 1;
    }

    static std::string Describe(char c) {
        if (c == '\0') return "end of file";
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F)
            return "byte 0x" +
                   std::string(1, "0123456789abcdef"[(static_cast<unsigned char>(c) >> 4)]) +
                   std::string(1, "0123456789abcdef"[static_cast<unsigned char>(c) & 0xF]);
        return std::string("'") + c + "'";
    }

    bool ParseValue(Value& out, std::size_t depth) {
        if (depth >= kMaxDepth) return Fail("values nested too deeply");
        Locate(out);
        const char c = Peek();
        if (c == '{') return ParseObject(out, depth);
        if (c == '[') return ParseArray(out, depth);
        if (c == '"') {
            out.kind = Value::Kind::String;
            return ParseString(out.text);
        }
        if (c == '-' || (c >= '0' && c <= '9')) return ParseNumber(out);
        if (Literal("true")) {
            out.kind = Value::Kind::Bool;
            out.boolean = true;
            return true;
        }
        if (Literal("false")) {
            out.kind = Value::Kind::Bool;
            return true;
        }
        if (Literal("null")) {
            out.kind = Value::Kind::Null;
            return true;
        }
        return Fail("expected a value, found " + Describe(c));
    }

    bool Literal(std::string_view word) {
        if (m_text.substr(m_pos, word.size()) != word) return false;
        m_pos += word.size();
        return true;
    }

    bool ParseObject(Value& out, std::size_t depth) {
        out.kind = Value::Kind::Object;
        std::unordered_set<std::string> names;
        ++m_pos;  // '{'
        SkipSpace();
        if (Peek() == '}') {
            ++m_pos;
            return true;
        }
        for (;;) {
            SkipSpace();
            if (Peek() != '"')
                return Fail("expected a member name in double quotes, found " + Describe(Peek()));
            const std::size_t keyPos = m_pos;
            std::string key;
            if (!ParseString(key)) return false;
            if (!names.insert(key).second) {
                m_pos = keyPos;
                return Fail("duplicate member name \"" + key + "\"");
            }
            SkipSpace();
            if (Peek() != ':')
                return Fail("expected ':' after member name, found " + Describe(Peek()));
            ++m_pos;
            SkipSpace();
            Value value;
            if (!ParseValue(value, depth + 1)) return false;
            out.members.push_back(Member{std::move(key), std::move(value)});
            SkipSpace();
            if (Peek() == ',') {
                ++m_pos;
                continue;
            }
            if (Peek() == '}') {
                ++m_pos;
                return true;
            }
            return Fail("expected ',' or '}' after object member, found " + Describe(Peek()));
        }
    }

    bool ParseArray(Value& out, std::size_t depth) {
        out.kind = Value::Kind::Array;
        ++m_pos;  // '['
        SkipSpace();
        if (Peek() == ']') {
            ++m_pos;
            return true;
        }
        for (;;) {
            SkipSpace();
            Value item;
            if (!ParseValue(item, depth + 1)) return false;
            out.items.push_back(std::move(item));
            SkipSpace();
            if (Peek() == ',') {
                ++m_pos;
                continue;
            }
            if (Peek() == ']') {
                ++m_pos;
                return true;
            }
            return Fail("expected ',' or ']' after array element, found " + Describe(Peek()));
        }
    }

    bool Hex4(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = Peek();
            std::uint32_t digit = 0;
            if (c >= '0' && c <= '9')
                digit = static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                digit = static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                digit = static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return Fail("expected four hexadecimal digits after \\u");
            value = value * 16 + digit;
            ++m_pos;
        }
        return true;
    }

    bool ParseString(std::string& out) {
        ++m_pos;  // opening quote
        for (;;) {
            if (AtEnd()) return Fail("unterminated string");
            const char c = m_text[m_pos];
            if (c == '"') {
                ++m_pos;
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20)
                return Fail("control character " + Describe(c) + " in string (escape it)");
            if (c != '\\') {
                out += c;
                ++m_pos;
                continue;
            }
            ++m_pos;
            const char e = Peek();
            ++m_pos;
            switch (e) {
                case '"':
                    out += '"';
                    break;
                case '\\':
                    out += '\\';
                    break;
                case '/':
                    out += '/';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'n':
                    out += '\n';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'u': {
                    std::uint32_t cp = 0;
                    if (!Hex4(cp)) return false;
                    if (cp >= 0xD800 && cp <= 0xDBFF) {
                        std::uint32_t low = 0;
                        if (!Literal("\\u"))
                            return Fail("high surrogate escape without its low surrogate");
                        if (!Hex4(low)) return false;
                        if (low < 0xDC00 || low > 0xDFFF)
                            return Fail("high surrogate escape without its low surrogate");
                        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                        return Fail("low surrogate escape without a high surrogate");
                    }
                    utf::AppendUtf8(out, cp);
                    break;
                }
                default:
                    --m_pos;
                    return Fail("invalid escape " + Describe(e) + " in string");
            }
        }
    }

    bool Digits() {
        const std::size_t start = m_pos;
        while (Peek() >= '0' && Peek() <= '9') ++m_pos;
        return m_pos > start;
    }

    bool ParseNumber(Value& out) {
        out.kind = Value::Kind::Number;
        const std::size_t start = m_pos;
        if (Peek() == '-') ++m_pos;
        if (Peek() == '0') {
            ++m_pos;
        } else if (!Digits()) {
            return Fail("expected a digit");
        }
        if (Peek() == '.') {
            ++m_pos;
            if (!Digits()) return Fail("expected a digit after the decimal point");
        }
        if (Peek() == 'e' || Peek() == 'E') {
            ++m_pos;
            if (Peek() == '+' || Peek() == '-') ++m_pos;
            if (!Digits()) return Fail("expected a digit in the exponent");
        }
        if (Peek() >= '0' && Peek() <= '9') return Fail("leading zeros are not allowed");
        out.text.assign(m_text.substr(start, m_pos - start));
        return true;
    }

    std::string_view m_text;
    Error& m_error;
    std::size_t m_pos = 0;
    std::size_t m_line = 1;       // columns count bytes from 1
    std::size_t m_lineStart = 0;  // offset of the current line's first byte
    bool m_failed = false;
};

}  // namespace

bool Parse(std::string_view text, Value& out, Error& error) {
    out = Value{};
    Parser parser(text, error);
    return parser.ParseDocument(out);
}

}  // namespace winsim::detail::json
