#pragma once

#include <cstdint>

namespace zv {

// The outcome of starting a process, with the error number captured at the failed call.
struct ProcessStart {
    bool started = false;
    std::uint32_t error = 0;
};

}  // namespace zv
