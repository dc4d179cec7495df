#include "update_stand_ins.h"

#include <algorithm>
#include <system_error>

#include "integrity/file_digest.h"

namespace zv::test {

namespace fs = std::filesystem;

namespace {

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

// A staged file on disk: written, checked, switched and removed for real.
class StandInStagedFile final : public StagedFile {
public:
    StandInStagedFile(ActLog& log, std::deque<RenameOutcome>& switches, std::wstring path)
        : log_(log), switches_(switches), path_(std::move(path)) {}
    ~StandInStagedFile() override {
        if (!switched_ && !removed_) {
            std::error_code ignored;
            fs::remove(fs::path(path_), ignored);
        }
    }

    bool Write(const char* data, std::size_t size, std::uint32_t&) override {
        written_.append(data, size);
        WriteFileBytes(path_, written_);
        return true;
    }
    [[nodiscard]] std::wstring Name() const override { return path_; }
    // Resuming is the real staging file's (update_windows_test.cpp); these start afresh.
    [[nodiscard]] std::optional<HeldAnswer> Held() const override { return std::nullopt; }
    bool Begin(bool fromStart, std::string_view, std::optional<std::uint64_t>, std::uint32_t&) override {
        if (fromStart) {
            written_.clear();
            WriteFileBytes(path_, written_);
        }
        return true;
    }

    std::optional<FileDigests> Digests(bool) override {
        log_.Add("check", path_);
        return HashFileTwice(path_);
    }

    RenameOutcome SwitchInto(const std::wstring& target, bool replace) override {
        log_.Add("switch " + log_.Name(path_) + " into", target);
        RenameOutcome outcome = RenameDone();
        if (!switches_.empty()) {
            outcome = switches_.front();
            switches_.pop_front();
        }
        if (!outcome.done()) {
            return outcome;
        }
        if (!replace && fs::exists(fs::path(target))) {
            return RenameRefused();
        }
        fs::rename(fs::path(path_), fs::path(target));
        switched_ = true;
        return outcome;
    }

    bool Remove() override {
        log_.Add("remove", path_);
        std::error_code ignored;
        fs::remove(fs::path(path_), ignored);
        removed_ = true;
        return true;
    }

private:
    ActLog& log_;
    std::deque<RenameOutcome>& switches_;
    std::wstring path_;
    std::string written_;
    bool switched_ = false;
    bool removed_ = false;
};

class StandInSuccessor final : public Successor {
public:
    StandInSuccessor(ActLog& log, std::vector<ProbationState> states) : log_(log), states_(std::move(states)) {}

