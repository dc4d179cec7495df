#include "zvpublish/commands/cli.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "common/read_only_file.h"
#include "common/text.h"
#include "common/version.h"
#include "launch/target_discovery.h"
#include "update/launcher_version.h"
#include "update/manifest_signature.h"
#include "update/tree_layout.h"
#include "zvpublish/commands/address.h"
#include "zvpublish/commands/prune.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/commands/refresh.h"
#include "zvpublish/commands/release_files.h"
#include "zvpublish/commands/status_report.h"
#include "zvpublish/commands/terminal_text.h"
#include "zvpublish/commands/verify_tree.h"
#include "zvpublish/signing/public_keys.h"
#include "zvpublish/signing/signing.h"
#include "zvpublish/tree/tree_contents.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

namespace {

constexpr std::string_view kOverview = R"(Usage: zvpublish COMMAND [ARGUMENTS]

Publishes game builds and launcher releases for the Zarnovelle launcher into a static
folder tree that any HTTPS server or CDN can serve.

Commands:
)";

constexpr std::string_view kOverviewFooter = R"(
zvpublish help COMMAND (or zvpublish COMMAND --help) shows what a command does and
its options. zvpublish --version shows this tool's version.
)";

// How long a signed manifest lasts without --expires-in: long enough that a routine that renews it
// every week or two has room to fail, short enough that a host cannot hold players on it for long.
constexpr std::chrono::seconds kDefaultLifetime = std::chrono::days(30);

// After the options of a command that takes some.
constexpr std::string_view kOptionForm = "\nOptions also take the form --name=VALUE.\n";

// The end of every help text.
constexpr std::string_view kExitCodes = R"(
Text read from a tree or a file is printed with control characters escaped (\xNN,
\u{NNNN}).

Exit status: 0 done, 1 refused or failed (the reason is on standard error),
2 wrong usage.
)";

// One option as a command's help shows it: its name, the placeholder of its value (empty for an
// option that takes none) and what it does. Continuation lines of the text are indented by the
// help.
struct OptionHelp {
    std::string_view name;
    std::string_view value;
    std::string_view text;
};

// The options that several commands share, each said once.
constexpr OptionHelp kBaseUrlOut{"--base-url", "URL",
                                 "the https:// address TREE is served at; every download address\n"
                                 "begins with it"};
constexpr OptionHelp kBaseUrlIn{"--base-url", "URL",
                                "the https:// address TREE is served at: where a manifest's url\n"
                                "points into TREE (without it, a url whose path ends with the\n"
                                "manifest's own folder and a file name does)"};
constexpr OptionHelp kOut{"--out", "TREE",
                          "the tree to publish into: an existing folder, or a new folder in\n"
                          "an existing one (announced as a new tree)"};
constexpr OptionHelp kSigningKey{"--signing-key", "KEY.pem",
                                 "sign each manifest written with this EC P-256 key, for launchers\n"
                                 "built with ZV_UPDATE_PUBLIC_KEYS; keep the key offline"};
constexpr OptionHelp kPassphraseFile{"--passphrase-file", "FILE",
                                     "the passphrase of an encrypted KEY.pem: the first line of FILE\n"
                                     "(for scripts); without it, zvpublish asks at the terminal"};
constexpr OptionHelp kUpdateHostSign{"--update-host", "HOST",
                                     "the host the launcher is built for (ZV_UPDATE_HOST, such as\n"
                                     "updates.example.com or localhost:9443): a signature holds for\n"
                                     "that host only"};
constexpr OptionHelp kExpiresIn{"--expires-in", "DAYS",
                                "the signed manifest expires DAYS (fractions allowed) from now;\n"
                                "without it, 30 days from now"};
constexpr OptionHelp kNoExpiry{"--no-expiry", "",
                               "sign a manifest that never expires: a host that withholds\n"
                               "updates then holds players on it for ever (status warns)"};
constexpr OptionHelp kAllowUnsigned{"--allow-unsigned", "",
                                    "publish without --signing-key over a signed manifest (and, for a\n"
                                    "launcher, one built with keys): drops signing on purpose"};

constexpr std::string_view kKeySummary = "print the build key of a game program";
constexpr std::string_view kKeyHelp =
    R"(Prints the build key of a client target (the game program, which imports ZVClient.dll
and nothing else): 40 lower-case hexadecimal digits, the name of its folder in the tree.
)";

constexpr std::string_view kStubSummary = "publish the client stub of a game build";
constexpr std::string_view kStubHelp =
    R"(Publishes a client stub for the game build of GAME.exe: TREE/stub/KEY/ZVClient-SHA1.dll,
then TREE/stub/KEY/manifest.json, which names it. The stub must be a DLL for the game's
machine (64-bit for a 64-bit game). Signed, the manifest carries the stub's version:
that of its version resource, or --version for a stub without one. A version that is
not above the one already published is refused; the same stub again changes nothing.
)";

constexpr std::string_view kLauncherSummary = "publish a launcher release";
constexpr std::string_view kLauncherHelp = R"(Publishes a launcher release: TREE/launcher/ZVLauncher-SHA1.exe, then
TREE/launcher/manifest.json, which names it. The file must be a launcher: a 64-bit
Windows program that carries its build record (its update host, version and keys),
which zvpublish prints. Signed, the manifest carries the launcher's version
(ZV_VERSION), which must be above the one already published, and the launcher must be
built for --update-host and carry the signing key.
)";

