// curl command lines: fixed pieces around shell-quoted fields (shell.hpp).
//
//   curl -X METHOD URL [-H "NAME: VALUE"]... [-d 'BODY' | --data-raw 'BODY']
//
// The record's notes say how many bytes quoting adds to each of its texts,
// so measuring is a sum and a text that needs nothing is copied whole. One
// walk over the request feeds a measuring sink and a writing one.
#include "request/core/curl.hpp"

#include <cassert>
#include <optional>
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
// It also reads "-H @name" from a file, and has no form of -H that sends a
// header whose name begins with "@".
constexpr char file_marker = '@';
constexpr std::string_view raw_body_start = " --data-raw '";
constexpr std::string_view single_quote_end = "'";

// The bytes that quoting adds to a text standing in place.
std::size_t added(const Piece& piece, Place place) {
    return piece.shell_extra == Piece::unknown_extra
               ? shell::added_bytes(place, text::facts_of(piece.text, place == Place::url),
                                    piece.text.size())
               : piece.shell_extra;
}

template <class Sink>
void walk(const Known& request, Sink& sink) {
    const Request& record = request.request();
    sink.raw(command_start);
    sink.raw(name_of(record.method()));
    sink.raw(" ");
    sink.quoted(request.url(), Place::url);
    for (std::size_t i = 0; i < record.header_count(); ++i) {
        sink.raw(header_start);
        sink.quoted(request.header_name(i), Place::double_quoted);
        sink.raw(name_value_separator);
        sink.quoted(request.header_value(i), Place::double_quoted);
        sink.raw(header_end);
    }
    if (record.has_body()) {
        const Piece body = request.body();
        sink.raw(body.text.starts_with(file_marker) ? raw_body_start : body_start);
        sink.quoted(body, Place::single_quoted);
        sink.raw(single_quote_end);
    }
}

struct Measure {
    std::size_t bytes = 0;
    void raw(std::string_view run) { bytes += run.size(); }
    void quoted(const Piece& piece, Place place) {
        bytes += piece.text.size() + added(piece, place);
    }
};

struct Write {
    char* out;
    void raw(std::string_view run) { out = text::copy(out, run); }
    // A url that is not bare goes in single quotes; the inside of a quoted
    // word is copied whole when quoting adds nothing to it.
    void quoted(const Piece& piece, Place place) {
        std::size_t quoting = added(piece, place);
        const bool quoted_url = place == Place::url && quoting != 0;
        if (quoted_url) {
            *out++ = '\'';
            quoting -= 2;
        }
        if (quoting == 0)
            raw(piece.text);
        else if (place == Place::double_quoted)
            out = shell::put_in_double_quotes(out, piece.text);
        else
            out = shell::put_in_single_quotes(out, piece.text);
        if (quoted_url) *out++ = '\'';
    }
};

// Why a text cannot stand in a command line, if it cannot.
template <const text::ByteSet& Unpassable>
std::optional<Refusal::Reason> unpassable(std::string_view text) noexcept {
    const char* end = text.data() + text.size();
    const char* at = text::find_in<Unpassable>(text.data(), end);
    if (at == end) return std::nullopt;
    return *at == '\0' ? Refusal::nul : Refusal::line_break;
}

}  // namespace

std::optional<Refusal> refusal(const Request& record) noexcept {
    if (auto why = unpassable<text::unpassable>(record.url())) return Refusal{Refusal::url, *why};
    for (std::size_t i = 0; i < record.header_count(); ++i) {
        const std::string_view name = record.header_name(i);
        if (name.starts_with(file_marker)) return Refusal{Refusal::header_name, Refusal::file, i};
        if (auto why = unpassable<text::unpassable_in_header>(name))
            return Refusal{Refusal::header_name, *why, i};
        if (auto why = unpassable<text::unpassable_in_header>(record.header_value(i)))
            return Refusal{Refusal::header_value, *why, i};
    }
    if (auto why = unpassable<text::unpassable>(record.body())) return Refusal{Refusal::body, *why};
    return std::nullopt;
}

text::TextSize measure(const Request& record) {
    const Known request(record);
    Measure sink;
    walk(request, sink);
    return {sink.bytes, request.ascii()};
}

char* write(const Request& record, char* out) {
    Write sink{out};
    walk(Known(record), sink);
    assert(static_cast<std::size_t>(sink.out - out) == measure(record).bytes);
    return sink.out;
}

}  // namespace pemrik::curl
