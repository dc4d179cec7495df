#include "net/retry.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "net/transfer_log.h"

namespace zv {

namespace {

// WinHTTP's codes for a request that got no complete answer: the name did not resolve, no
// connection, the connection broke, a wait ran out. ERROR_WINHTTP_INVALID_SERVER_RESPONSE counts
// only when no status was read (the server closed the connection instead of answering).
constexpr std::uint32_t kTimeout = 12002;
constexpr std::uint32_t kNameNotResolved = 12007;
constexpr std::uint32_t kCannotConnect = 12029;
constexpr std::uint32_t kConnectionError = 12030;
constexpr std::uint32_t kInvalidServerResponse = 12152;
// What Wine's WinHTTP reports for a connection it reused that the server reset or dropped, and for
// a receive that ran out of time: the socket's own codes, where Windows' WinHTTP reports
// ERROR_WINHTTP_CONNECTION_ERROR and ERROR_WINHTTP_TIMEOUT.
constexpr std::uint32_t kConnectionAborted = 10053;
constexpr std::uint32_t kConnectionReset = 10054;
constexpr std::uint32_t kSocketTimeout = 10060;

constexpr std::array<std::uint32_t, 6> kRetriedStatuses{408, 429, 500, 502, 503, 504};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The number of the digits text[at, at + length), or nothing when they are not all digits.
std::optional<int> Digits(std::string_view text, std::size_t at, std::size_t length) {
    if (at + length > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + length; ++i) {
        if (!IsDigit(text[i])) {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// "Jan" to "Dec", exactly (HTTP-dates are case-sensitive).
std::optional<unsigned> Month(std::string_view name) {
    constexpr std::string_view kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (unsigned i = 0; i < 12; ++i) {
        if (name == kMonths[i]) {
            return i + 1;
        }
    }
    return std::nullopt;
}

bool IsDayName(std::string_view name, bool full) {
    constexpr std::string_view kShort[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    constexpr std::string_view kLong[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"};
    const auto& names = full ? kLong : kShort;
    return std::find(std::begin(names), std::end(names), name) != std::end(names);
}

// "hh:mm:ss" at text[at].
std::optional<std::chrono::seconds> TimeOfDay(std::string_view text, std::size_t at) {
    const auto h = Digits(text, at, 2);
    const auto m = Digits(text, at + 3, 2);
    const auto s = Digits(text, at + 6, 2);
    if (!h || !m || !s || text[at + 2] != ':' || text[at + 5] != ':' || *h > 23 || *m > 59 || *s > 60) {
        return std::nullopt;
    }
    return std::chrono::hours{*h} + std::chrono::minutes{*m} + std::chrono::seconds{*s};
}

std::optional<std::chrono::sys_seconds> Moment(int year, unsigned month, int day, std::chrono::seconds time) {
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{year}, std::chrono::month{month},
                              std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) {
        return std::nullopt;
    }
    return sys_seconds{sys_days{date}} + time;
}

// "Sun, 06 Nov 1994 08:49:37 GMT"
std::optional<std::chrono::sys_seconds> ImfFixdate(std::string_view t) {
    if (t.size() != 29 || !IsDayName(t.substr(0, 3), false) || t.substr(3, 2) != ", " || t[7] != ' ' || t[11] != ' ' ||
        t[16] != ' ' || t.substr(25) != " GMT") {
        return std::nullopt;
    }
    const auto day = Digits(t, 5, 2);
    const auto month = Month(t.substr(8, 3));
    const auto year = Digits(t, 12, 4);
    const auto time = TimeOfDay(t, 17);
    if (!day || !month || !year || !time) {
        return std::nullopt;
    }
    return Moment(*year, *month, *day, *time);
}

// "Sunday, 06-Nov-94 08:49:37 GMT": a two-digit year is 19xx from 70 on, else 20xx.
std::optional<std::chrono::sys_seconds> Rfc850(std::string_view t) {
    const std::size_t comma = t.find(", ");
    if (comma == std::string_view::npos || !IsDayName(t.substr(0, comma), true)) {
        return std::nullopt;
    }
    const std::string_view rest = t.substr(comma + 2);  // "06-Nov-94 08:49:37 GMT"
    if (rest.size() != 22 || rest[2] != '-' || rest[6] != '-' || rest[9] != ' ' || rest.substr(18) != " GMT") {
        return std::nullopt;
    }
    const auto day = Digits(rest, 0, 2);
    const auto month = Month(rest.substr(3, 3));
    const auto year = Digits(rest, 7, 2);
    const auto time = TimeOfDay(rest, 10);
    if (!day || !month || !year || !time) {
        return std::nullopt;
    }
    return Moment(*year >= 70 ? 1900 + *year : 2000 + *year, *month, *day, *time);
}

// "Sun Nov  6 08:49:37 1994"
std::optional<std::chrono::sys_seconds> Asctime(std::string_view t) {
    if (t.size() != 24 || !IsDayName(t.substr(0, 3), false) || t[3] != ' ' || t[7] != ' ' || t[10] != ' ' ||
        t[19] != ' ') {
        return std::nullopt;
    }
    const auto month = Month(t.substr(4, 3));
    const std::optional<int> day = t[8] == ' ' ? Digits(t, 9, 1) : Digits(t, 8, 2);
    const auto time = TimeOfDay(t, 11);
    const auto year = Digits(t, 20, 4);
    if (!month || !day || !time || !year) {
        return std::nullopt;
    }
    return Moment(*year, *month, *day, *time);
}

}  // namespace

std::optional<std::string> RetryReason(const TransferResult& result) {
    if (result.complete) {
        return std::nullopt;
    }
    if (result.systemError == 0) {
        if (std::find(kRetriedStatuses.begin(), kRetriedStatuses.end(), result.httpStatus) != kRetriedStatuses.end()) {
            return "HTTP " + std::to_string(result.httpStatus);
        }
        return std::nullopt;
    }
    const std::uint32_t e = result.systemError;
    const bool noAnswer = e == kTimeout || e == kNameNotResolved || e == kCannotConnect || e == kConnectionError ||
                          e == kConnectionAborted || e == kConnectionReset || e == kSocketTimeout ||
                          (e == kInvalidServerResponse && result.httpStatus == 0);
    if (!noAnswer) {
        return std::nullopt;
    }
    return "error " + std::to_string(e) + " " + std::string(TransferErrorName(e));
}

std::optional<std::chrono::seconds> ParseRetryAfter(std::string_view value, std::chrono::system_clock::time_point now) {
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
        value.remove_prefix(1);
    }
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) {
        value.remove_suffix(1);
    }
    if (value.empty()) {
        return std::nullopt;
    }
    if (std::all_of(value.begin(), value.end(), IsDigit)) {
        // Beyond nine digits a value means "much later" (more than 31 years) and is counted as that.
        if (value.size() > 9) {
            return std::chrono::seconds{999999999};
        }
        return std::chrono::seconds{*Digits(value, 0, value.size())};
    }
    std::optional<std::chrono::sys_seconds> date = ImfFixdate(value);
    if (!date) {
        date = Rfc850(value);
    }
    if (!date) {
        date = Asctime(value);
    }
    if (!date) {
        return std::nullopt;
    }
    const auto from = std::chrono::time_point_cast<std::chrono::seconds>(now);
    return *date > from ? std::chrono::duration_cast<std::chrono::seconds>(*date - from) : std::chrono::seconds{0};
}

RetryDecision RetrySchedule::Next(int attempt, const TransferResult& result, double jitter,
                                  std::chrono::system_clock::time_point now) {
    using std::chrono::milliseconds;
    RetryDecision decision;
    const std::optional<std::string> reason = RetryReason(result);
    if (!reason) {
        decision.why = "not worth another attempt";
        return decision;
    }
    if (attempt >= kMaxAttempts) {
        decision.why = *reason + ", and " + std::to_string(kMaxAttempts) + " attempts are made";
        return decision;
    }
    const double share = std::clamp(jitter, 0.0, 1.0) * kRetryJitter;
    const milliseconds base = kRetryWaits[attempt - 1];
    milliseconds wait{static_cast<std::int64_t>(std::floor(static_cast<double>(base.count()) * (1.0 + share)))};
    if (result.retryAfter && (result.httpStatus == 429 || result.httpStatus == 503)) {
        if (const std::optional<std::chrono::seconds> asked = ParseRetryAfter(*result.retryAfter, now)) {
            if (*asked > kRetryAfterLimit) {
                decision.why = *reason + " asks to come back after " + std::to_string(asked->count()) + " s, beyond " +
                               std::to_string(kRetryAfterLimit.count()) + " s";
                return decision;
            }
            wait = std::max(wait, milliseconds{*asked});
        }
    }
    if (waited_ + wait >= kRunWaitLimit) {
        decision.why = *reason + ", and the run has waited " + std::to_string(waited_.count()) + " ms of its " +
                       std::to_string(milliseconds{kRunWaitLimit}.count()) + " ms for retries";
        return decision;
    }
    waited_ += wait;
    decision.retry = true;
    decision.wait = wait;
    decision.why = *reason;
    return decision;
}

}  // namespace zv
