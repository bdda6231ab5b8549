// The exported collection document as compact JSON text.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "request/core/known.hpp"

namespace pemrik::document {

inline constexpr std::string_view collection_name = "Pemrik Collection";
inline constexpr std::string_view schema_url =
    "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// Position of the first request whose url has an empty authority, if any:
// such a url has no host and cannot be exported.
std::optional<std::size_t> first_without_host(const std::vector<Request>& requests);

// The document text for a collection (null for one without a list). Every
// url must have a host (see first_without_host).
text::TextSize measure(const std::vector<Request>* requests);
char* write(const std::vector<Request>* requests, char* out);

}  // namespace pemrik::document
