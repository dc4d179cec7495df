#include "zvpublish/commands/tree_commands.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "common/version.h"
#include "zvpublish/commands/key_options.h"
#include "zvpublish/commands/prune.h"
#include "zvpublish/commands/refresh.h"
#include "zvpublish/commands/status_report.h"
#include "zvpublish/commands/terminal_text.h"
#include "zvpublish/commands/verify_tree.h"
#include "zvpublish/tree/tree_contents.h"

namespace zv::publish {

namespace {

// The tree's contents, or nothing with the failure reported.
std::optional<TreeContents> ReadContents(Output& output, const Parsed& parsed,
                                         const SignedCheck* signedCheck = nullptr) {
    TreeContents contents = ReadTreeContents(parsed.positionals.front(), parsed.baseUrl, signedCheck);
    if (contents.failure) {
        output.Fail(*contents.failure);
        return std::nullopt;
    }
    return contents;
}

}  // namespace

std::optional<std::string> CheckSignatureOptions(const Command& command, const Parsed& parsed) {
    if (parsed.options.contains("--public-keys") != parsed.options.contains("--update-host")) {
        return Concat({"'", command.name,
                       "' checks signatures with --public-keys and --update-host together: a signature holds for "
                       "one host"});
    }
    return std::nullopt;
}

int RunRefresh(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    const FileTime now = invocation.now;
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

int RunVerify(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;

    const std::wstring& tree = parsed.positionals.front();
    std::optional<SignedCheck> signedCheck;
    if (!LoadSignedCheck(output, parsed, invocation.now, signedCheck)) {
        return kExitFailure;
    }
    const TreeReport report = VerifyTree(tree, parsed.baseUrl, signedCheck ? &*signedCheck : nullptr);
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

int RunStatus(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    const FileTime now = invocation.now;
    std::optional<SignedCheck> signedCheck;
    if (!LoadSignedCheck(output, parsed, now, signedCheck)) {
        return kExitFailure;
    }
    const auto contents = ReadContents(output, parsed, signedCheck ? &*signedCheck : nullptr);
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

int RunPrune(const Invocation& invocation) {
    Output& output = invocation.output;
    const Parsed& parsed = invocation.parsed;
    const FileTime now = invocation.now;
    const std::chrono::seconds olderThan = *ParseDays(parsed.options.at("--older-than"));  // CheckOptionValues
    const auto contents = ReadContents(output, parsed);
    if (!contents) {
        return kExitFailure;
    }
    const bool dryRun = parsed.flags.contains("--dry-run");
    const PrunePlan plan = PlanPrune(*contents, parsed.positionals.front(), now, olderThan);
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

}  // namespace zv::publish