constexpr std::string_view kWithdrawSummary = "withdraw a game build (signed)";
constexpr std::string_view kWithdrawHelp =
    R"(Withdraws a game build: a signed TREE/stub/KEY/manifest.json, above the version
published there, that makes launchers built with keys remove the build's program and
tell the player to update or repair the game. A launcher that has accepted a higher
version of the build ignores it, so where the tree has no signed manifest for the
build, --version must say the version: one above any that players may have accepted.
)";

constexpr std::string_view kRefreshSummary = "sign every manifest again with a new expiry";
constexpr std::string_view kRefreshHelp =
    R"(Signs every manifest of TREE again with a new expiry, keeping its members and its
version. Only a manifest whose signature verifies for HOST under KEY.pem or a key of
--public-keys, that has not expired (unless --include-expired), and whose file is in
TREE with the size and digests it names, is signed again; the others are named and
left as they are.
)";

constexpr std::string_view kVerifySummary = "check a tree as the launcher reads it";
constexpr std::string_view kVerifyHelp =
    R"(Checks every manifest in TREE as the launcher reads it, the SHA-1 of every file a
manifest names inside TREE, and that every download is https:// on one host. With the
public keys and the update host the launcher is built with, every manifest must be
signed for that host by one of the keys and not expired, and every file must match
its size and SHA-256; without them, signatures are not checked (and verify says so).
)";

constexpr std::string_view kStatusSummary = "show what a tree serves";
constexpr std::string_view kStatusHelp =
    R"(Shows what TREE serves: the launcher's and each game build's version, expiry,
signature, SHA-1 and file, the content-named files no manifest names with how long ago
each was last modified, and totals; warns about manifests that expire within 7 days.
)";

constexpr std::string_view kPruneSummary = "remove old files that no manifest names";
constexpr std::string_view kPruneHelp =
    R"(Removes the content-named files (ZVLauncher-SHA1.exe in launcher/, ZVClient-SHA1.dll
in stub/KEY/) that no manifest names and that were last modified more than DAYS days
ago; stub, launcher and withdraw set that time when they replace the manifest that
named a file. Never removes manifests, hidden files or other files, nor anything in a
folder whose manifest is missing or cannot be read, and never enters or removes a
symbolic link.
)";

constexpr std::string_view kKeygenSummary = "make a signing key";
constexpr std::string_view kKeygenHelp =
    R"(Makes a new signing key: an EC P-256 private key (PKCS#8 PEM, readable by its owner
only) and, with --public-out, its public key, which the launcher is built with
(ZV_UPDATE_PUBLIC_KEYS). Never writes over an existing file.
)";

struct Command {
    std::string_view name;
    std::string_view synopsis;  // after "zvpublish "
    std::string_view summary;   // one line, for the overview
    std::string_view help;
    std::vector<OptionHelp> options;
    std::set<std::string> required;
    std::size_t positionals;  // exactly this many
};

