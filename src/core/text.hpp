// The text rules of every output syntax, one table each, and the kernels
// built on them: measuring a text for a syntax, finding bytes, writing a
// text escaped into output of any character width. Kernels never restate a
// rule: the byte sets an SSE2 kernel compares against are derived from the
// tables at compile time, and its scalar loop reads the tables themselves.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <utility>

// SSE2 is part of every x86-64; PEMRIK_NO_SIMD builds the scalar loops alone.
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
inline constexpr ByteSet quoted_url = set_where([](unsigned c) { return !bare_url[c]; });

// UTF-8: bytes of 0x80 and up belong to non-ASCII characters; of those,
// 0x80..0xBF continue a character that an earlier byte began.
inline constexpr ByteSet high = set_where([](unsigned c) { return c >= 0x80; });
inline constexpr ByteSet continuation = set_where([](unsigned c) { return c >= 0x80 && c < 0xC0; });

// ---- Syntaxes: where a text stands in an output ----
//
// Each names the bytes written otherwise than as themselves (`escaped`,
// each adding `added` bytes, those of `longer` `added_longer` more), the
// bytes it cannot carry at all (`refused`), and the escape itself.

// Inside "..." of a JSON text.
struct JsonString {
    static constexpr ByteSet escaped = set_where([](unsigned c) { return json_escapes[c] != 0; });
    static constexpr ByteSet longer = set_where([](unsigned c) { return json_escapes[c] == 'u'; });
    static constexpr ByteSet refused{};
    static constexpr unsigned added = 1, added_longer = 4;  // "\n", "\u001f"

    template <class Char>
    static Char* escape(Char* out, unsigned char c) noexcept {
        static constexpr char hex[] = "0123456789abcdef";
        *out++ = '\\';
        if (!longer[c]) {
            *out++ = static_cast<Char>(json_escapes[c]);
            return out;
        }
        for (char e : {'u', '0', '0', hex[c >> 4], hex[c & 15]}) *out++ = static_cast<Char>(e);
        return out;
    }
};

// Inside "..." of a shell word holding a header, which holds no line break.
struct HeaderWord {
    static constexpr const ByteSet& escaped = double_quoted_escaped;
    static constexpr ByteSet longer{};
    static constexpr const ByteSet& refused = unpassable_in_header;
    static constexpr unsigned added = 1, added_longer = 0;

    template <class Char>
    static Char* escape(Char* out, unsigned char c) noexcept {
        *out++ = '\\';
        *out++ = static_cast<Char>(c);
        return out;
    }
};

// Inside '...' of a shell word.
struct SingleQuoted {
    static constexpr const ByteSet& escaped = single_quoted_escaped;
    static constexpr ByteSet longer{};
    static constexpr const ByteSet& refused = unpassable;
    static constexpr unsigned added = quote_in_single_quotes.size() - 1, added_longer = 0;

    template <class Char>
    static Char* escape(Char* out, unsigned char) noexcept {
        for (char e : quote_in_single_quotes) *out++ = static_cast<Char>(e);
        return out;
    }
};

// A byte plain in every syntax: pads a short last block of a SIMD scan.
inline constexpr unsigned char plain_byte = 'a';
static_assert(bare_url[plain_byte] && !high[plain_byte]);
static_assert(!JsonString::escaped[plain_byte] && !HeaderWord::escaped[plain_byte] &&
              !HeaderWord::refused[plain_byte] && !SingleQuoted::escaped[plain_byte]);

// ---- Kernels ----

// The kernels read a text's last bytes in place, 16 at a time: every text
// they are given must be followed by at least `padding` readable bytes (a
// record's texts are). What lies past the end is read, never counted.
inline constexpr std::size_t padding = 15;

// Copies n bytes; short copies, the most common here, inline with two
// overlapping moves instead of a call.
template <class Word>
inline void copy_ends(void* out, const char* from, std::size_t n) noexcept {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(out, &head, sizeof head);
    std::memcpy(static_cast<char*>(out) + n - sizeof tail, &tail, sizeof tail);
}
inline void copy(void* out, const char* from, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        copy_ends<std::uint64_t>(out, from, n);
    } else if (n >= 4) {
        copy_ends<std::uint32_t>(out, from, n);
    } else if (n > 0) {
        auto* o = static_cast<char*>(out);
        o[0] = from[0];
        o[n / 2] = from[n / 2];
        o[n - 1] = from[n - 1];
    }
}

