#pragma once

// Stand-ins for what the updaters act through, for their unit tables. The tables check the flows'
// decisions for situations no real part produces on demand (a transfer that ends with a given
// status, a temporary folder that cannot be had, a hand-over that does not start): every call is
// recorded in order, and the acts on files happen for real in a scratch folder, so that the flows
// hash real files and the tables see what is left on disk. The real transfer, acts and platform
// are tested under Wine (src/net/http_client_test.cpp, update_windows_test.cpp) and end to end.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "net/transfer.h"
#include "update/launcher_update.h"
#include "update/update_system.h"

// The general test helpers the tables use with these.
#include "digest_text.h"
#include "file_bytes.h"
#include "scratch_directory.h"

namespace zv::test {

// Every call the stand-ins receive, in order: a few words each, with the files it concerns named
// by their labels.
class ActLog {
public:
    void Label(const std::wstring& path, std::string label) { labels_[path] = std::move(label); }
    void Add(std::string act) { acts_.push_back(std::move(act)); }
    void Add(const std::string& act, const std::wstring& path);
    [[nodiscard]] const std::vector<std::string>& acts() const { return acts_; }

private:
    std::map<std::wstring, std::string> labels_;
    std::vector<std::string> acts_;
};

// What a download leaves in its target when the transfer is not complete (transfer.h).
enum class TargetAfter { AsBefore, Empty, Removed };

struct Answer {
    TransferResult result;
    // What a complete GET hands back, or what a download writes (also when it fails later).
    std::string body;
    TargetAfter target = TargetAfter::Removed;
};

Answer Served(std::string body);
Answer Refused(std::uint32_t status);  // a download's target is then removed
Answer NoResponse();                   // a download's target is then empty
Answer CutShort();                     // a 200 whose body broke off; a download's target is then removed
Answer TargetHeldOpen();               // a download's target could not be opened, and is left as it was

class StandInTransfer final : public Transfer {
public:
    explicit StandInTransfer(ActLog& log) : log_(log) {}

    // How a request for a URL ends; a URL without an answer gets no response.
    std::map<std::wstring, Answer> answers;

    TransferResult GetString(const std::wstring& url, std::string& body) override;
    // With exactSize, a complete answer of another length fails as HttpClient fails it: a longer
    // body with ERROR_FILE_TOO_LARGE, a shorter one as cut short; the target is then removed.
    TransferResult DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                  std::optional<std::uint64_t> exactSize) override;

private:
    const Answer& AnswerFor(const std::wstring& url) const;
    ActLog& log_;
};

class StandInSystem final : public UpdateSystem {
public:
    StandInSystem(ActLog& log, const std::filesystem::path& temporaryFolder);

    // What TemporaryFolder reports; empty for none.
    std::wstring folder;
    bool canCreateFile = true;
    // What Now reports.
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2026} / 12 / 10};
    // The kept marks, by update host and path, as the text they are kept as (FormatManifestMark),
    // so that a case can keep one that is no mark; writes fail without changing them when
    // !canKeepMarks.
    std::map<std::pair<std::wstring, std::wstring>, std::string> marks;
    bool canKeepMarks = true;

    std::wstring TemporaryFolder() override;
    // Makes folder + "ZVL1.tmp", labelled "temp".
    std::wstring CreateTemporaryFile(const std::wstring& in) override;
    void RemoveFile(const std::wstring& path) override;
    void Pause(std::chrono::milliseconds duration) override;
    std::chrono::system_clock::time_point Now() override;
    // A kept text read as the registry's is (ReadManifestMarkText).
    KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) override;
    // Logged as "keep mark " and the mark's text.
    bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) override;

private:
    ActLog& log_;
};

// What the self-update's stand-in throws from ExitProcess: the test process goes on.
struct Exited {};

class StandInSelfUpdate final : public SelfUpdatePlatform {
public:
    explicit StandInSelfUpdate(ActLog& log) : log_(log) {}

    std::wstring systemFolder = L"C:\\windows\\system32";
    bool canReplace = true;
    ProcessStart start{true, 0};
    std::optional<ReplacementCommand> started;

    std::wstring SystemFolder() override;
    bool CanReplace(const std::wstring& path) override;
    ProcessStart StartHidden(const ReplacementCommand& command) override;
    [[noreturn]] void ExitProcess() override;

private:
    ActLog& log_;
};

}  // namespace zv::test
