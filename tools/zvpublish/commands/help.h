#pragma once

// zvpublish's help: the words of the overview and of each command's help, the options that several
// commands share, and the printing of both. The command table (command_table.h) names, for each
// command, its usage and help from here.

#include <ostream>
#include <span>
#include <string_view>

#include "zvpublish/commands/command.h"
#include "zvpublish/commands/options.h"

namespace zv::publish {

// The options that several commands share, each said once.
inline constexpr Option kBaseUrlOut{"--base-url", "URL",
                                    "the https:// address TREE is served at; every download address\n"
                                    "begins with it"};
inline constexpr Option kBaseUrlIn{"--base-url", "URL",
                                   "the https:// address TREE is served at: where a manifest's url\n"
                                   "points into TREE (without it, a url whose path ends with the\n"
                                   "manifest's own folder and a file name does)"};
inline constexpr Option kOut{"--out", "TREE",
                             "the tree to publish into: an existing folder, or a new folder in\n"
                             "an existing one (announced as a new tree)"};
inline constexpr Option kSigningKey{"--signing-key", "KEY.pem",
                                    "sign each manifest written with this EC P-256 key, for launchers\n"
                                    "built with ZV_UPDATE_PUBLIC_KEYS; keep the key offline"};
inline constexpr Option kPassphraseFile{"--passphrase-file", "FILE",
                                        "the passphrase of an encrypted KEY.pem: the first line of FILE\n"
                                        "(for scripts); without it, zvpublish asks at the terminal"};
inline constexpr Option kUpdateHostSign{"--update-host", "HOST",
                                        "the host the launcher is built for (ZV_UPDATE_HOST, such as\n"
                                        "updates.example.com or localhost:9443): a signature holds for\n"
                                        "that host only"};
inline constexpr Option kExpiresIn{"--expires-in", "DAYS",
                                   "the signed manifest expires DAYS (fractions allowed) from now;\n"
                                   "without it, 30 days from now"};
inline constexpr Option kNoExpiry{"--no-expiry", "",
                                  "sign a manifest that never expires: a host that withholds\n"
                                  "updates then holds players on it for ever (status warns)"};
inline constexpr Option kAllowUnsigned{"--allow-unsigned", "",
                                       "publish without --signing-key over a signed manifest (and, for a\n"
                                       "launcher, one built with keys): drops signing on purpose"};

// What each command's line takes, after "zvpublish NAME ".
inline constexpr std::string_view kKeyUsage = "GAME.exe";
inline constexpr std::string_view kStubUsage =
    "--target GAME.exe --stub ZVClient.dll --base-url URL --out TREE\n"
    "       [--signing-key KEY.pem --update-host HOST [--version A.B.C.D]\n"
    "        [--expires-in DAYS | --no-expiry] [--passphrase-file FILE]] [--allow-unsigned]";
inline constexpr std::string_view kLauncherUsage =
    "--file ZVLauncher.exe --base-url URL --out TREE\n"
    "       [--signing-key KEY.pem --update-host HOST [--expires-in DAYS | --no-expiry]\n"
    "        [--passphrase-file FILE]] [--allow-unsigned]";
inline constexpr std::string_view kWithdrawUsage =
    "(--target GAME.exe | --build-key KEY) --out TREE --signing-key KEY.pem\n"
    "       --update-host HOST [--version A.B.C.D] [--expires-in DAYS | --no-expiry]\n"
    "       [--passphrase-file FILE]";
inline constexpr std::string_view kRefreshUsage =
    "TREE --signing-key KEY.pem --update-host HOST --expires-in DAYS\n"
    "       [--public-keys PUBLIC.pem] [--include-expired] [--passphrase-file FILE]";
inline constexpr std::string_view kVerifyUsage = "TREE [--base-url URL] [--public-keys PUBLIC.pem --update-host HOST]";
inline constexpr std::string_view kStatusUsage =
    "TREE [--json] [--base-url URL] [--public-keys PUBLIC.pem --update-host HOST]";
inline constexpr std::string_view kPruneUsage = "TREE --older-than DAYS [--dry-run] [--base-url URL]";
inline constexpr std::string_view kKeygenUsage = "--out KEY.pem [--public-out PUBLIC.pem]";

// What each command does, for its own help.
inline constexpr std::string_view kKeyHelp =
    R"(Prints the build key of a client target (the game program, which imports ZVClient.dll
and nothing else): 40 lower-case hexadecimal digits, the name of its folder in the tree.
)";

