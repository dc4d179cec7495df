// DigestFromHex over arbitrary text: it reads exactly forty hexadecimal digits of either case and
// nothing else, and the only exception that may leave it is std::invalid_argument, with the length
// checked before the digits.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "integrity/sha1.h"

namespace {

bool IsHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    bool allDigits = true;
    for (const char c : text) {
        allDigits = allDigits && IsHexDigit(c);
    }
    try {
        const zv::Sha1Digest digest = zv::DigestFromHex(text);
        zv::fuzz::Check(text.size() == 40 && allDigits, "only forty hexadecimal digits are read");
        std::string lower;
        for (const char c : text) {
            lower.push_back(c >= 'A' && c <= 'F' ? static_cast<char>(c - 'A' + 'a') : c);
        }
        zv::fuzz::Check(zv::Sha1ToHex(digest) == lower, "the digest's hex form is the text in lower case");
        zv::fuzz::Check(zv::Sha1FromHex(text) == digest, "the optional reading reads the same");
    } catch (const std::invalid_argument& e) {
        zv::fuzz::Check(!zv::Sha1FromHex(text), "the optional reading refuses it too");
        const std::string_view message = e.what();
        if (text.size() != 40) {
            zv::fuzz::Check(message == "SHA1 hex string must be 40 characters.", "a wrong length is told first");
        } else {
            zv::fuzz::Check(!allDigits && message == "Invalid hex digit", "forty characters fail only on a non-digit");
        }
    }
    return 0;
}
