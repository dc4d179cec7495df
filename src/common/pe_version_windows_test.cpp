// The version reading against Windows' own (GetFileVersionInfoW, VerQueryValueW) on the real files
// of the build: the launcher, whose version resource the resource compiler made from ZV_VERSION,
// and the game fixture's stubs, one with a version resource and one without.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "build_tree.h"
#include "common/pe_version.h"

namespace {

// The file version as Windows reads it; nothing when it finds none.
std::optional<zv::Version> WindowsFileVersion(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> data(size);
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, data.data()) ||
        !::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || length < sizeof *fixed) {
        return std::nullopt;
    }
    zv::Version version;
    version.parts = {HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                     LOWORD(fixed->dwFileVersionLS)};
    return version;
}

TEST(ReadPeFileVersion, ReadsWhatWindowsReadsFromTheBuildsFiles) {
    const char* files[] = {"ZVLauncher.exe", "fixtures/game/stub-1/ZVClient.dll", "fixtures/game/stub-2/ZVClient.dll"};
    int withVersion = 0;
    for (const char* file : files) {
        const auto path = zv::test::BuildTreePath(file);
        if (!path || !std::filesystem::exists(*path)) {
            GTEST_SKIP() << "build the launcher and the game fixtures first; missing: " << file;
        }
        const std::optional<zv::Version> expected = WindowsFileVersion(path->wstring());
        const zv::PeVersion read = zv::ReadPeFileVersion(path->wstring());
        EXPECT_EQ(read.read, expected ? zv::PeVersionRead::Found : zv::PeVersionRead::NoVersion) << file;
        if (expected) {
            EXPECT_EQ(read.version, *expected) << file;
            ++withVersion;
        }
    }
    EXPECT_EQ(withVersion, 2) << "the launcher and stub 2 carry a version resource, stub 1 none";
}

}  // namespace
