// Making and copying request records, each one allocation.
#include "request/core/record.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "core/json_escape.hpp"
#include "request/core/shell.hpp"

#if PEMRIK_SIMD
#include <emmintrin.h>
#endif

namespace pemrik {
namespace {

// Everything the renderings need to know about a text.
struct TextFacts {
    std::size_t json_extra = 0;
    shell::Counts shell;
    bool ascii = true;
};

enum : unsigned char { not_bare = 1, not_ascii = 2 };

#if PEMRIK_SIMD
// Sixteen bytes at a time. Blocks holding nothing special, the common case,
// cost a few compares; control characters are rare and counted one by one.
// A short last block is padded with a byte that is plain for every purpose.
void add_blocks(TextFacts& facts, const unsigned char* p, std::size_t n, bool url, unsigned char& flags) {
    auto equal = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    auto within = [](__m128i v, char lo, char hi) {
        const __m128i clamped = _mm_max_epu8(_mm_min_epu8(v, _mm_set1_epi8(hi)), _mm_set1_epi8(lo));
        return _mm_cmpeq_epi8(clamped, v);
    };
    auto count = [](int mask) {  // bits set in a 16-bit mask, without a library call
        auto x = static_cast<unsigned>(mask);
        x = x - ((x >> 1) & 0x5555u);
        x = (x & 0x3333u) + ((x >> 2) & 0x3333u);
        x = (x + (x >> 4)) & 0x0F0Fu;
        return static_cast<std::size_t>((x + (x >> 8)) & 0x1Fu);
    };
    alignas(16) unsigned char last[16];
    while (n > 0) {
        const unsigned char* block = p;
        if (n < 16) {
            std::memset(last, 'a', sizeof last);
            std::memcpy(last, p, n);
            block = last;
        }
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
        const int control = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x1f)), v));
        const int json = _mm_movemask_epi8(_mm_or_si128(equal(v, '"'), equal(v, '\\')));
        const int shell_only = _mm_movemask_epi8(_mm_or_si128(equal(v, '$'), equal(v, '`')));
        const int quotes = _mm_movemask_epi8(equal(v, '\''));
        const int high = _mm_movemask_epi8(v);
        if (control | json | shell_only | quotes | high) {
            facts.json_extra += count(json);
            facts.shell.dq_escaped += count(json) + count(shell_only);
            facts.shell.single_quotes += count(quotes);
            if (high) flags |= not_ascii;
            for (int m = control; m; m &= m - 1) facts.json_extra += json::extra_bytes(block[__builtin_ctz(static_cast<unsigned>(m))]);
        }
        if (url) {
            const __m128i letter = within(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 'z');
            __m128i bare = _mm_or_si128(letter, within(v, '0', '9'));
            for (char c : std::string_view("@%+=:,./-_")) bare = _mm_or_si128(bare, equal(v, c));
            if (_mm_movemask_epi8(bare) != 0xFFFF) flags |= not_bare;
        }
        const std::size_t step = std::min<std::size_t>(n, 16);
        p += step;
        n -= step;
    }
}
#else
// Without SIMD, one pass with one table lookup per byte: each entry packs three counts into one
// word (JSON escape bytes from bit 0, bytes escaped in double quotes from
// bit 21, single quotes from bit 42); flags are gathered apart.
constexpr unsigned dq_shift = 21, sq_shift = 42;
constexpr std::uint64_t field_mask = (std::uint64_t{1} << 21) - 1;
constexpr std::size_t bytes_per_round = 1 << 16;  // keeps each count below 2^21

constexpr std::array<std::uint64_t, 256> make_count_table() {
    std::array<std::uint64_t, 256> table{};
    for (unsigned c = 0; c < 256; ++c) {
        const unsigned char kind = shell::table[c];
        table[c] = json::extra_bytes(static_cast<unsigned char>(c)) |
                   std::uint64_t{(kind & shell::dq_escaped) != 0} << dq_shift |
                   std::uint64_t{(kind & shell::single_quote) != 0} << sq_shift;
    }
    return table;
}
constexpr std::array<unsigned char, 256> make_flag_table() {
    std::array<unsigned char, 256> table{};
    for (unsigned c = 0; c < 256; ++c)
        table[c] = ((shell::table[c] & shell::bare) ? 0 : not_bare) | (c >= 0x80 ? not_ascii : 0);
    return table;
}
constexpr auto count_table = make_count_table();
constexpr auto flag_table = make_flag_table();

