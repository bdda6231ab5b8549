// The nine HTTP request methods and their names.
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

constexpr std::string_view name_of(Method m) { return method_names[static_cast<std::size_t>(m)]; }

}  // namespace pemrik
