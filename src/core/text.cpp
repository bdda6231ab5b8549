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

// The JSON weight of a run of escaped bytes: what each adds, or 0 when they differ.
constexpr unsigned run_weight(ByteRange r) {
    for (unsigned c = r.lo; c <= r.hi; ++c)
        if (json_added(static_cast<unsigned char>(c)) != json_added(r.lo)) return 0;
    return json_added(r.lo);
}

// Bytes that escaping adds to the block: a run whose bytes weigh the same is
// counted whole; others (control characters, rare) byte by byte.
template <std::size_t I>
std::size_t json_added_in_run(__m128i v, const unsigned char* block) {
    constexpr ByteRange r = ranges_of<json_escaped>[I];
    unsigned m = static_cast<unsigned>(_mm_movemask_epi8(simd::in_range<r.lo, r.hi>(v)));
    if constexpr (run_weight(r) != 0) {
        return run_weight(r) * bit_count(m);
    } else {
        std::size_t n = 0;
        for (; m; m &= m - 1) n += json_added(block[__builtin_ctz(m)]);
        return n;
    }
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
            [&]<std::size_t... I>(std::index_sequence<I...>) {
                facts.json_added += (json_added_in_run<I>(v, block) + ...);
            }(std::make_index_sequence<ranges_of<json_escaped>.size()>{});
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
    for (unsigned c = 0; c < 256; ++c) table[c] = (bare_url[c] ? 0 : not_bare) | (c >= 0x80 ? not_ascii : 0);
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
