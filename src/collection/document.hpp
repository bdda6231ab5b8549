// The exported collection document: url cutting and the compact JSON text.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "request/record.hpp"

namespace pemrik::document {

inline constexpr std::string_view collection_name = "Pemrik Collection";
inline constexpr std::string_view schema_url =
    "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// A url cut at every "/": piece 2 is the host, pieces 3.. the path.
struct UrlCut {
    std::string_view host;
    std::string_view path;  // pieces 3.. joined by "/" as in the url
    bool has_path = false;  // false when the url holds exactly two "/"
    std::string_view protocol;
};

// Empty when the url holds fewer than two "/".
std::optional<UrlCut> cut_url(std::string_view url);

// The scheme before "://" when the url starts with one, else "https".
std::string_view protocol_of(std::string_view url);

// Position of the first request whose url cannot be cut, if any.
std::optional<std::size_t> first_uncuttable(const std::vector<Request>& requests);

// The document text for a collection (null for one without a list). Every
// url must be cuttable (see first_uncuttable).
TextSize measure(const std::vector<Request>* requests);
char* write(const std::vector<Request>* requests, char* out);

}  // namespace pemrik::document
