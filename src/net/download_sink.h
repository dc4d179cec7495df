#pragma once

// Where a download's body goes as it arrives: a file the caller has opened and holds (a staging
// file beside the file it will replace), never a path the transfer opens by name. A sink may hold
// the first part of an answer already (an earlier attempt, or a run that was ended during the
// download); the transfer then asks for the rest of that same answer with a ranged request.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zv {

// The first part of an answer that a sink holds.
struct HeldAnswer {
    std::uint64_t bytes = 0;  // held, from the first byte of the body on
    std::string validator;    // what identifies the answer: its ETag, else its Last-Modified
    std::uint64_t total = 0;  // the whole body's length
};

class DownloadSink {
public:
    virtual ~DownloadSink() = default;

    // Appends size bytes. False, with the platform's error code in error, when they could not all be
    // written; the transfer then stops.
    virtual bool Write(const char* data, std::size_t size, std::uint32_t& error) = 0;

    // What it is, for the log: a file's path.
    [[nodiscard]] virtual std::wstring Name() const = 0;

    // The part of an answer it holds that a ranged request can continue: bytes whose answer's
    // validator and whole length are known. Nothing when it holds nothing, or nothing resumable.
    [[nodiscard]] virtual std::optional<HeldAnswer> Held() const = 0;

    // An answer's body is about to arrive: from its first byte (fromStart: whatever the sink held
    // is dropped first), or, for the rest of the answer it holds, after its held bytes. validator
    // (empty when the answer had none) and total (when known) describe the answer for a later
    // resume. False, with the platform's error code in error, when the sink cannot start over.
    virtual bool Begin(bool fromStart, std::string_view validator, std::optional<std::uint64_t> total,
                       std::uint32_t& error) = 0;
};

}  // namespace zv
