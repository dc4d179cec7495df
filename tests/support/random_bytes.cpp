#include "random_bytes.h"

#include <random>

namespace zv::test {

namespace {

template <typename Buffer>
Buffer Random(std::size_t size, std::uint32_t seed) {
    Buffer bytes(size, 0);
    std::mt19937 random(seed);
    for (auto& byte : bytes) {
        byte = static_cast<typename Buffer::value_type>(random() & 0xFF);
    }
    return bytes;
}

}  // namespace

Bytes RandomBytes(std::size_t size, std::uint32_t seed) { return Random<Bytes>(size, seed); }

std::string RandomByteString(std::size_t size, std::uint32_t seed) { return Random<std::string>(size, seed); }

}  // namespace zv::test
