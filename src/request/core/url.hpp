// Cutting a url at every "/": piece 2 is the host, pieces 3.. the path.
#pragma once

#include <cstddef>
#include <string_view>

namespace pemrik {

struct UrlCut {
    std::size_t host_begin = 0;  // piece 2 is url[host_begin, host_end)
    std::size_t host_end = 0;
    std::size_t path_pieces = 0;  // pieces after the host; 0 with exactly two "/"
    std::size_t scheme_size = 0;  // bytes before "://", 0 when the url has no scheme
    bool cuttable = false;        // false when the url holds fewer than two "/"

    std::string_view host(std::string_view url) const {
        return url.substr(host_begin, host_end - host_begin);
    }
    // Pieces 3.. as they stand in the url, "/" between them; empty without a path.
    std::string_view path(std::string_view url) const {
        return path_pieces ? url.substr(host_end + 1) : std::string_view();
    }
    std::string_view protocol(std::string_view url) const {
        return scheme_size ? url.substr(0, scheme_size) : std::string_view("https");
    }
};

UrlCut cut_url(std::string_view url) noexcept;

}  // namespace pemrik
