#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zv {

// Standard base64 (RFC 4648 section 4: A-Z a-z 0-9 + /), with its padding, and nothing else: no
// line breaks, blanks or URL-safe letters. Only the canonical text of some bytes is accepted (the
// bits a final group leaves over are zero), so every byte string has exactly one accepted text.
// Nothing for any other text.
std::optional<std::vector<std::uint8_t>> DecodeBase64(std::string_view text);

// The canonical text of bytes.
std::string EncodeBase64(const std::vector<std::uint8_t>& bytes);

}  // namespace zv
