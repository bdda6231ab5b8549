// The request record: what one request holds, copied deeply and never changed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "core/text.hpp"
#include "request/core/method.hpp"

namespace pemrik {

struct HeaderView {
    std::string_view name;
    std::string_view value;
};

// A request record is plain data: its texts in one allocation, with where
// each ends. Nothing is written after construction, so any number of
// threads may read one record at once; copying is one allocation and one
// copy of bytes that shares nothing with the source. Its texts are followed
// by text::padding bytes, which the scans of core/text.hpp need.
class Request {
public:
    // Copies every text; an absent body differs from an empty one.
    Request(std::string_view url, std::span<const HeaderView> headers, Method method,
            std::optional<std::string_view> body);
    Request(const Request& other);
    Request(Request&& other) noexcept;
    Request& operator=(const Request&) = delete;
    ~Request();

    // How many texts a record of that many headers keeps (url, body, a name
    // and a value per header); std::bad_alloc when the count does not fit.
    static std::uint32_t texts_for(std::size_t headers);

    std::string_view url() const noexcept { return text(0); }
    std::string_view body() const noexcept { return text(1); }  // empty when absent
    bool has_body() const noexcept { return block_->has_body; }
    std::size_t header_count() const noexcept { return (block_->texts - 2) / 2; }
    std::string_view header_name(std::size_t i) const noexcept { return text(2 + 2 * i); }
    std::string_view header_value(std::size_t i) const noexcept { return text(3 + 2 * i); }
    Method method() const noexcept { return block_->method; }

    // The texts of every header back to back (name 0, value 0, name 1, ...),
    // and the same after the body: what renderers scan at once.
    std::string_view headers() const noexcept { return texts_from(2); }
    std::string_view body_and_headers() const noexcept { return texts_from(1); }

private:
    // The single allocation: Block, then the end of each text (it starts
    // where the one before ends), then the bytes of the url, the body,
    // name 0, value 0, name 1, ..., then the padding.
    struct Block {
        std::uint32_t texts;  // 2 + 2 * headers
        Method method;
        bool has_body;

        const std::uint64_t* ends() const noexcept {
            return reinterpret_cast<const std::uint64_t*>(this + 1);
        }
        const char* chars() const noexcept { return reinterpret_cast<const char*>(ends() + texts); }
        std::size_t bytes() const noexcept {  // size of the whole allocation
            return sizeof(Block) + texts * sizeof(std::uint64_t) + ends()[texts - 1] +
                   text::padding;
        }
    };

    std::string_view texts_from(std::size_t slot) const noexcept {
        const std::uint64_t* ends = block_->ends();
        return std::string_view(block_->chars() + ends[slot - 1],
                                ends[block_->texts - 1] - ends[slot - 1]);
    }
    std::string_view text(std::size_t slot) const noexcept {
        const std::uint64_t* ends = block_->ends();
        const std::size_t begin = slot ? ends[slot - 1] : 0;
        return std::string_view(block_->chars() + begin, ends[slot] - begin);
    }

    Block* block_;
};

}  // namespace pemrik
