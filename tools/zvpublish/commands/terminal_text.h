#pragma once

// Text from outside (paths, manifest members, file names, a parser's words about them) on its way to
// a terminal. A terminal takes control characters as commands: a manifest whose "url" held an escape
// sequence could rewrite what the operator sees, or a line break could forge a line of output.

#include <string>
#include <string_view>

namespace zv::publish {

// text (UTF-8) with everything a terminal could act on written out instead: each byte from 0x00 to
// 0x1F, 0x7F (DEL) and each byte that is not part of well-formed UTF-8 as \xNN; the C1 controls
// (U+0080 to U+009F) and the characters that reorder text on display (U+061C, U+200E, U+200F,
// U+202A to U+202E, U+2066 to U+2069) as \u{NNNN}, in upper-case hexadecimal. Everything else,
// backslashes included, stays as it is.
std::string EscapeForTerminal(std::string_view text);

}  // namespace zv::publish
