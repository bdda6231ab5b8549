// The exported collection document as compact JSON text: measured first,
// then written into memory of exactly that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "core/text.hpp"
#include "request/core/record.hpp"
#include "request/core/url.hpp"

namespace pemrik::document {

inline constexpr std::string_view collection_name = "Pemrik Collection";
inline constexpr std::string_view schema_url =
    "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// The document of a collection (null for one without a list), measured when
// made; the requests must outlive it, unchanged. What measuring learns about
// each request is kept for writing.
class Document {
public:
    explicit Document(const std::vector<Request>* requests);

    // Position of the first request whose url has an empty authority, if
    // any: such a url has no host, and nothing may be written.
    std::optional<std::size_t> without_host() const noexcept { return without_host_; }
    text::Size size() const noexcept { return size_; }

    // Writes exactly size().length code units at out (text::Size) and returns the end.
    template <class Char>
    Char* write(Char* out) const noexcept;

private:
    // What measuring found in one request, for writing it: its url's cut,
    // and what its url, and its body and headers' texts together, need.
    struct Item {
        UrlCut cut;
        text::Seen url, rest;
    };

    const std::vector<Request>* requests_;
    std::optional<std::size_t> without_host_;
    text::Size size_;
    std::vector<Item> items_;
};

}  // namespace pemrik::document
