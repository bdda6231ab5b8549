// Url cutting: nothing is parsed but a leading scheme and the "/" positions.
#include "request/core/url.hpp"

#include "core/text.hpp"

namespace pemrik {
namespace {

constexpr bool is_alpha(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool is_scheme_char(char c) {
    return is_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// Length of a scheme followed by "://" at the start of url, else 0.
constexpr text::ByteSet separator = text::set_of("/");

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
    const char* end = url.data() + url.size();
    const char* slash = text::find_in<separator>(url.data() + cut.host_begin, end);
    cut.host_end = static_cast<std::size_t>(slash - url.data());
    if (slash != end)
        cut.path_pieces = 1 + text::count_in<separator>(std::string_view(slash + 1, end));
    return cut;
}

}  // namespace pemrik