#if PEMRIK_SIMD
namespace simd {

// A set as its maximal runs of consecutive bytes, each compared as a range.
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

// The bytes of v within [Lo, Hi]: v clamped into the range equals v there.
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

// Bits set in a 16-bit mask, without a library call (SSE2 has no popcount).
inline unsigned bit_count(unsigned mask) {
    mask = mask - ((mask >> 1) & 0x5555u);
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}

// Calls block(v, lanes) for each 16 bytes of text, with one bit set in
// lanes for each byte of text in v; in the last block the other lanes hold
// a byte plain in every syntax.
template <class Block>
inline void blocks(std::string_view text, Block block) {
    const char* p = text.data();
    std::size_t n = text.size();
    for (; n >= 16; p += 16, n -= 16) block(load(p), 0xFFFFu);
    if (n == 0) return;
    // 16 bytes of all ones, then 16 of zeros: from byte 16 - n, n ones.
    static constexpr auto ones = [] {
        std::array<char, 32> a{};
        for (std::size_t i = 0; i < 16; ++i) a[i] = -1;
        return a;
    }();
    const __m128i mine = load(ones.data() + 16 - n);
    const __m128i plain = _mm_set1_epi8(static_cast<char>(plain_byte));
    block(_mm_or_si128(_mm_and_si128(mine, load(p)), _mm_andnot_si128(mine, plain)), (1u << n) - 1);
}

inline unsigned char largest(__m128i v) {
    v = _mm_max_epu8(v, _mm_srli_si128(v, 8));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 4));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 2));
    v = _mm_max_epu8(v, _mm_srli_si128(v, 1));
    return static_cast<unsigned char>(_mm_cvtsi128_si32(v));
}

}  // namespace simd
#endif

// What measuring a text for a syntax finds.
struct Measured {
    std::size_t added = 0;          // bytes that escaping adds
    std::size_t continuations = 0;  // UTF-8 bytes that continue a character
    unsigned char top = 0;          // the largest byte; 0 when every byte is ASCII
    bool refused = false;           // holds a byte the syntax cannot carry
};

// Counts the bytes of text in Set.
template <const ByteSet& Set>
inline std::size_t count_in(std::string_view text) noexcept {
    std::size_t n = 0;
#if PEMRIK_SIMD
    simd::blocks(
        text, [&](__m128i v, unsigned lanes) { n += simd::bit_count(simd::in<Set>(v) & lanes); });
#else
    for (char c : text) n += Set[static_cast<unsigned char>(c)];
#endif
    return n;
}

// What text needs in syntax S. Continuations are counted only in a text
// that is not all ASCII.
template <class S>
Measured measure(std::string_view text) noexcept {
    Measured m;
#if PEMRIK_SIMD
    __m128i top = _mm_setzero_si128();
    unsigned refused = 0;
    simd::blocks(text, [&](__m128i v, unsigned) {  // the padding is plain, and ASCII
        top = _mm_max_epu8(top, v);
        if constexpr (simd::count_ranges(S::refused) > 0) refused |= simd::in<S::refused>(v);
        if (const unsigned escaped = simd::in<S::escaped>(v)) {
            m.added += S::added * simd::bit_count(escaped);
            if constexpr (S::added_longer > 0)
                m.added += S::added_longer * simd::bit_count(simd::in<S::longer>(v));
        }
    });
    if (_mm_movemask_epi8(top)) m.top = simd::largest(top);
    m.refused = refused != 0;
#else
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        m.added += S::escaped[c] * S::added + S::longer[c] * S::added_longer;
        m.refused |= S::refused[c];
        m.top = std::max(m.top, c);
    }
#endif
    if (m.top < 0x80) m.top = 0;
    if (m.top) m.continuations = count_in<continuation>(text);
    return m;
}

// The first byte at or after p (before end) in Set, or end.
template <const ByteSet& Set>
inline const char* find_in(const char* p, const char* end) noexcept {
#if PEMRIK_SIMD
    for (; end - p >= 16; p += 16)
        if (unsigned m = simd::in<Set>(simd::load(p))) return p + __builtin_ctz(m);
#endif
    while (p < end && !Set[static_cast<unsigned char>(*p)]) ++p;
    return p;
}

