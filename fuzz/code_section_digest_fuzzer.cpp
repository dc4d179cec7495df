// The file digests over arbitrary file contents: HashCodeSection's walk of the headers and the
// section table must run clean under the sanitizers whatever the fields say, and HashFile, which
// streams the file, must give the digest of the bytes taken at once.

#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "integrity/file_digest.h"
#include "integrity/sha1.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zv::fuzz::WriteScratch(data, size);
    static_cast<void>(zv::HashCodeSection(zv::fuzz::ScratchPath()));

    zv::Sha1Context context;
    zv::Sha1Init(context);
    zv::Sha1Update(context, data, size);
    zv::fuzz::Check(zv::HashFile(zv::fuzz::ScratchPath()) == zv::Sha1Final(context),
                    "the file's digest is the digest of its bytes");
    return 0;
}
