#include "launch/target_discovery.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "launch/client_target.h"
#include "launch/discovery_platform.h"
#include "discovery_test_support.h"
#include "file_bytes.h"
#include "pe_builder.h"
#include "scratch_directory.h"

#ifdef _WIN32
#include <windows.h>
#include <winioctl.h>

#include "common/unique_handle.h"
#endif

namespace {

namespace fs = std::filesystem;
using zv::FindClientTarget;
using zv::GameLocation;
using zv::LaunchResult;
using zv::LocateGame;
using zv::test::Bytes;
using zv::test::DiscoveryPath;
using zv::test::ScratchDirectory;

enum class Content {
    Folder,
    Target,    // a byte-level PE32+ image importing ZVClient.dll alone
    Program,   // a byte-level PE32+ image importing KERNEL32.dll and USER32.dll
    Text,      // not a PE file
    Empty,     // zero bytes
    RealGame,  // the real game built with mingw-w64: imports ZVClient.dll alone
    RealStub,  // the real ZVClient.dll
};

struct Entry {
    const char* path;  // relative to the layout's folder, parts separated by "/"
    Content content;
};

std::optional<Bytes> ContentBytes(Content content) {
    using zv::test::BuildPe;
    using zv::test::MakeImportingImage;
    switch (content) {
        case Content::Target:
            return BuildPe(MakeImportingImage({"ZVClient.dll"}));
        case Content::Program:
            return BuildPe(MakeImportingImage({"KERNEL32.dll", "USER32.dll"}));
        case Content::Text: {
            const std::string text = "Not a program.\r\n";
            return Bytes(text.begin(), text.end());
        }
        case Content::Empty:
            return Bytes{};
        case Content::RealGame:
        case Content::RealStub: {
            const auto path = zv::test::RealFixture(content == Content::RealGame ? "Game.exe" : "ZVClient.dll");
            if (!path) {
                return std::nullopt;
            }
            return zv::test::ReadFileBytes(*path);
        }
        case Content::Folder:
            break;
    }
    return std::nullopt;
}

// Makes the entries under root; false when a real fixture is missing from this build.
bool MakeLayout(const fs::path& root, const std::vector<Entry>& entries) {
    for (const auto& entry : entries) {
        const fs::path path = root / fs::path(entry.path);
        if (entry.content == Content::Folder) {
            fs::create_directories(path);
            continue;
        }
        const auto bytes = ContentBytes(entry.content);
        if (!bytes) {
            return false;
        }
        fs::create_directories(path.parent_path());
        zv::test::WriteFileBytes(path, *bytes);
    }
    return true;
}

// Everything under root with its content (folders have none), to show that nothing was changed.
std::map<fs::path, std::optional<Bytes>> Snapshot(const fs::path& root) {
    std::map<fs::path, std::optional<Bytes>> snapshot;
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        const fs::path relative = fs::relative(item.path(), root);
        snapshot[relative] = item.is_directory() ? std::nullopt : std::optional(zv::test::ReadFileBytes(item.path()));
    }
    return snapshot;
}

#ifdef _WIN32
// True when nothing holds any file or folder under root open: each one can be opened without
// sharing. (Wine's GetProcessHandleCount always reports 0, so handles cannot be counted.)
bool NothingHeldOpen(const fs::path& root) {
    for (const auto& item : fs::recursive_directory_iterator(root)) {
        zv::UniqueFile probe(::CreateFileW(item.path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!probe) {
            ADD_FAILURE() << "still open: " << item.path();
            return false;
        }
    }
    return true;
}
#else
std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& item : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}
#endif

struct Layout {
    const char* what;
    std::vector<Entry> entries;
    const char* launcher;
    LaunchResult result;
    // On success, relative to the layout's folder.
    const char* gameExecutable = "";
    const char* clientTarget = "";
};

