// Fills the "{}" placeholders of a message format, in order, into a new string.
#pragma once

#include <charconv>
#include <concepts>
#include <string>
#include <string_view>

namespace pemrik {

inline void append_piece(std::string& out, std::string_view text) { out.append(text); }

template <std::integral I>
void append_piece(std::string& out, I number) {
    char digits[24];
    auto end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    out.append(digits, end);
}

// format("{} takes {}", "f()", 2) == "f() takes 2". Extra placeholders stay as
// written; extra arguments are dropped.
template <class... Args>
std::string format(std::string_view fmt, const Args&... args) {
    std::string out;
    out.reserve(fmt.size() + 16 * sizeof...(Args));
    auto fill_next = [&](const auto& arg) {
        auto at = fmt.find("{}");
        if (at == std::string_view::npos) return;
        out.append(fmt.substr(0, at));
        append_piece(out, arg);
        fmt.remove_prefix(at + 2);
    };
    (fill_next(args), ...);
    out.append(fmt);
    return out;
}

}  // namespace pemrik
