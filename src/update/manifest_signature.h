#pragma once

// The signature of an update manifest. With a signing key, the publisher signs, for each manifest,
// these four lines (each ended by one line feed, in UTF-8):
//
//   zarnovelle-update-manifest-1
//   PATH       the path the launcher asks for it under: /launcher/manifest.json, or
//              /stub/ + the 40 lower-case digits of the build key + /manifest.json
//   SHA1       the manifest's "sha1", in lower case
//   SHA256     the manifest's "sha256", in lower case
//
// and puts into the manifest's "signature" the standard base64, with padding, of the DER ECDSA
// signature (P-256, SHA-256) that `openssl dgst -sha256 -sign KEY.pem MESSAGE` writes. The path
// binds a manifest to its place, so one build's signed manifest cannot stand in for another's.

#include <span>
#include <string>
#include <string_view>

#include "integrity/p256.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"
#include "update/manifest.h"

namespace zv {

inline constexpr std::string_view kSignedManifestTag = "zarnovelle-update-manifest-1";

// The four lines above.
std::string SignedManifestMessage(std::string_view path, const Sha1Digest& sha1, const Sha256Digest& sha256);

// True when signature (the "signature" member's text) decodes as standard base64 to a DER
// signature that one of keys verifies over the message for path, sha1 and sha256.
bool VerifyManifestSignature(std::span<const P256PublicKey> keys, std::string_view path, const Sha1Digest& sha1,
                             const Sha256Digest& sha256, std::string_view signature);

// Whether an updater built with keys may use a manifest it asked for under path: it has "sha1",
// "sha256" and "signature", well-formed, and one of keys verifies the signature. An updater built
// without keys trusts every manifest, as launchers did before manifests were signed.
// (The tree's paths are ASCII; tree_layout.h gives them.)
bool IsTrustedManifest(const ManifestReading& manifest, std::wstring_view path, std::span<const P256PublicKey> keys);

// Whether the downloaded file at path is the one the manifest names: its SHA-1 is "sha1" and, for
// an updater built with keys, its SHA-256 is "sha256" too (both from one pass over the file).
bool DownloadMatchesManifest(const std::wstring& path, const ManifestReading& manifest,
                             std::span<const P256PublicKey> keys);

}  // namespace zv
