// Making and copying request records, each one allocation.
#include "request/core/record.hpp"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace pemrik {

std::uint32_t Request::texts_for(std::size_t headers) {
    constexpr std::size_t most_headers = (UINT32_MAX - 2) / 2;
    if (headers > most_headers) throw std::bad_alloc();
    return static_cast<std::uint32_t>(2 + 2 * headers);
}

Request::Request(std::string_view url, std::span<const HeaderView> headers, Method method,
                 std::optional<std::string_view> body) {
    static_assert(sizeof(Block) % alignof(std::uint64_t) == 0);
    const std::uint32_t texts = texts_for(headers.size());
    std::size_t chars = url.size() + (body ? body->size() : 0);
    for (const auto& h : headers) chars += h.name.size() + h.value.size();
    const std::size_t bytes = sizeof(Block) + texts * sizeof(std::uint64_t) + chars + text::padding;

    void* memory = ::operator new(bytes);
    block_ = new (memory) Block{texts, method, body.has_value()};
    auto* ends = reinterpret_cast<std::uint64_t*>(block_ + 1);
    char* out = reinterpret_cast<char*>(ends + texts);
    std::uint64_t end = 0;
    auto put = [&](std::string_view text) {
        text::copy(out + end, text.data(), text.size());  // an absent body has no data
        end += text.size();
        *ends++ = end;
    };
    put(url);
    put(body ? *body : std::string_view());
    for (const auto& h : headers) {
        put(h.name);
        put(h.value);
    }
    std::memset(out + end, 0, text::padding);  // read by scans, never counted
}

Request::Request(const Request& other)
    : block_(static_cast<Block*>(::operator new(other.block_->bytes()))) {
    std::memcpy(static_cast<void*>(block_), other.block_, other.block_->bytes());
}

Request::Request(Request&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}

Request::~Request() { ::operator delete(block_); }

}  // namespace pemrik
