#include "update/replacement_command.h"

namespace zv {

namespace {

constexpr std::wstring_view kLine =
    L"cmd.exe /d /v:on /c \"\"!ZV_REPLACEMENT_TIMEOUT!\" /t 2 /nobreak >nul && "
    L"copy /y \"!ZV_REPLACEMENT_DOWNLOAD!\" \"!ZV_REPLACEMENT_SELF!\" >nul && "
    L"del \"!ZV_REPLACEMENT_DOWNLOAD!\" && "
    L"start \"\" \"!ZV_REPLACEMENT_SELF!\"\"";

std::wstring InFolder(std::wstring_view folder, std::wstring_view name) {
    std::wstring path(folder);
    if (!path.empty() && path.back() != L'\\') {
        path.push_back(L'\\');
    }
    path += name;
    return path;
}

}  // namespace

std::wstring_view ReplacementCommandLine() { return kLine; }

ReplacementCommand BuildReplacementCommand(std::wstring_view systemFolder, std::wstring_view tempPath,
                                           std::wstring_view selfPath, std::wstring_view forwarded) {
    ReplacementCommand command;
    command.interpreter = InFolder(systemFolder, L"cmd.exe");
    command.line = kLine;
    command.environment = {
        {kReplacementTimeoutVariable, InFolder(systemFolder, L"timeout.exe")},
        {kReplacementDownloadVariable, std::wstring(tempPath)},
        {kReplacementSelfVariable, std::wstring(selfPath)},
        {kReplacementArgumentsVariable, std::wstring(forwarded)},
    };
    return command;
}

bool FitsInterpreterLimits(std::wstring_view tempPath, std::wstring_view selfPath, std::wstring_view forwarded) {
    return tempPath.size() < kInterpreterPathLimit && selfPath.size() < kInterpreterPathLimit &&
           forwarded.size() <= kInterpreterStringLimit;
}

}  // namespace zv
