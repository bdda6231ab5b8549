// Renders a request as a curl command line that a POSIX shell reads back word
// for word: measure first, then write into memory of exactly that size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "request/core/known.hpp"

namespace pemrik::curl {

// A text that no command line can pass to curl as it is: where it stands and why.
struct Refusal {
    enum Field : std::uint8_t { url, header_name, header_value, body } field;
    enum Reason : std::uint8_t {
        nul,         // a NUL, which ends every program argument
        line_break,  // CR or LF in a header, which curl would send as further header lines
        file,        // a header name beginning with "@", which makes curl read a file
    } reason;
    std::size_t header = 0;  // for the header fields, its position
};

// The first text of the request, in the order url, headers, body, that a
// command line cannot carry; the command line may be rendered only without one.
std::optional<Refusal> refusal(const Request& request) noexcept;

text::TextSize measure(const Request& request);

// Writes exactly measure(request).bytes bytes at out; returns the end.
char* write(const Request& request, char* out);

}  // namespace pemrik::curl
