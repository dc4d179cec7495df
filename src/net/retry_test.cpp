// When a transfer is tried again and after how long (retry.h), and the retrying transfer's loop
// (retrying_transfer.h) over a stand-in transfer and world. The real client's resumes and time-outs
// are tested under Wine (http_client_test.cpp) and end to end (tests/e2e/test_flaky_network.py).
#include "net/retry.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "net/retrying_transfer.h"

namespace {

using namespace std::chrono_literals;
using zv::TransferResult;

TransferResult Status(std::uint32_t status, std::optional<std::string> retryAfter = std::nullopt) {
    return {false, status, 0, std::move(retryAfter)};
}
TransferResult Error(std::uint32_t error, std::uint32_t status = 0) { return {false, status, error, std::nullopt}; }
const TransferResult kComplete{true, 200, 0, std::nullopt};

TEST(RetryReason, OnlyWhatFailedBeforeACompleteAnswerAndTheStatusesThatAskForPatience) {
    const std::pair<TransferResult, bool> cases[] = {
        {kComplete, false},
        {Status(408), true},
        {Status(429), true},
        {Status(500), true},
        {Status(502), true},
        {Status(503), true},
        {Status(504), true},
        {Status(404), false},  // the server's word: for a stub manifest it even deletes the
                               // game
        {Status(403), false},
        {Status(407), false},
        {Status(501), false},
        {Status(505), false},
        {Status(0), false},
        {Error(12002), true},        // a wait ran out: a stall
        {Error(12007), true},        // the name did not resolve
        {Error(12029), true},        // no connection
        {Error(12030), true},        // a reset before the answer
        {Error(12030, 200), true},   // a body cut short
        {Error(12152), true},        // the connection closed instead of an answer
        {Error(12152, 200), false},  // an answer that announced another length, or sent more
        {Error(223, 200), false},    // a body larger than allowed
        {Error(12175), false},       // a certificate Windows does not trust
        {Error(12157), false},       // the same as Wine reports it
        {Error(12045), false},       // an unknown certificate authority
        {Error(112, 200), false},    // the disk is full
        {Error(12006), false},       // a scheme the client does not speak
    };
    for (const auto& [result, retried] : cases) {
        EXPECT_EQ(zv::RetryReason(result).has_value(), retried)
            << "status " << result.httpStatus << ", error " << result.systemError;
    }
    EXPECT_EQ(zv::RetryReason(Error(12030)), "error 12030 ERROR_WINHTTP_CONNECTION_ERROR");
    EXPECT_EQ(zv::RetryReason(Status(503)), "HTTP 503");
}

TEST(ParseRetryAfter, SecondsAndTheThreeFormsOfAnHttpDate) {
    // Sun, 06 Nov 1994 08:49:37 GMT, less 30 seconds.
    const auto now = std::chrono::sys_days{std::chrono::year{1994} / 11 / 6} + 8h + 49min + 7s;
    const std::pair<const char*, std::optional<std::chrono::seconds>> cases[] = {
        {"0", 0s},
        {"1", 1s},
        {" 120 ", 120s},
        {"007", 7s},
        {"999999999", 999999999s},
        {"99999999999999999999999", 999999999s},  // far beyond any limit, and counted as such
        {"Sun, 06 Nov 1994 08:49:37 GMT", 30s},
        {"Sunday, 06-Nov-94 08:49:37 GMT", 30s},
        {"Sun Nov  6 08:49:37 1994", 30s},
        {"Sun, 06 Nov 1994 08:00:00 GMT", 0s},  // already past
        {"Mon, 07 Nov 1994 08:49:07 GMT", 86400s},
        {"", std::nullopt},
        {"1.5", std::nullopt},
        {"-1", std::nullopt},
        {"+1", std::nullopt},
        {"1 s", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 06 Nov 1994 08:49:37 gmt", std::nullopt},
        {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Foo 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 06 Nov 1994 24:00:00 GMT", std::nullopt},
        {"Someday, 06-Nov-94 08:49:37 GMT", std::nullopt},
        {"Sun Nov 06 08:49:37 1994 ", 30s},  // asctime with a two-digit day; the blank is trimmed
        {"Sun Nov  6 08:49:37 94", std::nullopt},
    };
    for (const auto& [text, wait] : cases) {
        EXPECT_EQ(zv::ParseRetryAfter(text, now), wait) << text;
    }
}

struct Step {
    TransferResult result;
    double jitter;
    bool retry;
    std::chrono::milliseconds least;  // the wait, at least
    std::chrono::milliseconds most;   // and at most
};

TEST(RetrySchedule, ThreeAttemptsGrowingWaitsWithBoundedJitterRetryAfterAndTheRunsLimit) {
    const auto now = std::chrono::system_clock::time_point{} + std::chrono::hours{24 * 365 * 50};
    struct Case {
        const char* name;
        std::vector<std::vector<Step>> requests;  // each request's failed attempts, in order
    };
    const Case cases[] = {
        {"a reset three times: two waits that grow, then the last attempt's result",
         {{{Error(12030), 0.0, true, 500ms, 500ms},
           {Error(12030), 0.0, true, 2000ms, 2000ms},
           {Error(12030), 0.0, false, 0ms, 0ms}}}},
        {"jitter lengthens each wait by less than a quarter",
         {{{Status(503), 0.999999, true, 624ms, 624ms}, {Status(502), 0.5, true, 2250ms, 2250ms}}}},
        {"a 404 is never tried again", {{{Status(404), 0.0, false, 0ms, 0ms}}}},
        {"Retry-After in seconds is honoured",
         {{{Status(503, "1"), 0.0, true, 1000ms, 1000ms}, {Status(429, "3"), 0.0, true, 3000ms, 3000ms}}}},
        {"Retry-After shorter than the wait: the wait",
         {{{Status(503, "1"), 0.0, true, 1000ms, 1000ms}, {Status(503, "1"), 0.0, true, 2000ms, 2000ms}}}},
        {"Retry-After of 10 s is honoured, of 11 s gives up at once",
         {{{Status(503, "10"), 0.0, true, 10000ms, 10000ms}}, {{Status(503, "11"), 0.0, false, 0ms, 0ms}}}},
        {"Retry-After of 120 s gives up at once", {{{Status(429, "120"), 0.0, false, 0ms, 0ms}}}},
        {"Retry-After is read only from a 429 or a 503", {{{Status(500, "120"), 0.0, true, 500ms, 500ms}}}},
        {"an unreadable Retry-After is the usual wait", {{{Status(503, "soon"), 0.0, true, 500ms, 500ms}}}},
        // The waits of all requests of a run together stay under 20 s.
        {"the run's limit: a wait that would reach 20 s is not made",
         {{{Status(503, "9"), 0.0, true, 9000ms, 9000ms}, {Status(503, "9"), 0.0, true, 9000ms, 9000ms}},
          {{Status(503, "2"), 0.0, false, 0ms, 0ms}},
          {{Error(12029), 0.0, true, 500ms, 500ms}, {Error(12029), 0.0, false, 0ms, 0ms}}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        zv::RetrySchedule schedule;
        for (const auto& request : c.requests) {
            int attempt = 1;
            for (const Step& step : request) {
                const zv::RetryDecision decision = schedule.Next(attempt++, step.result, step.jitter, now);
                EXPECT_EQ(decision.retry, step.retry) << decision.why;
                if (decision.retry) {
                    EXPECT_GE(decision.wait, step.least);
                    EXPECT_LE(decision.wait, step.most);
                }
            }
        }
        EXPECT_LT(schedule.waited(), zv::kRunWaitLimit);
    }
}

// A transfer that answers from a script, one result per attempt.
class ScriptedTransfer final : public zv::Transfer {
public:
    std::deque<TransferResult> results;
    int attempts = 0;

    TransferResult GetString(const std::wstring&, std::string& body) override {
        ++attempts;
        TransferResult r = results.front();
        results.pop_front();
        if (r.complete) {
            body = "whole";
        }
        return r;
    }
    TransferResult DownloadTo(const std::wstring& url, zv::DownloadSink&, std::optional<std::uint64_t>) override {
        std::string ignored;
        return GetString(url, ignored);
    }
};

class RecordedWorld final : public zv::RetryWorld, public zv::DownloadProgress {
public:
    std::vector<std::string> events;
    void Pause(std::chrono::milliseconds d) override { events.push_back("pause " + std::to_string(d.count())); }
    double Jitter() override { return 0.0; }
    std::chrono::system_clock::time_point Now() override { return {}; }
    void Begun() override { events.push_back("begun"); }
    void Received(std::uint64_t, std::optional<std::uint64_t>) override {}
    void Ended() override { events.push_back("ended"); }
    void Waiting() override { events.push_back("waiting"); }
};

TEST(RetryingTransfer, TriesAgainWhileItIsWorthItShowingEachWaitAndKeepsTheLastResult) {
    struct Case {
        const char* name;
        std::deque<TransferResult> results;
        TransferResult outcome;
        int attempts;
        std::vector<std::string> events;
        std::string body;
    };
    const Case cases[] = {
        {"whole at once", {kComplete}, kComplete, 1, {}, "whole"},
        {"a reset, then whole", {Error(12030), kComplete}, kComplete, 2, {"waiting", "pause 500", "ended"}, "whole"},
        {"three resets: the third's result",
         {Error(12029), Error(12030, 200), Error(12002)},
         Error(12002),
         3,
         {"waiting", "pause 500", "ended", "waiting", "pause 2000", "ended"},
         "before"},
        {"a 404 at once", {Status(404), kComplete}, Status(404), 1, {}, "before"},
        {"a 503 that asks for two minutes", {Status(503, "120"), kComplete}, Status(503, "120"), 1, {}, "before"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedTransfer inner;
        inner.results = c.results;
        RecordedWorld world;
        zv::RetryingTransfer transfer(inner, world, &world);
        std::string body = "before";
        EXPECT_EQ(transfer.GetString(L"https://h/x", body), c.outcome);
        EXPECT_EQ(inner.attempts, c.attempts);
        EXPECT_EQ(world.events, c.events);
        EXPECT_EQ(body, c.body);
    }
}

}  // namespace
