#include "common/version.h"

namespace zv {

std::optional<Version> ParseVersion(std::string_view text) {
    Version version;
    std::size_t at = 0;
    for (std::size_t part = 0; part < version.parts.size(); ++part) {
        if (part != 0) {
            if (at >= text.size() || text[at] != '.') {
                return std::nullopt;
            }
            ++at;
        }
        std::uint32_t value = 0;
        std::size_t digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            if (++digits > 5) {
                return std::nullopt;
            }
            value = value * 10 + static_cast<std::uint32_t>(text[at] - '0');
            ++at;
        }
        if (digits == 0 || value > 0xFFFF) {
            return std::nullopt;
        }
        version.parts[part] = static_cast<std::uint16_t>(value);
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    return version;
}

std::string FormatVersion(const Version& version) {
    std::string text;
    for (std::size_t part = 0; part < version.parts.size(); ++part) {
        if (part != 0) {
            text += '.';
        }
        text += std::to_string(version.parts[part]);
    }
    return text;
}

}  // namespace zv