const std::vector<Command> kCommands = {
    {"key", "key GAME.exe", kKeySummary, kKeyHelp, {}, {}, 1},
    {"stub",
     "stub --target GAME.exe --stub ZVClient.dll --base-url URL --out TREE\n"
     "       [--signing-key KEY.pem --update-host HOST [--version A.B.C.D]\n"
     "        [--expires-in DAYS | --no-expiry] [--passphrase-file FILE]] [--allow-unsigned]",
     kStubSummary,
     kStubHelp,
     {{"--target", "GAME.exe", "the game program (the client target) the stub belongs to"},
      {"--stub", "ZVClient.dll", "the client stub: a DLL for the game program's machine"},
      kBaseUrlOut,
      kOut,
      kSigningKey,
      kUpdateHostSign,
      {"--version", "A.B.C.D", "the stub's version, for a stub without a version resource"},
      kExpiresIn,
      kNoExpiry,
      kPassphraseFile,
      kAllowUnsigned},
     {"--target", "--stub", "--base-url", "--out"},
     0},
    {"launcher",
     "launcher --file ZVLauncher.exe --base-url URL --out TREE\n"
     "       [--signing-key KEY.pem --update-host HOST [--expires-in DAYS | --no-expiry]\n"
     "        [--passphrase-file FILE]] [--allow-unsigned]",
     kLauncherSummary,
     kLauncherHelp,
     {{"--file", "ZVLauncher.exe", "the launcher, as the build made it (any name)"},
      kBaseUrlOut,
      kOut,
      kSigningKey,
      kUpdateHostSign,
      kExpiresIn,
      kNoExpiry,
      kPassphraseFile,
      kAllowUnsigned},
     {"--file", "--base-url", "--out"},
     0},
    {"withdraw",
     "withdraw (--target GAME.exe | --build-key KEY) --out TREE --signing-key KEY.pem\n"
     "       --update-host HOST [--version A.B.C.D] [--expires-in DAYS | --no-expiry]\n"
     "       [--passphrase-file FILE]",
     kWithdrawSummary,
     kWithdrawHelp,
     {{"--target", "GAME.exe", "the game program whose build is withdrawn"},
      {"--build-key", "KEY", "the build by its key, for a program you no longer have"},
      {"--out", "TREE", "the tree"},
      kSigningKey,
      kUpdateHostSign,
      {"--version", "A.B.C.D",
       "the withdrawal's version: above any version of the build players\n"
       "may have accepted (needed where the tree has no signed manifest\n"
       "for the build; else one above the published version)"},
      kExpiresIn,
      kNoExpiry,
      kPassphraseFile},
     {"--out", "--signing-key", "--update-host"},
     0},
    {"refresh",
     "refresh TREE --signing-key KEY.pem --update-host HOST --expires-in DAYS\n"
     "       [--public-keys PUBLIC.pem] [--include-expired] [--passphrase-file FILE]",
     kRefreshSummary,
     kRefreshHelp,
     {kSigningKey,
      kUpdateHostSign,
      {"--expires-in", "DAYS", "the new expiry: DAYS (fractions allowed) from now"},
      {"--public-keys", "PUBLIC.pem", "more keys whose signatures are signed again (after a key\nrotation)"},
      {"--include-expired", "", "sign expired manifests again too (only those you know players\nare to get)"},
      kPassphraseFile},
     {"--signing-key", "--update-host", "--expires-in"},
     1},
    {"verify",
     "verify TREE [--base-url URL] [--public-keys PUBLIC.pem --update-host HOST]",
     kVerifySummary,
     kVerifyHelp,
     {kBaseUrlIn,
      {"--public-keys", "PUBLIC.pem", "the public keys the launcher is built with\n(ZV_UPDATE_PUBLIC_KEYS)"},
      {"--update-host", "HOST", "the host the launcher is built for (ZV_UPDATE_HOST)"}},
     {},
     1},
    {"status",
     "status TREE [--json] [--base-url URL] [--public-keys PUBLIC.pem --update-host HOST]",
     kStatusSummary,
     kStatusHelp,
     {{"--json", "", "print the same as one JSON object for scripts (its shape is\ndescribed in docs/operators.md)"},
      kBaseUrlIn,
      {"--public-keys", "PUBLIC.pem",
       "check each signature with these keys and say which key made it\n(with --update-host)"},
      {"--update-host", "HOST", "the host the launcher is built for (ZV_UPDATE_HOST)"}},
     {},
     1},
    {"prune",
     "prune TREE --older-than DAYS [--dry-run] [--base-url URL]",
     kPruneSummary,
     kPruneHelp,
     {{"--older-than", "DAYS", "remove only files last modified more than DAYS (0 or more,\nfractions allowed) ago"},
      {"--dry-run", "", "list what would be removed and remove nothing"},
      kBaseUrlIn},
     {"--older-than"},
     1},
    {"keygen",
     "keygen --out KEY.pem [--public-out PUBLIC.pem]",
     kKeygenSummary,
     kKeygenHelp,
     {{"--out", "KEY.pem", "where the private key goes"}, {"--public-out", "PUBLIC.pem", "where its public key goes"}},
     {"--out"},
     0},
};

const Command* FindCommand(std::string_view name) {
    const auto command =
        std::find_if(kCommands.begin(), kCommands.end(), [&](const Command& c) { return c.name == name; });
    return command == kCommands.end() ? nullptr : &*command;
}

const OptionHelp* FindOption(const Command& command, std::string_view name) {
    const auto option = std::find_if(command.options.begin(), command.options.end(),
                                     [&](const OptionHelp& o) { return o.name == name; });
    return option == command.options.end() ? nullptr : &*option;
}

// One command's help: its usage, what it does and its options alone.
void PrintCommandHelp(std::ostream& out, const Command& command) {
    constexpr std::size_t kTextColumn = 28;
    out << "Usage: zvpublish " << command.synopsis << "\n\n" << command.help;
    if (!command.options.empty()) {
        out << "\nOptions:\n";
    }
    for (const OptionHelp& option : command.options) {
        // Appended piece by piece: operator+ on temporaries trips a false -Wrestrict warning of GCC 12
        // in the cross build.
        std::string spelling = "  ";
        spelling += option.name;
        if (!option.value.empty()) {
            spelling += ' ';
            spelling += option.value;
        }
        out << spelling;
        if (spelling.size() + 2 > kTextColumn) {
            out << "\n" << std::string(kTextColumn, ' ');
        } else {
            out << std::string(kTextColumn - spelling.size(), ' ');
        }
        for (const char c : option.text) {
            out << c;
            if (c == '\n') {
                out << std::string(kTextColumn, ' ');
            }
        }
        out << "\n";
    }
    if (!command.options.empty()) {
        out << kOptionForm;
    }
    out << kExitCodes;
}

void PrintOverview(std::ostream& out) {
    out << kOverview;
    for (const auto& command : kCommands) {
        out << "  " << command.name << std::string(10 - command.name.size(), ' ') << command.summary << "\n";
    }
    out << kOverviewFooter << kOptionForm << kExitCodes;
}

void PrintVersion(std::ostream& out) {
    out << "zvpublish " << FormatVersion(kLauncherVersion) << "\nwrites signed manifests of form 2\n";
}

struct Parsed {
    std::map<std::string, std::wstring> options;
    std::set<std::string> flags;
    std::vector<std::wstring> positionals;
    bool help = false;
};

