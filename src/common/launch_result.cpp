#include "common/launch_result.h"

#include <array>
#include <string_view>

namespace zv {

namespace {

constexpr std::array<std::wstring_view, 21> kMessages = {
    L"Operation completed successfully.",
    L"Failed to fetch launcher update manifest from server.",
    L"Launcher manifest is missing SHA1 checksum.",
    L"Launcher manifest is missing download URL.",
    L"Failed to get system temporary path.",
    L"Failed to create temporary file for download.",
    L"Failed to download launcher update.",
    L"Downloaded launcher file checksum does not match expected value.",
    L"Failed to create update process.",
    L"Invalid launcher executable name format.",
    L"Target game executable not found.",
    L"Could not find a valid ZVClient target executable.",
    L"Failed to fetch game stub manifest from server.",
    L"Game stub manifest is missing SHA1 checksum.",
    L"Game stub manifest is missing download URL.",
    L"Failed to download game stub update.",
    L"Downloaded game stub file checksum does not match expected value.",
    L"Failed to launch the game.",
    L"User refused elevation.",
    L"ShellExecuteEx failed. Error=",
    L"CreateProcessW failed. Error=",
};

// The signed manifests' results, 30 and up.
constexpr std::uint32_t kFirstSignedResult = 30;
constexpr std::array<std::wstring_view, 5> kSignedMessages = {
    L"Launcher manifest is not signed for this launcher.",
    L"Launcher manifest has expired.",
    L"Game stub manifest is not signed for this launcher.",
    L"Game stub manifest is out of date.",
    L"This game version is no longer supported. Please update or repair the game.",
};

constexpr std::wstring_view kUnknownError = L"An unknown error occurred.";

}  // namespace

std::wstring DescribeLaunchResult(LaunchResult result, std::uint32_t systemError) {
    const auto index = static_cast<std::uint32_t>(result);
    if (index >= kFirstSignedResult && index - kFirstSignedResult < kSignedMessages.size()) {
        return std::wstring(kSignedMessages[index - kFirstSignedResult]);
    }
    if (index >= kMessages.size()) {
        return std::wstring(kUnknownError);
    }
    std::wstring text(kMessages[index]);
    if (result == LaunchResult::ShellExecuteFailed || result == LaunchResult::CreateProcessFailed) {
        // The number closes the text, with no full stop behind it; 4294967295 stays ten digits.
        text += std::to_wstring(systemError);
    }
    return text;
}

}  // namespace zv
