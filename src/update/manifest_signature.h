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

namespace zv {

inline constexpr std::string_view kSignedManifestTag = "zarnovelle-update-manifest-1";

// The four lines above.
std::string SignedManifestMessage(std::string_view path, const Sha1Digest& sha1, const Sha256Digest& sha256);

// True when signature (the "signature" member's text) decodes as standard base64 to a DER
// signature that one of keys verifies over the message for path, sha1 and sha256.
bool VerifyManifestSignature(std::span<const P256PublicKey> keys, std::string_view path, const Sha1Digest& sha1,
                             const Sha256Digest& sha256, std::string_view signature);

}  // namespace zv