class Output {
public:
    Output(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    std::ostream& out() { return out_; }

    // A wrong command line, and where its help is: the command's own once it is known.
    int Usage(const std::string& message, std::string_view command = {}) {
        err_ << "zvpublish: " << EscapeForTerminal(message) << "\nTry 'zvpublish "
             << (command.empty() ? std::string("--help") : "help " + std::string(command)) << "'.\n";
        return kExitUsage;
    }
    int Fail(const Failure& failure) {
        Error(failure.path, failure.reason);
        return kExitFailure;
    }
    // Paths and texts may carry what came from outside (arguments, file names, manifest members):
    // each message is escaped whole, so that nothing in it can act on a terminal or break a line.
    void Error(const std::wstring& path, const std::string& text) {
        err_ << "zvpublish: " << EscapeForTerminal((path.empty() ? "" : ToUtf8(path) + ": ") + text) << "\n";
    }
    void Warning(const std::wstring& path, const std::string& text) {
        err_ << "zvpublish: warning: " << EscapeForTerminal(ToUtf8(path) + ": " + text) << "\n";
    }

private:
    std::ostream& out_;
    std::ostream& err_;
};

// Joins pieces of a message. (Chains of operator+ on temporaries trip a false -Wrestrict warning
// of GCC 12 in the cross build.)
std::string Concat(std::initializer_list<std::string_view> pieces) {
    std::string text;
    for (const std::string_view piece : pieces) {
        text += piece;
    }
    return text;
}

std::optional<std::string> Parse(const Command& command, const std::vector<std::wstring>& arguments, Parsed& parsed) {
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
        const OptionHelp* option = FindOption(command, name);
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
            return Concat({"unknown option '", name, "' for '", command.name, "'"});
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
    for (const auto& name : command.required) {
        if (!parsed.options.contains(name)) {
            return Concat({"'", command.name, "' needs ", name});
        }
    }
    if (parsed.positionals.size() != command.positionals) {
        if (command.positionals == 0) {
            return Concat({"'", command.name, "' takes no argument besides its options, but was given '",
                           ToUtf8(parsed.positionals.front()), "'"});
        }
        return Concat({"'", command.name, "' takes exactly one ", command.name == "key" ? "program" : "tree folder"});
    }
    for (const auto& positional : parsed.positionals) {
        if (positional.empty()) {
            return Concat({"'", command.name, "' was given an empty path"});
        }
    }
    return std::nullopt;
}

std::optional<std::string> BaseUrlOption(const Parsed& parsed, std::string& error) {
    const auto it = parsed.options.find("--base-url");
    if (it == parsed.options.end()) {
        return std::nullopt;
    }
    const std::string text = ToUtf8(it->second);
    std::string reason;
    auto url = NormaliseBaseUrl(text, reason);
    if (!url) {
        error = "--base-url " + text + ": " + reason;
    }
    return url;
}

// DAYS of --older-than and --expires-in as a time: digits, optionally a point and more digits (0,
// 30, 0.5), at most a million days; nothing for anything else (a sign, an exponent, blanks, an
// empty part).
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

// The value of an option, when it was given.
const std::wstring* OptionValue(const Parsed& parsed, const std::string& name) {
    const auto it = parsed.options.find(name);
    return it == parsed.options.end() ? nullptr : &it->second;
}

// The signing options' values and how they go together: a usage problem, or nothing.
std::optional<std::string> CheckSigningOptions(const Command& command, const Parsed& parsed) {
    if (const std::wstring* host = OptionValue(parsed, "--update-host")) {
        if (!MessageHost(*host) || host->find_first_of(L"/@") != std::wstring::npos) {
            return "--update-host " + ToUtf8(*host) +
                   ": must be the host the launcher is built for as ZV_UPDATE_HOST gives it, such as "
                   "updates.example.com or localhost:9443 (printable ASCII, no scheme, no path)";
        }
    }
    if (const std::wstring* days = OptionValue(parsed, "--expires-in")) {
        const auto time = ParseDays(*days);
        if (!time || time->count() == 0) {
            return "--expires-in " + ToUtf8(*days) + ": must be a number of days above 0, such as 30 or 0.5";
        }
    }
    if (const std::wstring* version = OptionValue(parsed, "--version"); version && !ParseVersion(ToUtf8(*version))) {
        return "--version " + ToUtf8(*version) + ": must be four numbers from 0 to 65535, A.B.C.D";
    }
    if (const std::wstring* key = OptionValue(parsed, "--build-key"); key && !IsBuildKey(*key)) {
        return "--build-key " + ToUtf8(*key) +
               ": must be a build key, 40 lower-case hexadecimal digits (zvpublish key GAME.exe prints it)";
    }
    const bool signing = parsed.options.contains("--signing-key");
    const bool host = parsed.options.contains("--update-host");
    if (parsed.options.contains("--expires-in") && parsed.flags.contains("--no-expiry")) {
        return "--expires-in and --no-expiry say different things; give one of them";
    }
    if (command.name == "stub" || command.name == "launcher") {
        for (const char* name : {"--update-host", "--expires-in", "--version", "--passphrase-file"}) {
            if (!signing && parsed.options.contains(name)) {
                return Concat({name, " is for signed manifests: give --signing-key too"});
            }
        }
        if (!signing && parsed.flags.contains("--no-expiry")) {
            return "--no-expiry is for signed manifests: give --signing-key too";
        }
        if (signing && !host) {
            return "signing needs --update-host HOST, the host the launcher is built for (ZV_UPDATE_HOST): a "
                   "signature holds for that host only";
        }
        if (signing && parsed.flags.contains("--allow-unsigned")) {
            return "--allow-unsigned is for publishing without --signing-key; give one or the other";
        }
    }
    if (command.name == "withdraw" && parsed.options.contains("--target") == parsed.options.contains("--build-key")) {
        return "'withdraw' needs either --target or --build-key";
    }
    if ((command.name == "verify" || command.name == "status") && parsed.options.contains("--public-keys") != host) {
        return Concat({"'", command.name,
                       "' checks signatures with --public-keys and --update-host together: a signature holds for "
                       "one host"});
    }
    if (command.name == "keygen" && parsed.options.contains("--public-out") &&
        parsed.options.at("--public-out") == parsed.options.at("--out")) {
        return "--out and --public-out name the same file; the private and the public key need a file each";
    }
    return std::nullopt;
}

const char* Describe(Change change, bool isManifest) {
    switch (change) {
        case Change::Added:
            return "added";
        case Change::Unchanged:
            return isManifest ? "unchanged" : "already there";
        case Change::Replaced:
            return "replaced";
    }
    return "";
}

// A path for standard output.
std::string Shown(const std::wstring& path) { return EscapeForTerminal(ToUtf8(path)); }

void WarnIfNeverExamined(Output& output, const std::wstring& target) {
    if (!zv::HasCandidateExtension(target)) {
        output.Warning(target,
                       "the launcher opens only .exe, .bin and .dll files, so under this name it never finds it");
    }
}

// "18a722fad454b88f, 2e3fbc4499ea056e".
std::string JoinKeys(const std::vector<std::string>& keys) {
    std::string list;
    for (const auto& key : keys) {
        list += (list.empty() ? "" : ", ") + key;
    }
    return list;
}

// What a launcher's build record says, and which of its keys signs.
void ReportLauncher(std::ostream& out, const LauncherBuild& build, const Signing* signing, std::size_t keyIndex) {
    out << "launcher   host " << EscapeForTerminal(build.host) << ", version " << FormatVersion(build.version) << ", "
        << (build.keys.empty() ? std::string("no keys (it reads unsigned manifests)") : "keys " + JoinKeys(build.keys))
        << "\n";
    if (signing != nullptr) {
        out << "signed by  " << build.keys[keyIndex] << ", the launcher's key " << keyIndex + 1 << " of "
            << build.keys.size() << "\n";
    }
}

// "new tree at TREE", when a command starts a tree.
void ReportNewTree(Output& output, bool newTree, const std::wstring& tree) {
    if (newTree) {
        output.out() << "new tree at " << Shown(tree) << "\n";
    }
}

int ReportPublished(Output& output, const Published& published, const std::wstring& tree, const Signing* signing) {
    for (const auto& warning : published.warnings) {
        output.Warning(warning.path, warning.reason);
    }
    if (published.failure) {
        return output.Fail(*published.failure);
    }
    auto& out = output.out();
    ReportNewTree(output, published.newTree, tree);
    if (published.build) {
        ReportLauncher(out, *published.build, signing, published.signingKeyIndex);
    }
    if (!published.key.empty()) {
        out << "build key  " << ToUtf8(published.key) << "\n";
    }
    out << "file       " << Shown(published.file) << "  (" << Describe(published.fileChange, false) << ")\n";
    out << "manifest   " << Shown(published.manifest) << "  (" << Describe(published.manifestChange, true)
        << (published.signedManifest ? ", signed" : "") << ")\n";
    if (published.signedManifest) {
        out << "version    " << FormatVersion(published.version) << "\n";
        out << "expires    " << EscapeForTerminal(published.expires.value_or("never")) << "\n";
    }
    out << "url        " << EscapeForTerminal(published.url) << "\n";
    return kExitSuccess;
}

// The passphrase in FILE of --passphrase-file: its first line, without the line end; nothing with
// the reason when it cannot be read or the line is empty.
std::optional<std::string> ReadPassphraseFile(const std::wstring& path, std::string& reason) {
    constexpr std::uint32_t kMaxRead = 4096;
    if (QueryPathKind(path) != PathKind::File) {
        reason = QueryPathKind(path) == PathKind::Missing ? "does not exist" : "is not a file";
        return std::nullopt;
    }
    ReadOnlyFile file(path);
    std::string text(kMaxRead, '\0');
    std::uint32_t read = 0;
    if (!file.IsOpen() || !file.ReadUntilFullOrEnd(text.data(), kMaxRead, read)) {
        reason = "cannot be read";
        return std::nullopt;
    }
    text.resize(read);
    std::string line = text.substr(0, text.find('\n'));
    if (line.ends_with('\r')) {
        line.pop_back();
    }
    if (line.empty()) {
        reason = "its first line is empty; it must hold the signing key's passphrase";
        return std::nullopt;
    }
    return line;
}

// A signing key loaded with what signing takes besides (signing.h, publish.h).
struct LoadedSigning {
    std::unique_ptr<ManifestSigner> signer;
    Signing signing;
};

// The signing the options ask for: nothing without --signing-key; false (the error reported) when
// the key cannot be had.
bool LoadSigning(Output& output, const Parsed& parsed, FileTime now, std::optional<LoadedSigning>& loaded) {
    const std::wstring* keyPath = OptionValue(parsed, "--signing-key");
    if (keyPath == nullptr) {
        return true;
    }
    if (!CanSign()) {
        output.Error({}, std::string(kCannotSign));
        return false;
    }
    std::string reason;
    std::optional<std::string> passphrase;
    if (const std::wstring* file = OptionValue(parsed, "--passphrase-file")) {
        passphrase = ReadPassphraseFile(*file, reason);
        if (!passphrase) {
            output.Error(*file, reason);
            return false;
        }
    }
    std::unique_ptr<ManifestSigner> signer =
        ManifestSigner::Load(*keyPath, reason, passphrase ? &*passphrase : nullptr);
    const auto publicKeys = signer ? ParsePublicKeys(signer->PublicKeyPem(), reason) : std::nullopt;
    if (!publicKeys) {
        output.Error(*keyPath, reason);
        return false;
    }
    Signing signing;
    signing.signer = signer.get();
    signing.publicKey = publicKeys->front();
    signing.keyPath = *keyPath;
    signing.host = *MessageHost(parsed.options.at("--update-host"));  // checked by CheckSigningOptions
    if (!parsed.flags.contains("--no-expiry")) {
        // In seconds: DAYS may reach past the end of a clock that counts nanoseconds (2262).
        const std::wstring* days = OptionValue(parsed, "--expires-in");
        const std::chrono::seconds lifetime = days ? *ParseDays(*days) : kDefaultLifetime;
        signing.expires =
            FormatUtcTime(std::chrono::floor<std::chrono::seconds>(now) + lifetime, UtcPrecision::Seconds);
    }
    loaded = LoadedSigning{std::move(signer), std::move(signing)};
    return true;
}

int RunKey(Output& output, const Parsed& parsed) {
    const std::wstring& target = parsed.positionals.front();
    const BuildKey key = ComputeBuildKey(target);
    if (key.failure) {
        return output.Fail(*key.failure);
    }
    WarnIfNeverExamined(output, target);
    output.out() << ToUtf8(key.key) << "\n";
    return kExitSuccess;
}

int RunStub(Output& output, const Parsed& parsed, const std::string& baseUrl, FileTime now) {
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, now, loaded)) {
        return kExitFailure;
    }
    const std::wstring* version = OptionValue(parsed, "--version");
    const std::wstring& target = parsed.options.at("--target");
    const std::wstring& tree = parsed.options.at("--out");
    const Signing* signing = loaded ? &loaded->signing : nullptr;
    const Published published =
        PublishStub(target, parsed.options.at("--stub"), baseUrl, tree, signing,
                    version ? ParseVersion(ToUtf8(*version)) : std::nullopt, parsed.flags.contains("--allow-unsigned"));
    if (!published.failure) {
        WarnIfNeverExamined(output, target);
    }
    return ReportPublished(output, published, tree, signing);
}

