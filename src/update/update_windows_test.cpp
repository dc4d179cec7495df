// The updaters' real parts under Wine: the self-update's platform, the acts on the machine, the
// hand-over's arguments, and the self-update wired to the real transfer against the loopback test
// server. The flows' decisions are in the unit tables (launcher_update_test.cpp,
// stub_update_test.cpp). The platform stands in here only for what a test cannot let happen for
// real: starting the replacement command (which would overwrite and restart the test program) and
// ending the process. The end-to-end scenarios run the real thing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "integrity/sha1.h"
#include "net/http_client.h"
#include "digest_text.h"
#include "file_bytes.h"
#include "test_server.h"
#include "update/launcher_update.h"
#include "update/replacement_command.h"
#include "update/update_system.h"
#include "update/update_windows.h"

namespace {

struct Exited {};

class FakeSelfUpdate final : public zv::SelfUpdatePlatform {
public:
    std::wstring self;
    std::wstring systemFolder = L"C:\\windows\\system32";
    bool canReplace = true;
    zv::ProcessStart start{true, 0};
    std::optional<zv::ReplacementCommand> started;

    std::wstring SystemFolder() override { return systemFolder; }
    bool CanReplace(const std::wstring& path) override { return path == self && canReplace; }
    zv::ProcessStart StartHidden(const zv::ReplacementCommand& command) override {
        started = command;
        return start;
    }
    [[noreturn]] void ExitProcess() override { throw Exited{}; }
};

using zv::test::Sha1Hex;

std::wstring TempFolder() {
    wchar_t buffer[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, buffer);
    return buffer;
}

std::vector<std::wstring> TemporaryDownloads() {
    std::vector<std::wstring> found;
    WIN32_FIND_DATAW data{};
    HANDLE search = ::FindFirstFileW((TempFolder() + L"ZVL*.tmp").c_str(), &data);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            found.emplace_back(data.cFileName);
        } while (::FindNextFileW(search, &data));
        ::FindClose(search);
    }
    return found;
}

// A file's bytes, or "<missing>".
std::string ReadAll(const std::wstring& path) { return zv::test::ReadFileTextIfPresent(path).value_or("<missing>"); }

// Swaps TMP and TEMP for the length of a test.
class TemporaryFolderOverride {
public:
    explicit TemporaryFolderOverride(const std::wstring& folder) {
        for (const wchar_t* name : {L"TMP", L"TEMP"}) {
            wchar_t old[32768] = {};
            saved_.emplace_back(name, ::GetEnvironmentVariableW(name, old, 32768) ? old : L"");
            ::SetEnvironmentVariableW(name, folder.c_str());
        }
    }
    ~TemporaryFolderOverride() {
        for (const auto& [name, value] : saved_) {
            ::SetEnvironmentVariableW(name.c_str(), value.empty() ? nullptr : value.c_str());
        }
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

class LauncherUpdate : public testing::Test {
protected:
    void SetUp() override {
        self_ = TempFolder() + L"zv-launcher-under-test.exe";
        zv::test::WriteFileBytes(self_, "old launcher");

        server_.PutFile("launcher/next.exe", kNewBuild);
        server_.PutFile("launcher/manifest.json", R"({"sha1":")" + Sha1Hex(kNewBuild) + R"(","url":")" +
                                                      Narrow(server_.Url("/launcher/next.exe")) + R"("})");
        platform_.self = self_;
        host_ = server_.Url("").substr(8);  // after "https://"
        before_ = TemporaryDownloads();
    }
    void TearDown() override { ::DeleteFileW(self_.c_str()); }

    static std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

    static constexpr std::string_view kNewBuild = "the newer launcher build";
    zv::test::TestServer server_;
    FakeSelfUpdate platform_;
    std::wstring self_;
    std::wstring host_;
    std::vector<std::wstring> before_;
};

// The flow with the real transfer and the real acts: WinHTTP downloads into the temporary file that
// GetTempFileNameW made, and the hand-over names that file.
TEST_F(LauncherUpdate, HandsTheVerifiedDownloadToTheReplacementCommandAndEnds) {
    const std::wstring forwarded = L"\"two words\" a&b";
    bool exited = false;
    try {
        zv::HttpClient client;
        zv::WindowsUpdateSystem system;
        zv::UpdateLauncher(zv::UpdateSource{host_, {}}, {self_, forwarded, zv::Version{}}, client, system, platform_);
    } catch (const Exited&) {
        exited = true;
    }
    ASSERT_TRUE(exited);
    const auto downloads = TemporaryDownloads();
    ASSERT_EQ(downloads.size(), before_.size() + 1);
    std::wstring temp;
    for (const auto& name : downloads) {
        if (std::find(before_.begin(), before_.end(), name) == before_.end()) {
            temp = TempFolder() + name;
        }
    }
    EXPECT_EQ(ReadAll(temp), kNewBuild);
    ASSERT_TRUE(platform_.started.has_value());
    const zv::ReplacementCommand expected =
        zv::BuildReplacementCommand(L"C:\\windows\\system32", temp, self_, forwarded);
    EXPECT_EQ(platform_.started->interpreter, expected.interpreter);
    EXPECT_EQ(platform_.started->line, expected.line);
    EXPECT_EQ(platform_.started->environment, expected.environment);
    EXPECT_EQ(ReadAll(self_), "old launcher") << "the running launcher is replaced by the command, not here";
    ::DeleteFileW(temp.c_str());
}

