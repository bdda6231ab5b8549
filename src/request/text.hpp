// An owned UTF-8 text with the facts its renderings need, computed once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/json_escape.hpp"

namespace pemrik {

// Texts never change once made, so what the JSON writer needs to know about
// one (its escaped size, whether it is ASCII) is found when it is made and
// kept in one word beside the bytes.
class Text {
public:
    Text() = default;
    explicit Text(std::string_view utf8) : bytes_(utf8) {
        auto facts = json::scan(utf8);
        facts_ = (static_cast<std::uint64_t>(facts.extra) << 1) | (facts.ascii ? 1u : 0u);
    }

    std::string_view view() const noexcept { return bytes_; }
    std::size_t size() const noexcept { return bytes_.size(); }
    bool empty() const noexcept { return bytes_.empty(); }
    bool ascii() const noexcept { return facts_ & 1u; }
    // Bytes that escaping adds to this text in a JSON string.
    std::size_t json_extra() const noexcept { return static_cast<std::size_t>(facts_ >> 1); }

    friend bool operator==(const Text& a, const Text& b) noexcept { return a.bytes_ == b.bytes_; }

private:
    std::string bytes_;
    std::uint64_t facts_ = 1;  // json_extra << 1 | ascii
};

// Size of a rendered text in UTF-8 bytes, and whether every byte is ASCII.
struct TextSize {
    std::size_t bytes = 0;
    bool ascii = true;

    void add(std::size_t n) noexcept { bytes += n; }
    void add(std::string_view s) noexcept { bytes += s.size(); }
};

}  // namespace pemrik
