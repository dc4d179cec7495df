#pragma once

// The one rule both updaters apply to a manifest before they act on it. Each reports what the
// rule refuses with its own result codes (ManifestResults), as each maps the member faults that
// ReadManifest finds; the log says the same of either manifest.

#include <optional>
#include <string_view>

#include "common/launch_result.h"
#include "update/manifest.h"
#include "update/manifest_signature.h"

namespace zv {

struct ManifestResults {
    // The log's word for the manifest: "launcher" or "stub".
    std::string_view name;
    // Not one JSON value (a body that did not arrive whole is reported the same).
    LaunchResult unreadable;
    // Without keys: no usable "sha1".
    LaunchResult missingSha1;
    // Without keys: no usable "url" where a download needs one.
    LaunchResult missingUrl;
    // With keys: not well-formed, or not signed for this host and path by one of the keys.
    LaunchResult untrusted;
    // With keys: past its "expires".
    LaunchResult expired;
};

inline constexpr ManifestResults kLauncherManifestResults{
    "launcher",
    LaunchResult::LauncherManifestFetchFailed,
    LaunchResult::LauncherManifestMissingSha1,
    LaunchResult::LauncherManifestMissingUrl,
    LaunchResult::LauncherManifestUntrusted,
    LaunchResult::LauncherManifestExpired,
};

inline constexpr ManifestResults kStubManifestResults{
    "stub",
    LaunchResult::StubManifestFetchFailed,
    LaunchResult::StubManifestMissingSha1,
    LaunchResult::StubManifestMissingUrl,
    LaunchResult::StubManifestUntrusted,
    LaunchResult::StubManifestStale,
};

// Every manifest: nothing when it is one JSON value, otherwise the unreadable result.
std::optional<LaunchResult> RefuseUnreadable(const ManifestReading& manifest, const ManifestResults& results);

// Without keys: nothing when "sha1" is usable, otherwise the missing-"sha1" result.
std::optional<LaunchResult> RefuseWithoutSha1(const ManifestReading& manifest, const ManifestResults& results);

// With keys: nothing when reading is trusted (hostUsable: the build's host could be put in a
// signed message at all), otherwise the untrusted or the expired result.
std::optional<LaunchResult> RefuseUntrusted(const SignedReading& reading, bool hostUsable,
                                            const ManifestResults& results);

}  // namespace zv
