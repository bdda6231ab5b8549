// Cutting a url for the export: its authority is the host, the rest after
// the "/" that ends it is the path, cut at every "/".
#pragma once

#include <cstddef>
#include <string_view>

namespace pemrik {

struct UrlCut {
    std::size_t host_begin = 0;  // the host is url[host_begin, host_end)
    std::size_t host_end = 0;
    std::size_t path_pieces = 0;  // pieces after the host; 0 when no "/" follows it
    std::size_t scheme_size = 0;  // bytes before "://", 0 when the url has no scheme

    // A url with an empty authority has no host and cannot be exported.
    bool has_host() const { return host_end > host_begin; }
    std::string_view host(std::string_view url) const {
        return url.substr(host_begin, host_end - host_begin);
    }
    // The path pieces as they stand in the url, "/" between them; empty without a path.
    std::string_view path(std::string_view url) const {
        return path_pieces ? url.substr(host_end + 1) : std::string_view();
    }
    std::string_view protocol(std::string_view url) const {
        return scheme_size ? url.substr(0, scheme_size) : std::string_view("https");
    }
};

// The authority is what follows "scheme://" (a scheme: an ASCII letter, then
// ASCII letters, digits, "+", "-" or "."), else what follows a leading "//",
// else the url from its start, each up to the next "/" or the end.
UrlCut cut_url(std::string_view url) noexcept;

}  // namespace pemrik
