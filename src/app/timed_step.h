#pragma once

// The one way the run times and logs a part of itself: the steps of RunLauncher and the parts of
// the game step alike end with "NAME ends with RESULT after N ms".

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/launch_result.h"
#include "common/log.h"

namespace zv {

// Runs part, then logs how it ended and how long it took.
template <typename Part>
StepResult Timed(std::string_view name, Part&& part) {
    const auto start = std::chrono::steady_clock::now();
    const StepResult result = part();
    LogEvent(std::string(name) + " ends with " + std::to_string(static_cast<std::uint32_t>(result.result)) + " after " +
             std::to_string(MillisecondsSince(start)) + " ms");
    return result;
}

}  // namespace zv
