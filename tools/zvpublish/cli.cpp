#include "cli.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string_view>

#include "launch/target_discovery.h"
#include "prune.h"
#include "public_keys.h"
#include "publish.h"
#include "signing.h"
#include "status_report.h"
#include "tree_contents.h"
#include "tree_files.h"
#include "verify_tree.h"

namespace zv::publish {

namespace {

constexpr std::string_view kOverview = R"(Usage: zvpublish COMMAND [ARGUMENTS]

Publishes game builds and launcher releases for the Zarnovelle launcher into a static
folder tree that any HTTPS server or CDN can serve.

Commands:
)";

constexpr std::string_view kKeyHelp = R"(  key GAME.exe
      Print the build key of a client target (the program that imports ZVClient.dll
      and nothing else): 40 lower-case hexadecimal digits.
)";

constexpr std::string_view kStubHelp =
    R"(  stub --target GAME.exe --stub ZVClient.dll --base-url https://HOST/ --out TREE
       [--signing-key KEY.pem]
      Publish a client stub for the game build of GAME.exe:
      TREE/stub/KEY/ZVClient-SHA1.dll, then TREE/stub/KEY/manifest.json, which names it.
)";

constexpr std::string_view kLauncherHelp =
    R"(  launcher --file ZVLauncher.exe --base-url https://HOST/ --out TREE [--signing-key KEY.pem]
      Publish a launcher release: TREE/launcher/ZVLauncher-SHA1.exe, then
      TREE/launcher/manifest.json, which names it.
)";

constexpr std::string_view kVerifyHelp = R"(  verify TREE [--base-url https://HOST/] [--public-keys PUBLIC.pem]
      Check every manifest in TREE as the launcher reads it, and the SHA-1 of every file
      a manifest names inside TREE. With --public-keys (the keys the launcher is built
      with), every manifest must also be signed by one of them, and every file must
      match its SHA-256.
)";

constexpr std::string_view kStatusHelp = R"(  status TREE [--json] [--base-url https://HOST/]
      Show what TREE serves: the launcher's and each game build's SHA-1 and file, the
      content-named files no manifest names with how long ago each was last modified,
      and totals. --json prints the same as one JSON object for scripts (its shape is
      described in docs/operators.md).
)";

constexpr std::string_view kPruneHelp = R"(  prune TREE --older-than DAYS [--dry-run] [--base-url https://HOST/]
      Remove the content-named files (ZVLauncher-SHA1.exe in launcher/, ZVClient-SHA1.dll
      in stub/KEY/) that no manifest names and that were last modified more than DAYS
      days ago (0 or more, fractions allowed); stub and launcher set that time when they
      replace the manifest that named a file. Never removes manifests, hidden files or
      other files, nor anything in a folder whose manifest is missing or cannot be read.
      --dry-run lists what would be removed and removes nothing.
)";

constexpr std::string_view kKeygenHelp = R"(  keygen --out KEY.pem [--public-out PUBLIC.pem]
      Make a new signing key: an EC P-256 private key (PKCS#8 PEM, readable by its
      owner only) and, with --public-out, its public key, which the launcher is built
      with (ZV_UPDATE_PUBLIC_KEYS). Never writes over an existing file.
)";

constexpr std::string_view kFooter = R"(
--base-url is the https:// address at which TREE is served: download addresses begin
with it (for verify, status and prune: where a manifest's url points into TREE). Files
named by their content are never overwritten; manifests are replaced whole, in one
step. --signing-key signs each manifest it writes (for launchers built with
ZV_UPDATE_PUBLIC_KEYS); keep the key offline. Options also take the form --name=VALUE.

Exit status: 0 done, 1 refused or failed (the reason is on standard error),
2 wrong usage.
)";

struct Command {
    std::string_view name;
    std::string_view help;
    std::set<std::string> options;  // each takes a value
    std::set<std::string> required;
    std::size_t positionals;      // exactly this many
    std::set<std::string> flags;  // options without a value
};