    ProbationState Watch(std::chrono::milliseconds) override {
        log_.Add("watch");
        const ProbationState state = states_.at(std::min(next_, states_.size() - 1));
        ++next_;
        return state;
    }
    void End() override { log_.Add("end it"); }

private:
    ActLog& log_;
    std::vector<ProbationState> states_;
    std::size_t next_ = 0;
};

}  // namespace

std::string ActLog::Name(const std::wstring& path) const {
    const auto label = labels_.find(path);
    return label != labels_.end() ? label->second : Narrow(path);
}

void ActLog::Add(const std::string& act, const std::wstring& path) { Add(act + " " + Name(path)); }

Answer Served(std::string body) { return {{true, 200, 0}, std::move(body)}; }
Answer Refused(std::uint32_t status) { return {{false, status, 0}, ""}; }
// The codes HttpClient reports for these: ERROR_WINHTTP_CANNOT_CONNECT and
// ERROR_WINHTTP_CONNECTION_ERROR.
Answer NoResponse() { return {{false, 0, 12029}, ""}; }
Answer CutShort() { return {{false, 200, 12030}, "the first part"}; }

RenameOutcome RenameDone() { return {RenameOutcome::Kind::Done, 0}; }
RenameOutcome RenameInUse() { return {RenameOutcome::Kind::InUse, 32}; }    // ERROR_SHARING_VIOLATION
RenameOutcome RenameRefused() { return {RenameOutcome::Kind::Failed, 5}; }  // ERROR_ACCESS_DENIED

const Answer& StandInTransfer::AnswerFor(const std::wstring& url) const {
    static const Answer kNoResponse = NoResponse();
    const auto answer = answers.find(url);
    return answer != answers.end() ? answer->second : kNoResponse;
}

TransferResult StandInTransfer::GetString(const std::wstring& url, std::string& body) {
    log_.Add("get " + Narrow(url));
    const Answer& answer = AnswerFor(url);
    if (answer.result.complete) {
        body = answer.body;
    }
    return answer.result;
}

TransferResult StandInTransfer::DownloadTo(const std::wstring& url, DownloadSink& sink,
                                           std::optional<std::uint64_t> exactSize) {
    log_.Add("download " + Narrow(url) + " to", sink.Name());
    const Answer& answer = AnswerFor(url);
    std::uint32_t error = 0;
    if (answer.result.httpStatus != 0 && answer.result.systemError == 0 && !answer.result.complete) {
        return answer.result;  // refused: no body
    }
    if (answer.result.httpStatus != 0) {
        sink.Begin(true, "", exactSize, error);
    }
    if (answer.result.complete && exactSize && answer.body.size() != *exactSize) {
        const bool longer = answer.body.size() > *exactSize;
        sink.Write(answer.body.data(), longer ? *exactSize : answer.body.size(), error);
        // ERROR_FILE_TOO_LARGE, ERROR_WINHTTP_CONNECTION_ERROR
        return {false, answer.result.httpStatus, longer ? 223u : 12030u};
    }
    sink.Write(answer.body.data(), answer.body.size(), error);
    return answer.result;
}

std::unique_ptr<StagedFile> StandInSystem::Stage(const std::wstring& path, const std::string& identity,
                                                 std::uint32_t& error) {
    log_.Add("stage", path);
    identities[path] = identity;
    if (!canStage) {
        error = 5;  // ERROR_ACCESS_DENIED
        return nullptr;
    }
    WriteFileBytes(path, "");
    return std::make_unique<StandInStagedFile>(log_, switches, path);
}

Removal StandInSystem::RemoveFile(const std::wstring& path) {
    log_.Add("remove", path);
    if (held.contains(path)) {
        return Removal::Failed;
    }
    std::error_code ignored;
    return fs::remove(fs::path(path), ignored) ? Removal::Removed : Removal::Absent;
}

void StandInSystem::Pause(std::chrono::milliseconds duration) {
    log_.Add("pause " + std::to_string(duration.count()) + " ms");
}

std::chrono::system_clock::time_point StandInSystem::Now() { return now; }

KeptMark StandInSystem::ReadManifestMark(std::wstring_view host, std::wstring_view path) {
    const auto it = marks.find({std::wstring(host), std::wstring(path)});
    return it == marks.end() ? KeptMark::Nothing()
                             : ReadManifestMarkText(std::wstring(it->second.begin(), it->second.end()));
}

bool StandInSystem::WriteManifestMark(std::wstring_view host, std::wstring_view path, const ManifestMark& mark) {
    log_.Add("keep mark " + FormatManifestMark(mark));
    if (!canKeepMarks) {
        return false;
    }
    marks[{std::wstring(host), std::wstring(path)}] = FormatManifestMark(mark);
    return true;
}

bool StandInSystem::IsRolledBackRelease(std::string_view release) { return rolledBack.contains(std::string(release)); }

bool StandInSystem::RememberRolledBackRelease(std::string_view release) {
    log_.Add("remember rolled back " + std::string(release));
    rolledBack.insert(std::string(release));
    return true;
}

bool StandInSelfUpdate::ConfirmStart() noexcept {
    if (!onProbation || confirmed_) {
        return false;
    }
    confirmed_ = true;
    log_.Add("confirm start");
    return true;
}

bool StandInSelfUpdate::CanReplace(const std::wstring& path) {
    log_.Add("can replace", path);
    return canReplace;
}

RenameOutcome StandInSelfUpdate::Rename(const std::wstring& from, const std::wstring& to) {
    log_.Add("rename " + log_.Name(from) + " to", to);
    RenameOutcome outcome = RenameDone();
    if (!renames.empty()) {
        outcome = renames.front();
        renames.pop_front();
    }
    if (outcome.done()) {
        fs::rename(fs::path(from), fs::path(to));
    }
    return outcome;
}

void StandInSelfUpdate::StepAside() { log_.Add("step aside"); }

void StandInSelfUpdate::ComeBack() { log_.Add("come back"); }

SuccessorStart StandInSelfUpdate::StartOnProbation(const std::wstring& path, const std::wstring& forwarded,
                                                   const FileDigests&, bool) {
    log_.Add("start on probation");
    startedWith.emplace(path, forwarded);
    if (start != SuccessorStart::Kind::Started) {
        return {start, nullptr, start == SuccessorStart::Kind::NotStarted ? 193u : 0u};  // ERROR_BAD_EXE_FORMAT
    }
    return {start, std::make_unique<StandInSuccessor>(log_, watched), 0};
}

void StandInSelfUpdate::ExitProcess() {
    log_.Add("exit");
    throw Exited{};
}

}  // namespace zv::test
