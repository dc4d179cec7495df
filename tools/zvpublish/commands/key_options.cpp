#include "zvpublish/commands/key_options.h"

#include <cstdint>
#include <utility>

#include "common/read_only_file.h"
#include "common/text.h"
#include "update/manifest_signature.h"
#include "zvpublish/signing/public_keys.h"

namespace zv::publish {

namespace {

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

}  // namespace

bool LoadSigning(Output& output, const Parsed& parsed, FileTime now, std::optional<LoadedSigning>& loaded) {
    const std::wstring* keyPath = parsed.Value("--signing-key");
    if (keyPath == nullptr) {
        return true;
    }
    if (!CanSign()) {
        output.Error({}, std::string(kCannotSign));
        return false;
    }
    std::string reason;
    std::optional<std::string> passphrase;
    if (const std::wstring* file = parsed.Value("--passphrase-file")) {
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
    signing.host = *MessageHost(parsed.options.at("--update-host"));  // checked by CheckOptionValues
    if (!parsed.flags.contains("--no-expiry")) {
        // In seconds: DAYS may reach past the end of a clock that counts nanoseconds (2262).
        const std::wstring* days = parsed.Value("--expires-in");
        const std::chrono::seconds lifetime = days ? *ParseDays(*days) : kDefaultLifetime;
        signing.expires =
            FormatUtcTime(std::chrono::floor<std::chrono::seconds>(now) + lifetime, UtcPrecision::Seconds);
    }
    loaded = LoadedSigning{std::move(signer), std::move(signing)};
    return true;
}

bool LoadPublicKeys(Output& output, const Parsed& parsed, std::optional<std::vector<P256PublicKey>>& keys) {
    const std::wstring* path = parsed.Value("--public-keys");
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

bool LoadSignedCheck(Output& output, const Parsed& parsed, FileTime now, std::optional<SignedCheck>& check) {
    std::optional<std::vector<P256PublicKey>> publicKeys;
    if (!LoadPublicKeys(output, parsed, publicKeys)) {
        return false;
    }
    if (publicKeys) {
        // --update-host comes with --public-keys and was checked (CheckOptionValues).
        check = SignedCheck{*publicKeys, *MessageHost(parsed.options.at("--update-host")), now};
    }
    return true;
}

}  // namespace zv::publish
