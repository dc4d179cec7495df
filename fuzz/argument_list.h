#pragma once

// The argument lists of the quoting targets, taken from raw fuzz input: arguments are separated by
// zero bytes (a Windows command line cannot hold U+0000), and each other byte is one character,
// U+0001 to U+00FF. Every character the quoting and the interpreter rules treat apart is ASCII;
// the rest are treated alike, so the Latin-1 range stands for them all.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zv::fuzz {

inline std::vector<std::wstring> DecodeArguments(const std::uint8_t* data, std::size_t size) {
    std::vector<std::wstring> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back().push_back(static_cast<wchar_t>(data[i]));
        }
    }
    return arguments;
}

// What splitting a command line that ends in the joined arguments gives back for them: empty
// arguments add nothing to the text, so they do not come back.
inline std::vector<std::wstring> WithoutEmpty(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> kept;
    for (const auto& a : arguments) {
        if (!a.empty()) {
            kept.push_back(a);
        }
    }
    return kept;
}

// A launcher path with a blank in it, as the command line's program name.
inline const std::wstring kProgram = L"C:\\Launcher Dir\\Foo_ZV.exe";

}  // namespace zv::fuzz
