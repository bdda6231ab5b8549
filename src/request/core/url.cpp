// Url cutting: nothing is parsed but a leading scheme and the "/" positions.
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
    cut.scheme_size = scheme_size(url);
    cut.host_begin = cut.scheme_size ? cut.scheme_size + 3 : url.starts_with("//") ? 2 : 0;
    const auto slash = url.find('/', cut.host_begin);
    if (slash == std::string_view::npos) {
        cut.host_end = url.size();
    } else {
        cut.host_end = slash;
        const auto path = url.substr(slash + 1);
        cut.path_pieces = 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '/'));
    }
    return cut;
}

}  // namespace pemrik
