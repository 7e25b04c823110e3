#include "cli/json_text.h"

#include <cstdio>

#include "utf/codec.h"

namespace qorvex::host {

namespace {

void AppendJsonEscaped(std::string& json, char32_t c) {
    switch (c) {
        case U'"':
            json += "\\\"";
            return;
        case U'\\':
            json += "\\\\";
            return;
        case U'\n':
            json += "\\n";
            return;
        case U'\r':
            json += "\\r";
            return;
        case U'\t':
            json += "\\t";
            return;
        default:
            break;
    }
    if (c < 0x20 || utf::IsSurrogate(c)) {
        char escape[8];
        std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
        json += escape;
    } else {
        utf::AppendUtf8(json, c);
    }
}

}  // namespace

std::string JsonString(std::u16string_view text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();)
        AppendJsonEscaped(json, utf::NextCodePoint(text.data(), text.size(), i));
    json += '"';
    return json;
}

std::string JsonString(std::string_view text) {
    return JsonString(utf::ToUtf16(text));
}

}  // namespace qorvex::host