int RunLauncher(Output& output, const Parsed& parsed, const std::string& baseUrl, FileTime now) {
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, now, loaded)) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.options.at("--out");
    const Signing* signing = loaded ? &loaded->signing : nullptr;
    return ReportPublished(
        output,
        PublishLauncher(parsed.options.at("--file"), baseUrl, tree, signing, parsed.flags.contains("--allow-unsigned")),
        tree, signing);
}

int RunWithdraw(Output& output, const Parsed& parsed, FileTime now) {
    std::wstring key;
    if (const std::wstring* target = OptionValue(parsed, "--target")) {
        const BuildKey computed = ComputeBuildKey(*target);
        if (computed.failure) {
            return output.Fail(*computed.failure);
        }
        key = computed.key;
    } else {
        key = parsed.options.at("--build-key");
    }
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, now, loaded)) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.options.at("--out");
    const std::wstring* version = OptionValue(parsed, "--version");
    const Withdrawn withdrawn =
        WithdrawBuild(key, tree, loaded->signing, version ? ParseVersion(ToUtf8(*version)) : std::nullopt);
    for (const auto& warning : withdrawn.warnings) {
        output.Warning(warning.path, warning.reason);
    }
    if (withdrawn.failure) {
        return output.Fail(*withdrawn.failure);
    }
    ReportNewTree(output, withdrawn.newTree, tree);
    auto& out = output.out();
    out << "build key  " << ToUtf8(key) << "\n";
    if (withdrawn.manifestChange == Change::Unchanged) {
        out << "manifest   " << Shown(withdrawn.manifest)
            << "  (unchanged: it already withdraws this build, at version " << FormatVersion(withdrawn.version)
            << "; zvpublish refresh renews its expiry)\n";
        return kExitSuccess;
    }
    out << "manifest   " << Shown(withdrawn.manifest) << "  (" << Describe(withdrawn.manifestChange, true)
        << ", signed withdrawal)\n";
    out << "version    " << FormatVersion(withdrawn.version) << "\n";
    out << "expires    " << withdrawn.expires.value_or("never") << "\n";
    return kExitSuccess;
}

