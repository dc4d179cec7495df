// The updaters' real parts under Wine: the staging files and their switches, the renames of the
// self-update's platform, the launcher releases remembered as rolled back, the marks of accepted
// stub manifests, the start of a new launcher on probation, what a hand-over leaves in the
// environment, and the self-update wired to the real transfer against the loopback test server.
// The flows' decisions are in the unit tables (launcher_update_test.cpp, stub_update_test.cpp,
// probation_test.cpp). The platform stands in here only for what a test cannot let happen for
// real: starting the new launcher in place of the test program, and ending the process. The
// end-to-end scenarios run the real thing.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "build_tree.h"
#include "common/text.h"
#include "digest_text.h"
#include "file_bytes.h"
#include "integrity/sha1.h"
#include "net/http_client.h"
#include "net/run_proxy.h"
#include "scratch_directory.h"
#include "test_server.h"
#include "update/launcher_update.h"
#include "update/probation.h"
#include "update/update_system.h"
#include "update/update_windows.h"

namespace {

using zv::RenameOutcome;
using zv::test::Sha1Hex;

struct Exited {};

// A file's bytes, or "<missing>".
std::string ReadAll(const std::wstring& path) { return zv::test::ReadFileTextIfPresent(path).value_or("<missing>"); }

// Another handle on path, as another process's scanner or a running program holds it: for reading,
// shared with readers only (neither writing nor deleting nor renaming is shared).
class Held {
public:
    explicit Held(const std::wstring& path, DWORD share = FILE_SHARE_READ)
        : handle_(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~Held() {
        if (handle_ != INVALID_HANDLE_VALUE) {
            ::CloseHandle(handle_);
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    [[nodiscard]] bool held() const { return handle_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE handle_;
};

// Whether another handle may open path for writing, for deletion, or delete it.
bool OthersMayWrite(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(h);
    return true;
}
bool OthersMayDelete(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    ::CloseHandle(h);
    return true;
}

class Staging : public testing::Test {
protected:
    // What the staging files here are staged for.
    inline static const std::string kIdentity = "sha1 " + std::string(40, 'a');
    zv::test::ScratchDirectory scratch_;
    zv::WindowsUpdateSystem system_;
    std::wstring target_ = (scratch_.path() / "ZVClient.dll").wstring();
    std::wstring staging_ = (scratch_.path() / "ZVClient.dll.partial").wstring();
};

TEST_F(Staging, AStagedFileIsHeldSoThatNoOtherHandleWritesRenamesOrDeletesIt) {
    std::uint32_t error = 0;
    std::unique_ptr<zv::StagedFile> staged = system_.Stage(staging_, kIdentity, error);
    ASSERT_TRUE(staged) << error;
    EXPECT_EQ(staged->Name(), staging_);
    ASSERT_TRUE(staged->Write("verified bytes", 14, error));
    EXPECT_FALSE(OthersMayWrite(staging_));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(OthersMayDelete(staging_));
    EXPECT_FALSE(::MoveFileExW(staging_.c_str(), (staging_ + L".elsewhere").c_str(), 0));
    EXPECT_TRUE(Held(staging_, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE).held())
        << "readers that share writing may look";

    // Checked through the held handle, from its start, whatever was read before.
    const std::optional<zv::FileDigests> digests = staged->Digests(true);
    ASSERT_TRUE(digests);
    EXPECT_EQ(zv::Sha1ToHex(digests->sha1), Sha1Hex("verified bytes"));
    EXPECT_EQ(staged->Digests(false)->sha1, digests->sha1);
}

TEST_F(Staging, SwitchesIntoItsTargetOrIsRemovedOnEveryOtherWayOut) {
    zv::test::WriteFileBytes(target_, "old stub");
    std::uint32_t error = 0;
    {
        std::unique_ptr<zv::StagedFile> staged = system_.Stage(staging_, kIdentity, error);
        ASSERT_TRUE(staged->Write("new stub", 8, error));
        EXPECT_FALSE(staged->SwitchInto(target_, false).done()) << "an existing target is replaced only when asked";
        ASSERT_TRUE(staged->SwitchInto(target_, true).done());
        EXPECT_EQ(staged->Name(), target_);
        EXPECT_TRUE(staged->Remove()) << "once switched, nothing is removed";
    }
    EXPECT_EQ(ReadAll(target_), "new stub");
    EXPECT_EQ(ReadAll(staging_), "<missing>");

    // Removed through its handle, or when it goes without a switch; the target is untouched.
    for (const bool removedExplicitly : {true, false}) {
        std::unique_ptr<zv::StagedFile> staged = system_.Stage(staging_, kIdentity, error);
        ASSERT_TRUE(staged->Write("refused", 7, error));
        if (removedExplicitly) {
            EXPECT_TRUE(staged->Remove());
        }
        staged.reset();
        EXPECT_EQ(ReadAll(staging_), "<missing>");
        EXPECT_EQ(ReadAll(target_), "new stub");
    }
}

TEST_F(Staging, ASwitchOverATargetInUseIsReportedAsInUse) {
    zv::test::WriteFileBytes(target_, "old stub");
    std::uint32_t error = 0;
    std::unique_ptr<zv::StagedFile> staged = system_.Stage(staging_, kIdentity, error);
    ASSERT_TRUE(staged->Write("new stub", 8, error));
    {
        const Held game(target_);  // as a running game holds its stub
        ASSERT_TRUE(game.held());
        const RenameOutcome refused = staged->SwitchInto(target_, true);
        EXPECT_EQ(refused.kind, RenameOutcome::Kind::InUse) << refused.error;
        EXPECT_EQ(ReadAll(target_), "old stub");
    }
    EXPECT_TRUE(staged->SwitchInto(target_, true).done()) << "once it is free";
    staged.reset();
    EXPECT_EQ(ReadAll(target_), "new stub");
}

TEST_F(Staging, AStagingFileThatCannotBeMadeSaysWhy) {
    std::uint32_t error = 0;
    zv::test::WriteFileBytes(staging_, "held by another program");
    {
        const Held other(staging_);
        EXPECT_FALSE(system_.Stage(staging_, kIdentity, error));
        EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_SHARING_VIOLATION));
    }
    // One left by an ended run is emptied and taken.
    std::unique_ptr<zv::StagedFile> staged = system_.Stage(staging_, kIdentity, error);
    ASSERT_TRUE(staged);
    EXPECT_EQ(zv::Sha1ToHex(staged->Digests(false)->sha1), Sha1Hex(""));
    staged.reset();
    EXPECT_FALSE(system_.Stage((scratch_.path() / "no such folder" / "x.partial").wstring(), kIdentity, error));
    EXPECT_EQ(error, static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

TEST_F(Staging, RemovingAFileSaysWhetherItWasThereAndWhetherItWent) {
    zv::test::WriteFileBytes(staging_, "left by an ended run");
    {
        const Held other(staging_);
        EXPECT_EQ(system_.RemoveFile(staging_), zv::Removal::Failed);
    }
    EXPECT_EQ(system_.RemoveFile(staging_), zv::Removal::Removed);
    EXPECT_EQ(system_.RemoveFile(staging_), zv::Removal::Absent);
}

TEST(WindowsSelfUpdatePlatform, RenamesTheLauncherAsideAndBackAndTellsInUseFromRefused) {
    zv::test::ScratchDirectory scratch;
    zv::WindowsSelfUpdatePlatform platform(std::nullopt, {});
    const std::wstring self = (scratch.path() / "Foo_ZV.exe").wstring();
    const std::wstring previous = self + L".previous";
    zv::test::WriteFileBytes(self, "launcher");
    zv::test::WriteFileBytes(previous, "an older launcher left behind");
    {
        const Held scanner(self);
        EXPECT_EQ(platform.Rename(self, previous).kind, RenameOutcome::Kind::InUse);
    }
    ASSERT_TRUE(platform.Rename(self, previous).done()) << "replacing what was left";
    EXPECT_EQ(ReadAll(previous), "launcher");
    ASSERT_TRUE(platform.Rename(previous, self).done());
    EXPECT_EQ(ReadAll(self), "launcher");
    EXPECT_EQ(platform.Rename(previous, self).kind, RenameOutcome::Kind::Failed) << "nothing to rename";
}

TEST(WindowsSelfUpdatePlatform, CanReplaceALauncherThatIsNotReadOnlyEvenWhileItRuns) {
    zv::test::ScratchDirectory scratch;
    zv::WindowsSelfUpdatePlatform platform(std::nullopt, {});
    const std::wstring path = (scratch.path() / "zv-can-replace.exe").wstring();
    zv::test::WriteFileBytes(path, "launcher");
    EXPECT_TRUE(platform.CanReplace(path));
    {
        // As a scanner holds it: open, and shared with nobody who wants to write or delete.
        const Held scanner(path);
        EXPECT_TRUE(platform.CanReplace(path)) << "refused only for being in use";
    }
    // Wine run as root ignores read-only files when it opens them; the attribute is read as such.
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform.CanReplace(path));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadAll(path), "launcher") << "checking changes nothing";
    ::DeleteFileW(path.c_str());
    EXPECT_FALSE(platform.CanReplace(path)) << "nothing to move aside";
}

TEST(WindowsUpdateSystem, RemembersRolledBackReleasesForTheUser) {
    zv::WindowsUpdateSystem system;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\RolledBackLaunchers");
    const std::string sha256(64, 'a');
    const std::string sha1 = Sha1Hex("a release");
    EXPECT_FALSE(system.IsRolledBackRelease(sha256));
    ASSERT_TRUE(system.RememberRolledBackRelease(sha256));
    ASSERT_TRUE(system.RememberRolledBackRelease(sha1));
    EXPECT_TRUE(system.IsRolledBackRelease(sha256));
    EXPECT_TRUE(system.IsRolledBackRelease(sha1));
    EXPECT_FALSE(system.IsRolledBackRelease(std::string(64, 'b')));
    // A name is a digest's lower-case hexadecimal digits and nothing else: it names a registry value.
    for (const std::string& name : {std::string(), std::string(65, 'a'), std::string(64, 'A'), std::string("a\\b")}) {
        EXPECT_FALSE(system.RememberRolledBackRelease(name)) << name;
        EXPECT_FALSE(system.IsRolledBackRelease(name)) << name;
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\RolledBackLaunchers");
}

// The marks of accepted stub manifests, in the real registry of the test prefix: one key per
// update host, one text value per manifest path; a value that is no mark reads as such.
TEST(WindowsUpdateSystem, KeepsTheMarksPerUpdateHostInTheUsersRegistry) {
    using State = zv::KeptMark::State;
    zv::WindowsUpdateSystem system;
    const std::wstring host = L"updates.example.com:8443";
    const std::wstring path = L"/stub/" + std::wstring(40, L'a') + L"/manifest.json";
    const std::wstring key = L"SOFTWARE\\Zarnovelle\\Manifests\\" + host;
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\Manifests");

    EXPECT_EQ(system.ReadManifestMark(host, path).state, State::None) << "nothing kept yet";
    const zv::ManifestMark mark{zv::Version{{1, 2, 0, 3}}, zv::Sha256Digest{{0xAB}}, "0123456789abcdef"};
    ASSERT_TRUE(system.WriteManifestMark(host, path, mark));
    EXPECT_EQ(system.ReadManifestMark(host, path).state, State::Kept);
    EXPECT_EQ(system.ReadManifestMark(host, path).mark, mark);
    EXPECT_EQ(system.ReadManifestMark(L"staging.example.com", path).state, State::None) << "another host's";
    const zv::ManifestMark withdrawn{zv::Version{{65535, 65535, 65535, 65535}}, std::nullopt, "fedcba9876543210"};
    ASSERT_TRUE(system.WriteManifestMark(host, path, withdrawn));
    EXPECT_EQ(system.ReadManifestMark(host, path).mark, withdrawn);
    EXPECT_FALSE(system.WriteManifestMark(L"a\\b", path, mark)) << "a host names one key";

    // Kept as text a person can read.
    wchar_t text[160] = {};
    DWORD size = sizeof text;
    ASSERT_EQ(::RegGetValueW(HKEY_CURRENT_USER, key.c_str(), path.c_str(), RRF_RT_REG_SZ, nullptr, text, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(text, L"65535.65535.65535.65535 withdrawn fedcba9876543210");

    // What another program of the same user may leave there instead.
    const std::wstring longest = L"65535.65535.65535.65535 " + std::wstring(64, L'a') + L" 0123456789abcdef";
    struct Case {
        DWORD type;
        std::vector<BYTE> data;
        State state;
        std::string problem;
    };
    const auto textData = [](const std::wstring& value) {
        const auto* bytes = reinterpret_cast<const BYTE*>(value.c_str());
        return std::vector<BYTE>(bytes, bytes + (value.size() + 1) * sizeof(wchar_t));
    };
    const Case cases[] = {
        {REG_SZ, textData(longest), State::Kept, ""},
        {REG_SZ, textData(longest + L"0"), State::Unreadable, "it is longer than any mark"},
        {REG_SZ, textData(std::wstring(4000, L'1')), State::Unreadable, "it is longer than any mark"},
        {REG_SZ, textData(L"1.2.0.4 withdrawn"), State::Unreadable, "it is not a mark"},
        {REG_SZ, textData(L""), State::Unreadable, "it is not a mark"},
        {REG_EXPAND_SZ, textData(L"1.2.0.4 withdrawn 0123456789abcdef"), State::Unreadable,
         "it is not a text value (REG_SZ)"},
        {REG_DWORD, {1, 0, 0, 0}, State::Unreadable, "it is not a text value (REG_SZ)"},
        {REG_BINARY, std::vector<BYTE>(4000, 0x31), State::Unreadable, "it is longer than any mark"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), path.c_str(), c.type, c.data.data(),
                                    static_cast<DWORD>(c.data.size())),
                  ERROR_SUCCESS);
        const zv::KeptMark read = system.ReadManifestMark(host, path);
        EXPECT_EQ(read.state, c.state) << c.problem;
        EXPECT_EQ(read.problem, c.problem);
    }
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\Manifests");
}

// A program started on probation, played by the test tool zvwin: the token in its environment names
// the event it inherited; nothing starts from a file that fails the watcher's check.
class StartOnProbation : public testing::Test {
protected:
    void SetUp() override {
        const std::optional<std::filesystem::path> zvwin = zv::test::BuildTreePath("tests/zvwin.exe");
        ASSERT_TRUE(zvwin) << "started by ctest, which names the build tree";
        zvwin_ = zvwin->wstring();
        program_ = (scratch_.path() / "Foo_ZV.exe").wstring();
        ASSERT_TRUE(::CopyFileW(zvwin_.c_str(), program_.c_str(), FALSE));
        const std::optional<zv::FileDigests> digests = zv::HashFileTwice(program_);
        ASSERT_TRUE(digests);
        checked_ = *digests;
    }

    zv::test::ScratchDirectory scratch_;
    std::wstring zvwin_;
    std::wstring program_;
    zv::FileDigests checked_;
    zv::WindowsSelfUpdatePlatform platform_{std::nullopt, {}};
};

TEST_F(StartOnProbation, AProgramThatEndsWithoutConfirmingIsSeenToEnd) {
    // zvwin with no command fails at once.
    zv::SuccessorStart start = platform_.StartOnProbation(program_, L"", checked_, true);
    ASSERT_EQ(start.kind, zv::SuccessorStart::Kind::Started) << start.error;
    zv::ProbationState state;
    for (int i = 0; i < 120 && !state.ended; ++i) {
        state = start.successor->Watch(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(state.ended);
    EXPECT_FALSE(state.confirmed);
    EXPECT_EQ(zv::JudgeProbation(state), zv::ProbationVerdict::Ended);
    for (const wchar_t* name : {zv::kProbationVariable}) {
        EXPECT_EQ(::GetEnvironmentVariableW(name, nullptr, 0), 0u) << "set for the start only";
    }
}

TEST_F(StartOnProbation, ConfirmsAProgramThatSetsItsEventAndEndsOneThatHangs) {
    // zvwin's probation command plays the new launcher: it confirms, or hangs without a window.
    zv::SuccessorStart confirming = platform_.StartOnProbation(program_, L"probation confirm", checked_, false);
    ASSERT_EQ(confirming.kind, zv::SuccessorStart::Kind::Started) << confirming.error;
    zv::ProbationState state;
    for (int i = 0; i < 120 && !state.confirmed && !state.ended; ++i) {
        state = confirming.successor->Watch(std::chrono::milliseconds(250));
    }
    EXPECT_TRUE(state.confirmed);

    zv::SuccessorStart hanging = platform_.StartOnProbation(program_, L"probation hang", checked_, false);
    ASSERT_EQ(hanging.kind, zv::SuccessorStart::Kind::Started) << hanging.error;
    state = hanging.successor->Watch(std::chrono::milliseconds(500));
    EXPECT_FALSE(state.ended);
    EXPECT_FALSE(state.showsWindow);
    hanging.successor->End();
    EXPECT_TRUE(hanging.successor->Watch(std::chrono::milliseconds(0)).ended);
}

TEST_F(StartOnProbation, NothingStartsFromAFileThatIsNotTheCheckedRelease) {
    zv::FileDigests other = checked_;
    other.sha256.bytes[0] ^= 1;
    EXPECT_EQ(platform_.StartOnProbation(program_, L"", other, true).kind, zv::SuccessorStart::Kind::Changed);
    other = checked_;
    other.sha1.bytes[0] ^= 1;
    EXPECT_EQ(platform_.StartOnProbation(program_, L"", other, false).kind, zv::SuccessorStart::Kind::Changed);
    // A file Windows cannot load is not started, with its reason.
    zv::test::WriteFileBytes(program_, "MZ but no program");
    const std::optional<zv::FileDigests> digests = zv::HashFileTwice(program_);
    const zv::SuccessorStart start = platform_.StartOnProbation(program_, L"", *digests, true);
    EXPECT_EQ(start.kind, zv::SuccessorStart::Kind::NotStarted);
    EXPECT_NE(start.error, 0u);
}

std::wstring Environment(const wchar_t* name) {
    wchar_t value[64] = {};
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(name, value, 64);
    return n == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? L"<unset>" : std::wstring(value, n);
}

TEST(TakeHandedOver, ReturnsWhatAHandOverLeftAndClearsEveryVariable) {
    const wchar_t* const variables[] = {L"ZV_REPLACEMENT_TIMEOUT", L"ZV_REPLACEMENT_DOWNLOAD", L"ZV_REPLACEMENT_SELF",
                                        zv::kReplacementArgumentsVariable, zv::kProbationVariable};
    struct Case {
        const wchar_t* arguments;  // nullptr: not set
        const wchar_t* probation;  // nullptr: not set
        std::optional<std::wstring> taken;
        std::optional<zv::ProbationToken> token;
    };
    const Case cases[] = {
        // An older launcher's hand-over through the command interpreter.
        {L"-w \"a b\"", nullptr, L"-w \"a b\"", std::nullopt},
        {L"", nullptr, L"", std::nullopt},
        {nullptr, nullptr, std::nullopt, std::nullopt},
        {nullptr, L"1a4 1b0 8003", std::nullopt, zv::ProbationToken{0x1a4, 0x1b0, 0x8003}},
        {nullptr, L"not a token", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        for (const wchar_t* name : variables) {
            ::SetEnvironmentVariableW(name, L"x");
        }
        ::SetEnvironmentVariableW(zv::kReplacementArgumentsVariable, c.arguments);
        ::SetEnvironmentVariableW(zv::kProbationVariable, c.probation);
        const zv::HandedOver handed = zv::TakeHandedOver();
        EXPECT_EQ(handed.arguments, c.taken);
        EXPECT_EQ(handed.probation, c.token);
        for (const wchar_t* name : variables) {
            EXPECT_EQ(Environment(name), L"<unset>");
        }
    }
    // The longest text the older hand-over carries comes back whole.
    const std::wstring longest(zv::kHandedOverArgumentsLimit, L'a');
    ::SetEnvironmentVariableW(zv::kReplacementArgumentsVariable, longest.c_str());
    EXPECT_EQ(zv::TakeHandedOver().arguments, longest);
}

// A self-update with the real transfer, the real staging and the real renames: the checked
// download takes the launcher's name, the launcher's own file becomes the previous one, and the
// new launcher would start from the launcher's name.
class FakeStart final : public zv::SelfUpdatePlatform {
public:
    zv::WindowsSelfUpdatePlatform real{std::nullopt, {}};
    std::optional<std::wstring> startedFrom;
    std::string bytesStarted;

    [[nodiscard]] bool OnProbation() const override { return false; }
    bool ConfirmStart() noexcept override { return false; }
    bool CanReplace(const std::wstring& path) override { return real.CanReplace(path); }
    RenameOutcome Rename(const std::wstring& from, const std::wstring& to) override { return real.Rename(from, to); }
    void StepAside() override {}
    void ComeBack() override {}
    zv::SuccessorStart StartOnProbation(const std::wstring& path, const std::wstring&, const zv::FileDigests&,
                                        bool) override {
        startedFrom = path;
        bytesStarted = ReadAll(path);
        return {zv::SuccessorStart::Kind::NotStarted, nullptr, ERROR_BAD_EXE_FORMAT};
    }
    [[noreturn]] void ExitProcess() override { throw Exited{}; }
};

TEST(LauncherUpdate, PutsTheCheckedDownloadInPlaceBesideTheLauncherAndRollsItBack) {
    zv::test::TestServer server;
    constexpr std::string_view kNewBuild = "the newer launcher build";
    server.PutFile("launcher/next.exe", kNewBuild);
    const std::wstring url = server.Url("/launcher/next.exe");
    server.PutFile("launcher/manifest.json", R"({"sha1":")" + Sha1Hex(kNewBuild) + R"(","url":")" +
                                                 std::string(url.begin(), url.end()) + R"("})");
    zv::test::ScratchDirectory scratch;
    const std::wstring self = (scratch.path() / "Foo_ZV.exe").wstring();
    zv::test::WriteFileBytes(self, "old launcher");
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\RolledBackLaunchers");

    zv::RunProxy proxy;
    zv::HttpClient client(zv::RunSessionOpener(proxy), proxy.script());
    zv::WindowsUpdateSystem system;
    FakeStart platform;
    const std::wstring host = server.Url("").substr(8);  // after "https://"
    const zv::StepResult result =
        zv::UpdateLauncher(zv::UpdateSource{host, {}}, {self, L"", zv::Version{}}, client, system, platform);
    // Started from the launcher's own name, with the checked bytes; Windows "could not load" them
    // here, so the previous launcher is back and the release is remembered.
    EXPECT_EQ(result, zv::LaunchResult::Success);
    EXPECT_EQ(platform.startedFrom, self);
    EXPECT_EQ(platform.bytesStarted, kNewBuild);
    EXPECT_EQ(ReadAll(self), "old launcher");
    EXPECT_EQ(ReadAll(self + L".new"), "<missing>");
    EXPECT_EQ(ReadAll(self + L".previous"), "<missing>");
    EXPECT_TRUE(system.IsRolledBackRelease(Sha1Hex(kNewBuild)));
    ::RegDeleteTreeW(HKEY_CURRENT_USER, L"SOFTWARE\\Zarnovelle\\RolledBackLaunchers");
}

}  // namespace
