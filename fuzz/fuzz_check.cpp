#include "fuzz_check.h"

#include <exception>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "common/native_path.h"
#include "file_bytes.h"
#include "scratch_directory.h"

namespace zv::fuzz {

namespace {

struct Scratch {
    std::optional<test::ScratchDirectory> folder;
    std::filesystem::path file;
    std::wstring widePath;

    Scratch() {
        // In memory where the machine offers it (the file is written again for every input), else
        // in the temporary folder.
        try {
            folder.emplace("/dev/shm");
        } catch (const std::exception&) {
            try {
                folder.emplace();
            } catch (const std::exception&) {
                Fail("no folder for the scratch file");
            }
        }
        file = folder->path() / "input.bin";
        widePath = FromNativePath(file.native());
    }
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

}  // namespace

const std::wstring& ScratchPath() { return TheScratch().widePath; }

void WriteScratch(const std::uint8_t* data, std::size_t size) {
    try {
        test::WriteFileBytes(TheScratch().file, std::span<const std::uint8_t>(data, size));
    } catch (const std::exception&) {
        Fail("cannot write the scratch file");
    }
}

}  // namespace zv::fuzz