// Adds the facts of n bytes at p one byte at a time.
void add_bytes(TextFacts& facts, const unsigned char* p, std::size_t n, unsigned char& flags) {
    while (n > 0) {
        const std::size_t round = std::min(n, bytes_per_round);
        std::uint64_t counts = 0;
        for (std::size_t i = 0; i < round; ++i) {
            counts += count_table[p[i]];
            flags |= flag_table[p[i]];
        }
        facts.json_extra += counts & field_mask;
        facts.shell.dq_escaped += (counts >> dq_shift) & field_mask;
        facts.shell.single_quotes += counts >> sq_shift;
        p += round;
        n -= round;
    }
}

#endif

TextFacts facts_of(std::string_view text, bool url) {
    TextFacts facts;
    unsigned char flags = 0;
    auto p = reinterpret_cast<const unsigned char*>(text.data());
#if PEMRIK_SIMD
    add_blocks(facts, p, text.size(), url, flags);
#else
    (void)url;  // the byte tables find the bare flag for every text
    add_bytes(facts, p, text.size(), flags);
#endif
    facts.shell.all_bare = !(flags & not_bare);
    facts.ascii = !(flags & not_ascii);
    return facts;
}

}  // namespace

Request::Request(std::string_view url, std::span<const HeaderView> headers, Method method,
                 std::optional<std::string_view> body) {
    static_assert(sizeof(Block) % alignof(std::uint64_t) == 0);
    if (headers.size() >= (std::size_t{1} << 31)) throw std::bad_alloc();
    const std::size_t texts = 2 + 2 * headers.size();
    std::size_t chars = url.size() + (body ? body->size() : 0);
    for (const auto& h : headers) chars += h.name.size() + h.value.size();
    if (chars > Block::end_mask) throw std::bad_alloc();
    const std::size_t bytes = sizeof(Block) + texts * sizeof(std::uint64_t) + chars;

    block_ = static_cast<Block*>(::operator new(bytes));
    *block_ = Block{};
    block_->texts = static_cast<std::uint32_t>(texts);
    block_->method = method;
    block_->has_body = body.has_value();
    block_->ascii = true;

    std::uint64_t* ends = block_->ends();
    char* out = block_->chars();
    std::size_t end = 0;
    auto put = [&](std::string_view text) {
        if (!text.empty()) std::memcpy(out + end, text.data(), text.size());  // an absent body has no data
        end += text.size();
        *ends++ = end;
    };
    put(url);
    for (const auto& h : headers) {
        put(h.name);
        put(h.value);
    }
    put(body ? *body : std::string_view());
}

void Request::find_facts() const noexcept {
    Block& block = *block_;  // the facts are a cache beside texts that never change
    std::uint64_t* ends = block.ends();
    std::size_t begin = 0;
    for (std::size_t k = 0; k < block.texts; ++k) {
        const std::size_t end = ends[k] & Block::end_mask;
        const std::string_view text(block.chars() + begin, end - begin);
        const auto place = k == 0                 ? shell::Place::url
                           : k + 1 == block.texts ? shell::Place::single_quoted
                                                  : shell::Place::double_quoted;
        const auto facts = facts_of(text, place == shell::Place::url);
        block.ascii &= facts.ascii;
        auto saturated = [](std::size_t n) { return std::min<std::uint64_t>(n, Block::extra_saturated); };
        ends[k] = end | saturated(facts.json_extra) << Block::json_shift |
                  saturated(shell::added_bytes(place, facts.shell)) << Block::shell_shift;
        if (k == 0) {
            const UrlCut cut = cut_url(text);
            block.cuttable = cut.cuttable;
            block.cut_kept = text.size() <= UINT32_MAX;
            if (block.cut_kept) {
                block.host_begin = static_cast<std::uint32_t>(cut.host_begin);
                block.host_end = static_cast<std::uint32_t>(cut.host_end);
                block.path_pieces = static_cast<std::uint32_t>(cut.path_pieces);
                block.scheme_size = static_cast<std::uint32_t>(cut.scheme_size);
            }
        }
        begin = end;
    }
    block.facts_known = true;
}

UrlCut Request::url_cut() const noexcept {
    const Block& block = known();
    if (!block.cut_kept) return cut_url(url().text);  // a url of more than 4 GiB
    return UrlCut{block.host_begin, block.host_end, block.path_pieces, block.scheme_size, block.cuttable};
}

Request::Request(const Request& other) : block_(static_cast<Block*>(::operator new(other.block_->bytes()))) {
    std::memcpy(static_cast<void*>(block_), other.block_, other.block_->bytes());
}

Request::Request(Request&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}

Request& Request::operator=(Request&& other) noexcept {
    std::swap(block_, other.block_);
    return *this;
}

Request::~Request() { ::operator delete(block_); }

}  // namespace pemrik