// The keys of --public-keys; nothing without the option; false (the error reported) when they
// cannot be read.
bool LoadPublicKeys(Output& output, const Parsed& parsed, std::optional<std::vector<P256PublicKey>>& keys) {
    const std::wstring* path = OptionValue(parsed, "--public-keys");
    if (path == nullptr) {
        return true;
    }
    std::string reason;
    keys = ReadPublicKeys(*path, reason);
    if (!keys) {
        output.Error(*path, reason);
        return false;
    }
    return true;
}

int RunRefresh(Output& output, const Parsed& parsed, FileTime now) {
    std::optional<LoadedSigning> loaded;
    std::optional<std::vector<P256PublicKey>> trusted;
    if (!LoadSigning(output, parsed, now, loaded) || !LoadPublicKeys(output, parsed, trusted)) {
        return kExitFailure;
    }
    std::vector<P256PublicKey> keys{loaded->signing.publicKey};
    if (trusted) {
        keys.insert(keys.end(), trusted->begin(), trusted->end());
    }
    const std::wstring& tree = parsed.positionals.front();
    const RefreshReport report =
        RefreshTree(tree, loaded->signing, keys, now, parsed.flags.contains("--include-expired"));
    if (report.failure) {
        return output.Fail(*report.failure);
    }
    std::size_t refreshed = 0;
    for (const auto& manifest : report.manifests) {
        if (manifest.failure) {
            output.Fail(*manifest.failure);
            continue;
        }
        ++refreshed;
        output.out() << "signed again  " << Shown(manifest.manifest) << "  ("
                     << (manifest.withdrawal ? "withdrawal at version " : "version ") << FormatVersion(manifest.version)
                     << ")\n";
    }
    const std::size_t refused = report.manifests.size() - refreshed;
    output.out() << Shown(tree) << ": signed " << refreshed << (refreshed == 1 ? " manifest" : " manifests")
                 << " again, expiring " << loaded->signing.expires.value_or("never") << "\n";
    if (refused != 0) {
        output.Error(
            tree, std::to_string(refused) + (refused == 1 ? " manifest was" : " manifests were") + " not signed again");
        return kExitFailure;
    }
    return kExitSuccess;
}

