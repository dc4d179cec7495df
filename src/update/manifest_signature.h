#pragma once

// Signed update manifests, for a launcher built with keys (ZV_UPDATE_PUBLIC_KEYS). The publisher
// signs, for each manifest, these nine lines (each ended by one line feed, in UTF-8):
//
//   zarnovelle-update-manifest-2
//   HOST       the update host the launcher is built for, as ZV_UPDATE_HOST gives it, in lower case
//   PATH       the path the launcher asks for the manifest under: /launcher/manifest.json, or
//              /stub/ + the 40 lower-case digits of the build key + /manifest.json
//   VERSION    the release's version, A.B.C.D without leading zeros
//   EXPIRES    "expires" as the manifest has it (YYYY-MM-DDTHH:MM:SSZ), or "never"
//   SIZE       the file's length in bytes, in decimal without leading zeros
//   SHA1       the file's SHA-1, in lower case
//   SHA256     the file's SHA-256, in lower case
//   URL        "url" exactly
//
// and puts the standard base64, with padding, of the DER ECDSA signature (P-256, SHA-256) that
// `openssl dgst -sha256 -sign KEY.pem MESSAGE` writes into "signature". A withdrawal (stub paths
// only) says that a game build must not be played any more; its signature covers five lines:
//
//   zarnovelle-update-withdrawal-2
//   HOST
//   PATH
//   VERSION
//   EXPIRES
//
// What each line stops: HOST a staging tree's manifests working for the production launcher, PATH
// one build's manifest standing in for another's, VERSION an older manifest served again (the
// launcher never goes below its own version or the highest one it has accepted for a stub),
// EXPIRES a host freezing players on an old release for ever, SIZE an endless download, URL a
// download from elsewhere or over plain http.

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/version.h"
#include "integrity/p256.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"
#include "update/manifest.h"

namespace zv {

inline constexpr std::string_view kSignedManifestTag = "zarnovelle-update-manifest-2";
inline constexpr std::string_view kWithdrawalTag = "zarnovelle-update-withdrawal-2";
inline constexpr std::string_view kNeverExpires = "never";
// The only scheme a signed "url" may have.
inline constexpr std::string_view kSignedUrlScheme = "https://";

// What a signed manifest says of a release.
struct SignedRelease {
    Version version;
    std::optional<std::string> expires;  // "YYYY-MM-DDTHH:MM:SSZ"; nothing: it never expires
    std::uint64_t size = 0;
    Sha1Digest sha1;
    Sha256Digest sha256;
    std::string url;
};

// What a signed withdrawal says.
struct SignedWithdrawal {
    Version version;
    std::optional<std::string> expires;
};

// HOST as the messages carry it: updateHost with its ASCII letters in lower case (FoldAsciiCase).
// Nothing when it holds anything but printable ASCII without blanks (IsVisibleAscii).
std::optional<std::string> MessageHost(std::wstring_view updateHost);

// The messages above. host as MessageHost gives it; path is the manifest's path.
std::string SignedManifestMessage(std::string_view host, std::string_view path, const SignedRelease& release);
std::string WithdrawalMessage(std::string_view host, std::string_view path, const SignedWithdrawal& withdrawal);

// The bodies zvpublish writes: the members in a fixed order, indented by two blanks, with a final
// line feed; "expires" only when there is one. signature is the base64 text.
std::string FormatSignedManifest(const SignedRelease& release, std::string_view signature);
std::string FormatWithdrawal(const SignedWithdrawal& withdrawal, std::string_view signature);

// Which of keys, if any, made signature (standard base64 of a DER signature) over message.
std::optional<std::size_t> FindSigningKey(std::span<const P256PublicKey> keys, std::string_view message,
                                          std::string_view signature);

enum class ManifestTrust {
    Trusted,    // well-formed, signed by one of the keys for this host and path, not expired
    Untrusted,  // a member missing or malformed, a "url" that is not https://, a withdrawal where
                // none may stand, or no key's signature over the message for this host and path
    Expired,    // as Trusted, but "expires" lies before now
};

// A manifest as a build with keys reads it.
struct SignedReading {
    ManifestTrust trust = ManifestTrust::Untrusted;
    // For Untrusted: which rule it broke, in words for the log and the operator.
    std::string problem;
    bool withdrawn = false;
    // For a release: everything; for a withdrawal: version and expires.
    SignedRelease release;
    // For Trusted and Expired: which of keys signed it.
    std::size_t signer = 0;
};

enum class ManifestPlace {
    Launcher,  // a release only
    Stub,      // a release or a withdrawal
};

// Reads manifest as a launcher built with keys must before it uses any member: the form of every
// member, the signature over the message for host (MessageHost) and path, then the expiry against
// now. An "expires" equal to now has not passed yet.
SignedReading CheckSignedManifest(const ManifestReading& manifest, std::string_view host, std::string_view path,
                                  ManifestPlace place, std::span<const P256PublicKey> keys,
                                  std::chrono::system_clock::time_point now);

// Whether the file at path is the release's: its SHA-1 and SHA-256, from one pass over the file,
// are the release's. (A file of another length cannot have both.)
bool FileIsRelease(const std::wstring& path, const SignedRelease& release);

// The SHA-256 of the file at path; nothing when it cannot be read.
std::optional<Sha256Digest> FileSha256(const std::wstring& path);

}  // namespace zv
