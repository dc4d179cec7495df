#include "update/manifest_marks.h"

#include <vector>

namespace zv {

namespace {

constexpr std::string_view kWithdrawn = "withdrawn";

}  // namespace

std::string FormatManifestMark(const ManifestMark& mark) {
    return FormatVersion(mark.version) + " " + (mark.stub ? Sha256ToHex(*mark.stub) : std::string(kWithdrawn));
}

std::optional<ManifestMark> ParseManifestMark(std::string_view text) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::optional<Version> version = ParseVersion(text.substr(0, blank));
    const std::string_view rest = text.substr(blank + 1);
    if (!version) {
        return std::nullopt;
    }
    if (rest == kWithdrawn) {
        return ManifestMark{*version, std::nullopt};
    }
    const std::optional<Sha256Digest> stub = Sha256FromHex(rest);
    if (!stub || Sha256ToHex(*stub) != rest) {
        return std::nullopt;
    }
    return ManifestMark{*version, *stub};
}

std::wstring KeySetName(std::span<const P256PublicKey> keys) {
    if (keys.empty()) {
        return {};
    }
    std::vector<std::uint8_t> points;
    for (const P256PublicKey& key : keys) {
        points.insert(points.end(), key.point.begin(), key.point.end());
    }
    const std::optional<Sha256Digest> digest = Sha256Of(points.data(), points.size());
    if (!digest) {
        return {};
    }
    const std::string hex = Sha256ToHex(*digest).substr(0, 32);
    return std::wstring(hex.begin(), hex.end());
}

}  // namespace zv
