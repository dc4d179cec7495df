#include "update/tree_layout.h"

#include <algorithm>

#include "common/text.h"
#include "integrity/hex.h"

namespace zv {

namespace {

std::wstring HttpsUrl(std::wstring_view updateHost, std::wstring_view path) {
    std::wstring url = L"https://";
    url += updateHost;
    url += path;
    return url;
}

}  // namespace

std::wstring LauncherManifestPath() {
    std::wstring path = L"/";
    path += kLauncherFolder;
    path += L'/';
    path += kManifestName;
    return path;
}

std::wstring StubManifestPath(std::wstring_view buildKey) {
    std::wstring path = L"/";
    path += kStubFolder;
    path += L'/';
    path += buildKey;
    path += L'/';
    path += kManifestName;
    return path;
}

std::wstring LauncherManifestUrl(std::wstring_view updateHost) { return HttpsUrl(updateHost, LauncherManifestPath()); }

std::wstring StubManifestUrl(std::wstring_view updateHost, std::wstring_view buildKey) {
    return HttpsUrl(updateHost, StubManifestPath(buildKey));
}

std::wstring LauncherFileName(const Sha1Digest& digest) {
    return L"ZVLauncher-" + FromUtf8(Sha1ToHex(digest)) + L".exe";
}

std::wstring StubFileName(const Sha1Digest& digest) { return L"ZVClient-" + FromUtf8(Sha1ToHex(digest)) + L".dll"; }

bool IsBuildKey(std::wstring_view name) {
    return name.size() == 40 && std::all_of(name.begin(), name.end(), [](wchar_t c) {
               return c < 0x80 && IsLowerHexDigit(static_cast<char>(c));
           });
}

}  // namespace zv