// Calls stop(p) at each byte p of text in Set, in order; stop returns where
// to go on from, past p (past the bytes it consumed).
template <const ByteSet& Set, class Stop>
inline void each_in(std::string_view text, Stop stop) {
    const char* const end = text.data() + text.size();
#if PEMRIK_SIMD
    for (const char* block = text.data(); block < end;) {
        const std::size_t left = static_cast<std::size_t>(end - block);
        unsigned mask = 0;
        simd::blocks(std::string_view(block, std::min<std::size_t>(left, 16)),
                     [&](__m128i v, unsigned lanes) { mask = simd::in<Set>(v) & lanes; });
        const char* next = block + 16;
        while (mask) {
            const char* resume = stop(block + __builtin_ctz(mask));
            if (resume >= block + 16) {
                next = resume;
                break;
            }
            mask &= ~0u << (resume - block);  // the bytes stop consumed are done
        }
        block = next;
    }
#else
    for (const char* p = text.data(); p < end;)
        p = Set[static_cast<unsigned char>(*p)] ? stop(p) : p + 1;
#endif
}

// ---- Writing ----
//
// Outputs are written in code units of the width of the str they fill:
// one byte for text whose code points are all below U+0100, two below
// U+10000, else four. The module's texts are valid UTF-8, and what escaping
// writes is ASCII.

// What measuring found in a text that writing it needs.
struct Seen {
    bool escapes : 1 = false;  // holds bytes its syntax escapes
    bool wide : 1 = false;     // holds bytes beyond ASCII, to decode

    static Seen of(const Measured& m) noexcept { return {m.added != 0, m.top != 0}; }
};

// The length in code units and the largest byte (0 for ASCII) of an output.
// A renderer measures its output when made and then writes it in code units
// of std::uint8_t, std::uint16_t or std::uint32_t, as wide as
// max_code_point(top) needs: exactly `length` of them.
struct Size {
    std::size_t length = 0;
    unsigned char top = 0;

    void add(std::string_view ascii) noexcept { length += ascii.size(); }
    void add(std::size_t bytes, const Measured& m) noexcept {
        length += bytes + m.added - m.continuations;
        top = std::max(top, m.top);
    }
};

// The largest code point an output may hold, given its largest byte; what
// its str must be made for.
constexpr char32_t max_code_point(unsigned char top) {
    return top < 0x80 ? 0x7F : top < 0xC4 ? 0xFF : top < 0xF0 ? 0xFFFF : 0x10FFFF;
}

// Copies n ASCII bytes as code units.
template <class Char>
inline Char* put_ascii(Char* out, const char* from, std::size_t n) noexcept {
    if constexpr (sizeof(Char) == 1) {
        copy(out, from, n);
    } else {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(from[i]);
    }
    return out + n;
}
template <class Char>
inline Char* put_ascii(Char* out, std::string_view ascii) noexcept {
    return put_ascii(out, ascii.data(), ascii.size());
}

// The code point of the UTF-8 character at p (its first byte 0xC2 or more),
// moving p past it.
inline char32_t decode(const char*& p) noexcept {
    const auto* b = reinterpret_cast<const unsigned char*>(p);
    if (b[0] < 0xE0) {
        p += 2;
        return char32_t(b[0] & 0x1F) << 6 | (b[1] & 0x3F);
    }
    if (b[0] < 0xF0) {
        p += 3;
        return char32_t(b[0] & 0x0F) << 12 | char32_t(b[1] & 0x3F) << 6 | (b[2] & 0x3F);
    }
    p += 4;
    return char32_t(b[0] & 0x07) << 18 | char32_t(b[1] & 0x3F) << 12 | char32_t(b[2] & 0x3F) << 6 |
           (b[3] & 0x3F);
}

template <const ByteSet& Set>
inline constexpr ByteSet with_high = set_where([](unsigned c) { return Set[c] || high[c]; });

// Writes text in syntax S as code units: runs that need nothing copied
// whole, escaped bytes through S::escape, characters beyond ASCII decoded.
template <class S, class Char>
[[gnu::noinline]] Char* put_escaped(Char* out, std::string_view text, Seen seen) noexcept {
    const char* run = text.data();
    auto stop = [&](const char* p) {
        out = put_ascii(out, run, static_cast<std::size_t>(p - run));
        if (high[static_cast<unsigned char>(*p)])
            *out++ = static_cast<Char>(decode(p));
        else
            out = S::escape(out, static_cast<unsigned char>(*p++));
        return run = p;
    };
    if (seen.wide)
        each_in<with_high<S::escaped>>(text, stop);
    else
        each_in<S::escaped>(text, stop);
    return put_ascii(out, run, static_cast<std::size_t>(text.data() + text.size() - run));
}

// Writes text in syntax S as code units: a text that needs nothing is
// copied whole.
template <class S, class Char>
inline Char* put(Char* out, std::string_view text, Seen seen) noexcept {
    if (!seen.escapes && !seen.wide) return put_ascii(out, text);
    return put_escaped<S>(out, text, seen);
}

}  // namespace pemrik::text
