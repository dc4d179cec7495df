// Writing a manifest is zvpublish's part; it has a file of its own so that the launcher, which only
// reads manifests, does not carry the writer.
#include <nlohmann/json.hpp>

#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace zv {

namespace {

nlohmann::ordered_json VersionedDocument(const Version& version, const std::optional<std::string>& expires) {
    nlohmann::ordered_json document;
    document[kVersionMember] = FormatVersion(version);
    if (expires) {
        document[kExpiresMember] = *expires;
    }
    return document;
}

}  // namespace

std::string FormatManifest(const Sha1Digest& digest, std::string_view url) {
    nlohmann::ordered_json document;
    document[kSha1Member] = Sha1ToHex(digest);
    document[kUrlMember] = std::string(url);
    return document.dump(2) + "\n";
}

std::string FormatSignedManifest(const SignedRelease& release, std::string_view signature) {
    nlohmann::ordered_json document;
    document[kSha1Member] = Sha1ToHex(release.sha1);
    document[kSha256Member] = Sha256ToHex(release.sha256);
    document[kSizeMember] = release.size;
    document[kUrlMember] = release.url;
    document.update(VersionedDocument(release.version, release.expires));
    document[kSignatureMember] = std::string(signature);
    return document.dump(2) + "\n";
}

std::string FormatWithdrawal(const SignedWithdrawal& withdrawal, std::string_view signature) {
    nlohmann::ordered_json document;
    document[kWithdrawnMember] = true;
    document.update(VersionedDocument(withdrawal.version, withdrawal.expires));
    document[kSignatureMember] = std::string(signature);
    return document.dump(2) + "\n";
}

}  // namespace zv