const std::vector<Layout>& Layouts() {
    using enum Content;
    using enum LaunchResult;
    static const std::vector<Layout> layouts = {
        {"the game beside its launcher",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", RealGame}, {"ZVClient.dll", RealStub}, {"readme.txt", Text}},
         "Foo_ZV.exe",
         Success,
         "Foo.exe",
         "Foo.exe"},
        {"a .dll client target: the game is named after the launcher",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", Program}, {"Foo.dll", Target}},
         "Foo_ZV.exe",
         Success,
         "Foo.exe",
         "Foo.dll"},
        {"a .dll client target, the game named after the launcher missing",
         {{"Foo_ZV.exe", Program}, {"Foo.dll", Target}},
         "Foo_ZV.exe",
         TargetExecutableNotFound},
        {"a .dll client target, the game named after the launcher a folder",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", Folder}, {"Foo.dll", Target}},
         "Foo_ZV.exe",
         TargetExecutableNotFound},
        {"a launcher without the marker and a .dll client target",
         {{"Launcher.exe", Program}, {"Foo.exe", Program}, {"Foo.dll", Target}},
         "Launcher.exe",
         TargetExecutableNotFound},
        {"the marker in another letter case does not count",
         {{"foo_zv.exe", Program}, {"foo.exe", Program}, {"Foo.dll", Target}},
         "foo_zv.exe",
         TargetExecutableNotFound},
        {"the marker in a folder name: the game's name is cut there",
         {{"Old_ZV.exe/Foo_ZV.exe", Program},
          {"Old_ZV.exe/Foo.exe", Program},
          {"Old_ZV.exe/Foo.dll", Target},
          {"Old.exe", Program}},
         "Old_ZV.exe/Foo_ZV.exe",
         Success,
         "Old.exe",
         "Old_ZV.exe/Foo.dll"},
        {"an upper-case .EXE client target is found but is not the game",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", Program}, {"Game.EXE", Target}},
         "Foo_ZV.exe",
         Success,
         "Foo.exe",
         "Game.EXE"},
        {"an upper-case .BIN client target with no game named after the launcher",
         {{"Foo_ZV.exe", Program}, {"GAME.BIN", Target}},
         "Foo_ZV.exe",
         TargetExecutableNotFound},
        {"a .bin client target is the game",
         {{"Foo_ZV.exe", Program}, {"Game.bin", Target}},
         "Foo_ZV.exe",
         Success,
         "Game.bin",
         "Game.bin"},
        {"a client target one level down is the game; the stub stays beside the launcher",
         {{"Foo_ZV.exe", Program}, {"ZVClient.dll", RealStub}, {"bin/Game.exe", RealGame}},
         "Foo_ZV.exe",
         Success,
         "bin/Game.exe",
         "bin/Game.exe"},
        {"a client target two levels down is not found",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", Program}, {"bin/x64/Game.exe", Target}},
         "Foo_ZV.exe",
         NoValidClientTarget},
        {"names without .exe, .bin or .dll at their end are not opened",
         {{"Foo_ZV.exe", Program},
          {"Foo.exe", Program},
          {".hidden", Target},
          {"Game", Target},
          {"Game.exe.txt", Target},
          {"Game.ex", Target},
          {"Game.dlls", Target}},
         "Foo_ZV.exe",
         NoValidClientTarget},
        {"no client target while the game named after the launcher exists",
         {{"Foo_ZV.exe", Program}, {"Foo.exe", Program}, {"ZVClient.dll", RealStub}, {"bin/Tool.exe", Program}},
         "Foo_ZV.exe",
         NoValidClientTarget},
        {"files that are no PE files are passed over and the scan goes on",
         {{"Foo_ZV.exe", Program}, {"a.exe", Text}, {"b.dll", Empty}, {"c.bin", Text}, {"d/Game.exe", Target}},
         "Foo_ZV.exe",
         Success,
         "d/Game.exe",
         "d/Game.exe"},
        {"a folder named like a program is searched, never opened as a file",
         {{"Foo_ZV.exe", Program}, {"Tools.exe/Game.exe", Target}},
         "Foo_ZV.exe",
         Success,
         "Tools.exe/Game.exe",
         "Tools.exe/Game.exe"},
        {"names beginning with a dot are ordinary names",
         {{"Foo_ZV.exe", Program}, {".data/Game.exe", Target}},
         "Foo_ZV.exe",
         Success,
         ".data/Game.exe",
         ".data/Game.exe"},
        {"an empty launcher folder", {}, "Foo_ZV.exe", NoValidClientTarget},
    };
    return layouts;
}

