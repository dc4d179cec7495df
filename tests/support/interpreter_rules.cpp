#include "interpreter_rules.h"

#include <cstddef>
#include <cwctype>
#include <optional>

namespace zv::test {

namespace {

wchar_t Upper(wchar_t c) { return static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c))); }

std::wstring Upper(std::wstring_view s) {
    std::wstring u(s);
    for (auto& c : u) {
        c = Upper(c);
    }
    return u;
}

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Case-blind search, as the substitution forms match.
std::size_t FindWithoutCase(std::wstring_view haystack, std::wstring_view needle, std::size_t from = 0) {
    if (needle.empty() || haystack.size() < needle.size()) {
        return std::wstring_view::npos;
    }
    for (std::size_t i = from; i + needle.size() <= haystack.size(); ++i) {
        bool match = true;
        for (std::size_t k = 0; k < needle.size() && match; ++k) {
            match = Upper(haystack[i + k]) == Upper(needle[k]);
        }
        if (match) {
            return i;
        }
    }
    return std::wstring_view::npos;
}

class Variables {
public:
    Variables(const Environment& environment, std::wstring_view cmdcmdline, const DynamicVariables& dynamic) {
        dynamic_ = {
            {L"CD", dynamic.cd},
            {L"__CD__", dynamic.cd + L"\\"},
            {L"DATE", dynamic.date},
            {L"TIME", dynamic.time},
            {L"RANDOM", dynamic.random},
            {L"ERRORLEVEL", dynamic.errorLevel},
            {L"CMDEXTVERSION", L"2"},
            {L"CMDCMDLINE", std::wstring(cmdcmdline)},
            {L"HIGHESTNUMANODENUMBER", L"0"},
            {L"__APPDIR__", L"C:\\Windows\\system32\\"},
        };
        for (const auto& [name, value] : environment) {
            environment_[Upper(name)] = value;
        }
    }

    std::optional<std::wstring> Find(std::wstring_view name) const {
        const std::wstring key = Upper(name);
        if (const auto it = environment_.find(key); it != environment_.end()) {
            return it->second;
        }
        if (const auto it = dynamic_.find(key); it != dynamic_.end()) {
            return it->second;
        }
        return std::nullopt;
    }

private:
    std::map<std::wstring, std::wstring> environment_;
    std::map<std::wstring, std::wstring> dynamic_;
};

std::optional<long> ParseNumber(std::wstring_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::size_t i = 0;
    bool negative = false;
    if (text[0] == L'-' || text[0] == L'+') {
        negative = text[0] == L'-';
        i = 1;
    }
    if (i == text.size()) {
        return std::nullopt;
    }
    long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < L'0' || text[i] > L'9' || value > 100000) {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - L'0');
    }
    return negative ? -value : value;
}

// NAME, NAME:~start[,length], NAME:old=new or NAME:*old=new; nothing when NAME is not defined or
// the form is not one of these.
std::optional<std::wstring> ExpandReference(std::wstring_view reference, const Variables& variables) {
    const std::size_t colon = reference.find(L':');
    const std::wstring_view name = reference.substr(0, colon);
    if (name.empty()) {
        return std::nullopt;
    }
    const std::optional<std::wstring> value = variables.Find(name);
    if (!value || colon == std::wstring_view::npos) {
        return value;
    }
    const std::wstring_view form = reference.substr(colon + 1);
    const long size = static_cast<long>(value->size());
    if (!form.empty() && form[0] == L'~') {
        const std::wstring_view numbers = form.substr(1);
        const std::size_t comma = numbers.find(L',');
        const std::optional<long> start = ParseNumber(numbers.substr(0, comma));
        std::optional<long> length = size;
        if (comma != std::wstring_view::npos) {
            length = ParseNumber(numbers.substr(comma + 1));
        }
        if (!start || !length) {
            return std::nullopt;
        }
        long from = *start < 0 ? size + *start : *start;
        from = from < 0 ? 0 : (from > size ? size : from);
        long to = *length < 0 ? size + *length : from + *length;
        to = to > size ? size : to;
        return to <= from ? std::wstring() : value->substr(static_cast<std::size_t>(from), to - from);
    }
    const std::size_t equals = form.find(L'=');
    if (equals == std::wstring_view::npos) {
        return std::nullopt;
    }
    std::wstring_view old = form.substr(0, equals);
    const std::wstring_view replacement = form.substr(equals + 1);
    if (!old.empty() && old[0] == L'*') {
        old.remove_prefix(1);
        const std::size_t at = FindWithoutCase(*value, old);
        if (at == std::wstring_view::npos) {
            return value;
        }
        return std::wstring(replacement) + value->substr(at + old.size());
    }
    if (old.empty()) {
        return value;
    }
    std::wstring out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t match = FindWithoutCase(*value, old, at);
        if (match == std::wstring_view::npos) {
            out += value->substr(at);
            return out;
        }
        out += value->substr(at, match - at);
        out += replacement;
        at = match + old.size();
    }
}

