// The one escape table of JSON strings, and the scans and copies built on it.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

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
// Nonzero when a byte of w is below 0x20, a quote, a backslash or >= 0x80.
inline std::uint64_t needs_look(std::uint64_t w) {
    auto below = [](std::uint64_t x, unsigned n) { return (x - ones * n) & ~x; };
    auto equal = [&](std::uint64_t x, unsigned char c) { return below(x ^ (ones * c), 1); };
    return (below(w, 0x20) | equal(w, '"') | equal(w, '\\') | w) & highs;
}
}  // namespace detail

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
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        if (detail::needs_look(w) == 0) {
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

// Writes text escaped (without the surrounding quotes) and returns the end.
// Plain runs between escapes are copied whole.
inline char* write_escaped(std::string_view text, char* out) {
    static constexpr char hex[] = "0123456789abcdef";
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;
    for (; p < end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char e = escape_table[c];
        if (e == 0) continue;
        std::memcpy(out, run, static_cast<std::size_t>(p - run));
        out += p - run;
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
    std::memcpy(out, run, static_cast<std::size_t>(end - run));
    return out + (end - run);
}

}  // namespace pemrik::json