// The signature check that --public-keys and --update-host ask for; nothing without them; false
// (the error reported) when the keys cannot be read.
bool LoadSignedCheck(Output& output, const Parsed& parsed, FileTime now, std::optional<SignedCheck>& check) {
    std::optional<std::vector<P256PublicKey>> publicKeys;
    if (!LoadPublicKeys(output, parsed, publicKeys)) {
        return false;
    }
    if (publicKeys) {
        // --update-host comes with --public-keys and was checked (CheckSigningOptions).
        check = SignedCheck{*publicKeys, *MessageHost(parsed.options.at("--update-host")), now};
    }
    return true;
}

int RunVerify(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl, FileTime now) {
    const std::wstring& tree = parsed.positionals.front();
    std::optional<SignedCheck> signedCheck;
    if (!LoadSignedCheck(output, parsed, now, signedCheck)) {
        return kExitFailure;
    }
    const TreeReport report = VerifyTree(tree, baseUrl, signedCheck ? &*signedCheck : nullptr);
    auto& out = output.out();
    for (const auto& good : report.good) {
        out << "ok    " << Shown(good.manifest);
        if (!good.file.empty()) {
            out << "  ->  " << Shown(good.file);
        }
        out << "\n";
    }
    std::size_t errors = 0;
    for (const auto& finding : report.findings) {
        if (finding.kind == Finding::Kind::Error) {
            output.Error(finding.path, finding.text);
            ++errors;
        } else {
            out << "note: " << EscapeForTerminal(ToUtf8(finding.path) + ": " + finding.text) << "\n";
        }
    }
    // A tree with signatures read without keys passes as an unsigned launcher reads it, while a
    // launcher built with keys may refuse all of it: say so, and how to check.
    const std::size_t unchecked = signedCheck ? 0 : report.signedManifests;
    if (unchecked != 0) {
        out << "signatures were not checked: " << unchecked
            << (unchecked == 1 ? " manifest is signed" : " manifests are signed")
            << "; check them with --public-keys PUB.pem --update-host HOST\n";
    }
    if (errors != 0) {
        output.Error(tree, std::to_string(errors) + (errors == 1 ? " problem" : " problems") + " found");
        return kExitFailure;
    }
    out << Shown(tree) << ": every manifest is good"
        << (signedCheck      ? " and signed"
            : unchecked != 0 ? " for a launcher without keys (signatures not checked)"
                             : "")
        << "\n";
    return kExitSuccess;
}

// The tree's contents, or nothing with the failure reported.
std::optional<TreeContents> ReadContents(Output& output, const Parsed& parsed,
                                         const std::optional<std::string>& baseUrl,
                                         const SignedCheck* signedCheck = nullptr) {
    TreeContents contents = ReadTreeContents(parsed.positionals.front(), baseUrl, signedCheck);
    if (contents.failure) {
        output.Fail(*contents.failure);
        return std::nullopt;
    }
    return contents;
}

int RunStatus(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl, FileTime now) {
    std::optional<SignedCheck> signedCheck;
    if (!LoadSignedCheck(output, parsed, now, signedCheck)) {
        return kExitFailure;
    }
    const auto contents = ReadContents(output, parsed, baseUrl, signedCheck ? &*signedCheck : nullptr);
    if (!contents) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.positionals.front();
    output.out() << (parsed.flags.contains("--json") ? FormatStatusJson(*contents, tree, now)
                                                     : FormatStatus(*contents, tree, now));
    for (const auto& warning : ExpiryWarnings(*contents, now)) {
        output.Warning(warning.path, warning.reason);
    }
    return kExitSuccess;
}

