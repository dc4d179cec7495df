#include "update/manifest_marks.h"

#include <algorithm>

namespace zv {

namespace {

constexpr std::string_view kWithdrawn = "withdrawn";
constexpr std::size_t kFingerprintDigits = 16;

bool IsLowerHex(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// The text up to the next blank, taken off the front of text; nothing when there is no blank.
std::optional<std::string_view> TakeField(std::string_view& text) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view field = text.substr(0, blank);
    text.remove_prefix(blank + 1);
    return field;
}

}  // namespace

std::string FormatManifestMark(const ManifestMark& mark) {
    return FormatVersion(mark.version) + " " + (mark.stub ? Sha256ToHex(*mark.stub) : std::string(kWithdrawn)) + " " +
           mark.signer;
}

std::optional<ManifestMark> ParseManifestMark(std::string_view text) {
    const std::optional<std::string_view> versionText = TakeField(text);
    const std::optional<std::string_view> stubText = versionText ? TakeField(text) : std::nullopt;
    if (!stubText) {
        return std::nullopt;
    }
    const std::string_view signer = text;
    if (signer.size() != kFingerprintDigits || !IsLowerHex(signer)) {
        return std::nullopt;
    }
    // Only the canonical text, as written: ParseVersion also takes leading zeros.
    const std::optional<Version> version = ParseVersion(*versionText);
    if (!version || FormatVersion(*version) != *versionText) {
        return std::nullopt;
    }
    if (*stubText == kWithdrawn) {
        return ManifestMark{*version, std::nullopt, std::string(signer)};
    }
    const std::optional<Sha256Digest> stub = Sha256FromHex(*stubText);
    if (!stub || !IsLowerHex(*stubText)) {
        return std::nullopt;
    }
    return ManifestMark{*version, *stub, std::string(signer)};
}

KeptMark ReadManifestMarkText(std::wstring_view value) {
    while (!value.empty() && value.back() == L'\0') {
        value.remove_suffix(1);
    }
    if (value.size() > kMaxManifestMarkText) {
        return KeptMark::Unreadable("it is longer than any mark");
    }
    std::string text;
    for (const wchar_t c : value) {
        if (c < 0x20 || c >= 0x7F) {
            return KeptMark::Unreadable("it is not a mark");
        }
        text.push_back(static_cast<char>(c));
    }
    const std::optional<ManifestMark> mark = ParseManifestMark(text);
    return mark ? KeptMark::Of(*mark) : KeptMark::Unreadable("it is not a mark");
}

}  // namespace zv
