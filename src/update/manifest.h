#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>
#include <string_view>

#include "common/launch_result.h"
#include "integrity/sha1.h"

namespace zv {

// The result codes one updater gives for the outcomes of reading its manifest.
struct ManifestCodes {
    LaunchResult fetchFailed;
    LaunchResult missingSha1;
    LaunchResult missingUrl;
    LaunchResult downloadFailed;
    LaunchResult checksumMismatch;
};

inline constexpr ManifestCodes kLauncherManifestCodes{
    LaunchResult::LauncherManifestFetchFailed, LaunchResult::LauncherManifestMissingSha1,
    LaunchResult::LauncherManifestMissingUrl, LaunchResult::LauncherDownloadFailed,
    LaunchResult::LauncherChecksumMismatch};

inline constexpr ManifestCodes kStubManifestCodes{
    LaunchResult::StubManifestFetchFailed, LaunchResult::StubManifestMissingSha1, LaunchResult::StubManifestMissingUrl,
    LaunchResult::StubDownloadFailed, LaunchResult::StubChecksumMismatch};

// Parses a manifest body: exactly one JSON value with nothing but whitespace after it; comments
// and trailing commas are refused. Throws nlohmann::json::parse_error.
nlohmann::json ParseManifest(std::string_view body);

// A member's string value, matched by its exact name; absent when the root is not an object or
// has no such member. Throws nlohmann::json::type_error when the member is not a string.
std::optional<std::string> GetManifestString(const nlohmann::json& document, std::string_view member);

// The download URL: each byte of "url" becomes one UTF-16 unit, taken as a signed 8-bit value,
// so ASCII keeps its value (a manifest carries percent-encoded ASCII URLs).
std::wstring WidenManifestUrl(std::string_view url);

// The two readings both updaters make, with every malformed case turned into the neighbouring
// result code, so that no exception leaves an updater:
//   a body that is not one well-formed JSON value       -> fetchFailed
//   "sha1" absent, not a string, not 40 hex digits      -> missingSha1
//   "url" absent or not a string                        -> missingUrl
struct ManifestDigest {
    LaunchResult failure = LaunchResult::Success;
    Sha1Digest expected{};
    nlohmann::json document;
};
ManifestDigest ReadManifestDigest(std::string_view body, const ManifestCodes& codes);

struct ManifestUrl {
    LaunchResult failure = LaunchResult::Success;
    std::wstring url;
};
ManifestUrl ReadManifestUrl(const nlohmann::json& document, const ManifestCodes& codes);

}  // namespace zv
