#include <windows.h>

#include <string>

#include "integrity/file_digest.h"
#include "net/http_client.h"
#include "update/manifest.h"
#include "update/stub_update.h"
#include "update/tree_layout.h"

namespace zv {

namespace {
constexpr std::uint32_t kHttpNotFound = 404;
constexpr DWORD kCurrentStubPauseMs = 300;
}  // namespace

StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost) {
    // A code section that cannot be read still has a key: forty zero digits.
    const std::wstring key = DigestToHex(HashCodeSection(location.clientTarget));
    const std::wstring manifestUrl = StubManifestUrl(updateHost, key);

    HttpClient client;
    std::string body;
    const TransferResult fetched = client.GetString(manifestUrl, body);
    if (!fetched.complete) {
        if (fetched.httpStatus == kHttpNotFound) {
            // The server does not know this build: it must not be played.
            ::DeleteFileW(location.clientTarget.c_str());
        }
        return LaunchResult::StubManifestFetchFailed;
    }

    const ManifestReading manifest = ReadManifest(body);
    if (manifest.form == ManifestForm::NotOneJsonValue) {
        return LaunchResult::StubManifestFetchFailed;
    }
    if (!manifest.sha1.ok()) {
        return LaunchResult::StubManifestMissingSha1;
    }
    if (HashFile(location.clientStub) == manifest.sha1.value) {
        ::Sleep(kCurrentStubPauseMs);
        return LaunchResult::Success;
    }
    if (!manifest.url.ok()) {
        return LaunchResult::StubManifestMissingUrl;
    }
    if (!client.DownloadToFile(WidenManifestUrl(manifest.url.value), location.clientStub).complete) {
        return LaunchResult::StubDownloadFailed;
    }
    // Checked against the digest already read: the manifest is fetched once per run. Bytes that
    // fail the check do not stay where the game would load them; as after a broken transfer,
    // there is then no stub (the old one was overwritten by the download), and the next run
    // downloads again.
    if (HashFile(location.clientStub) != manifest.sha1.value) {
        ::DeleteFileW(location.clientStub.c_str());
        return LaunchResult::StubChecksumMismatch;
    }
    return LaunchResult::Success;
}

}  // namespace zv