// Phase 1: percent expansion by the command-line rule. The line ends at its first line feed.
std::wstring ExpandPercent(std::wstring_view text, const Variables& variables) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == L'\n') {
            break;
        }
        if (text[i] != L'%') {
            out.push_back(text[i++]);
            continue;
        }
        const std::size_t close = text.find(L'%', i + 1);
        if (close == std::wstring_view::npos) {
            const std::wstring_view rest = text.substr(i);
            out.append(rest.substr(0, rest.find(L'\n')));
            break;
        }
        if (const auto value = ExpandReference(text.substr(i + 1, close - i - 1), variables)) {
            out += *value;
            i = close + 1;
        } else {
            // Left as typed; the closing percent sign may open the next reference.
            const std::wstring_view kept = text.substr(i, close - i);
            const std::size_t lineEnd = kept.find(L'\n');
            out.append(kept.substr(0, lineEnd));
            if (lineEnd != std::wstring_view::npos) {
                break;
            }
            i = close;
        }
    }
    return out;
}

// Phase 5 for one word.
std::wstring ExpandDelayed(std::wstring_view word, const Variables& variables) {
    if (word.find(L'!') == std::wstring_view::npos) {
        return std::wstring(word);
    }
    // Carets first: each makes the character after it literal (an exclamation mark included).
    std::wstring chars;
    std::vector<bool> literal;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const bool escaped = word[i] == L'^';
        if (escaped && ++i == word.size()) {
            break;
        }
        chars.push_back(word[i]);
        literal.push_back(escaped);
    }
    const auto marker = [&](std::size_t at) { return chars[at] == L'!' && !literal[at]; };
    std::wstring out;
    std::size_t i = 0;
    while (i < chars.size()) {
        if (!marker(i)) {
            out.push_back(chars[i++]);
            continue;
        }
        std::size_t close = i + 1;
        while (close < chars.size() && !marker(close)) {
            ++close;
        }
        if (close == chars.size()) {
            // A lone exclamation mark disappears.
            out.append(chars.substr(i + 1));
            break;
        }
        if (const auto value = ExpandReference(std::wstring_view(chars).substr(i + 1, close - i - 1), variables)) {
            out += *value;
        }
        i = close + 1;
    }
    return out;
}

// Phase 5 for a command's text: each word on its own, blanks between them kept.
std::wstring ExpandDelayedWords(std::wstring_view text, const Variables& variables) {
    std::wstring out;
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsBlank(text[i])) {
            out.push_back(text[i++]);
            continue;
        }
        bool quoted = false;
        const std::size_t start = i;
        while (i < text.size() && (quoted || !IsBlank(text[i]))) {
            quoted = text[i] == L'"' ? !quoted : quoted;
            ++i;
        }
        out += ExpandDelayed(text.substr(start, i - start), variables);
    }
    return out;
}

