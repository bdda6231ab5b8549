// The only place where the fuzz targets touch the core's interface: the
// request constructor, the curl rendering, the export document and the url
// cut. Everything else in fuzz/ works on the plain types declared here, so a
// change of the core's headers or types is absorbed in this file.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// ---- core interface begins -------------------------------------------------
#include "collection/core/document.hpp"
#include "request/core/curl.hpp"
#include "request/core/record.hpp"
#include "request/core/url.hpp"

namespace fuzz::core {

using Record = pemrik::Request;

// A request as the fuzz targets describe it; method is the index into the
// nine methods in their declared order (GET, POST, ..., CONNECT).
struct Spec {
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    unsigned method = 0;
    std::optional<std::string> body;
};

inline Record make(const Spec& spec) {
    std::vector<pemrik::HeaderView> views;
    for (const auto& [name, value] : spec.headers) views.push_back({name, value});
    std::optional<std::string_view> body;
    if (spec.body) body = *spec.body;
    return Record(spec.url, std::span<const pemrik::HeaderView>(views),
                  static_cast<pemrik::Method>(spec.method), body);
}

// What a renderer promises before writing: a size and whether all is ASCII.
struct Measured {
    std::size_t bytes;
    bool ascii;
};

inline Measured curl_measure(const Record& r) {
    const auto m = pemrik::curl::measure(r);
    return {m.bytes, m.ascii};
}
inline char* curl_write(const Record& r, char* out) { return pemrik::curl::write(r, out); }

// A null list stands for a collection that never had one.
inline Measured document_measure(const std::vector<Record>* list) {
    const auto m = pemrik::document::measure(list);
    return {m.bytes, m.ascii};
}
inline char* document_write(const std::vector<Record>* list, char* out) {
    return pemrik::document::write(list, out);
}
inline std::optional<std::size_t> first_uncuttable(const std::vector<Record>& list) {
    return pemrik::document::first_uncuttable(list);
}

// The url cut in plain terms; host, path and protocol are views into url.
struct Cut {
    bool cuttable;
    std::string_view host, path, protocol;
    std::size_t path_pieces;
};

inline Cut cut(std::string_view url) {
    const pemrik::UrlCut c = pemrik::cut_url(url);
    return {c.cuttable, c.host(url), c.path(url), c.protocol(url), c.path_pieces};
}

}  // namespace fuzz::core
// ---- core interface ends ---------------------------------------------------
