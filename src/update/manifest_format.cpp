// Writing a manifest is zvpublish's part; it has a file of its own so that the launcher, which only
// reads manifests, does not carry the writer.
#include <nlohmann/json.hpp>

#include "update/manifest.h"

namespace zv {

std::string FormatManifest(const Sha1Digest& digest, std::string_view url, const ManifestSignature* signature) {
    const std::wstring hex = DigestToHex(digest);
    nlohmann::ordered_json document;
    document[kSha1Member] = std::string(hex.begin(), hex.end());
    document[kUrlMember] = std::string(url);
    if (signature != nullptr) {
        document[kSha256Member] = Sha256ToHex(signature->sha256);
        document[kSignatureMember] = signature->signature;
    }
    return document.dump(2) + "\n";
}

}  // namespace zv
