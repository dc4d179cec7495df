// The SHA-1 compression function on the x86 SHA extensions. This file alone is compiled with
// -msha -msse4.1; nothing in it may run before the processor check has passed.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#include "integrity/sha1_engine.h"

namespace zv::detail {

namespace {

// Four rounds, numbered by their group g (rounds 4g to 4g + 3). msg[g % 4] holds the schedule
// words 4g to 4g + 3 when group g starts; the words of later groups are built in the free
// registers as soon as their inputs exist: sha1msg1 three groups ahead, the xor two groups ahead,
// sha1msg2 one group ahead. e holds the state before the previous group, from which sha1nexte
// derives E for this one.
template <int G>
[[gnu::always_inline]] inline void Group(__m128i& abcd, __m128i& e, __m128i (&msg)[4]) {
    if constexpr (G == 0) {
        e = _mm_add_epi32(e, msg[0]);
    } else {
        e = _mm_sha1nexte_epu32(e, msg[G % 4]);
    }
    const __m128i before = abcd;
    abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
    e = before;
    if constexpr (G + 1 >= 4 && G + 1 < 20) {
        msg[(G + 1) % 4] = _mm_sha1msg2_epu32(msg[(G + 1) % 4], msg[G % 4]);
    }
    if constexpr (G + 2 >= 4 && G + 2 < 20) {
        msg[(G + 2) % 4] = _mm_xor_si128(msg[(G + 2) % 4], msg[G % 4]);
    }
    if constexpr (G + 3 >= 4 && G + 3 < 20) {
        msg[(G + 3) % 4] = _mm_sha1msg1_epu32(msg[(G + 3) % 4], msg[G % 4]);
    }
}

template <int... G>
[[gnu::always_inline]] inline void AllGroups(std::integer_sequence<int, G...>, __m128i& abcd, __m128i& e,
                                             __m128i (&msg)[4]) {
    (Group<G>(abcd, e, msg), ...);
}

}  // namespace

void Sha1CompressShaExtensions(std::uint32_t* state, const std::uint8_t* blocks, std::size_t blockCount) {
    // Reverses all sixteen bytes: four big-endian message words, the first in the top lane.
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090A0B0C0D0E0FLL);
    // The instructions keep A in the top lane and E alone in the top lane of its own register.
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);

    for (; blockCount > 0; --blockCount, blocks += 64) {
        const __m128i abcdBefore = abcd;
        const __m128i eBefore = e;
        __m128i msg[4];
        for (int i = 0; i < 4; ++i) {
            msg[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)), byteSwap);
        }
        AllGroups(std::make_integer_sequence<int, 20>{}, abcd, e, msg);
        // E after the last group, added to E before the block.
        e = _mm_sha1nexte_epu32(e, eBefore);
        abcd = _mm_add_epi32(abcd, abcdBefore);
    }

    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
}

}  // namespace zv::detail
