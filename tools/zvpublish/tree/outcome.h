#pragma once

// How an operation on a tree ends, in the words the commands print: what failed and why, and what
// happened to a file that was written.

#include <string>

namespace zv::publish {

// A failure, with the file it concerns (empty when none) and why, in words for the operator.
struct Failure {
    std::wstring path;
    std::string reason;
};

enum class Change { Added, Unchanged, Replaced };

}  // namespace zv::publish
