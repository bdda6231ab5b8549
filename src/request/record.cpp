// Making and copying request records, each one allocation.
#include "request/record.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "core/json_escape.hpp"

namespace pemrik {

Request::Request(std::string_view url, std::span<const HeaderView> headers, Method method,
                 std::optional<std::string_view> body) {
    static_assert(sizeof(Block) % alignof(std::uint64_t) == 0);
    const std::size_t texts = 2 + 2 * headers.size();
    std::size_t chars = url.size() + (body ? body->size() : 0);
    for (const auto& h : headers) chars += h.name.size() + h.value.size();
    if (chars > Block::end_mask) throw std::bad_alloc();
    const std::size_t bytes = sizeof(Block) + texts * sizeof(std::uint64_t) + chars;

    block_ = static_cast<Block*>(::operator new(bytes));
    block_->bytes = bytes;
    block_->texts = texts;
    block_->cut = cut_url(url);
    block_->method = method;
    block_->has_body = body.has_value();
    block_->ascii = true;

    std::uint64_t* ends = block_->ends();
    char* out = block_->chars();
    std::size_t end = 0;
    auto put = [&](std::string_view text) {
        std::memcpy(out + end, text.data(), text.size());
        end += text.size();
        const auto facts = json::scan(text);
        block_->ascii &= facts.ascii;
        const std::uint64_t extra = std::min<std::uint64_t>(facts.extra, Block::extra_saturated);
        *ends++ = end | (extra << Block::extra_shift);
    };
    put(url);
    for (const auto& h : headers) {
        put(h.name);
        put(h.value);
    }
    put(body ? *body : std::string_view());
}

Request::Request(const Request& other) : block_(static_cast<Block*>(::operator new(other.block_->bytes))) {
    std::memcpy(static_cast<void*>(block_), other.block_, other.block_->bytes);
}

Request::Request(Request&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}

Request& Request::operator=(Request&& other) noexcept {
    std::swap(block_, other.block_);
    return *this;
}

Request::~Request() { ::operator delete(block_); }

}  // namespace pemrik
