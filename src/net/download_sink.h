#pragma once

// Where a download's body goes as it arrives: a file the caller has opened and holds (a staging
// file beside the file it will replace), never a path the transfer opens by name.

#include <cstddef>
#include <cstdint>
#include <string>

namespace zv {

class DownloadSink {
public:
    virtual ~DownloadSink() = default;

    // Appends size bytes. False, with the platform's error code in error, when they could not all
    // be written; the transfer then stops.
    virtual bool Write(const char* data, std::size_t size, std::uint32_t& error) = 0;

    // What it is, for the log: a file's path.
    [[nodiscard]] virtual std::wstring Name() const = 0;
};

}  // namespace zv