TEST(LocateGame, FindsTheClientTargetAndTheGameInEachLayout) {
    std::string skipped;
    for (const auto& layout : Layouts()) {
        SCOPED_TRACE(layout.what);
        ScratchDirectory scratch;
        const fs::path& root = scratch.path();
        if (!MakeLayout(root, layout.entries)) {
            skipped += std::string("\n  ") + layout.what;
            continue;
        }
        const auto before = Snapshot(root);
        const fs::path launcher = root / fs::path(layout.launcher);
        const GameLocation untouched{L"a", L"b", L"c", L"d"};
        GameLocation location = untouched;
#ifndef _WIN32
        const std::size_t descriptors = OpenDescriptors();
#endif

        const LaunchResult result = LocateGame(DiscoveryPath(launcher), location);

        EXPECT_EQ(result, layout.result);
        if (layout.result == LaunchResult::Success) {
            const std::wstring directory = DiscoveryPath(launcher.parent_path());
            EXPECT_EQ(location.launcherDirectory, directory);
            EXPECT_EQ(location.gameExecutable, DiscoveryPath(root / fs::path(layout.gameExecutable)));
            EXPECT_EQ(location.clientTarget, DiscoveryPath(root / fs::path(layout.clientTarget)));
            EXPECT_EQ(location.clientStub, directory + L"\\ZVClient.dll");
        } else {
            EXPECT_EQ(location.gameExecutable, untouched.gameExecutable) << "a failure leaves the location alone";
        }
        // Discovery only reads, and closes what it opened.
        EXPECT_EQ(Snapshot(root), before);
#ifdef _WIN32
        EXPECT_TRUE(NothingHeldOpen(root));
#else
        EXPECT_EQ(OpenDescriptors(), descriptors);
#endif
    }
    if (!skipped.empty()) {
        GTEST_SKIP() << "no mingw-w64 fixtures (is ZV_BINARY_DIR set, and mingw-w64 installed?) for:" << skipped;
    }
}

// Discovery opens these names as they come from a listing; zvpublish asks the same of a whole path
// to warn about a target the launcher would never open.
TEST(HasCandidateExtension, TakesTheExtensionAfterTheLastDotAndFoldsOnlyAsciiLetters) {
    struct Case {
        const wchar_t* name;
        bool candidate;
    };
    const Case cases[] = {
        {L"Game.exe", true},
        {L"Game.EXE", true},
        {L"game.Bin", true},
        {L"GameCore.dll", true},
        {L"Game.tar.dll", true},
        {L".exe", true},
        {L"Game", false},
        {L".hidden", false},
        {L"Game.exe.txt", false},
        {L"Game.ex", false},
        {L"Game.dlls", false},
        {L"Game.", false},
        {L"C:\\Games\\Foo\\Foo.exe", true},
        {L"/srv/games/GameCore.DLL", true},
        {L"C:\\Tools.exe\\Game", false},
        {L"/srv/Tools.exe/Game", false},
        // Letters outside ASCII never fold to an ASCII one: U+0130 lower-cases to "i" by Unicode's
        // rules, and U+FF45 is the full-width "e".
        {L"Game.B\u0130N", false},
        {L"Game.\uFF45xe", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::HasCandidateExtension(c.name), c.candidate) << testing::PrintToString(std::wstring(c.name));
    }
}