// Words split at blanks outside quotes, with the quotes removed.
std::vector<std::wstring> Words(std::wstring_view text, std::size_t* firstWordEnd = nullptr) {
    std::vector<std::wstring> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        std::wstring word;
        bool quoted = false;
        while (i < text.size() && (quoted || !IsBlank(text[i]))) {
            if (text[i] == L'"') {
                quoted = !quoted;
            } else {
                word.push_back(text[i]);
            }
            ++i;
        }
        if (words.empty() && firstWordEnd != nullptr) {
            *firstWordEnd = i;
        }
        words.push_back(std::move(word));
    }
    return words;
}

struct RawCommand {
    std::wstring text;
    std::vector<std::wstring> redirects;
};

// Phase 2: commands, separators and redirections.
void SplitCommands(std::wstring_view text, std::vector<RawCommand>& commands, std::vector<std::wstring>& separators) {
    commands.emplace_back();
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c == L'\n') {
            break;
        }
        RawCommand& current = commands.back();
        if (c == L'"') {
            quoted = !quoted;
            current.text.push_back(c);
            continue;
        }
        if (quoted) {
            current.text.push_back(c);
            continue;
        }
        if (c == L'^') {
            if (i + 1 < text.size() && text[i + 1] != L'\n') {
                current.text.push_back(text[++i]);
            }
            continue;
        }
        if (c == L'&' || c == L'|') {
            const bool doubled = i + 1 < text.size() && text[i + 1] == c;
            separators.emplace_back(doubled ? 2 : 1, c);
            i += doubled ? 1 : 0;
            commands.emplace_back();
            continue;
        }
        if (c == L'<' || c == L'>') {
            std::wstring redirect;
            // A handle digit written just before the operator belongs to it.
            if (!current.text.empty() && current.text.back() >= L'0' && current.text.back() <= L'9' &&
                (current.text.size() == 1 || IsBlank(current.text[current.text.size() - 2]))) {
                redirect.push_back(current.text.back());
                current.text.pop_back();
            }
            redirect.push_back(c);
            if (c == L'>' && i + 1 < text.size() && text[i + 1] == L'>') {
                redirect.push_back(text[++i]);
            }
            if (i + 2 < text.size() && text[i + 1] == L'&' && text[i + 2] >= L'0' && text[i + 2] <= L'9') {
                redirect.push_back(text[++i]);
                redirect.push_back(text[++i]);
                current.redirects.push_back(redirect);
                continue;
            }
            while (i + 1 < text.size() && IsBlank(text[i + 1])) {
                ++i;
            }
            bool targetQuoted = false;
            while (i + 1 < text.size()) {
                const wchar_t t = text[i + 1];
                if (!targetQuoted && (IsBlank(t) || t == L'&' || t == L'|' || t == L'<' || t == L'>' || t == L'\n')) {
                    break;
                }
                targetQuoted = t == L'"' ? !targetQuoted : targetQuoted;
                redirect.push_back(t);
                ++i;
            }
            current.redirects.push_back(redirect);
            continue;
        }
        current.text.push_back(c);
    }
}

}  // namespace

std::wstring ExpandPercentReferences(std::wstring_view text, const Environment& environment,
                                     std::wstring_view cmdcmdline, const DynamicVariables& dynamic) {
    return ExpandPercent(text, Variables(environment, cmdcmdline, dynamic));
}

