#include "zvpublish/commands/release_commands.h"

#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/version.h"
#include "launch/target_discovery.h"
#include "zvpublish/commands/key_options.h"
#include "zvpublish/commands/publish.h"
#include "zvpublish/commands/release_files.h"
#include "zvpublish/commands/terminal_text.h"
#include "zvpublish/signing/signing.h"

namespace zv::publish {

namespace {

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

// What a launcher's build record says, and which of its keys signs.
void ReportLauncher(std::ostream& out, const LauncherBuild& build, const Signing* signing, std::size_t keyIndex) {
    out << "launcher   host " << EscapeForTerminal(build.host) << ", version " << FormatVersion(build.version) << ", "
        << (build.keys.empty() ? std::string("no keys (it reads unsigned manifests)") : "keys " + KeyList(build.keys))
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

}  // namespace

std::optional<std::string> CheckSignedPublishOptions(const Command&, const Parsed& parsed) {
    const bool signing = parsed.options.contains("--signing-key");
    for (const char* name : {"--update-host", "--expires-in", "--version", "--passphrase-file"}) {
        if (!signing && parsed.options.contains(name)) {
            return Concat({name, " is for signed manifests: give --signing-key too"});
        }
    }
    if (!signing && parsed.flags.contains("--no-expiry")) {
        return "--no-expiry is for signed manifests: give --signing-key too";
    }
    if (signing && !parsed.options.contains("--update-host")) {
        return "signing needs --update-host HOST, the host the launcher is built for (ZV_UPDATE_HOST): a "
               "signature holds for that host only";
    }
    if (signing && parsed.flags.contains("--allow-unsigned")) {
        return "--allow-unsigned is for publishing without --signing-key; give one or the other";
    }
    return std::nullopt;
}

std::optional<std::string> CheckWithdrawOptions(const Command& command, const Parsed& parsed) {
    if (parsed.options.contains("--target") == parsed.options.contains("--build-key")) {
        return Concat({"'", command.name, "' needs either --target or --build-key"});
    }
    return std::nullopt;
}

std::optional<std::string> CheckKeygenOptions(const Command&, const Parsed& parsed) {
    if (parsed.options.contains("--public-out") && parsed.options.at("--public-out") == parsed.options.at("--out")) {
        return "--out and --public-out name the same file; the private and the public key need a file each";
    }
    return std::nullopt;
}

int RunKey(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    const std::wstring& target = parsed.positionals.front();
    const BuildKey key = ComputeBuildKey(target);
    if (key.failure) {
        return output.Fail(*key.failure);
    }
    WarnIfNeverExamined(output, target);
    output.out() << ToUtf8(key.key) << "\n";
    return kExitSuccess;
}

int RunStub(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, invocation.now, loaded)) {
        return kExitFailure;
    }
    const std::wstring* version = parsed.Value("--version");
    const std::wstring& target = parsed.options.at("--target");
    const std::wstring& tree = parsed.options.at("--out");
    const Signing* signing = loaded ? &loaded->signing : nullptr;
    const Published published =
        PublishStub(target, parsed.options.at("--stub"), *parsed.baseUrl, tree, signing,
                    version ? ParseVersion(ToUtf8(*version)) : std::nullopt, parsed.flags.contains("--allow-unsigned"));
    if (!published.failure) {
        WarnIfNeverExamined(output, target);
    }
    return ReportPublished(output, published, tree, signing);
}

int RunLauncher(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, invocation.now, loaded)) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.options.at("--out");
    const Signing* signing = loaded ? &loaded->signing : nullptr;
    return ReportPublished(output,
                           PublishLauncher(parsed.options.at("--file"), *parsed.baseUrl, tree, signing,
                                           parsed.flags.contains("--allow-unsigned")),
                           tree, signing);
}

int RunWithdraw(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    std::wstring key;
    if (const std::wstring* target = parsed.Value("--target")) {
        const BuildKey computed = ComputeBuildKey(*target);
        if (computed.failure) {
            return output.Fail(*computed.failure);
        }
        key = computed.key;
    } else {
        key = parsed.options.at("--build-key");
    }
    std::optional<LoadedSigning> loaded;
    if (!LoadSigning(output, parsed, invocation.now, loaded)) {
        return kExitFailure;
    }
    const std::wstring& tree = parsed.options.at("--out");
    const std::wstring* version = parsed.Value("--version");
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

int RunKeygen(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
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

}  // namespace zv::publish
