#pragma once

// Stand-ins for what the updaters act through, for their unit tables. The tables check the flows'
// decisions for situations no real part produces on demand (a transfer that ends with a given
// status, a staging file that cannot be made, a rename refused while a file is in use, a new
// launcher that crashes): every call is recorded in order, and the acts on files happen for real
// in a scratch folder, so that the flows hash real files and the tables see what is left on disk.
// The real transfer, acts and platform are tested under Wine (src/net/http_client_test.cpp,
// update_windows_test.cpp) and end to end.

#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
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
    [[nodiscard]] std::string Name(const std::wstring& path) const;
    [[nodiscard]] const std::vector<std::string>& acts() const { return acts_; }

private:
    std::map<std::wstring, std::string> labels_;
    std::vector<std::string> acts_;
};

struct Answer {
    TransferResult result;
    // What a complete GET hands back, or what a download writes (also when it fails later: the
    // part that arrived).
    std::string body;
};

Answer Served(std::string body);
Answer Refused(std::uint32_t status);
Answer NoResponse();
Answer CutShort();  // a 200 whose body broke off after its first part

class StandInTransfer final : public Transfer {
public:
    explicit StandInTransfer(ActLog& log) : log_(log) {}

    // How a request for a URL ends; a URL without an answer gets no response.
    std::map<std::wstring, Answer> answers;

    TransferResult GetString(const std::wstring& url, std::string& body) override;
    // Writes the answer's body into the sink. With exactSize, a complete answer of another length
    // fails as HttpClient fails it: a longer body with ERROR_FILE_TOO_LARGE after exactSize bytes,
    // a shorter one as cut short.
    TransferResult DownloadTo(const std::wstring& url, DownloadSink& sink,
                              std::optional<std::uint64_t> exactSize) override;

private:
    const Answer& AnswerFor(const std::wstring& url) const;
    ActLog& log_;
};

// How a scripted rename ends: done (it happens on disk), in use or refused for good.
RenameOutcome RenameDone();
RenameOutcome RenameInUse();
RenameOutcome RenameRefused();

class StandInSystem final : public UpdateSystem {
public:
    explicit StandInSystem(ActLog& log) : log_(log) {}

    bool canStage = true;
    // How the staged files' switches end, one after another; done once these are used up.
    std::deque<RenameOutcome> switches;
    // Files RemoveFile cannot remove.
    std::set<std::wstring> held;
    // What Now reports.
    std::chrono::system_clock::time_point now = std::chrono::sys_days{std::chrono::year{2026} / 12 / 10};
    // The kept marks, by update host and path, as the text they are kept as (FormatManifestMark),
    // so that a case can keep one that is no mark; writes fail without changing them when
    // !canKeepMarks.
    std::map<std::pair<std::wstring, std::wstring>, std::string> marks;
    bool canKeepMarks = true;
    // The launcher releases remembered as rolled back.
    std::set<std::string> rolledBack;

    // What each staging file was staged for, by path.
    std::map<std::wstring, std::string> identities;

    // "stage LABEL"; the staged file logs "check LABEL", "switch LABEL into TARGET" and "remove LABEL".
    std::unique_ptr<StagedFile> Stage(const std::wstring& path, const std::string& identity,
                                      std::uint32_t& error) override;
    // "remove LABEL".
    Removal RemoveFile(const std::wstring& path) override;
    void Pause(std::chrono::milliseconds duration) override;
    std::chrono::system_clock::time_point Now() override;
    // A kept text read as the registry's is (ReadManifestMarkText).
    KeptMark ReadManifestMark(std::wstring_view host, std::wstring_view path) override;
    // Logged as "keep mark " and the mark's text.
    bool WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) override;
    bool IsRolledBackRelease(std::string_view release) override;
    // "remember rolled back RELEASE".
    bool RememberRolledBackRelease(std::string_view release) override;

private:
    ActLog& log_;
};

// What the self-update's stand-in throws from ExitProcess: the test process goes on.
struct Exited {};

class StandInSelfUpdate final : public SelfUpdatePlatform {
public:
    explicit StandInSelfUpdate(ActLog& log) : log_(log) {}

    bool onProbation = false;
    bool canReplace = true;
    // How the renames end, one after another; done once these are used up.
    std::deque<RenameOutcome> renames;
    // How the new launcher's start ends, and what Watch reports of it, one after another (the last
    // again once they are used up).
    SuccessorStart::Kind start = SuccessorStart::Kind::Started;
    std::vector<ProbationState> watched{ProbationState{true, false, {}, false}};
    // What it was started with: the path and the forwarded text.
    std::optional<std::pair<std::wstring, std::wstring>> startedWith;

    [[nodiscard]] bool OnProbation() const override { return onProbation; }
    // "confirm start", the first time on probation.
    bool ConfirmStart() noexcept override;
    bool CanReplace(const std::wstring& path) override;
    // "rename FROM to TO".
    RenameOutcome Rename(const std::wstring& from, const std::wstring& to) override;
    void StepAside() override;
    void ComeBack() override;
    // "start on probation"; its successor logs "watch" and "end it".
    SuccessorStart StartOnProbation(const std::wstring& path, const std::wstring& forwarded, const FileDigests& checked,
                                    bool withSha256) override;
    [[noreturn]] void ExitProcess() override;

private:
    ActLog& log_;
    bool confirmed_ = false;
};

}  // namespace zv::test
