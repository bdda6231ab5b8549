// The request record: what one request holds, copied deeply and never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "request/method.hpp"
#include "request/url.hpp"

namespace pemrik {

struct HeaderView {
    std::string_view name;
    std::string_view value;
};

// A text of a record, with the bytes that escaping adds to its JSON string
// form (unknown_extra when not known: count them again).
struct Piece {
    static constexpr std::size_t unknown_extra = ~std::size_t{0};

    std::string_view text;
    std::size_t json_extra = 0;

    bool json_escapes() const noexcept { return json_extra != 0; }
    // A part of this text: it holds escapes only if this one does.
    Piece part(std::string_view sub) const noexcept { return {sub, json_extra ? unknown_extra : 0}; }
};

// Size of a rendered text in UTF-8 bytes, and whether every byte is ASCII.
struct TextSize {
    std::size_t bytes = 0;
    bool ascii = true;
};

// A request record keeps all its texts in one allocation, together with the
// facts its renderings need: where "/" cuts the url, which texts need JSON
// escapes, whether all is ASCII. Records never change, so these facts are
// found once, when the record is made, and copying is one allocation and one
// copy of bytes that shares nothing with the source.
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
    bool ascii() const noexcept { return block_->ascii; }  // every byte of every text
    const UrlCut& url_cut() const noexcept { return block_->cut; }

private:
    // The single allocation: Block, then ends[texts], then the bytes of the
    // url, name 0, value 0, ..., body. The low 48 bits of ends[k] say where
    // text k ends in the bytes (text k starts where text k-1 ends); the top
    // 16 bits hold the bytes that JSON escaping adds to it, all ones for
    // "that many or more".
    struct Block {
        std::size_t bytes;  // size of the whole allocation
        std::size_t texts;  // 2 + 2 * headers: url, the pairs, the body slot
        UrlCut cut;
        Method method;
        bool has_body;
        bool ascii;

        static constexpr unsigned extra_shift = 48;
        static constexpr std::uint64_t end_mask = (std::uint64_t{1} << extra_shift) - 1;
        static constexpr std::uint64_t extra_saturated = 0xFFFF;

        std::uint64_t* ends() noexcept { return reinterpret_cast<std::uint64_t*>(this + 1); }
        const std::uint64_t* ends() const noexcept {
            return reinterpret_cast<const std::uint64_t*>(this + 1);
        }
        char* chars() noexcept { return reinterpret_cast<char*>(ends() + texts); }
        const char* chars() const noexcept { return reinterpret_cast<const char*>(ends() + texts); }
    };

    Piece text(std::size_t index) const noexcept {
        const std::uint64_t* ends = block_->ends();
        const std::size_t begin = index ? ends[index - 1] & Block::end_mask : 0;
        const std::size_t end = ends[index] & Block::end_mask;
        const std::uint64_t extra = ends[index] >> Block::extra_shift;
        return {std::string_view(block_->chars() + begin, end - begin),
                extra == Block::extra_saturated ? Piece::unknown_extra : static_cast<std::size_t>(extra)};
    }

    Block* block_;
};

}  // namespace pemrik
