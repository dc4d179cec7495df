// The decisions of a launcher's probation: the token the watching launcher hands the new one, and
// when the watcher counts the new launcher as confirmed, failed or timed out. The real handles, processes and renames
// are tested under Wine (update_windows_test.cpp) and end to end (tests/e2e/test_self_update.py).
#include "update/probation.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

namespace {

using namespace std::chrono_literals;
using zv::ProbationState;
using zv::ProbationToken;
using zv::ProbationVerdict;

TEST(ProbationToken, ReadsBackExactlyWhatIsWritten) {
    const ProbationToken tokens[] = {
        {0x1a4, 0x1b0, 0},
        {1, 1, 0x8003},
        {0xffffffffffffffffull, 0x10, 0xffffffffu},
    };
    for (const auto& token : tokens) {
        const std::wstring text = zv::FormatProbationToken(token);
        EXPECT_EQ(zv::ParseProbationToken(text), token) << std::string(text.begin(), text.end());
    }
    EXPECT_EQ(zv::FormatProbationToken({0x1a4, 0x1b0, 0x8003}), L"1a4 1b0 8003");
}

TEST(ProbationToken, RefusesEveryOtherText) {
    const wchar_t* refused[] = {
        L"",
        L"1a4 1b0",                // a number missing
        L"1a4 1b0 0 0",            // one too many
        L"1a4  1b0 0",             // two blanks
        L" 1a4 1b0 0",             // a leading blank
        L"1a4 1b0 0 ",             // a trailing one
        L"1A4 1b0 0",              // upper case
        L"0x1a4 1b0 0",            // a prefix
        L"-1 1b0 0",               // a sign
        L"0 1b0 0",                // no event
        L"1a4 0 0",                // no process
        L"10000000000000000 1 0",  // seventeen digits
        L"1 1 100000000",          // an error mode beyond 32 bits
        L"1a4\t1b0\t0",            // tabs
        L"1a4 1b0 0\n",
    };
    for (const wchar_t* text : refused) {
        EXPECT_EQ(zv::ParseProbationToken(text), std::nullopt) << std::wstring(text).size();
    }
}

TEST(JudgeProbation, ConfirmedEndedTimedOutOrWatchedOn) {
    struct Case {
        const char* name;
        ProbationState state;
        ProbationVerdict verdict;
    };
    const Case cases[] = {
        {"just started", {false, false, 0ms, false}, ProbationVerdict::Watch},
        {"confirmed", {true, false, 3s, true}, ProbationVerdict::Confirmed},
        {"confirmed, then ended: the confirmation counts", {true, true, 5s, false}, ProbationVerdict::Confirmed},
        {"confirmed after the limit", {true, false, 500s, false}, ProbationVerdict::Confirmed},
        {"ended without confirming", {false, true, 1s, false}, ProbationVerdict::Ended},
        {"ended without confirming, after the limit", {false, true, 200s, true}, ProbationVerdict::Ended},
        {"no window, just short of the limit", {false, false, 119999ms, false}, ProbationVerdict::Watch},
        {"no window at the limit", {false, false, 120s, false}, ProbationVerdict::TimedOut},
        {"a window past the limit (the agreement, a slow network)",
         {false, false, 600s, true},
         ProbationVerdict::Watch},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zv::JudgeProbation(c.state), c.verdict) << c.name;
    }
}

}  // namespace
