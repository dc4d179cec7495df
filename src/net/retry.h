#pragma once

// When a transfer is tried again, and how long the run waits first. A request that failed before a
// complete answer (no name, no connection, a reset, a time-out, a body cut short) and the answers
// 408, 429, 500, 502, 503 and 504 are worth another attempt; nothing else is: not a 404 or any
// other status, not an answer that arrived whole and was judged (a body too large, a length that
// is not the one announced), not a certificate the platform does not trust.
//
// At most kMaxAttempts attempts per request. The waits before the second and third grow (0.5 s,
// then 2 s), each longer by a random share of up to a quarter; a Retry-After of a 429 or a 503 is
// honoured up to kRetryAfterLimit, and a longer one gives up at once. All waits of a run together
// stay under kRunWaitLimit: a player on a dead connection gets the usual box in bounded time.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "net/transfer.h"

namespace zv {

inline constexpr int kMaxAttempts = 3;
// The waits before the second and the third attempt, before their jitter.
inline constexpr std::chrono::milliseconds kRetryWaits[] = {std::chrono::milliseconds{500},
                                                            std::chrono::milliseconds{2000}};
// The largest share a wait is lengthened by at random, so that players who lost the server
// together do not come back together.
inline constexpr double kRetryJitter = 0.25;
inline constexpr std::chrono::seconds kRetryAfterLimit{10};
inline constexpr std::chrono::seconds kRunWaitLimit{20};

// Why a transfer that ended as result is worth another attempt, in words for the log ("error 12030
// ERROR_WINHTTP_CONNECTION_ERROR", "HTTP 503"); nothing when it is not.
std::optional<std::string> RetryReason(const TransferResult& result);

// A Retry-After value as a wait from now: delay-seconds (digits only; a value too large to count is
// counted as very long), or an HTTP-date in any of the three forms HTTP allows (IMF-fixdate,
// RFC 850, asctime), where a date already past is no wait. Nothing for anything else.
std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::chrono::system_clock::time_point now);

// What a run does after a failed attempt.
struct RetryDecision {
    bool retry = false;
    std::chrono::milliseconds wait{0};  // before the next attempt
    std::string why;                    // the reason to try again, or why not: for the log
};

// The retries of one run: the attempts of each request and the waiting of all together.
class RetrySchedule {
public:
    // After attempt (counted from 1) of a request failed as result: whether to try again, and the
    // wait first. jitter is a random number in [0, 1) that lengthens the wait by up to
    // kRetryJitter of it; now reads an HTTP-date Retry-After. A decision to retry counts its wait
    // against the run's limit.
    RetryDecision Next(int attempt, const TransferResult& result, double jitter,
                       std::chrono::system_clock::time_point now);

    [[nodiscard]] std::chrono::milliseconds waited() const { return waited_; }

private:
    std::chrono::milliseconds waited_{0};
};

}  // namespace zv
