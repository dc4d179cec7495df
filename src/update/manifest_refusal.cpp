#include "update/manifest_refusal.h"

#include <string>

#include "common/log.h"
#include "common/version.h"

namespace zv {

namespace {

std::string Manifest(const ManifestResults& results) { return "the " + std::string(results.name) + " manifest"; }

}  // namespace

std::optional<LaunchResult> RefuseUnreadable(const ManifestReading& manifest, const ManifestResults& results) {
    if (manifest.form != ManifestForm::NotOneJsonValue) {
        return std::nullopt;
    }
    LogEvent(Manifest(results) + " is not one JSON value: " + manifest.parseError);
    return results.unreadable;
}

std::optional<LaunchResult> RefuseWithoutSha1(const ManifestReading& manifest, const ManifestResults& results) {
    if (manifest.sha1.ok()) {
        return std::nullopt;
    }
    LogEvent(Manifest(results) + " has no usable \"sha1\"");
    return results.missingSha1;
}

std::optional<LaunchResult> RefuseUntrusted(const SignedReading& reading, bool hostUsable,
                                            const ManifestResults& results) {
    if (reading.trust == ManifestTrust::Untrusted || !hostUsable) {
        LogEvent(Manifest(results) + " is not signed for this launcher: " + reading.problem);
        return results.untrusted;
    }
    if (reading.trust == ManifestTrust::Expired) {
        LogEvent(Manifest(results) + " of version " + FormatVersion(reading.release.version) + " expired at " +
                 reading.release.expires.value_or(""));
        return results.expired;
    }
    return std::nullopt;
}

}  // namespace zv
