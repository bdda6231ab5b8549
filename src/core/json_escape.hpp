// The one escape table of JSON strings, and the scans and copies built on it.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

// SSE2 is part of every x86-64; PEMRIK_NO_SIMD builds the portable code alone.
#if defined(__SSE2__) && !defined(PEMRIK_NO_SIMD)
#define PEMRIK_SIMD 1
#include <emmintrin.h>
#else
#define PEMRIK_SIMD 0
#endif

namespace pemrik::json {

// What follows the backslash for a byte that needs escaping, 'u' for the
// six-character "\u00XX" form, 0 for a byte copied as it is. Only the
// quotation mark, the backslash and U+0000..U+001F are escaped; every other
// byte, the UTF-8 of non-ASCII characters included, passes unchanged.
constexpr std::array<char, 256> make_escape_table() {
    std::array<char, 256> table{};
    for (int c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}
inline constexpr std::array<char, 256> escape_table = make_escape_table();

// Bytes added by escaping the byte c: 0, 1 for "\x" or 5 for "\u00XX".
constexpr unsigned extra_bytes(unsigned char c) {
    char e = escape_table[c];
    return e == 0 ? 0 : e == 'u' ? 5 : 1;
}

namespace detail {
constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;
// High bit set in each byte of x below n (n <= 128). A byte above a flagged
// one may be flagged falsely, never the lowest: its position is exact.
inline std::uint64_t bytes_below(std::uint64_t x, unsigned n) { return (x - ones * n) & ~x & highs; }
inline std::uint64_t bytes_equal(std::uint64_t x, unsigned char c) { return bytes_below(x ^ (ones * c), 1); }
// Flags bytes that JSON escapes: below 0x20, quote, backslash.
inline std::uint64_t escape_mask(std::uint64_t w) {
    return bytes_below(w, 0x20) | bytes_equal(w, '"') | bytes_equal(w, '\\');
}
// Nonzero when a byte of w needs escaping or is not ASCII.
inline std::uint64_t needs_look(std::uint64_t w) { return escape_mask(w) | (w & highs); }
inline std::uint64_t load8(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}
}  // namespace detail

// The first byte at or after p (before end) equal to c, or end. Eight bytes
// at a time.
inline const char* find_byte(const char* p, const char* end, unsigned char c) {
    for (; end - p >= 8; p += 8)
        if (auto m = detail::bytes_equal(detail::load8(p), c)) return p + (__builtin_ctzll(m) >> 3);
    while (p < end && static_cast<unsigned char>(*p) != c) ++p;
    return p;
}

// Facts about a text that its JSON string form depends on.
struct Facts {
    std::size_t extra = 0;  // bytes that escaping adds
    bool ascii = true;
};

// One pass over the bytes; runs of eight plain ASCII bytes are skipped whole.
inline Facts scan(std::string_view text) {
    Facts facts;
    const char* p = text.data();
    const char* end = p + text.size();
    while (end - p >= 8) {
        if (detail::needs_look(detail::load8(p)) == 0) {
            p += 8;
            continue;
        }
        for (const char* stop = p + 8; p < stop; ++p) {
            auto c = static_cast<unsigned char>(*p);
            facts.extra += extra_bytes(c);
            facts.ascii &= c < 0x80;
        }
    }
    for (; p < end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        facts.extra += extra_bytes(c);
        facts.ascii &= c < 0x80;
    }
    return facts;
}

// Copies n bytes. Short copies, the most common here, are done inline with
// two overlapping moves instead of a call.
inline char* copy(char* out, const char* from, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
    return out + n;
}

// The first byte at or after p (before end) that needs escaping, or end.
inline const char* find_escape(const char* p, const char* end) {
#if PEMRIK_SIMD
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v);
        const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
        const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
        if (int m = _mm_movemask_epi8(_mm_or_si128(control, _mm_or_si128(quote, backslash))))
            return p + __builtin_ctz(static_cast<unsigned>(m));
    }
#endif
    for (; end - p >= 8; p += 8)
        if (auto m = detail::escape_mask(detail::load8(p))) return p + (__builtin_ctzll(m) >> 3);
    while (p < end && escape_table[static_cast<unsigned char>(*p)] == 0) ++p;
    return p;
}

// Writes text escaped (without the surrounding quotes) and returns the end.
// Plain runs between escapes are copied whole.
inline char* write_escaped(std::string_view text, char* out) {
    static constexpr char hex[] = "0123456789abcdef";
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;
    for (; (p = find_escape(p, end)) < end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char e = escape_table[c];
        out = copy(out, run, static_cast<std::size_t>(p - run));
        run = p + 1;
        *out++ = '\\';
        if (e == 'u') {
            std::memcpy(out, "u00", 3);
            out[3] = hex[c >> 4];
            out[4] = hex[c & 15];
            out += 5;
        } else {
            *out++ = e;
        }
    }
    return copy(out, run, static_cast<std::size_t>(end - run));
}

}  // namespace pemrik::json
