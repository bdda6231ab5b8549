// The request record: what one request holds, copied deeply and never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "request/core/method.hpp"
#include "request/core/url.hpp"

namespace pemrik {

struct HeaderView {
    std::string_view name;
    std::string_view value;
};

// A text of a record, with the bytes that escaping adds to its JSON string
// form and that quoting adds to its command-line word (unknown_extra when not
// known: count them again).
struct Piece {
    static constexpr std::size_t unknown_extra = ~std::size_t{0};

    std::string_view text;
    std::size_t json_extra = 0;
    std::size_t shell_extra = 0;

    bool json_escapes() const noexcept { return json_extra != 0; }
    // A part of this text for JSON: it holds escapes only if this one does.
    Piece part(std::string_view sub) const noexcept { return {sub, json_extra ? unknown_extra : 0, 0}; }
};

// Size of a rendered text in UTF-8 bytes, and whether every byte is ASCII.
struct TextSize {
    std::size_t bytes = 0;
    bool ascii = true;
};

// A request record keeps all its texts in one allocation, together with the
// facts its renderings need: where "/" cuts the url, what JSON escaping and
// shell quoting add to each text, whether all is ASCII. Records never change,
// so these facts are found once, on the first reading that needs them (many
// records are made and never rendered), and kept with the texts; copying is
// one allocation and one copy of bytes that shares nothing with the source.
// Finding the facts writes to a record that is read as const: like every
// other access, it runs with the interpreter lock held.
class Request {
public:
    // Copies every text; an absent body differs from an empty one.
    Request(std::string_view url, std::span<const HeaderView> headers, Method method,
            std::optional<std::string_view> body);
    Request(const Request& other);
    Request(Request&& other) noexcept;
    Request& operator=(Request&& other) noexcept;
    Request& operator=(const Request&) = delete;
    ~Request();

    Piece url() const noexcept { return text(0); }
    std::size_t header_count() const noexcept { return (block_->texts - 2) / 2; }
    Piece header_name(std::size_t i) const noexcept { return text(1 + 2 * i); }
    Piece header_value(std::size_t i) const noexcept { return text(2 + 2 * i); }
    Method method() const noexcept { return block_->method; }
    bool has_body() const noexcept { return block_->has_body; }
    Piece body() const noexcept { return text(block_->texts - 1); }  // empty when absent
    bool ascii() const noexcept { return known().ascii; }  // every byte of every text
    UrlCut url_cut() const noexcept;

private:
    // The single allocation: Block, then ends[texts], then the bytes of the
    // url, name 0, value 0, ..., body. The low 40 bits of ends[k] say where
    // text k ends in the bytes (text k starts where text k-1 ends); the next
    // 12 bits hold the bytes that JSON escaping adds to it, the top 12 those
    // that shell quoting adds, all ones meaning "that many or more".
    struct Block {
        std::uint32_t texts;  // 2 + 2 * headers: url, the pairs, the body slot
        Method method;
        bool has_body : 1;
        bool facts_known : 1;  // the cut, ascii and the extras in ends are filled
        bool ascii : 1;
        bool cuttable : 1;
        bool cut_kept : 1;  // the cut fits the 32-bit positions below
        std::uint32_t host_begin, host_end, path_pieces, scheme_size;

        std::size_t bytes() const noexcept {  // size of the whole allocation
            return sizeof(Block) + texts * sizeof(std::uint64_t) + (ends()[texts - 1] & end_mask);
        }
        static constexpr unsigned json_shift = 40;
        static constexpr unsigned shell_shift = 52;
        static constexpr std::uint64_t end_mask = (std::uint64_t{1} << json_shift) - 1;
        static constexpr std::uint64_t extra_saturated = 0xFFF;

        static std::size_t extra(std::uint64_t end, unsigned shift) noexcept {
            const std::uint64_t n = (end >> shift) & extra_saturated;
            return n == extra_saturated ? Piece::unknown_extra : static_cast<std::size_t>(n);
        }

        std::uint64_t* ends() noexcept { return reinterpret_cast<std::uint64_t*>(this + 1); }
        const std::uint64_t* ends() const noexcept {
            return reinterpret_cast<const std::uint64_t*>(this + 1);
        }
        char* chars() noexcept { return reinterpret_cast<char*>(ends() + texts); }
        const char* chars() const noexcept { return reinterpret_cast<const char*>(ends() + texts); }
    };

    const Block& known() const noexcept {
        if (!block_->facts_known) find_facts();
        return *block_;
    }
    void find_facts() const noexcept;

    Piece text(std::size_t index) const noexcept {
        const Block& block = known();
        const std::uint64_t* ends = block.ends();
        const std::size_t begin = index ? ends[index - 1] & Block::end_mask : 0;
        const std::size_t end = ends[index] & Block::end_mask;
        return {std::string_view(block.chars() + begin, end - begin),
                Block::extra(ends[index], Block::json_shift), Block::extra(ends[index], Block::shell_shift)};
    }

    Block* block_;
};

}  // namespace pemrik
