#pragma once

// The update tree: where the update server keeps each manifest and the files the manifests name.
// The updaters ask for these paths and zvpublish writes them, both from here:
//
//   launcher/manifest.json                  {"sha1", "url"} of the current launcher
//   launcher/ZVLauncher-<sha1>.exe          a launcher release, named by its content
//   stub/<build key>/manifest.json          {"sha1", "url"} of the client stub for one game build
//   stub/<build key>/ZVClient-<sha1>.dll    a client stub release, named by its content
//
// <sha1> is the file's SHA-1 and <build key> the SHA-1 of the client target's code section, each
// as forty lower-case hexadecimal digits (Sha1ToHex).

#include <string>
#include <string_view>

#include "integrity/sha1.h"

namespace zv {

inline constexpr std::wstring_view kLauncherFolder = L"launcher";
inline constexpr std::wstring_view kStubFolder = L"stub";
inline constexpr std::wstring_view kManifestName = L"manifest.json";

// The manifests' paths on the server: "/launcher/manifest.json" and "/stub/<buildKey>/manifest.json".
std::wstring LauncherManifestPath();
std::wstring StubManifestPath(std::wstring_view buildKey);

// The same as https addresses on updateHost (a host or host:port).
std::wstring LauncherManifestUrl(std::wstring_view updateHost);
std::wstring StubManifestUrl(std::wstring_view updateHost, std::wstring_view buildKey);

// The content names: ZVLauncher-<sha1>.exe and ZVClient-<sha1>.dll.
std::wstring LauncherFileName(const Sha1Digest& digest);
std::wstring StubFileName(const Sha1Digest& digest);

// Exactly forty lower-case hexadecimal digits: the only folder names under stub/ that the launcher
// ever asks for.
bool IsBuildKey(std::wstring_view name);

}  // namespace zv
