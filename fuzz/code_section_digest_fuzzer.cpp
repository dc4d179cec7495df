// The file digests over arbitrary file contents: HashCodeSection's walk of the headers and the
// section table must run clean under the sanitizers whatever the fields say, and gives zeros for a
// file without the DOS and PE signatures; HashFile, which streams the file, must give the digest
// of the bytes taken at once.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz_check.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zv::fuzz::WriteScratch(data, size);
    const zv::Sha1Digest code = zv::HashCodeSection(zv::fuzz::ScratchPath());
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (!bytes.starts_with("MZ") || bytes.find(std::string_view("PE\0\0", 4)) == std::string_view::npos) {
        zv::fuzz::Check(code == zv::Sha1Digest{}, "a file without the signatures has no code section");
    }

    zv::Sha1Context context;
    zv::Sha1Init(context);
    zv::Sha1Update(context, data, size);
    zv::fuzz::Check(zv::HashFile(zv::fuzz::ScratchPath()) == zv::Sha1Final(context),
                    "the file's digest is the digest of its bytes");
    return 0;
}
