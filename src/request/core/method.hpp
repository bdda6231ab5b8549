// The nine HTTP request methods and their two fixed texts.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace pemrik {

enum class Method : std::uint8_t { GET, POST, PUT, DELETE, HEAD, OPTIONS, PATCH, TRACE, CONNECT };

inline constexpr std::size_t method_count = 9;

// Upper-case names, indexed by method value ("GET").
inline constexpr std::array<std::string_view, method_count> method_names = {
    "GET", "POST", "PUT", "DELETE", "HEAD", "OPTIONS", "PATCH", "TRACE", "CONNECT",
};

// Representations, indexed by method value ("HTTPMETHOD.GET").
inline constexpr std::array<std::string_view, method_count> method_reprs = {
    "HTTPMETHOD.GET",    "HTTPMETHOD.POST",  "HTTPMETHOD.PUT",
    "HTTPMETHOD.DELETE", "HTTPMETHOD.HEAD",  "HTTPMETHOD.OPTIONS",
    "HTTPMETHOD.PATCH",  "HTTPMETHOD.TRACE", "HTTPMETHOD.CONNECT",
};

constexpr std::string_view name_of(Method m) { return method_names[static_cast<std::size_t>(m)]; }
constexpr std::string_view repr_of(Method m) { return method_reprs[static_cast<std::size_t>(m)]; }

}  // namespace pemrik
