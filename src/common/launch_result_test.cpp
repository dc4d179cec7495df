#include "common/launch_result.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

using zv::DescribeLaunchResult;
using zv::LaunchResult;

struct MessageCase {
    std::uint32_t value;
    const wchar_t* text;
};

// Every text the user can meet, verbatim. 19 and 20 are checked with their numbers below.
constexpr MessageCase kMessages[] = {
    {0, L"Operation completed successfully."},
    {1, L"Failed to fetch launcher update manifest from server."},
    {2, L"Launcher manifest is missing SHA1 checksum."},
    {3, L"Launcher manifest is missing download URL."},
    {4, L"Failed to get system temporary path."},
    {5, L"Failed to create temporary file for download."},
    {6, L"Failed to download launcher update."},
    {7, L"Downloaded launcher file checksum does not match expected value."},
    {8, L"Failed to create update process."},
    {9, L"Invalid launcher executable name format."},
    {10, L"Target game executable not found."},
    {11, L"Could not find a valid ZVClient target executable."},
    {12, L"Failed to fetch game stub manifest from server."},
    {13, L"Game stub manifest is missing SHA1 checksum."},
    {14, L"Game stub manifest is missing download URL."},
    {15, L"Failed to download game stub update."},
    {16, L"Downloaded game stub file checksum does not match expected value."},
    {17, L"Failed to launch the game."},
    {18, L"User refused elevation."},
    {21, L"An unknown error occurred."},
    {22, L"An unknown error occurred."},
    {29, L"An unknown error occurred."},
    {30, L"Launcher manifest is not signed for this launcher."},
    {31, L"Launcher manifest has expired."},
    {32, L"Game stub manifest is not signed for this launcher."},
    {33, L"Game stub manifest is out of date."},
    {34, L"This game version is no longer supported. Please update or repair the game."},
    {35, L"An unknown error occurred."},
    {4294967295u, L"An unknown error occurred."},
};

TEST(DescribeLaunchResult, GivesTheFixedTextOfEachResult) {
    for (const auto& c : kMessages) {
        // An error number must not leak into a text that has none.
        EXPECT_EQ(DescribeLaunchResult(static_cast<LaunchResult>(c.value), 1234), c.text) << "result " << c.value;
    }
}

struct FormattedCase {
    LaunchResult result;
    std::uint32_t error;
    const wchar_t* text;
};

constexpr FormattedCase kFormatted[] = {
    {LaunchResult::ShellExecuteFailed, 2, L"ShellExecuteEx failed. Error=2"},
    {LaunchResult::ShellExecuteFailed, 0, L"ShellExecuteEx failed. Error=0"},
    {LaunchResult::CreateProcessFailed, 193, L"CreateProcessW failed. Error=193"},
    {LaunchResult::CreateProcessFailed, 740, L"CreateProcessW failed. Error=740"},
    {LaunchResult::CreateProcessFailed, 4294967295u, L"CreateProcessW failed. Error=4294967295"},
};

TEST(DescribeLaunchResult, WritesTheErrorNumberUnsignedAtTheEnd) {
    for (const auto& c : kFormatted) {
        EXPECT_EQ(DescribeLaunchResult(zv::StepResult(c.result, c.error)), c.text);
    }
}

}  // namespace
