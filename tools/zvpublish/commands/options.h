#pragma once

// zvpublish's command lines: what a command's line may hold, the parser, and the checks of the
// values options carry.

#include <chrono>
#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zv::publish {

// One option as a command's line takes it and its help shows it: its name, the placeholder of its
// value (empty for an option that takes none, a flag) and what it does. Continuation lines of the
// text are indented by the help.
struct Option {
    std::string_view name;
    std::string_view value;
    std::string_view text;
};

// What a command's line holds besides its name: its options, those it needs, and exactly how many
// arguments of which kind ("program", "tree folder"; none for a command without arguments).
struct Syntax {
    std::vector<Option> options;
    std::set<std::string> required;
    std::size_t positionals = 0;
    std::string_view positional;
};

// A command line as parsed.
struct Parsed {
    std::map<std::string, std::wstring> options;  // by name, each with its value
    std::set<std::string> flags;                  // the options without a value that were given
    std::vector<std::wstring> positionals;
    bool help = false;  // --help or -h: the command's help is asked for, nothing else counts
    // --base-url as NormaliseBaseUrl gives it, once CheckOptionValues has taken it.
    std::optional<std::string> baseUrl;

    // The value of an option, when it was given.
    [[nodiscard]] const std::wstring* Value(const std::string& name) const;
};

// Parses arguments (the command's name first) by syntax: a usage problem, or nothing. Asking for
// help wins over anything missing or wrong beside it; "--" ends the options.
std::optional<std::string> Parse(std::string_view command, const Syntax& syntax,
                                 const std::vector<std::wstring>& arguments, Parsed& parsed);

// The values of the options that carry one, each against its own rule (--base-url, --update-host,
// --expires-in, --version, --build-key, --older-than, in that order), and the two options that say
// opposite things (--expires-in and --no-expiry): a usage problem, or nothing. Keeps the normalised
// --base-url in parsed.
std::optional<std::string> CheckOptionValues(Parsed& parsed);

// DAYS of --older-than and --expires-in as a time: digits, optionally a point and more digits (0,
// 30, 0.5), at most a million days; nothing for anything else (a sign, an exponent, blanks, an
// empty part).
std::optional<std::chrono::seconds> ParseDays(const std::wstring& text);

}  // namespace zv::publish
