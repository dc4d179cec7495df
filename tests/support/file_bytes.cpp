#include "file_bytes.h"

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace zv::test {

namespace fs = std::filesystem;

Bytes ReadFileBytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string ReadFileText(const fs::path& path) {
    std::optional<std::string> text = ReadFileTextIfPresent(path);
    if (!text) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::move(*text);
}

std::optional<std::string> ReadFileTextIfPresent(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return std::nullopt;
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const fs::path& path, std::string_view bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void WriteFileBytes(const fs::path& path, std::span<const std::uint8_t> bytes) {
    WriteFileBytes(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

}  // namespace zv::test
