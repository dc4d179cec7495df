#pragma once

// What a launcher built with keys remembers of the stub manifests it has accepted, so that an older
// signed manifest served again cannot take a player back: for each update host and manifest path,
// the highest version accepted, the SHA-256 of the stub that version named (none for a
// withdrawal), and the fingerprint of the key that signed the manifest it came from.
//
// A mark counts while the launcher still trusts its signer. So a launcher that adds a key (the
// first step of a key rotation) keeps every mark, and one that has dropped a key ignores the marks
// that key's manifests left (a key that leaked may have signed a version far ahead); the next
// manifest it accepts replaces such a mark. On Windows the marks are values under
// HKCU\SOFTWARE\Zarnovelle\Manifests\<host> (update_system.h), which every program of the same
// Windows user can change: a mark only ever holds the launcher back, it never makes it take a
// manifest that none of its keys signed.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "common/version.h"
#include "integrity/sha256.h"

namespace zv {

struct ManifestMark {
    Version version;
    std::optional<Sha256Digest> stub;  // nothing: the version withdrew the build
    std::string signer;                // the signing key's fingerprint (KeyFingerprint, integrity/p256.h)

    friend bool operator==(const ManifestMark&, const ManifestMark&) = default;
};

// The text a mark is kept as: the version's canonical text, the stub's SHA-256 in lower case or
// "withdrawn", and the signer's fingerprint, with one blank between them:
//
//   1.4.0.2 9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08 3f2a9c0d41b7e655
std::string FormatManifestMark(const ManifestMark& mark);
// Reads that text back, exactly as FormatManifestMark writes it; nothing for any other text.
std::optional<ManifestMark> ParseManifestMark(std::string_view text);

// The longest text FormatManifestMark writes: a value longer than this is no mark.
inline constexpr std::size_t kMaxManifestMarkText = 23 + 1 + 64 + 1 + 16;

// A kept mark as the launcher found it.
struct KeptMark {
    enum class State {
        None,        // nothing is kept for the manifest
        Kept,        // mark
        Unreadable,  // something is kept, but it is no mark (problem says why); it counts as none
    };
    State state = State::None;
    ManifestMark mark;
    std::string problem;

    static KeptMark Nothing() { return {}; }
    static KeptMark Of(ManifestMark mark) { return {State::Kept, std::move(mark), {}}; }
    static KeptMark Unreadable(std::string problem) { return {State::Unreadable, {}, std::move(problem)}; }
};

// A kept text value (the registry's REG_SZ, which may end in NULs) as a mark: Kept when it reads as
// one, else Unreadable.
KeptMark ReadManifestMarkText(std::wstring_view value);

}  // namespace zv
