#include "zvpublish/commands/options.h"

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "common/version.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/commands/address.h"
#include "zvpublish/commands/output.h"

namespace zv::publish {

namespace {

const Option* FindOption(const Syntax& syntax, std::string_view name) {
    const auto option =
        std::find_if(syntax.options.begin(), syntax.options.end(), [&](const Option& o) { return o.name == name; });
    return option == syntax.options.end() ? nullptr : &*option;
}

}  // namespace

const std::wstring* Parsed::Value(const std::string& name) const {
    const auto it = options.find(name);
    return it == options.end() ? nullptr : &it->second;
}

std::optional<std::string> Parse(std::string_view command, const Syntax& syntax,
                                 const std::vector<std::wstring>& arguments, Parsed& parsed) {
    // Asking for help wins over anything missing or wrong beside it.
    for (std::size_t i = 1; i < arguments.size() && arguments[i] != L"--"; ++i) {
        if (arguments[i] == L"--help" || arguments[i] == L"-h") {
            parsed.help = true;
            return std::nullopt;
        }
    }
    bool optionsEnded = false;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string argument = ToUtf8(arguments[i]);
        if (optionsEnded || argument == "-" || !argument.starts_with("-")) {
            parsed.positionals.push_back(arguments[i]);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const Option* option = FindOption(syntax, name);
        if (option != nullptr && option->value.empty()) {
            if (equals != std::string::npos) {
                return Concat({"option '", name, "' takes no value"});
            }
            if (!parsed.flags.insert(name).second) {
                return Concat({"option '", name, "' is given twice"});
            }
            continue;
        }
        if (option == nullptr) {
            return Concat({"unknown option '", name, "' for '", command, "'"});
        }
        if (parsed.options.contains(name)) {
            return Concat({"option '", name, "' is given twice"});
        }
        std::wstring value;
        if (equals != std::string::npos) {
            value = arguments[i].substr(arguments[i].find(L'=') + 1);
        } else if (i + 1 < arguments.size()) {
            value = arguments[++i];
        } else {
            return Concat({"option '", name, "' needs a value"});
        }
        if (value.empty()) {
            return Concat({"option '", name, "' needs a value"});
        }
        parsed.options[name] = value;
    }
    for (const auto& name : syntax.required) {
        if (!parsed.options.contains(name)) {
            return Concat({"'", command, "' needs ", name});
        }
    }
    if (parsed.positionals.size() != syntax.positionals) {
        if (syntax.positionals == 0) {
            return Concat({"'", command, "' takes no argument besides its options, but was given '",
                           ToUtf8(parsed.positionals.front()), "'"});
        }
        return Concat({"'", command, "' takes exactly one ", syntax.positional});
    }
    for (const auto& positional : parsed.positionals) {
        if (positional.empty()) {
            return Concat({"'", command, "' was given an empty path"});
        }
    }
    return std::nullopt;
}

std::optional<std::string> CheckOptionValues(Parsed& parsed) {
    if (const std::wstring* url = parsed.Value("--base-url")) {
        const std::string text = ToUtf8(*url);
        std::string reason;
        if (!(parsed.baseUrl = NormaliseBaseUrl(text, reason))) {
            return "--base-url " + text + ": " + reason;
        }
    }
    if (const std::wstring* host = parsed.Value("--update-host")) {
        if (!MessageHost(*host) || host->find_first_of(L"/@") != std::wstring::npos) {
            return "--update-host " + ToUtf8(*host) +
                   ": must be the host the launcher is built for as ZV_UPDATE_HOST gives it, such as "
                   "updates.example.com or localhost:9443 (printable ASCII, no scheme, no path)";
        }
    }
    if (const std::wstring* days = parsed.Value("--expires-in")) {
        const auto time = ParseDays(*days);
        if (!time || time->count() == 0) {
            return "--expires-in " + ToUtf8(*days) + ": must be a number of days above 0, such as 30 or 0.5";
        }
    }
    if (const std::wstring* version = parsed.Value("--version"); version && !ParseVersion(ToUtf8(*version))) {
        return "--version " + ToUtf8(*version) + ": must be four numbers from 0 to 65535, A.B.C.D";
    }
    if (const std::wstring* key = parsed.Value("--build-key"); key && !IsBuildKey(*key)) {
        return "--build-key " + ToUtf8(*key) +
               ": must be a build key, 40 lower-case hexadecimal digits (zvpublish key GAME.exe prints it)";
    }
    if (const std::wstring* days = parsed.Value("--older-than"); days && !ParseDays(*days)) {
        return "--older-than " + ToUtf8(*days) + ": must be a number of days, 0 or more, such as 30 or 0.5";
    }
    if (parsed.options.contains("--expires-in") && parsed.flags.contains("--no-expiry")) {
        return "--expires-in and --no-expiry say different things; give one of them";
    }
    return std::nullopt;
}

std::optional<std::chrono::seconds> ParseDays(const std::wstring& text) {
    constexpr std::int64_t kSecondsPerDay = 86400;
    const std::size_t point = text.find(L'.');
    const std::wstring whole = text.substr(0, point);
    const std::wstring fraction = point == std::wstring::npos ? L"" : text.substr(point + 1);
    const auto digits = [](const std::wstring& part) {
        return std::all_of(part.begin(), part.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    };
    if (whole.empty() || whole.size() > 6 || !digits(whole) || (point != std::wstring::npos && fraction.empty()) ||
        fraction.size() > 6 || !digits(fraction)) {
        return std::nullopt;
    }
    std::int64_t seconds = std::stoll(whole) * kSecondsPerDay;
    if (!fraction.empty()) {
        std::int64_t scale = 1;
        for (std::size_t i = 0; i < fraction.size(); ++i) {
            scale *= 10;
        }
        seconds += std::stoll(fraction) * kSecondsPerDay / scale;
    }
    return std::chrono::seconds(seconds);
}

}  // namespace zv::publish
