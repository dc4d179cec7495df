// The version reading against Windows' own (GetFileVersionInfoW, VerQueryValueW) on the real files
// of the build: the launcher, whose version resource the resource compiler made from ZV_VERSION,
// and the game fixture's stubs, one with a version resource and one without. The same for the
// resource reading (FindResourceW, LoadResource) and the launcher's build record.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_tree.h"
#include "zvpublish/pe/pe_reading.h"

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
        const zv::publish::PeVersion read = zv::publish::ReadPeFileVersion(path->wstring());
        EXPECT_EQ(read.read, expected ? zv::publish::PeRead::Found : zv::publish::PeRead::Missing) << file;
        if (expected) {
            EXPECT_EQ(read.version, *expected) << file;
            ++withVersion;
        }
    }
    EXPECT_EQ(withVersion, 2) << "the launcher and stub 2 carry a version resource, stub 1 none";
}

// The resource as Windows finds it in the file loaded as data; nothing when it finds none.
std::optional<std::vector<std::uint8_t>> WindowsResource(const std::wstring& path, const wchar_t* type,
                                                         const wchar_t* name) {
    const HMODULE module =
        ::LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (module == nullptr) {
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> data;
    if (HRSRC found = ::FindResourceW(module, name, type)) {
        const DWORD size = ::SizeofResource(module, found);
        HGLOBAL loaded = ::LoadResource(module, found);
        const auto* bytes = static_cast<const std::uint8_t*>(loaded ? ::LockResource(loaded) : nullptr);
        if (bytes != nullptr) {
            data.emplace(bytes, bytes + size);
        }
    }
    ::FreeLibrary(module);
    return data;
}

TEST(ReadPeResource, ReadsWhatWindowsReadsFromTheBuildsFiles) {
    const char* files[] = {"ZVLauncher.exe", "fixtures/game/stub-2/ZVClient.dll"};
    for (const char* file : files) {
        const auto path = zv::test::BuildTreePath(file);
        if (!path || !std::filesystem::exists(*path)) {
            GTEST_SKIP() << "build the launcher and the game fixtures first; missing: " << file;
        }
        const auto expected = WindowsResource(path->wstring(), RT_RCDATA, L"ZVBUILD");
        const zv::publish::PeResource read =
            zv::publish::ReadPeResource(path->wstring(), zv::publish::kRtRcdata, u"ZVBUILD", 4096);
        EXPECT_EQ(read.read, expected ? zv::publish::PeRead::Found : zv::publish::PeRead::Missing) << file;
        if (expected) {
            EXPECT_EQ(read.data, *expected) << file;
            EXPECT_TRUE(std::string(read.data.begin(), read.data.end()).starts_with("zarnovelle-launcher-build 1\n"));
        }
        EXPECT_EQ(expected.has_value(), std::string_view(file) == "ZVLauncher.exe") << "only the launcher has one";
    }
}

}  // namespace
