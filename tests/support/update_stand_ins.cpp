#include "update_stand_ins.h"

#include <stdexcept>

namespace zv::test {

namespace fs = std::filesystem;

namespace {

std::string Narrow(const std::wstring& text) { return {text.begin(), text.end()}; }

}  // namespace

void ActLog::Add(const std::string& act, const std::wstring& path) {
    const auto label = labels_.find(path);
    Add(act + " " + (label != labels_.end() ? label->second : Narrow(path)));
}

Answer Served(std::string body) { return {{true, 200, 0}, std::move(body), TargetAfter::Removed}; }
Answer Refused(std::uint32_t status) { return {{false, status, 0}, "", TargetAfter::Removed}; }
// The codes HttpClient reports for these: ERROR_WINHTTP_CANNOT_CONNECT, ERROR_WINHTTP_CONNECTION_ERROR
// and ERROR_SHARING_VIOLATION.
Answer NoResponse() { return {{false, 0, 12029}, "", TargetAfter::Empty}; }
Answer CutShort() { return {{false, 200, 12030}, "the first part", TargetAfter::Removed}; }
Answer TargetHeldOpen() { return {{false, 0, 32}, "", TargetAfter::AsBefore}; }

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

TransferResult StandInTransfer::DownloadToFile(const std::wstring& url, const std::wstring& targetPath,
                                               std::optional<std::uint64_t> exactSize) {
    log_.Add("download " + Narrow(url) + " to", targetPath);
    const Answer& answer = AnswerFor(url);
    if (answer.result.complete && exactSize && answer.body.size() != *exactSize) {
        fs::remove(fs::path(targetPath));
        // ERROR_FILE_TOO_LARGE, ERROR_WINHTTP_CONNECTION_ERROR
        return {false, answer.result.httpStatus, answer.body.size() > *exactSize ? 223u : 12030u};
    }
    if (answer.result.complete) {
        WriteFileBytes(targetPath, answer.body);
        return answer.result;
    }
    switch (answer.target) {
        case TargetAfter::AsBefore:
            break;
        case TargetAfter::Empty:
            WriteFileBytes(targetPath, "");
            break;
        case TargetAfter::Removed:
            fs::remove(fs::path(targetPath));
            break;
    }
    return answer.result;
}

StandInSystem::StandInSystem(ActLog& log, const fs::path& temporaryFolder)
    : folder((temporaryFolder / "").wstring()), log_(log) {
    fs::create_directories(temporaryFolder);
}

std::wstring StandInSystem::TemporaryFolder() {
    log_.Add("temporary folder");
    return folder;
}

std::wstring StandInSystem::CreateTemporaryFile(const std::wstring& in) {
    log_.Add("create temporary file");
    if (!canCreateFile) {
        return {};
    }
    const std::wstring path = in + L"ZVL1.tmp";
    WriteFileBytes(path, "");
    log_.Label(path, "temp");
    return path;
}

void StandInSystem::RemoveFile(const std::wstring& path) {
    log_.Add("remove", path);
    std::error_code ignored;
    fs::remove(fs::path(path), ignored);
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

std::wstring StandInSelfUpdate::SystemFolder() {
    log_.Add("system folder");
    return systemFolder;
}

bool StandInSelfUpdate::CanReplace(const std::wstring& path) {
    log_.Add("can replace", path);
    return canReplace;
}

ProcessStart StandInSelfUpdate::StartHidden(const ReplacementCommand& command) {
    log_.Add("start hidden");
    started = command;
    return start;
}

void StandInSelfUpdate::ExitProcess() {
    log_.Add("exit");
    throw Exited{};
}

}  // namespace zv::test
