#pragma once

// The keys zvpublish's options name, loaded for the commands that sign or check signatures: the
// signing key of --signing-key (with --passphrase-file, --update-host and the expiry), and the
// public keys of --public-keys.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "integrity/p256.h"
#include "zvpublish/commands/options.h"
#include "zvpublish/commands/output.h"
#include "zvpublish/signing/signing.h"
#include "zvpublish/tree/manifest_files.h"
#include "zvpublish/tree/tree_files.h"

namespace zv::publish {

// How long a signed manifest lasts without --expires-in: long enough that a routine that renews it
// every week or two has room to fail, short enough that a host cannot hold players on it for long.
inline constexpr std::chrono::seconds kDefaultLifetime = std::chrono::days(30);

// A signing key loaded with what signing takes besides (signing.h).
struct LoadedSigning {
    std::unique_ptr<ManifestSigner> signer;
    Signing signing;
};

// The signing the options ask for: nothing without --signing-key; false (the error reported) when
// the key cannot be had. Expires kDefaultLifetime after now unless --expires-in or --no-expiry says
// otherwise.
bool LoadSigning(Output& output, const Parsed& parsed, FileTime now, std::optional<LoadedSigning>& loaded);

// The keys of --public-keys; nothing without the option; false (the error reported) when they
// cannot be read.
bool LoadPublicKeys(Output& output, const Parsed& parsed, std::optional<std::vector<P256PublicKey>>& keys);

// The signature check that --public-keys and --update-host ask for; nothing without them; false
// (the error reported) when the keys cannot be read.
bool LoadSignedCheck(Output& output, const Parsed& parsed, FileTime now, std::optional<SignedCheck>& check);

}  // namespace zv::publish
