// Manifest bodies through the readings both updaters make: first the digest, and when that is read,
// the download URL from the same document. No exception may leave either reading, each outcome is
// one of the reading's own codes, and what is read matches the document.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.h"
#include "integrity/sha1.h"
#include "update/manifest.h"

namespace {

using zv::LaunchResult;

std::wstring LowerWide(const std::string& text) {
    std::wstring out;
    for (const char c : text) {
        out.push_back(static_cast<wchar_t>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c));
    }
    return out;
}

void ReadAsUpdater(const std::string& body, const zv::ManifestCodes& codes) {
    const zv::ManifestDigest digest = zv::ReadManifestDigest(body, codes);
    zv::fuzz::Check(digest.failure == LaunchResult::Success || digest.failure == codes.fetchFailed ||
                        digest.failure == codes.missingSha1,
                    "reading the digest ends in success, fetchFailed or missingSha1");
    if (digest.failure != LaunchResult::Success) {
        return;
    }
    const nlohmann::json& document = digest.document;
    zv::fuzz::Check(document.is_object() && document.contains("sha1") && document["sha1"].is_string(),
                    "a digest is read only from a \"sha1\" string member");
    zv::fuzz::Check(zv::DigestToHex(digest.expected) == LowerWide(document["sha1"].get<std::string>()),
                    "the digest is the one the member spells");

    const zv::ManifestUrl url = zv::ReadManifestUrl(document, codes);
    zv::fuzz::Check(url.failure == LaunchResult::Success || url.failure == codes.missingUrl,
                    "reading the URL ends in success or missingUrl");
    const bool hasUrl = document.contains("url") && document["url"].is_string();
    zv::fuzz::Check((url.failure == LaunchResult::Success) == hasUrl, "a URL is read exactly when \"url\" is a string");
    if (hasUrl) {
        zv::fuzz::Check(url.url.size() == document["url"].get<std::string>().size(), "one unit per byte of the URL");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The updaters hold the body as the HTTP client gives it: a std::string.
    const std::string body(reinterpret_cast<const char*>(data), size);
    ReadAsUpdater(body, zv::kLauncherManifestCodes);
    ReadAsUpdater(body, zv::kStubManifestCodes);
    return 0;
}