InterpreterRun RunInterpreter(std::wstring_view commandLine, const Environment& environment,
                              const DynamicVariables& dynamic) {
    InterpreterRun run;
    const Variables variables(environment, commandLine, dynamic);

    // The interpreter's own program name and switches, up to /c.
    std::size_t i = 0;
    if (i < commandLine.size() && commandLine[i] == L'"') {
        const std::size_t close = commandLine.find(L'"', 1);
        i = close == std::wstring_view::npos ? commandLine.size() : close + 1;
    }
    while (i < commandLine.size() && !IsBlank(commandLine[i])) {
        ++i;
    }
    bool keepQuotesSwitch = false;  // /s
    bool foundC = false;
    while (i < commandLine.size() && !foundC) {
        while (i < commandLine.size() && IsBlank(commandLine[i])) {
            ++i;
        }
        if (i == commandLine.size() || commandLine[i] != L'/') {
            break;
        }
        std::size_t end = i;
        while (end < commandLine.size() && !IsBlank(commandLine[end])) {
            ++end;
        }
        const std::wstring option = Upper(commandLine.substr(i, end - i));
        if (option == L"/C" || option == L"/K") {
            foundC = true;
        } else if (option == L"/S") {
            keepQuotesSwitch = true;
        } else if (option == L"/V:ON") {
            run.delayedExpansion = true;
        } else if (option == L"/V:OFF") {
            run.delayedExpansion = false;
        }
        i = end;
    }
    if (!foundC) {
        return run;
    }
    while (i < commandLine.size() && IsBlank(commandLine[i])) {
        ++i;
    }
    std::wstring commands(commandLine.substr(i));

    // Phase 0: the quotes around the string after /c.
    if (!commands.empty() && commands[0] == L'"') {
        const std::size_t last = commands.rfind(L'"');
        const bool twoQuotes = last != 0 && commands.find(L'"', 1) == last;
        const std::wstring_view inside = std::wstring_view(commands).substr(1, last == 0 ? 0 : last - 1);
        const bool keep = !keepQuotesSwitch && twoQuotes &&
                          inside.find_first_of(L"&<>()@^|") == std::wstring_view::npos &&
                          inside.find_first_of(L" \t") != std::wstring_view::npos;
        if (!keep) {
            commands.erase(last, 1);
            commands.erase(0, 1);
        }
    }

    std::wstring expanded = ExpandPercent(commands, variables);  // phase 1
    std::erase(expanded, L'\r');                                 // phase 1.5
    std::vector<RawCommand> raw;
    SplitCommands(expanded, raw, run.separators);  // phase 2
    for (RawCommand& command : raw) {
        std::wstring text = run.delayedExpansion ? ExpandDelayedWords(command.text, variables) : command.text;
        InterpreterCommand parsed;
        std::size_t nameEnd = 0;
        std::vector<std::wstring> words = Words(text, &nameEnd);
        if (!words.empty()) {
            parsed.name = words.front();
            parsed.words.assign(words.begin() + 1, words.end());
            parsed.tail = text.substr(nameEnd);
        }
        parsed.redirects = std::move(command.redirects);
        run.commands.push_back(std::move(parsed));
    }
    return run;
}

std::optional<StartedProgram> ProgramStartedBy(const InterpreterCommand& start) {
    std::wstring_view rest = start.tail;
    const auto skipBlanks = [&rest] {
        while (!rest.empty() && IsBlank(rest.front())) {
            rest.remove_prefix(1);
        }
    };
    // One word, quoted parts joined; returns it without quotes.
    const auto takeWord = [&rest] {
        std::wstring word;
        bool quoted = false;
        while (!rest.empty() && (quoted || !IsBlank(rest.front()))) {
            if (rest.front() == L'"') {
                quoted = !quoted;
            } else {
                word.push_back(rest.front());
            }
            rest.remove_prefix(1);
        }
        return word;
    };
    skipBlanks();
    if (!rest.empty() && rest.front() == L'"') {
        takeWord();  // the title
    }
    for (;;) {
        skipBlanks();
        if (rest.empty() || rest.front() != L'/') {
            break;
        }
        takeWord();
    }
    if (rest.empty()) {
        return std::nullopt;
    }
    StartedProgram started;
    started.program = takeWord();
    skipBlanks();
    started.commandLine = L"\"" + started.program + L"\"";
    if (!rest.empty()) {
        started.commandLine += L" ";
        started.commandLine += rest;
    }
    return started;
}

}  // namespace zv::test
