#include "interpreter_rules.h"

#include <cwctype>

namespace zv::test {

namespace {

std::wstring Upper(std::wstring_view s) {
    std::wstring u(s);
    for (auto& c : u) {
        c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    }
    return u;
}

std::wstring ExpandPercent(std::wstring_view text, const std::map<std::wstring, std::wstring>& variables) {
    std::map<std::wstring, std::wstring> upper;
    for (const auto& [k, v] : variables) {
        upper[Upper(k)] = v;
    }
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != L'%') {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t close = text.find(L'%', i + 1);
        if (close == std::wstring_view::npos) {
            out.append(text.substr(i));
            break;
        }
        const auto name = Upper(text.substr(i + 1, close - i - 1));
        const auto it = name.empty() ? upper.end() : upper.find(name);
        if (it != upper.end()) {
            out += it->second;
            i = close + 1;
        } else {
            // Left as typed; the closing percent sign may open the next reference.
            out.append(text.substr(i, close - i));
            i = close;
        }
    }
    return out;
}

}  // namespace

InterpreterResult ApplyInterpreterRules(std::wstring_view text, const std::map<std::wstring, std::wstring>& variables) {
    const std::wstring expanded = ExpandPercent(text, variables);
    InterpreterResult result;
    bool quoted = false;
    for (std::size_t i = 0; i < expanded.size(); ++i) {
        const wchar_t ch = expanded[i];
        if (ch == L'\n') {
            break;
        }
        if (ch == L'"') {
            quoted = !quoted;
            result.text.push_back(ch);
            continue;
        }
        if (quoted) {
            result.text.push_back(ch);
            continue;
        }
        if (ch == L'^') {
            if (i + 1 < expanded.size()) {
                result.text.push_back(expanded[++i]);
            }
            continue;
        }
        if (ch == L'&' || ch == L'|' || ch == L'<' || ch == L'>') {
            result.otherCommand = true;
            break;
        }
        result.text.push_back(ch);
    }
    return result;
}

}  // namespace zv::test
