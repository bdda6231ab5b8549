// curl command lines: fixed pieces around shell-quoted fields (shell.hpp).
//
//   curl -X METHOD URL [-H "NAME: VALUE"]... [-d 'BODY' | --data-raw 'BODY']
//
// The record's notes say how many bytes quoting adds to each of its texts,
// so measuring is a sum and a text that needs nothing is copied whole.
#include "request/core/curl.hpp"

#include <cassert>
#include <string_view>

#include "core/text.hpp"
#include "request/core/shell.hpp"

namespace pemrik::curl {
namespace {

using shell::Place;

constexpr std::string_view command_start = "curl -X ";
constexpr std::string_view header_start = " -H \"";
constexpr std::string_view name_value_separator = ": ";
constexpr std::string_view header_end = "\"";
constexpr std::string_view body_start = " -d '";
// curl reads "-d @name" from the file name; --data-raw takes "@" literally.
constexpr std::string_view raw_body_start = " --data-raw '";
constexpr std::string_view single_quote_end = "'";

std::size_t added(const Piece& piece, Place place) {
    return piece.shell_extra == Piece::unknown_extra
               ? shell::added_bytes(place, text::facts_of(piece.text, place == Place::url))
               : piece.shell_extra;
}

// The size of a text quoted as it stands in place.
std::size_t quoted_size(const Known& request, TextId id, Place place) {
    const Piece piece = request.piece(id);
    return piece.text.size() + added(piece, place);
}

char* put(char* out, std::string_view text) { return text::copy(out, text); }

// The inside of a quoted word: copied whole when quoting adds nothing.
char* put_in_single_quotes(char* out, std::string_view text, std::size_t quoting) {
    return quoting == 0 ? put(out, text) : shell::put_in_single_quotes(out, text);
}
char* put_in_double_quotes(char* out, const Piece& piece) {
    return added(piece, Place::double_quoted) == 0 ? put(out, piece.text)
                                                   : shell::put_in_double_quotes(out, piece.text);
}

std::string_view body_opening(std::string_view body) {
    return !body.empty() && body.front() == '@' ? raw_body_start : body_start;
}

char* write_line(const Known& request, char* out) {
    const Request& record = request.request();
    out = put(out, command_start);
    out = put(out, name_of(record.method()));
    *out++ = ' ';
    const Piece url = request.url();
    if (const std::size_t quoting = added(url, Place::url); quoting == 0) {
        out = put(out, url.text);
    } else {
        *out++ = '\'';
        out = put_in_single_quotes(out, url.text, quoting - 2);
        *out++ = '\'';
    }
    for (std::size_t i = 0; i < record.header_count(); ++i) {
        out = put(out, header_start);
        out = put_in_double_quotes(out, request.header_name(i));
        out = put(out, name_value_separator);
        out = put_in_double_quotes(out, request.header_value(i));
        out = put(out, header_end);
    }
    if (record.has_body()) {
        const Piece body = request.body();
        out = put(out, body_opening(body.text));
        out = put_in_single_quotes(out, body.text, added(body, Place::single_quoted));
        out = put(out, single_quote_end);
    }
    return out;
}

}  // namespace

text::TextSize measure(const Request& record) {
    const Known request(record);
    std::size_t bytes = command_start.size() + name_of(record.method()).size() + 1 +
                        quoted_size(request, TextId::url(), Place::url);
    for (std::size_t i = 0; i < record.header_count(); ++i)
        bytes += header_start.size() + name_value_separator.size() + header_end.size() +
                 quoted_size(request, TextId::header_name(i), Place::double_quoted) +
                 quoted_size(request, TextId::header_value(i), Place::double_quoted);
    if (record.has_body())
        bytes += body_opening(record.body()).size() + single_quote_end.size() +
                 quoted_size(request, TextId::body(), Place::single_quoted);
    return {bytes, request.ascii()};
}

char* write(const Request& record, char* out) {
    char* end = write_line(Known(record), out);
    assert(static_cast<std::size_t>(end - out) == measure(record).bytes);
    return end;
}

}  // namespace pemrik::curl
