#pragma once

// A manifest as the launcher reads it: one JSON object whose "sha1" names a file by its digest and
// whose "url" says where to download it; in a signed tree also "sha256", "size", "version",
// optionally "expires", and "signature", or for a withdrawn game build "withdrawn", "version",
// optionally "expires", and "signature" (manifest_signature.h). Both updaters and zvpublish read
// manifests here and nowhere else. The reading says, member by member, what the body holds or
// which rule it broke, and never throws for a body; each caller turns that into its own outcome.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/version.h"
#include "integrity/sha1.h"
#include "integrity/sha256.h"

namespace zv {

// The members' names, matched exactly.
inline constexpr char kSha1Member[] = "sha1";
inline constexpr char kUrlMember[] = "url";
inline constexpr char kSha256Member[] = "sha256";
inline constexpr char kSignatureMember[] = "signature";
inline constexpr char kSizeMember[] = "size";
inline constexpr char kVersionMember[] = "version";
inline constexpr char kExpiresMember[] = "expires";
inline constexpr char kWithdrawnMember[] = "withdrawn";

// How the body as a whole reads.
enum class ManifestForm {
    Object,           // one JSON object: its members were read
    NotOneJsonValue,  // not exactly one well-formed JSON value with nothing but whitespace after it;
                      // comments, trailing commas and NUL bytes are refused
    NotAnObject,      // one JSON value, but not an object: it has no members
};

// How one member broke its rule.
enum class MemberFault {
    None,       // present and well-formed
    Absent,     // no member of exactly this name; so for every member of a body that is no object
    WrongType,  // present, but its value is not of the member's JSON type (a string for most)
    Malformed,  // of the right type, but not of the member's form
};

// One member's value, when fault is None.
template <typename Value>
struct ManifestMember {
    MemberFault fault = MemberFault::Absent;
    Value value{};

    [[nodiscard]] bool ok() const { return fault == MemberFault::None; }
};

struct ManifestReading {
    ManifestForm form = ManifestForm::NotOneJsonValue;
    // For NotOneJsonValue: why, as the JSON parser puts it (for the operator; players never see it).
    std::string parseError;
    // "sha1": forty hexadecimal digits of either case (Sha1FromHex); Malformed otherwise.
    ManifestMember<Sha1Digest> sha1;
    // "url": any string, as its bytes decode from the JSON text. The updaters need it only for a
    // file whose digest differs, so a manifest for current files may leave it out.
    ManifestMember<std::string> url;
    // "sha256": sixty-four hexadecimal digits of either case; Malformed otherwise.
    ManifestMember<Sha256Digest> sha256;
    // "signature": any string; whether it is a signature is for the check to find out.
    ManifestMember<std::string> signature;
    // "size": a JSON integer from 0 to 2^64 - 1 (not a string, not 12.0); Malformed when negative.
    ManifestMember<std::uint64_t> size;
    // "version": a string "A.B.C.D" (ParseVersion); Malformed otherwise.
    ManifestMember<Version> version;
    // "expires": a string "YYYY-MM-DDTHH:MM:SSZ" (ParseUtcTime); Malformed otherwise. The text is
    // kept as it stands, since the signature covers it.
    ManifestMember<std::string> expiresText;
    ManifestMember<std::chrono::sys_seconds> expires;
    // "withdrawn": the JSON literal true; Malformed for false.
    ManifestMember<bool> withdrawn;
};

// Reads a manifest body. Each member is read by its exact name, whatever else the object holds.
ManifestReading ReadManifest(std::string_view body);

// Whether the file at path is the one the manifest names: its SHA-1 (HashFile) is the manifest's
// "sha1", which must have been read. A file that cannot be read hashes to twenty zero bytes, so it
// matches only forty zero digits.
bool FileMatchesManifest(const std::wstring& path, const ManifestReading& manifest);

// The download address of a "url" value: each byte becomes one UTF-16 unit, taken as a signed
// 8-bit value, so ASCII keeps its value (a manifest carries percent-encoded ASCII URLs).
std::wstring WidenManifestUrl(std::string_view url);

// A manifest body as zvpublish writes it for a build without keys: "sha1" in lower-case digits and
// "url", indented by two blanks, with a final line feed. Signed bodies: manifest_signature.h.
std::string FormatManifest(const Sha1Digest& digest, std::string_view url);

}  // namespace zv
