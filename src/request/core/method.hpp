// The nine HTTP request methods and their two fixed texts.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pemrik {

enum class Method : std::uint8_t { GET, POST, PUT, DELETE, HEAD, OPTIONS, PATCH, TRACE, CONNECT };

// Upper-case names, indexed by method value ("GET"): the one list of methods.
inline constexpr std::array<std::string_view, 9> method_names = {
    "GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT",
};
inline constexpr std::size_t method_count = method_names.size();

// Representations, indexed by method value ("HTTPMETHOD.GET"): the class
// name, a dot and the name.
inline constexpr std::string_view method_class_name = "HTTPMETHOD";
inline constexpr auto method_reprs = [] {
    constexpr std::size_t room = 24;
    std::array<std::array<char, room>, method_count> texts{};
    for (std::size_t m = 0; m < method_count; ++m) {
        std::size_t n = 0;
        for (char c : method_class_name) texts[m][n++] = c;
        texts[m][n++] = '.';
        for (char c : method_names[m]) texts[m][n++] = c;
        if (n >= room) throw "a representation longer than its room";
    }
    return texts;
}();

constexpr std::string_view name_of(Method m) { return method_names[static_cast<std::size_t>(m)]; }
constexpr std::string_view repr_of(Method m) {
    return method_reprs[static_cast<std::size_t>(m)].data();
}

}  // namespace pemrik
