#include "net/retrying_transfer.h"

#include <random>
#include <thread>

#include "common/log.h"
#include "common/text.h"

namespace zv {

SystemRetryWorld::SystemRetryWorld() {
    std::random_device device;
    state_ = (static_cast<std::uint64_t>(device()) << 32) ^ device();
}

void SystemRetryWorld::Pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

double SystemRetryWorld::Jitter() {
    // splitmix64: plenty for spreading waits, which is all this is for.
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0;  // 53 bits in [0, 1)
}

std::chrono::system_clock::time_point SystemRetryWorld::Now() { return std::chrono::system_clock::now(); }

template <typename Attempt>
TransferResult RetryingTransfer::Run(const std::wstring& url, Attempt&& attempt) {
    for (int number = 1;; ++number) {
        const TransferResult result = attempt();
        if (result.complete) {
            return result;
        }
        const RetryDecision decision = schedule_.Next(number, result, world_.Jitter(), world_.Now());
        if (!decision.retry) {
            if (RetryReason(result)) {
                LogEvent("no further attempt at " + ToUtf8(url) + ": " + decision.why);
            }
            return result;
        }
        LogEvent("attempt " + std::to_string(number + 1) + " of " + std::to_string(kMaxAttempts) + " at " +
                 ToUtf8(url) + " after " + decision.why + ", in " + std::to_string(decision.wait.count()) + " ms");
        if (progress_) {
            progress_->Waiting();
        }
        world_.Pause(decision.wait);
        if (progress_) {
            progress_->Ended();
        }
    }
}

TransferResult RetryingTransfer::GetString(const std::wstring& url, std::string& body) {
    return Run(url, [&] { return inner_.GetString(url, body); });
}

TransferResult RetryingTransfer::DownloadTo(const std::wstring& url, DownloadSink& sink,
                                            std::optional<std::uint64_t> exactSize) {
    return Run(url, [&] { return inner_.DownloadTo(url, sink, exactSize); });
}

}  // namespace zv
