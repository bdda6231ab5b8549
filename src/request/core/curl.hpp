// Renders a request as a curl command line that a POSIX shell reads back word
// for word: measure first, then write into memory of exactly that size.
#pragma once

#include "request/core/known.hpp"

namespace pemrik::curl {

text::TextSize measure(const Request& request);

// Writes exactly measure(request).bytes bytes at out; returns the end.
char* write(const Request& request, char* out);

}  // namespace pemrik::curl
