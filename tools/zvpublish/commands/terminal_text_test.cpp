#include "zvpublish/commands/terminal_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(EscapeForTerminal, WritesOutWhatATerminalWouldActOn) {
    const std::pair<std::string, std::string> cases[] = {
        {"https://cdn.example.com/a b/ZVClient.dll", "https://cdn.example.com/a b/ZVClient.dll"},
        {"C:\\tree\\stub", "C:\\tree\\stub"},
        {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xAE"},
        {"a\x1B[2Jb", "a\\x1B[2Jb"},
        {"line\nforged: ok\r\t", "line\\x0Aforged: ok\\x0D\\x09"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"del\x7F", "del\\x7F"},
        {"c1 \xC2\x9B"
         "31m",
         "c1 \\u{009B}31m"},
        {"bidi \xE2\x80\xAE"
         "exe.txt",
         "bidi \\u{202E}exe.txt"},
        {"isolate \xE2\x81\xA6x\xE2\x81\xA9", "isolate \\u{2066}x\\u{2069}"},
        // Bytes that are not UTF-8: a lone continuation, an overlong form, a surrogate, a cut sequence.
        {"a\x80z", "a\\x80z"},
        {"\xC0\xAF", "\\xC0\\xAF"},
        {"\xED\xA0\x80", "\\xED\\xA0\\x80"},
        {"cut \xE2\x82", "cut \\xE2\\x82"},
    };
    for (const auto& [text, shown] : cases) {
        EXPECT_EQ(zv::publish::EscapeForTerminal(text), shown) << shown;
    }
}

}  // namespace
