#include "fuzz_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/native_path.h"

namespace zv::fuzz {

namespace {

struct Scratch {
    std::string folder;
    std::string file;
    std::wstring widePath;

    Scratch() {
        const char* tmp = std::getenv("TMPDIR");
        for (const std::string& base :
             {std::string("/dev/shm"), std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp")}) {
            std::string pattern = base + "/zv-fuzz-XXXXXX";
            if (::mkdtemp(pattern.data()) != nullptr) {
                folder = pattern;
                break;
            }
        }
        if (folder.empty()) {
            Fail("no folder for the scratch file");
        }
        file = folder + "/input.bin";
        widePath = FromNativePath(file);
    }

    ~Scratch() {
        ::unlink(file.c_str());
        ::rmdir(folder.c_str());
    }

    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

}  // namespace

const std::wstring& ScratchPath() { return TheScratch().widePath; }

void WriteScratch(const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(TheScratch().file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail("cannot open the scratch file");
    }
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ::close(fd);
            Fail("cannot write the scratch file");
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

}  // namespace zv::fuzz