TEST(FindClientTarget, LooksOneLevelBelowTheLauncherFolderAndNoFurther) {
    ScratchDirectory scratch;
    const fs::path& root = scratch.path();
    ASSERT_TRUE(MakeLayout(root, {{"sub/Game.exe", Content::Target}, {"sub/deeper/Other.exe", Content::Target}}));
    const std::wstring game = DiscoveryPath(root / "sub" / "Game.exe");

    struct Case {
        const char* what;
        std::wstring directory;
        std::uint32_t depth;
        std::optional<std::wstring> found;
    };
    const Case cases[] = {
        {"from level 0 the subfolder is searched", DiscoveryPath(root), 0, game},
        {"from level 1 it is not", DiscoveryPath(root), 1, std::nullopt},
        {"the subfolder itself at level 1", DiscoveryPath(root / "sub"), 1, game},
        {"beyond level 1 nothing is listed", DiscoveryPath(root / "sub"), 2, std::nullopt},
        {"a folder given with its final backslash", DiscoveryPath(root / "sub") + L"\\", 1, game},
        {"a folder that does not exist", DiscoveryPath(root / "missing"), 0, std::nullopt},
        {"a file instead of a folder", game, 0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FindClientTarget(c.directory, c.depth), c.found) << c.what;
    }
}

// The first client target met wins, and a subfolder is searched as soon as its entry comes up,
// before the entries after it. The platform's listing order decides which comes first, so the
// expected target is read from a listing of the folder. (NTFS and Wine list names sorted without
// regard to letter case, and so does the stand-in of other builds.)
TEST(FindClientTarget, SearchesDepthFirstInTheListingOrder) {
    ScratchDirectory scratch;
    const fs::path& root = scratch.path();
    ASSERT_TRUE(MakeLayout(root, {{"a/Game.exe", Content::Target},
                                  {"B.dll", Content::Target},
                                  {"c/Other.exe", Content::Target},
                                  {"D.exe", Content::Target}}));
    const std::map<std::wstring, fs::path> targets = {{L"a", root / "a" / "Game.exe"},
                                                      {L"B.dll", root / "B.dll"},
                                                      {L"c", root / "c" / "Other.exe"},
                                                      {L"D.exe", root / "D.exe"}};

    std::optional<fs::path> first;
    zv::DirectorySearch search(DiscoveryPath(root) + L"\\*");
    zv::DirectoryEntry entry;
    while (!first && search.Next(entry)) {
        if (const auto it = targets.find(std::wstring(entry.name)); it != targets.end()) {
            first = it->second;
        }
    }
    ASSERT_TRUE(first);
#ifndef _WIN32
    EXPECT_EQ(*first, root / "a" / "Game.exe");
#endif
    EXPECT_EQ(FindClientTarget(DiscoveryPath(root), 0), DiscoveryPath(*first));
}

// With an empty launcher path the folder to scan is empty too: the search pattern is "*" alone,
// which the platform resolves against the current directory, and the paths stay relative to it.
TEST(LocateGame, AnEmptyLauncherPathScansTheCurrentFolder) {
    ScratchDirectory scratch;
    ASSERT_TRUE(MakeLayout(scratch.path(), {{"Game.exe", Content::Target}}));
    const fs::path previous = fs::current_path();
    fs::current_path(scratch.path());
    GameLocation location;
    const LaunchResult result = LocateGame(L"", location);
    fs::current_path(previous);

    EXPECT_EQ(result, LaunchResult::Success);
    EXPECT_EQ(location.launcherDirectory, L"");
    EXPECT_EQ(location.clientTarget, L"Game.exe");
    EXPECT_EQ(location.gameExecutable, L"Game.exe");
    // Beside the scanned files, not at the root of the drive.
    EXPECT_EQ(location.clientStub, L"ZVClient.dll");
}

