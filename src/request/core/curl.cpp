// curl command lines: fixed pieces around shell-quoted fields (shell.hpp).
//
//   curl -X METHOD URL [-H "NAME: VALUE"]... [-d 'BODY' | --data-raw 'BODY']
//
// The record knows how many bytes quoting adds to each of its texts, so
// measuring is a sum and a text that needs nothing is copied whole.
#include "request/core/curl.hpp"

#include <string_view>

#include "core/json_escape.hpp"
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

std::size_t added(Piece piece, Place place) {
    return piece.shell_extra == Piece::unknown_extra ? shell::added_bytes(place, piece.text)
                                                     : piece.shell_extra;
}

char* put(char* out, std::string_view text) { return json::copy(out, text.data(), text.size()); }

// Copies text, writing each byte of the given kind through escape().
template <class Escape>
char* put_escaped(char* out, std::string_view text, unsigned char kind, Escape escape) {
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p < end; ++p) {
        if (!(shell::table[static_cast<unsigned char>(*p)] & kind)) continue;
        out = put(out, std::string_view(run, static_cast<std::size_t>(p - run)));
        out = escape(out, *p);
        run = p + 1;
    }
    return put(out, std::string_view(run, static_cast<std::size_t>(end - run)));
}

// The inside of a single-quoted word.
char* put_in_single_quotes(char* out, Piece piece, std::size_t quoting) {
    if (quoting == 0) return put(out, piece.text);
    return put_escaped(out, piece.text, shell::single_quote,
                       [](char* o, char) { return put(o, shell::quote_in_single_quotes); });
}

// The inside of a double-quoted word.
char* put_in_double_quotes(char* out, Piece piece) {
    if (added(piece, Place::double_quoted) == 0) return put(out, piece.text);
    return put_escaped(out, piece.text, shell::dq_escaped, [](char* o, char c) {
        *o++ = '\\';
        *o++ = c;
        return o;
    });
}

std::string_view body_opening(std::string_view body) {
    return !body.empty() && body.front() == '@' ? raw_body_start : body_start;
}

}  // namespace

TextSize measure(const Request& request) {
    const Piece url = request.url();
    std::size_t bytes = command_start.size() + name_of(request.method()).size() + 1 +
                        url.text.size() + added(url, Place::url);
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        const Piece name = request.header_name(i), value = request.header_value(i);
        bytes += header_start.size() + name_value_separator.size() + header_end.size() +
                 name.text.size() + added(name, Place::double_quoted) + value.text.size() +
                 added(value, Place::double_quoted);
    }
    if (request.has_body()) {
        const Piece body = request.body();
        bytes += body_opening(body.text).size() + single_quote_end.size() + body.text.size() +
                 added(body, Place::single_quoted);
    }
    return {bytes, request.ascii()};
}

char* write(const Request& request, char* out) {
    out = put(out, command_start);
    out = put(out, name_of(request.method()));
    *out++ = ' ';
    const Piece url = request.url();
    if (const std::size_t quoting = added(url, Place::url); quoting == 0) {
        out = put(out, url.text);
    } else {
        *out++ = '\'';
        out = put_in_single_quotes(out, url, quoting - 2);
        *out++ = '\'';
    }
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        out = put(out, header_start);
        out = put_in_double_quotes(out, request.header_name(i));
        out = put(out, name_value_separator);
        out = put_in_double_quotes(out, request.header_value(i));
        out = put(out, header_end);
    }
    if (request.has_body()) {
        const Piece body = request.body();
        out = put(out, body_opening(body.text));
        out = put_in_single_quotes(out, body, added(body, Place::single_quoted));
        out = put(out, single_quote_end);
    }
    return out;
}

}  // namespace pemrik::curl
