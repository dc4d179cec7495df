#pragma once

#include <cstdint>
#include <vector>

namespace zv::test {

// The byte buffers of the test support: file contents, PE images, random patterns.
using Bytes = std::vector<std::uint8_t>;

}  // namespace zv::test