// Makes link a link to the folder target that the platform lists as a directory reparse point;
// false when the platform cannot make one.
bool MakeDirectoryLink(const fs::path& link, const fs::path& target) {
#ifdef _WIN32
    // A junction first: Windows lets any user make one.
    if (::CreateDirectoryW(link.c_str(), nullptr)) {
        zv::UniqueFile folder(::CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                            FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        const std::wstring substitute = L"\\??\\" + target.wstring();
        const std::wstring print = target.wstring();
        const auto substituteBytes = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
        const auto printBytes = static_cast<WORD>(print.size() * sizeof(wchar_t));
        // REPARSE_DATA_BUFFER with a MountPointReparseBuffer: tag, data length, reserved, then the
        // offsets and lengths of both names and the names themselves, each followed by a zero.
        std::vector<BYTE> buffer(16 + substituteBytes + 2 + printBytes + 2, 0);
        const auto put16 = [&](std::size_t at, WORD v) { std::memcpy(&buffer[at], &v, 2); };
        const DWORD tag = IO_REPARSE_TAG_MOUNT_POINT;
        std::memcpy(&buffer[0], &tag, 4);
        put16(4, static_cast<WORD>(buffer.size() - 8));
        put16(8, 0);
        put16(10, substituteBytes);
        put16(12, static_cast<WORD>(substituteBytes + 2));
        put16(14, printBytes);
        std::memcpy(&buffer[16], substitute.data(), substituteBytes);
        std::memcpy(&buffer[16 + substituteBytes + 2], print.data(), printBytes);
        DWORD returned = 0;
        const bool made =
            folder && ::DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, buffer.data(),
                                        static_cast<DWORD>(buffer.size()), nullptr, 0, &returned, nullptr);
        folder.reset();
        if (!made) {
            ::RemoveDirectoryW(link.c_str());
            // Then a directory symbolic link, which needs developer mode or the privilege.
            ::CreateSymbolicLinkW(link.c_str(), target.c_str(),
                                  SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE);
        }
    }
    const DWORD attributes = ::GetFileAttributesW(link.c_str());
    const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & wanted) == wanted;
#else
    fs::create_directory_symlink(target, link);
    return true;
#endif
}

// Junctions and directory links can lead anywhere, back up the tree included: they are never
// entered, although what they lead to would be found through a plain folder.
TEST(LocateGame, NeverEntersADirectoryLink) {
    ScratchDirectory scratch;
    ASSERT_TRUE(MakeLayout(scratch.path(), {{"launcher/Foo_ZV.exe", Content::Program},
                                            {"launcher/Foo.exe", Content::Program},
                                            {"outside/Game.exe", Content::Target}}));
    fs::path launcherFolder = scratch.path() / "launcher";
    if (!MakeDirectoryLink(launcherFolder / "linked", scratch.path() / "outside")) {
        // Wine 8 cannot make one: its CreateSymbolicLinkW is a stub that reports success without
        // making anything, and FSCTL_SET_REPARSE_POINT fails with ERROR_NOT_SUPPORTED. It does list
        // a host's symbolic link to a folder as a directory reparse point, so the link the build
        // made beside its fixtures (launcher/linked -> ../outside, with a client target in
        // outside) stands in.
        const auto prebuilt = zv::test::RealFixture("directory_link");
        if (!prebuilt) {
            GTEST_SKIP() << "no directory link can be made here, and this build has none";
        }
        launcherFolder = *prebuilt / "launcher";
        RecordProperty("directory_link", "made by the build on the host");
    }

    // The link is what the test needs it to be: a directory reparse point leading to a target.
    zv::DirectorySearch search(DiscoveryPath(launcherFolder) + L"\\*");
    zv::DirectoryEntry entry;
    std::optional<std::uint32_t> linkAttributes;
    while (search.Next(entry)) {
        if (entry.name == L"linked") {
            linkAttributes = entry.attributes;
        }
    }
    ASSERT_TRUE(linkAttributes);
    EXPECT_EQ(*linkAttributes & (zv::kFileAttributeDirectory | zv::kFileAttributeReparsePoint),
              zv::kFileAttributeDirectory | zv::kFileAttributeReparsePoint);
    ASSERT_TRUE(zv::IsClientTarget(DiscoveryPath(launcherFolder / "linked" / "Game.exe")));

    GameLocation location;
    EXPECT_EQ(LocateGame(DiscoveryPath(launcherFolder / "Foo_ZV.exe"), location), LaunchResult::NoValidClientTarget);
}

}  // namespace
