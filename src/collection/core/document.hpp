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

// Position of the first request whose url holds fewer than two "/", if any:
// such a url has no host piece and cannot be exported.
std::optional<std::size_t> first_uncuttable(const std::vector<Request>& requests);

// The document text for a collection (null for one without a list). Every
// url must be cuttable (see first_uncuttable).
text::TextSize measure(const std::vector<Request>* requests);
char* write(const std::vector<Request>* requests, char* out);

}  // namespace pemrik::document
