#pragma once

// The running launcher as every step of a run knows it: read once at entry, passed down as a value.

#include <string>

#include "common/version.h"

namespace zv {

struct RunningLauncher {
    // Its own file, as the platform reports it; empty when it reports nothing.
    std::wstring path;
    // The arguments it passes on, quoted and joined (JoinQuotedArguments of ForwardedArguments):
    // to the game, to an elevated copy of itself, and through a self-update to its successor.
    std::wstring forwarded;
    // The version it was built as.
    Version version;
};

}  // namespace zv