TEST(WindowsUpdateSystem, MakesTheTemporaryFileInTheUsersTemporaryFolder) {
    zv::WindowsUpdateSystem system;
    const std::wstring folder = system.TemporaryFolder();
    EXPECT_EQ(folder, TempFolder());
    const std::vector<std::wstring> before = TemporaryDownloads();
    const std::wstring path = system.CreateTemporaryFile(folder);
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.rfind(folder + L"ZVL", 0), 0u) << "in the folder, named ZVL...";
    EXPECT_EQ(ReadAll(path), "") << "made empty";
    EXPECT_EQ(TemporaryDownloads().size(), before.size() + 1);
    system.RemoveFile(path);
    EXPECT_EQ(TemporaryDownloads(), before);
    system.RemoveFile(path);  // a file that is gone already is no failure anyone hears of
}

TEST(WindowsUpdateSystem, TemporaryFoldersThatCannotTakeTheDownload) {
    zv::WindowsUpdateSystem system;
    {
        const std::wstring missing = TempFolder() + L"zv-no-such-folder\\";
        TemporaryFolderOverride override(missing);
        EXPECT_EQ(system.TemporaryFolder(), missing);
        EXPECT_EQ(system.CreateTemporaryFile(missing), L"");
    }
    {
        // Longer than the first buffer: nothing comes back that GetTempPathW did not fill. Windows
        // hands such a path back once the buffer has grown, and GetTempFileNameW then cannot use
        // it; Wine's GetTempPathW refuses a TMP longer than MAX_PATH outright.
        const std::wstring deep = L"C:\\" + std::wstring(300, L'x') + L"\\";
        TemporaryFolderOverride override(deep);
        const std::wstring folder = system.TemporaryFolder();
        if (!folder.empty()) {
            EXPECT_EQ(folder, deep);
            EXPECT_EQ(system.CreateTemporaryFile(folder), L"");
        }
    }
}

// The real platform's own acts.

std::wstring Environment(const wchar_t* name) {
    wchar_t value[64] = {};
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(name, value, 64);
    return n == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND ? L"<unset>" : std::wstring(value, n);
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

TEST(WindowsSelfUpdatePlatform, CanReplaceAFileTheUserMayWriteEvenWhileItRuns) {
    zv::WindowsSelfUpdatePlatform platform;
    const std::wstring path = TempFolder() + L"zv-can-replace.exe";
    zv::test::WriteFileBytes(path, "launcher");
    EXPECT_TRUE(platform.CanReplace(path));
    {
        // As a running program is: open, and shared with nobody who wants to write.
        HANDLE running = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(running, INVALID_HANDLE_VALUE);
        EXPECT_TRUE(platform.CanReplace(path)) << "refused only for being in use";
        ::CloseHandle(running);
    }
    // Wine run as root ignores read-only files when it opens them; the attribute is read as such.
    ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(platform.CanReplace(path));
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadAll(path), "launcher") << "checking writes nothing";
    ::DeleteFileW(path.c_str());
    EXPECT_TRUE(platform.CanReplace(path)) << "a missing file is made by the copy";
}

TEST(WindowsSelfUpdatePlatform, TheHandOversVariablesReachOnlyTheInterpreter) {
    zv::WindowsSelfUpdatePlatform platform;
    const std::wstring folder = platform.SystemFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring marker = TempFolder() + L"zv-interpreter-saw.txt";
    ::DeleteFileW(marker.c_str());
    // An interpreter that writes what it inherited (the hand-over's value travels unparsed).
    zv::ReplacementCommand command = zv::BuildReplacementCommand(folder, L"T", L"S", L"a&b %OS% !OS!");
    command.line = L"cmd.exe /d /v:on /c \"echo !ZV_REPLACEMENT_ARGUMENTS!>\"" + marker + L"\"\"";
    ASSERT_TRUE(platform.StartHidden(command).started);
    for (int i = 0; i < 100 && ReadAll(marker).find('\n') == std::string::npos; ++i) {
        ::Sleep(100);
    }
    EXPECT_NE(ReadAll(marker).find("a&b"), std::string::npos);
    ::DeleteFileW(marker.c_str());
    for (const wchar_t* name : zv::kReplacementVariables) {
        EXPECT_EQ(Environment(name), L"<unset>") << "left in the launcher's own environment";
    }
    // A start that fails leaves nothing behind either, and reports the start's own error.
    command.interpreter = folder + L"\\zv-no-such-interpreter.exe";
    const zv::ProcessStart failed = platform.StartHidden(command);
    EXPECT_FALSE(failed.started);
    EXPECT_EQ(failed.error, static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
    for (const wchar_t* name : zv::kReplacementVariables) {
        EXPECT_EQ(Environment(name), L"<unset>");
    }
}

TEST(TakeHandedOverArguments, ReturnsTheTextAndClearsEveryVariable) {
    struct Case {
        const wchar_t* arguments;  // nullptr: not set
        std::optional<std::wstring> taken;
    };
    const Case cases[] = {
        {L"-w \"a b\"", L"-w \"a b\""},
        {L"", L""},
        {nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        for (const wchar_t* name : zv::kReplacementVariables) {
            ::SetEnvironmentVariableW(name, L"x");
        }
        ::SetEnvironmentVariableW(zv::kReplacementArgumentsVariable, c.arguments);
        EXPECT_EQ(zv::TakeHandedOverArguments(), c.taken);
        for (const wchar_t* name : zv::kReplacementVariables) {
            EXPECT_EQ(Environment(name), L"<unset>");
        }
    }
    // The longest text the hand-over carries comes back whole.
    const std::wstring longest(zv::kInterpreterStringLimit, L'a');
    ::SetEnvironmentVariableW(zv::kReplacementArgumentsVariable, longest.c_str());
    EXPECT_EQ(zv::TakeHandedOverArguments(), longest);
}

}  // namespace
