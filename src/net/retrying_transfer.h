#pragma once

// A Transfer that tries again (retry.h): each GET, into memory or into a sink, is made up to three
// times while it fails in a way worth another attempt, waiting between attempts as the run's
// RetrySchedule says, and showing a marquee on the download bar while it waits. A download that
// broke off is resumed by the next attempt where the sink says it can be (download_sink.h): the
// transfer underneath asks for the rest of the same answer. When the attempts are used up, the
// last attempt's result is the transfer's.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "net/download_progress.h"
#include "net/retry.h"
#include "net/transfer.h"

namespace zv {

// What retrying needs of the world: a pause, a random number for the jitter, and the clock an
// HTTP-date is read against. SystemRetryWorld is the real one; the tests stand in for it.
class RetryWorld {
public:
    virtual ~RetryWorld() = default;
    virtual void Pause(std::chrono::milliseconds duration) = 0;
    // A number in [0, 1).
    virtual double Jitter() = 0;
    virtual std::chrono::system_clock::time_point Now() = 0;
};

// Sleeps on the calling thread; jitter from a generator seeded by the platform's random device.
class SystemRetryWorld final : public RetryWorld {
public:
    SystemRetryWorld();
    void Pause(std::chrono::milliseconds duration) override;
    double Jitter() override;
    std::chrono::system_clock::time_point Now() override;

private:
    std::uint64_t state_;
};

class RetryingTransfer final : public Transfer {
public:
    // progress: where the waits show (a marquee from each wait's start to its end); may be null.
    RetryingTransfer(Transfer& inner, RetryWorld& world, DownloadProgress* progress = nullptr)
        : inner_(inner), world_(world), progress_(progress) {}

    TransferResult GetString(const std::wstring& url, std::string& body) override;
    TransferResult DownloadTo(const std::wstring& url, DownloadSink& sink,
                              std::optional<std::uint64_t> exactSize) override;

    // The run's schedule: how long it has waited so far.
    [[nodiscard]] const RetrySchedule& schedule() const { return schedule_; }

private:
    template <typename Attempt>
    TransferResult Run(const std::wstring& url, Attempt&& attempt);

    Transfer& inner_;
    RetryWorld& world_;
    DownloadProgress* progress_;
    RetrySchedule schedule_;
};

}  // namespace zv
