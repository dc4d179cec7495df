// Prints the SHA-1 of a file as HashFile computes it, in the form of sha1sum, and the time the
// digest took (after the program's own start-up) on standard error.
#include <chrono>
#include <cstdio>
#include <string>

#include "integrity/file_digest.h"
#include "integrity/sha1.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zv_hash_file FILE\n");
        return 2;
    }
    // The bench files have ASCII names; widening byte by byte is enough here.
    const std::string narrow = argv[1];
    const std::wstring path(narrow.begin(), narrow.end());
    const auto start = std::chrono::steady_clock::now();
    const zv::Sha1Digest digest = zv::HashFile(path);
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string hex = zv::Sha1ToHex(digest);
    std::printf("%s  %s\n", hex.c_str(), argv[1]);
    std::fprintf(stderr, "seconds=%.6f\n", seconds);
    return 0;
}
