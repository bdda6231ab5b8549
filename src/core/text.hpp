// The text rules of every output syntax, one table each, and the scans and
// byte helpers built on them. Kernels never restate a rule: the byte sets a
// SIMD or SWAR kernel compares against are derived from the tables at compile
// time.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

// SSE2 is part of every x86-64; PEMRIK_NO_SIMD builds the portable code alone.
#if defined(__SSE2__) && !defined(PEMRIK_NO_SIMD)
#define PEMRIK_SIMD 1
#include <emmintrin.h>
#else
#define PEMRIK_SIMD 0
#endif

namespace pemrik::text {

using ByteSet = std::array<bool, 256>;

constexpr ByteSet set_where(auto in) {
    ByteSet set{};
    for (unsigned c = 0; c < 256; ++c) set[c] = in(c);
    return set;
}
constexpr ByteSet set_of(std::string_view bytes) {
    ByteSet set{};
    for (char c : bytes) set[static_cast<unsigned char>(c)] = true;
    return set;
}

// ---- The rules ----

// JSON strings: what follows the backslash for a byte that needs escaping,
// 'u' for the six-character "\u00XX" form, 0 for a byte copied as it is. Only
// the quotation mark, the backslash and U+0000..U+001F are escaped; every
// other byte, the UTF-8 of non-ASCII characters included, passes unchanged.
constexpr std::array<char, 256> make_json_escapes() {
    std::array<char, 256> table{};
    for (unsigned c = 0; c < 0x20; ++c) table[c] = 'u';
    table['\b'] = 'b';
    table['\t'] = 't';
    table['\n'] = 'n';
    table['\f'] = 'f';
    table['\r'] = 'r';
    table['"'] = '"';
    table['\\'] = '\\';
    return table;
}
inline constexpr std::array<char, 256> json_escapes = make_json_escapes();

// Shell words in double quotes: bytes written with a backslash before them.
inline constexpr ByteSet double_quoted_escaped = set_of("\\\"$`");

// Shell words in single quotes: the one byte that cannot stand inside, and
// what it is written as (close, escaped quote, reopen).
inline constexpr ByteSet single_quoted_escaped = set_of("'");
inline constexpr std::string_view quote_in_single_quotes = "'\\''";

// Command lines: bytes that no shell word can carry (a program's arguments
// end at NUL), and, inside a header, also the line breaks that would end the
// header line and start another.
inline constexpr ByteSet unpassable = set_of(std::string_view("\0", 1));
inline constexpr ByteSet unpassable_in_header = set_of(std::string_view("\0\r\n", 3));

// Bare urls: bytes that may stand unquoted in a shell word.
inline constexpr ByteSet bare_url = set_where([](unsigned c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           set_of("@%+=:,./-_")[c];
});

// ---- Sets derived from the rules ----

inline constexpr ByteSet json_escaped = set_where([](unsigned c) { return json_escapes[c] != 0; });
// Escaped in the six-byte form "\u00XX", which adds five bytes; "\n" adds one.
inline constexpr ByteSet json_escaped_long =
    set_where([](unsigned c) { return json_escapes[c] == 'u'; });
inline constexpr unsigned json_long_added = 5;
constexpr unsigned json_added(unsigned char c) {
    return json_escaped_long[c] ? json_long_added : json_escaped[c];
}
inline constexpr std::size_t single_quote_added = quote_in_single_quotes.size() - 1;

// A byte plain in every syntax: pads a short last block of a SIMD scan.
inline constexpr unsigned char plain_byte = 'a';
static_assert(bare_url[plain_byte] && !json_escaped[plain_byte] &&
              !double_quoted_escaped[plain_byte] && !single_quoted_escaped[plain_byte]);

// A set as its maximal runs of consecutive bytes, which is how the kernels
// compare against it; each kernel checks that its runs make up its set.
struct ByteRange {
    unsigned char lo, hi;
};

constexpr std::size_t count_ranges(const ByteSet& set) {
    std::size_t n = 0;
    for (unsigned c = 0; c < 256; ++c) n += set[c] && (c == 0 || !set[c - 1]);
    return n;
}

template <const ByteSet& Set>
inline constexpr auto ranges_of = [] {
    std::array<ByteRange, count_ranges(Set)> ranges{};
    std::size_t n = 0;
    for (unsigned c = 0; c < 256; ++c) {
        if (!Set[c]) continue;
        if (c == 0 || !Set[c - 1]) ranges[n++].lo = static_cast<unsigned char>(c);
        ranges[n - 1].hi = static_cast<unsigned char>(c);
    }
    return ranges;
}();

template <std::size_t N>
constexpr ByteSet set_of(const std::array<ByteRange, N>& ranges) {
    ByteSet set{};
    for (const ByteRange& r : ranges)
        for (unsigned c = r.lo; c <= r.hi; ++c) set[c] = true;
    return set;
}

// ---- Kernels ----

namespace swar {
constexpr std::uint64_t ones = 0x0101010101010101ull;
constexpr std::uint64_t highs = 0x8080808080808080ull;
// High bit set in each byte of x below n (n <= 128). A byte above a flagged
// one may be flagged falsely, never the lowest: its position is exact.
inline std::uint64_t below(std::uint64_t x, unsigned n) { return (x - ones * n) & ~x & highs; }
inline std::uint64_t equal(std::uint64_t x, unsigned char c) { return below(x ^ (ones * c), 1); }
inline std::uint64_t load(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Eight bytes at a time works for sets of single bytes and of runs from 0
// below 0x80.
template <const ByteSet& Set>
inline constexpr bool fits = std::ranges::all_of(
    ranges_of<Set>, [](ByteRange r) { return r.lo == r.hi || (r.lo == 0 && r.hi < 0x7f); });

// Flags the bytes of w in Set; the lowest flag is exact.
template <const ByteSet& Set>
inline std::uint64_t in(std::uint64_t w) {
    constexpr auto& ranges = ranges_of<Set>;
    static_assert(fits<Set> && set_of(ranges) == Set);
    return [&]<std::size_t... I>(std::index_sequence<I...>) {
        return (
            std::uint64_t{0} | ... |
            (ranges[I].lo == ranges[I].hi ? equal(w, ranges[I].lo) : below(w, ranges[I].hi + 1u)));
    }(std::make_index_sequence<ranges.size()>{});
}
}  // namespace swar

#if PEMRIK_SIMD
namespace simd {
template <unsigned char Lo, unsigned char Hi>
inline __m128i in_range(__m128i v) {
    if constexpr (Lo == Hi) return _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(Lo)));
    __m128i clamped = v;
    if constexpr (Hi != 255) clamped = _mm_min_epu8(clamped, _mm_set1_epi8(static_cast<char>(Hi)));
    if constexpr (Lo != 0) clamped = _mm_max_epu8(clamped, _mm_set1_epi8(static_cast<char>(Lo)));
    return _mm_cmpeq_epi8(clamped, v);
}

// One bit per byte of v, set for the bytes in Set.
template <const ByteSet& Set>
inline unsigned in(__m128i v) {
    constexpr auto& ranges = ranges_of<Set>;
    static_assert(set_of(ranges) == Set);
    return static_cast<unsigned>(
        _mm_movemask_epi8([&]<std::size_t... I>(std::index_sequence<I...>) {
            return (_mm_setzero_si128() | ... | in_range<ranges[I].lo, ranges[I].hi>(v));
        }(std::make_index_sequence<ranges.size()>{})));
}

inline __m128i load(const char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
}  // namespace simd
#endif

// The first byte at or after p (before end) in Set, or end.
template <const ByteSet& Set>
inline const char* find_in(const char* p, const char* end) {
#if PEMRIK_SIMD
    for (; end - p >= 16; p += 16)
        if (unsigned m = simd::in<Set>(simd::load(p))) return p + __builtin_ctz(m);
#endif
    if constexpr (swar::fits<Set>)
        for (; end - p >= 8; p += 8)
            if (auto m = swar::in<Set>(swar::load(p))) return p + (__builtin_ctzll(m) >> 3);
    while (p < end && !Set[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// The first byte at or after p (before end) equal to c, or end. Eight bytes
// at a time.
inline const char* find_byte(const char* p, const char* end, unsigned char c) {
    for (; end - p >= 8; p += 8)
        if (auto m = swar::equal(swar::load(p), c)) return p + (__builtin_ctzll(m) >> 3);
    while (p < end && static_cast<unsigned char>(*p) != c) ++p;
    return p;
}

// Copies n bytes and returns the end. Short copies, the most common here,
// are done inline with two overlapping moves instead of a call.
template <class Word>
inline void copy_ends(char* out, const char* from, std::size_t n) noexcept {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(out + n - sizeof tail, &tail, sizeof tail);
}
inline char* copy(char* out, const char* from, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        copy_ends<std::uint64_t>(out, from, n);
    } else if (n >= 4) {
        copy_ends<std::uint32_t>(out, from, n);
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
    return out + n;
}
inline char* copy(char* out, std::string_view text) noexcept {
    return copy(out, text.data(), text.size());
}

// What the outputs of a text depend on, found in one pass.
struct Facts {
    std::size_t json_added = 0;     // bytes that JSON string escaping adds
    std::size_t double_quoted = 0;  // bytes escaped inside double quotes
    std::size_t single_quotes = 0;  // bytes escaped inside single quotes
    bool bare_url = true;           // every byte may stand unquoted in a url
    bool ascii = true;
};

// Size of a rendered text in UTF-8 bytes, and whether every byte is ASCII.
struct TextSize {
    std::size_t bytes = 0;
    bool ascii = true;
};

// The facts of text; bare_url is found only when asked (else left true).
Facts facts_of(std::string_view text, bool want_bare_url = true) noexcept;

}  // namespace pemrik::text
