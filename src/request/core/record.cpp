// Making and copying request records, each one allocation.
#include "request/core/record.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace pemrik {

Request::Request(std::string_view url, std::span<const HeaderView> headers, Method method,
                 std::optional<std::string_view> body) {
    static_assert(sizeof(Block) % alignof(Slot) == 0 && sizeof(Slot) == sizeof(std::uint64_t));
    const std::uint32_t texts = text_count(headers.size());
    std::size_t chars = url.size() + (body ? body->size() : 0);
    for (const auto& h : headers) chars += h.name.size() + h.value.size();
    if (chars > most_chars) throw std::bad_alloc();
    const std::size_t bytes = sizeof(Block) + texts * sizeof(Slot) + chars;

    block_ = static_cast<Block*>(::operator new(bytes));
    *block_ = Block{};
    block_->texts = texts;
    block_->method = method;
    block_->has_body = body.has_value();

    Slot* slots = block_->slots();
    char* out = block_->chars();
    std::size_t end = 0;
    auto put = [&](std::string_view text) {
        if (!text.empty())
            std::memcpy(out + end, text.data(), text.size());  // an absent body has no data
        end += text.size();
        *slots++ = Slot{end & most_chars, 0};  // below most_chars, checked above
    };
    put(url);
    put(body ? *body : std::string_view());
    for (const auto& h : headers) {
        put(h.name);
        put(h.value);
    }
}

std::uint32_t Request::text_count(std::size_t headers) {
    constexpr std::size_t most_headers = (UINT32_MAX - 2) / 2;
    if (headers > most_headers) throw std::bad_alloc();
    return static_cast<std::uint32_t>(2 + 2 * headers);
}

Request::Request(const Request& other)
    : block_(static_cast<Block*>(::operator new(other.block().bytes()))) {
    std::memcpy(static_cast<void*>(block_), other.block_, other.block().bytes());
}

Request::Request(Request&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}

Request::~Request() { ::operator delete(block_); }

}  // namespace pemrik
