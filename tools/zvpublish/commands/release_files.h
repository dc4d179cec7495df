#pragma once

// What a file handed to stub or launcher is, before anything is published: a launcher that names
// itself by its build record, or a client stub the game can load. A launcher or stub of the wrong
// kind, once published, is what every player downloads, so each refusal says what the file is
// instead (text, a key, a game program, a DLL, a 32-bit program, ...).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.h"
#include "zvpublish/commands/publish.h"

namespace zv::publish {

// The launcher's build record: an RCDATA resource named "ZVBUILD" whose text is four lines, each
// ended by a line feed (or a carriage return and a line feed):
//
//   zarnovelle-launcher-build 1
//   host HOST            the update host it is built for (ZV_UPDATE_HOST)
//   version A.B.C.D      its version (ZV_VERSION)
//   keys F1 F2 ...       the fingerprints of its public keys (KeyFingerprint); none without keys
// Whether path is a file that can be read and is not empty; the refusal otherwise.
std::optional<Failure> CheckSourceFile(const std::wstring& path);

inline constexpr std::u16string_view kBuildRecordName = u"ZVBUILD";
inline constexpr std::uint32_t kMaxBuildRecord = 4096;

// The record's text, strictly as above (LauncherBuild: publish.h); nothing with the reason
// otherwise.
std::optional<LauncherBuild> ParseBuildRecord(std::string_view text, std::string& reason);

// The host as the launcher forms HOST of the messages it checks (ASCII lower case), without the
// port 443 that an https:// address leaves out: comparable with UrlHost of an address.
std::string ComparableHost(std::string_view host);

struct LauncherExamination {
    std::optional<Failure> failure;
    LauncherBuild build;
};

// Whether the file at path is a launcher: a 64-bit (PE32+, x64) Windows GUI program that carries a
// build record. The refusal ("not a launcher: ...") says what the file is instead.
LauncherExamination ExamineLauncher(const std::wstring& path);

// Whether the file at path is a client stub the game can load: a DLL for machine, the game
// program's (PE32+ for x64, PE32 for x86). The refusal ("not a client stub: ...") says what the
// file is instead.
std::optional<Failure> ExamineStub(const std::wstring& path, std::uint16_t machine);

}  // namespace zv::publish
