// Url cutting: nothing is parsed but the "/" positions and a leading scheme.
#include "request/core/url.hpp"

#include <algorithm>

namespace pemrik {
namespace {

constexpr bool is_alpha(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool is_scheme_char(char c) {
    return is_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of a scheme followed by "://" at the start of url, else 0.
std::size_t scheme_size(std::string_view url) {
    if (url.empty() || !is_alpha(url[0])) return 0;
    std::size_t i = 1;
    while (i < url.size() && is_scheme_char(url[i])) ++i;
    return url.substr(i, 3) == "://" ? i : 0;
}

}  // namespace

UrlCut cut_url(std::string_view url) noexcept {
    UrlCut cut;
    auto first = url.find('/');
    if (first == std::string_view::npos) return cut;
    auto second = url.find('/', first + 1);
    if (second == std::string_view::npos) return cut;
    auto third = url.find('/', second + 1);
    cut.cuttable = true;
    cut.host_begin = second + 1;
    if (third == std::string_view::npos) {
        cut.host_end = url.size();
    } else {
        cut.host_end = third;
        auto path = url.substr(third + 1);
        cut.path_pieces = 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
    }
    cut.scheme_size = scheme_size(url);
    return cut;
}

}  // namespace pemrik
