#include "zvpublish/commands/command_table.h"

#include <algorithm>
#include <iterator>

#include "zvpublish/commands/help.h"
#include "zvpublish/commands/release_commands.h"
#include "zvpublish/commands/tree_commands.h"

namespace zv::publish {

namespace {

// One row per command, in the order the overview lists them: its name, its summary, its usage and
// help (help.h), what its line takes (its options, those it needs, its arguments), the check of how
// its options go together, and the function that runs it.
const Command kCommands[] = {
    {"key", "print the build key of a game program", kKeyUsage, kKeyHelp, {{}, {}, 1, "program"}, nullptr, RunKey},
    {"stub",
     "publish the client stub of a game build",
     kStubUsage,
     kStubHelp,
     {{{"--target", "GAME.exe", "the game program (the client target) the stub belongs to"},
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
      0,
      {}},
     CheckSignedPublishOptions,
     RunStub},
    {"launcher",
     "publish a launcher release",
     kLauncherUsage,
     kLauncherHelp,
     {{{"--file", "ZVLauncher.exe", "the launcher, as the build made it (any name)"},
       kBaseUrlOut,
       kOut,
       kSigningKey,
       kUpdateHostSign,
       kExpiresIn,
       kNoExpiry,
       kPassphraseFile,
       kAllowUnsigned},
      {"--file", "--base-url", "--out"},
      0,
      {}},
     CheckSignedPublishOptions,
     RunLauncher},
    {"withdraw",
     "withdraw a game build (signed)",
     kWithdrawUsage,
     kWithdrawHelp,
     {{{"--target", "GAME.exe", "the game program whose build is withdrawn"},
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
      0,
      {}},
     CheckWithdrawOptions,
     RunWithdraw},
    {"refresh",
     "sign every manifest again with a new expiry",
     kRefreshUsage,
     kRefreshHelp,
     {{kSigningKey,
       kUpdateHostSign,
       {"--expires-in", "DAYS", "the new expiry: DAYS (fractions allowed) from now"},
       {"--public-keys", "PUBLIC.pem", "more keys whose signatures are signed again (after a key\nrotation)"},
       {"--include-expired", "", "sign expired manifests again too (only those you know players\nare to get)"},
       kPassphraseFile},
      {"--signing-key", "--update-host", "--expires-in"},
      1,
      "tree folder"},
     nullptr,
     RunRefresh},
    {"verify",
     "check a tree as the launcher reads it",
     kVerifyUsage,
     kVerifyHelp,
     {{kBaseUrlIn,
       {"--public-keys", "PUBLIC.pem", "the public keys the launcher is built with\n(ZV_UPDATE_PUBLIC_KEYS)"},
       {"--update-host", "HOST", "the host the launcher is built for (ZV_UPDATE_HOST)"}},
      {},
      1,
      "tree folder"},
     CheckSignatureOptions,
     RunVerify},
    {"status",
     "show what a tree serves",
     kStatusUsage,
     kStatusHelp,
     {{{"--json", "", "print the same as one JSON object for scripts (its shape is\ndescribed in docs/operators.md)"},
       kBaseUrlIn,
       {"--public-keys", "PUBLIC.pem",
        "check each signature with these keys and say which key made it\n(with --update-host)"},
       {"--update-host", "HOST", "the host the launcher is built for (ZV_UPDATE_HOST)"}},
      {},
      1,
      "tree folder"},
     CheckSignatureOptions,
     RunStatus},
    {"prune",
     "remove old files that no manifest names",
     kPruneUsage,
     kPruneHelp,
     {{{"--older-than", "DAYS", "remove only files last modified more than DAYS (0 or more,\nfractions allowed) ago"},
       {"--dry-run", "", "list what would be removed and remove nothing"},
       kBaseUrlIn},
      {"--older-than"},
      1,
      "tree folder"},
     nullptr,
     RunPrune},
    {"keygen",
     "make a signing key",
     kKeygenUsage,
     kKeygenHelp,
     {{{"--out", "KEY.pem", "where the private key goes"}, {"--public-out", "PUBLIC.pem", "where its public key goes"}},
      {"--out"},
      0,
      {}},
     CheckKeygenOptions,
     RunKeygen},
};

}  // namespace

std::span<const Command> Commands() { return kCommands; }

const Command* FindCommand(std::string_view name) {
    const auto command =
        std::find_if(std::begin(kCommands), std::end(kCommands), [&](const Command& c) { return c.name == name; });
    return command == std::end(kCommands) ? nullptr : &*command;
}

}  // namespace zv::publish
