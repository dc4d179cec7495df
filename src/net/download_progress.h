#pragma once

// Where a download into a file reports how far it has got: the splash's bar in the launcher. Called
// on the thread that downloads, which must not be held up by it.

#include <cstdint>
#include <optional>

namespace zv {

class DownloadProgress {
public:
    virtual ~DownloadProgress() = default;

    // A download begins, before any traffic.
    virtual void Begun() = 0;
    // The body has arrived up to received bytes, of expected: the signed size where the updater
    // gives one, else the response's Content-Length, else nothing. Called once when the response is
    // accepted (0 bytes) and after every part of the body.
    virtual void Received(std::uint64_t received, std::optional<std::uint64_t> expected) = 0;
    // The download is over, complete or not; or a wait begun by Waiting is.
    virtual void Ended() = 0;
    // A request failed and the run waits before it tries again: the bar shows that something is
    // still going on (a marquee) until Ended.
    virtual void Waiting() = 0;
};

}  // namespace zv
