// A request as a curl command line that a POSIX shell reads back word for
// word: measured first, then written into memory of exactly that size.
//
//   curl -X METHOD URL [-H "NAME: VALUE"]... [-d 'BODY' | --data-raw 'BODY']
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/text.hpp"
#include "request/core/record.hpp"

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

// The command line of one request, measured when made; the request must
// outlive it. What measuring learns about the texts is kept for writing.
class CommandLine {
public:
    explicit CommandLine(const Request& request) noexcept;

    // The first text, in the order url, headers, body, that no command line
    // carries; nothing may be written when there is one.
    const std::optional<Refusal>& refusal() const noexcept { return refusal_; }
    text::Size size() const noexcept { return size_; }

    // Writes exactly size().length code units at out (text::Size) and returns the end.
    template <class Char>
    Char* write(Char* out) const noexcept;

private:
    const Request& request_;
    std::optional<Refusal> refusal_;
    text::Size size_;
    bool bare_url_ = false;
    text::Seen url_, headers_, body_;  // the headers' texts measured together
};

}  // namespace pemrik::curl
