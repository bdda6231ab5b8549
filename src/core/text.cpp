// The facts of a text in one pass: sixteen bytes at a time with SSE2, else
// one packed table lookup per byte.
#include "core/text.hpp"

#include <algorithm>

namespace pemrik::text {
namespace {

#if PEMRIK_SIMD
unsigned bit_count(unsigned mask) {  // bits set in a 16-bit mask, without a library call
    mask = mask - ((mask >> 1) & 0x5555u);
    mask = (mask & 0x3333u) + ((mask >> 2) & 0x3333u);
    mask = (mask + (mask >> 4)) & 0x0F0Fu;
    return (mask + (mask >> 8)) & 0x1Fu;
}

void add_blocks(Facts& facts, const unsigned char* p, std::size_t n, bool want_bare_url) {
    alignas(16) unsigned char last[16];
    while (n > 0) {
        const unsigned char* block = p;
        if (n < 16) {  // padded with a byte plain for every purpose
            std::memset(last, plain_byte, sizeof last);
            std::memcpy(last, p, n);
            block = last;
        }
        const __m128i v = simd::load(reinterpret_cast<const char*>(block));
        const unsigned json = simd::in<json_escaped>(v);
        const unsigned double_quoted = simd::in<double_quoted_escaped>(v);
        const unsigned single_quoted = simd::in<single_quoted_escaped>(v);
        const unsigned high = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (json | double_quoted | single_quoted | high) {
            const unsigned json_long = simd::in<json_escaped_long>(v);
            facts.json_added += bit_count(json) + (json_long_added - 1) * bit_count(json_long);
            facts.double_quoted += bit_count(double_quoted);
            facts.single_quotes += bit_count(single_quoted);
            facts.ascii &= high == 0;
        }
        if (want_bare_url && simd::in<bare_url>(v) != 0xFFFF) facts.bare_url = false;
        const std::size_t step = std::min<std::size_t>(n, 16);
        p += step;
        n -= step;
    }
}
#else
// Each entry packs three counts into one word: JSON escape bytes from bit 0,
// bytes escaped in double quotes from bit 21, single quotes from bit 42.
constexpr unsigned dq_shift = 21, sq_shift = 42;
constexpr std::uint64_t field_mask = (std::uint64_t{1} << 21) - 1;
constexpr std::size_t bytes_per_round = 1 << 16;  // keeps each count below 2^21
static_assert(5 * bytes_per_round <= field_mask);

constexpr std::array<std::uint64_t, 256> make_count_table() {
    std::array<std::uint64_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = json_added(static_cast<unsigned char>(c)) |
                   std::uint64_t{double_quoted_escaped[c]} << dq_shift |
                   std::uint64_t{single_quoted_escaped[c]} << sq_shift;
    return table;
}
enum : unsigned char { not_bare = 1, not_ascii = 2 };
constexpr std::array<unsigned char, 256> make_flag_table() {
    std::array<unsigned char, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = (bare_url[c] ? 0 : not_bare) | (c >= 0x80 ? not_ascii : 0);
    return table;
}
constexpr auto count_table = make_count_table();
constexpr auto flag_table = make_flag_table();

void add_bytes(Facts& facts, const unsigned char* p, std::size_t n) {
    unsigned char flags = 0;
    while (n > 0) {
        const std::size_t round = std::min(n, bytes_per_round);
        std::uint64_t counts = 0;
        for (std::size_t i = 0; i < round; ++i) {
            counts += count_table[p[i]];
            flags |= flag_table[p[i]];
        }
        facts.json_added += counts & field_mask;
        facts.double_quoted += (counts >> dq_shift) & field_mask;
        facts.single_quotes += counts >> sq_shift;
        p += round;
        n -= round;
    }
    facts.bare_url = !(flags & not_bare);
    facts.ascii = !(flags & not_ascii);
}
#endif

}  // namespace

Facts facts_of(std::string_view text, bool want_bare_url) noexcept {
    Facts facts;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
#if PEMRIK_SIMD
    add_blocks(facts, p, text.size(), want_bare_url);
#else
    add_bytes(facts, p, text.size());  // the flag table finds bare_url at no cost
    facts.bare_url |= !want_bare_url;
#endif
    return facts;
}

}  // namespace pemrik::text
