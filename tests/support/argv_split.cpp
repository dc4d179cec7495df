#include "argv_split.h"

#include <cstddef>

namespace zv::test {

namespace {

bool IsBlank(wchar_t ch) { return ch == L' ' || ch == L'\t'; }

}  // namespace

std::vector<std::wstring> SplitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> result;
    std::size_t i = 0;

    std::wstring program;
    if (i < line.size() && line[i] == L'"') {
        ++i;
        while (i < line.size() && line[i] != L'"') {
            program.push_back(line[i++]);
        }
        if (i < line.size()) {
            ++i;
        }
    } else {
        while (i < line.size() && !IsBlank(line[i])) {
            program.push_back(line[i++]);
        }
    }
    result.push_back(program);

    for (;;) {
        while (i < line.size() && IsBlank(line[i])) {
            ++i;
        }
        if (i >= line.size()) {
            break;
        }
        std::wstring argument;
        bool quoted = false;
        std::size_t backslashes = 0;
        for (; i < line.size(); ++i) {
            const wchar_t ch = line[i];
            if (ch == L'\\') {
                ++backslashes;
                continue;
            }
            if (ch == L'"') {
                argument.append(backslashes / 2, L'\\');
                if (backslashes % 2 == 1) {
                    argument.push_back(L'"');
                } else if (quoted && i + 1 < line.size() && line[i + 1] == L'"') {
                    argument.push_back(L'"');
                    ++i;
                } else {
                    quoted = !quoted;
                }
                backslashes = 0;
                continue;
            }
            argument.append(backslashes, L'\\');
            backslashes = 0;
            if (IsBlank(ch) && !quoted) {
                break;
            }
            argument.push_back(ch);
        }
        argument.append(backslashes, L'\\');
        result.push_back(argument);
    }
    return result;
}

}  // namespace zv::test