const Command kCommands[] = {
    {"key", kKeyHelp, {}, {}, 1, {}},
    {"stub",
     kStubHelp,
     {"--target", "--stub", "--base-url", "--out", "--signing-key"},
     {"--target", "--stub", "--base-url", "--out"},
     0,
     {}},
    {"launcher",
     kLauncherHelp,
     {"--file", "--base-url", "--out", "--signing-key"},
     {"--file", "--base-url", "--out"},
     0,
     {}},
    {"verify", kVerifyHelp, {"--base-url", "--public-keys"}, {}, 1, {}},
    {"status", kStatusHelp, {"--base-url"}, {}, 1, {"--json"}},
    {"prune", kPruneHelp, {"--older-than", "--base-url"}, {"--older-than"}, 1, {"--dry-run"}},
    {"keygen", kKeygenHelp, {"--out", "--public-out"}, {"--out"}, 0, {}},
};

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

    int Usage(const std::string& message) {
        err_ << "zvpublish: " << message << "\nTry 'zvpublish --help'.\n";
        return kExitUsage;
    }
    int Fail(const Failure& failure) {
        Error(failure.path, failure.reason);
        return kExitFailure;
    }
    void Error(const std::wstring& path, const std::string& text) {
        err_ << "zvpublish: " << (path.empty() ? "" : ToUtf8(path) + ": ") << text << "\n";
    }
    void Warning(const std::wstring& path, const std::string& text) {
        err_ << "zvpublish: warning: " << ToUtf8(path) << ": " << text << "\n";
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
        if (command.flags.contains(name)) {
            if (equals != std::string::npos) {
                return Concat({"option '", name, "' takes no value"});
            }
            if (!parsed.flags.insert(name).second) {
                return Concat({"option '", name, "' is given twice"});
            }
            continue;
        }
        if (!command.options.contains(name)) {
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

void WarnIfNeverExamined(Output& output, const std::wstring& target) {
    if (!zv::HasCandidateExtension(target)) {
        output.Warning(target,
                       "the launcher opens only .exe, .bin and .dll files, so under this name it never finds it");
    }
}

int ReportPublished(Output& output, const Published& published) {
    for (const auto& warning : published.warnings) {
        output.Warning(warning.path, warning.reason);
    }
    if (published.failure) {
        return output.Fail(*published.failure);
    }
    auto& out = output.out();
    if (!published.key.empty()) {
        out << "build key  " << ToUtf8(published.key) << "\n";
    }
    out << "file       " << ToUtf8(published.file) << "  (" << Describe(published.fileChange, false) << ")\n";
    out << "manifest   " << ToUtf8(published.manifest) << "  (" << Describe(published.manifestChange, true)
        << (published.signedManifest ? ", signed" : "") << ")\n";
    out << "url        " << published.url << "\n";
    return kExitSuccess;
}

// The signer --signing-key names, when it is given; false (the error reported) when it cannot be
// had.
bool LoadSigner(Output& output, const Parsed& parsed, std::unique_ptr<ManifestSigner>& signer) {
    const auto option = parsed.options.find("--signing-key");
    if (option == parsed.options.end()) {
        return true;
    }
    if (!CanSign()) {
        output.Error({}, std::string(kCannotSign));
        return false;
    }
    std::string reason;
    signer = ManifestSigner::Load(option->second, reason);
    if (!signer) {
        output.Error(option->second, reason);
        return false;
    }
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

int RunStub(Output& output, const Parsed& parsed, const std::string& baseUrl) {
    std::unique_ptr<ManifestSigner> signer;
    if (!LoadSigner(output, parsed, signer)) {
        return kExitFailure;
    }
    const std::wstring& target = parsed.options.at("--target");
    const Published published =
        PublishStub(target, parsed.options.at("--stub"), baseUrl, parsed.options.at("--out"), signer.get());
    if (!published.failure) {
        WarnIfNeverExamined(output, target);
    }
    return ReportPublished(output, published);
}

int RunLauncher(Output& output, const Parsed& parsed, const std::string& baseUrl) {
    std::unique_ptr<ManifestSigner> signer;
    if (!LoadSigner(output, parsed, signer)) {
        return kExitFailure;
    }
    return ReportPublished(
        output, PublishLauncher(parsed.options.at("--file"), baseUrl, parsed.options.at("--out"), signer.get()));
}

int RunVerify(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl) {
    const std::wstring& tree = parsed.positionals.front();
    std::optional<std::vector<P256PublicKey>> publicKeys;
    if (const auto option = parsed.options.find("--public-keys"); option != parsed.options.end()) {
        std::string reason;
        publicKeys = ReadPublicKeys(option->second, reason);
        if (!publicKeys) {
            output.Error(option->second, reason);
            return kExitFailure;
        }
    }
    const TreeReport report = VerifyTree(tree, baseUrl, publicKeys ? &*publicKeys : nullptr);
    auto& out = output.out();
    for (const auto& good : report.good) {
        out << "ok    " << ToUtf8(good.manifest);
        if (!good.file.empty()) {
            out << "  ->  " << ToUtf8(good.file);
        }
        out << "\n";
    }
    std::size_t errors = 0;
    for (const auto& finding : report.findings) {
        if (finding.kind == Finding::Kind::Error) {
            output.Error(finding.path, finding.text);
            ++errors;
        } else {
            out << "note: " << ToUtf8(finding.path) << ": " << finding.text << "\n";
        }
    }
    if (errors != 0) {
        output.Error(tree, std::to_string(errors) + (errors == 1 ? " problem" : " problems") + " found");
        return kExitFailure;
    }
    out << ToUtf8(tree) << ": every manifest is good" << (publicKeys ? " and signed" : "") << "\n";
    return kExitSuccess;
}

// DAYS of --older-than as a time: digits, optionally a point and more digits (0, 30, 0.5), at most
// a million days; nothing for anything else (a sign, an exponent, blanks, an empty part).
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

// The tree's contents, or nothing with the failure reported.
std::optional<TreeContents> ReadContents(Output& output, const Parsed& parsed,
                                         const std::optional<std::string>& baseUrl) {
    TreeContents contents = ReadTreeContents(parsed.positionals.front(), baseUrl);
    if (contents.failure) {
        output.Fail(*contents.failure);
        return std::nullopt;
    }
    return contents;
}

int RunStatus(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl, FileTime now) {
    const auto contents = ReadContents(output, parsed, baseUrl);
    if (!contents) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.positionals.front();
    output.out() << (parsed.flags.contains("--json") ? FormatStatusJson(*contents, tree, now)
                                                     : FormatStatus(*contents, tree, now));
    return kExitSuccess;
}

int RunPrune(Output& output, const Parsed& parsed, const std::optional<std::string>& baseUrl, FileTime now) {
    const auto olderThan = ParseDays(parsed.options.at("--older-than"));
    if (!olderThan) {
        return output.Usage("--older-than " + ToUtf8(parsed.options.at("--older-than")) +
                            ": must be a number of days, 0 or more, such as 30 or 0.5");
    }
    const auto contents = ReadContents(output, parsed, baseUrl);
    if (!contents) {
        return kExitFailure;
    }
    const bool dryRun = parsed.flags.contains("--dry-run");
    const PrunePlan plan = PlanPrune(*contents, now, *olderThan);
    for (const auto& folder : plan.leftAlone) {
        output.Error(folder.path, folder.reason);
    }
    for (const auto& file : plan.ageUnknown) {
        output.Error(file.path, "its age cannot be read (" + file.factsProblem + "), so it is kept");
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
        out << (dryRun ? "would remove  " : "removed  ") << ToUtf8(file.path) << "  (" << FormatSize(file.facts->size)
            << ", " << FormatAge(file.facts->modified, now) << " old)\n";
    }
    for (const auto& failure : result.failed) {
        output.Error(failure.path, failure.reason);
    }
    const std::size_t n = result.removed.size();
    out << ToUtf8(parsed.positionals.front()) << ": " << (dryRun ? "would remove " : "removed ") << n
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
    output.out() << "signing key  " << ToUtf8(keyPath) << "  (keep it offline; whoever has it can publish)\n";
    if (publicPath != nullptr) {
        output.out() << "public key   " << ToUtf8(*publicPath) << "  (build the launcher with it)\n";
    }
    return kExitSuccess;
}

void PrintOverview(std::ostream& out) {
    out << kOverview;
    for (const auto& command : kCommands) {
        out << command.help;
    }
    out << kFooter;
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
    if (name == "--help" || name == "-h" || name == "help") {
        PrintOverview(out);
        return kExitSuccess;
    }
    const auto command =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return c.name == name; });
    if (command == std::end(kCommands)) {
        return output.Usage("unknown command '" + name + "'");
    }

    Parsed parsed;
    if (const auto problem = Parse(*command, arguments, parsed)) {
        return output.Usage(*problem);
    }
    if (parsed.help) {
        out << "Usage:\n" << command->help << kFooter;
        return kExitSuccess;
    }
    std::string urlError;
    const std::optional<std::string> baseUrl = BaseUrlOption(parsed, urlError);
    if (!urlError.empty()) {
        return output.Usage(urlError);
    }

    if (command->name == "key") {
        return RunKey(output, parsed);
    }
    if (command->name == "stub") {
        return RunStub(output, parsed, *baseUrl);
    }
    if (command->name == "launcher") {
        return RunLauncher(output, parsed, *baseUrl);
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
    return RunVerify(output, parsed, baseUrl);
}

}  // namespace zv::publish
