#pragma once

// A release's version: four numbers from 0 to 65535, as Windows keeps them in a program's version
// resource (FILEVERSION) and as signed update manifests carry them ("1.4.0.12"). Versions are
// compared part by part as numbers, the first part first.

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

struct Version {
    std::array<std::uint16_t, 4> parts{};

    friend auto operator<=>(const Version&, const Version&) = default;
};

// "A.B.C.D": four parts of one to five decimal digits, each at most 65535, separated by single
// dots, nothing else (no sign, no blank). Leading zeros are taken ("1.02.0.0" is 1.2.0.0).
// Nothing for anything else.
std::optional<Version> ParseVersion(std::string_view text);

// The canonical text: the four numbers without leading zeros, "1.2.0.0".
std::string FormatVersion(const Version& version);

}  // namespace zv
