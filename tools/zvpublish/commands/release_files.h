#pragma once

// What a file handed to zvpublish is, before anything is published: a game program by its build
// key, a launcher that names itself by its build record, or a client stub the game can load. A
// launcher or stub of the wrong kind, once published, is what every player downloads, so each
// refusal says what the file is instead (text, a key, a game program, a DLL, a 32-bit program, ...).
//
// The build key and every digest come from the launcher's own code (ExamineClientTarget,
// HashCodeSection, Sha1ToHex), so the tree holds exactly what the launcher will ask for.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/version.h"
#include "launch/client_target.h"
#include "zvpublish/tree/outcome.h"

namespace zv::publish {

// Whether path is a file that can be read and is not empty; the refusal otherwise.
std::optional<Failure> CheckSourceFile(const std::wstring& path);

// Why a file is not a client target, as the tool tells it (the words after "not a client target: ").
std::string DescribeVerdict(const ClientTargetExamination& examination);

struct BuildKey {
    std::optional<Failure> failure;
    std::wstring key;           // 40 lower-case hexadecimal digits
    std::uint16_t machine = 0;  // the client target's: 0x8664 (x64) or 0x014C (x86)
};

// The build key of a client target, the name of its folder in the tree: Sha1ToHex of
// HashCodeSection, after ExamineClientTarget has accepted the file, exactly as the launcher computes
// it. Refused: a file that is not a client target, and one whose code section cannot be read (the
// launcher would then ask for forty zeros, the key every such file shares).
BuildKey ComputeBuildKey(const std::wstring& target);

// The launcher's build record: an RCDATA resource named "ZVBUILD" whose text is four lines, each
// ended by a line feed (or a carriage return and a line feed):
//
//   zarnovelle-launcher-build 1
//   host HOST            the update host it is built for (ZV_UPDATE_HOST)
//   version A.B.C.D      its version (ZV_VERSION)
//   keys F1 F2 ...       the fingerprints of its public keys (KeyFingerprint); none without keys
inline constexpr std::u16string_view kBuildRecordName = u"ZVBUILD";
inline constexpr std::uint32_t kMaxBuildRecord = 4096;

// What a launcher's build record says it is built for.
struct LauncherBuild {
    std::string host;  // the update host (ZV_UPDATE_HOST), printable ASCII, as the record has it
    Version version;
    std::vector<std::string> keys;  // the fingerprints of its public keys (KeyFingerprint), in order
};

// A launcher's keys for a message: "18a722fad454b88f, 2e3fbc4499ea056e", or "none".
std::string KeyList(const std::vector<std::string>& keys);

// The record's text, strictly as above; nothing with the reason otherwise.
std::optional<LauncherBuild> ParseBuildRecord(std::string_view text, std::string& reason);

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