int RunPrune(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl, FileTime now) {
    const auto olderThan = ParseDays(parsed.options.at("--older-than"));
    if (!olderThan) {
        return output.Usage("--older-than " + ToUtf8(parsed.options.at("--older-than")) +
                                ": must be a number of days, 0 or more, such as 30 or 0.5",
                            "prune");
    }
    const auto contents = ReadContents(output, parsed, baseUrl);
    if (!contents) {
        return kExitFailure;
    }
    const bool dryRun = parsed.flags.contains("--dry-run");
    const PrunePlan plan = PlanPrune(*contents, parsed.positionals.front(), now, *olderThan);
    for (const auto& folder : plan.leftAlone) {
        output.Error(folder.path, folder.reason);
    }
    for (const auto& file : plan.ageUnknown) {
        output.Error(file.path, "its age cannot be read (" + file.factsProblem + "), so it is kept");
    }
    for (const auto& link : plan.links) {
        output.Warning(link.path,
                       "is a symbolic link (or another reparse point); prune neither enters nor removes links, so it "
                       "is left alone");
    }
    PruneResult result;
    if (dryRun) {
        result.removed = plan.remove;
        for (const auto& file : plan.remove) {
            result.freed += file.facts->size;
        }
    } else {
        result = CarryOutPrune(plan);
    }
    auto& out = output.out();
    for (const auto& file : result.removed) {
        out << (dryRun ? "would remove  " : "removed  ") << Shown(file.path) << "  (" << FormatSize(file.facts->size)
            << ", " << FormatAge(file.facts->modified, now) << " old)\n";
    }
    for (const auto& failure : result.failed) {
        output.Error(failure.path, failure.reason);
    }
    const std::size_t n = result.removed.size();
    out << Shown(parsed.positionals.front()) << ": " << (dryRun ? "would remove " : "removed ") << n
        << (n == 1 ? " file, " : " files, ") << (dryRun ? "freeing " : "freed ") << FormatSize(result.freed);
    if (!plan.young.empty()) {
        out << "; kept " << plan.young.size() << (plan.young.size() == 1 ? " file" : " files")
            << " that no manifest names, not older than " << ToUtf8(parsed.options.at("--older-than")) << " days";
    }
    out << (dryRun ? " (--dry-run: nothing was removed)\n" : "\n");
    const bool complete = plan.leftAlone.empty() && plan.ageUnknown.empty() && result.failed.empty();
    return complete ? kExitSuccess : kExitFailure;
}

int RunKeygen(Output& output, const Parsed& parsed) {
    if (!CanSign()) {
        output.Error({}, std::string(kCannotSign));
        return kExitFailure;
    }
    const std::wstring& keyPath = parsed.options.at("--out");
    const auto publicOut = parsed.options.find("--public-out");
    const std::wstring* publicPath = publicOut == parsed.options.end() ? nullptr : &publicOut->second;
    if (const auto failure = GenerateSigningKey(keyPath, publicPath)) {
        output.Error({}, *failure);
        return kExitFailure;
    }
    output.out() << "signing key  " << Shown(keyPath) << "  (keep it offline; whoever has it can publish)\n";
    if (publicPath != nullptr) {
        output.out() << "public key   " << Shown(*publicPath) << "  (build the launcher with it)\n";
    }
    return kExitSuccess;
}

}  // namespace

int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err) {
    return RunPublishTool(arguments, out, err, std::chrono::system_clock::now());
}

int RunPublishTool(const std::vector<std::wstring>& arguments, std::ostream& out, std::ostream& err, FileTime now) {
    Output output(out, err);
    if (arguments.empty()) {
        return output.Usage("no command given");
    }
    const std::string name = ToUtf8(arguments.front());
    if (name == "--version" || name == "version") {
        if (arguments.size() > 1) {
            return output.Usage("'" + name + "' takes no argument");
        }
        PrintVersion(out);
        return kExitSuccess;
    }
    if (name == "--help" || name == "-h" || name == "help") {
        if (arguments.size() == 1) {
            PrintOverview(out);
            return kExitSuccess;
        }
        const Command* command = arguments.size() == 2 ? FindCommand(ToUtf8(arguments[1])) : nullptr;
        if (command == nullptr) {
            return output.Usage(arguments.size() == 2 ? "no command '" + ToUtf8(arguments[1]) + "' to help with"
                                                      : "'" + name + "' takes one command at most");
        }
        PrintCommandHelp(out, *command);
        return kExitSuccess;
    }
    const Command* command = FindCommand(name);
    if (command == nullptr) {
        return output.Usage("unknown command '" + name + "'");
    }

    Parsed parsed;
    if (const auto problem = Parse(*command, arguments, parsed)) {
        return output.Usage(*problem, command->name);
    }
    if (parsed.help) {
        PrintCommandHelp(out, *command);
        return kExitSuccess;
    }
    std::string urlError;
    const std::optional<std::string> baseUrl = BaseUrlOption(parsed, urlError);
    if (!urlError.empty()) {
        return output.Usage(urlError, command->name);
    }
    if (const auto problem = CheckSigningOptions(*command, parsed)) {
        return output.Usage(*problem, command->name);
    }

    if (command->name == "key") {
        return RunKey(output, parsed);
    }
    if (command->name == "stub") {
        return RunStub(output, parsed, *baseUrl, now);
    }
    if (command->name == "launcher") {
        return RunLauncher(output, parsed, *baseUrl, now);
    }
    if (command->name == "withdraw") {
        return RunWithdraw(output, parsed, now);
    }
    if (command->name == "refresh") {
        return RunRefresh(output, parsed, now);
    }
    if (command->name == "keygen") {
        return RunKeygen(output, parsed);
    }
    if (command->name == "status") {
        return RunStatus(output, parsed, baseUrl, now);
    }
    if (command->name == "prune") {
        return RunPrune(output, parsed, baseUrl, now);
    }
    return RunVerify(output, parsed, baseUrl, now);
}

}  // namespace zv::publish
