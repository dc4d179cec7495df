#include "zvpublish/commands/terminal_text.h"

#include <cstdint>
#include <cstdio>
#include <optional>

namespace zv::publish {

namespace {

// The code point of the well-formed UTF-8 sequence at text[at] and its length (shortest form, no
// surrogates, at most U+10FFFF); nothing for anything else.
std::optional<char32_t> DecodeAt(std::string_view text, std::size_t at, std::size_t& length) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[at + i]); };
    const std::uint8_t lead = byte(0);
    char32_t point = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        point = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        point = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        point = lead & 0x07;
        minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (at + length > text.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        point = (point << 6) | (byte(i) & 0x3F);
    }
    if (point < minimum || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) {
        return std::nullopt;
    }
    return point;
}

bool ReordersText(char32_t point) {
    return point == 0x061C || point == 0x200E || point == 0x200F || (point >= 0x202A && point <= 0x202E) ||
           (point >= 0x2066 && point <= 0x2069);
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::size_t length = 1;
        const std::optional<char32_t> point = DecodeAt(text, at, length);
        char escaped[16];
        if (!point || *point < 0x20 || *point == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02X",
                          static_cast<unsigned>(static_cast<std::uint8_t>(text[at])));
            out += escaped;
            at += 1;
            continue;
        }
        if ((*point >= 0x80 && *point <= 0x9F) || ReordersText(*point)) {
            std::snprintf(escaped, sizeof escaped, "\\u{%04X}", static_cast<unsigned>(*point));
            out += escaped;
        } else {
            out.append(text.substr(at, length));
        }
        at += length;
    }
    return out;
}

}  // namespace zv::publish