inline constexpr std::string_view kStubHelp =
    R"(Publishes a client stub for the game build of GAME.exe: TREE/stub/KEY/ZVClient-SHA1.dll,
then TREE/stub/KEY/manifest.json, which names it. The stub must be a DLL for the game's
machine (64-bit for a 64-bit game). Signed, the manifest carries the stub's version:
that of its version resource, or --version for a stub without one. A version that is
not above the one already published is refused; the same stub again changes nothing.
)";

inline constexpr std::string_view kLauncherHelp =
    R"(Publishes a launcher release: TREE/launcher/ZVLauncher-SHA1.exe, then
TREE/launcher/manifest.json, which names it. The file must be a launcher: a 64-bit
Windows program that carries its build record (its update host, version and keys),
which zvpublish prints. Signed, the manifest carries the launcher's version
(ZV_VERSION), which must be above the one already published, and the launcher must be
built for --update-host and carry the signing key.
)";

inline constexpr std::string_view kWithdrawHelp =
    R"(Withdraws a game build: a signed TREE/stub/KEY/manifest.json, above the version
published there, that makes launchers built with keys remove the build's program and
tell the player to update or repair the game. A launcher that has accepted a higher
version of the build ignores it, so where the tree has no signed manifest for the
build, --version must say the version: one above any that players may have accepted.
)";

inline constexpr std::string_view kRefreshHelp =
    R"(Signs every manifest of TREE again with a new expiry, keeping its members and its
version. Only a manifest whose signature verifies for HOST under KEY.pem or a key of
--public-keys, that has not expired (unless --include-expired), and whose file is in
TREE with the size and digests it names, is signed again; the others are named and
left as they are.
)";

inline constexpr std::string_view kVerifyHelp =
    R"(Checks every manifest in TREE as the launcher reads it, the SHA-1 of every file a
manifest names inside TREE, and that every download is https:// on one host. With the
public keys and the update host the launcher is built with, every manifest must be
signed for that host by one of the keys and not expired, and every file must match
its size and SHA-256; without them, signatures are not checked (and verify says so).
)";

inline constexpr std::string_view kStatusHelp =
    R"(Shows what TREE serves: the launcher's and each game build's version, expiry,
signature, SHA-1 and file, the content-named files no manifest names with how long ago
each was last modified, and totals; warns about manifests that expire within 7 days.
)";

inline constexpr std::string_view kPruneHelp =
    R"(Removes the content-named files (ZVLauncher-SHA1.exe in launcher/, ZVClient-SHA1.dll
in stub/KEY/) that no manifest names and that were last modified more than DAYS days
ago; stub, launcher and withdraw set that time when they replace the manifest that
named a file. Never removes manifests, hidden files or other files, nor anything in a
folder whose manifest is missing or cannot be read, and never enters or removes a
symbolic link.
)";

inline constexpr std::string_view kKeygenHelp =
    R"(Makes a new signing key: an EC P-256 private key (PKCS#8 PEM, readable by its owner
only) and, with --public-out, its public key, which the launcher is built with
(ZV_UPDATE_PUBLIC_KEYS). Never writes over an existing file.
)";

// One command's help: its usage, what it does and its options alone.
void PrintCommandHelp(std::ostream& out, const Command& command);

// The overview: what the tool does, each of commands with its summary, and how to ask for more.
void PrintOverview(std::ostream& out, std::span<const Command> commands);

// "zvpublish A.B.C.D" and the form of the signed manifests it writes.
void PrintVersion(std::ostream& out);

}  // namespace zv::publish
