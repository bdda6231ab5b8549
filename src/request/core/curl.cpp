// curl command lines: fixed pieces around shell-quoted texts. The url is
// written bare when it may stand unquoted, else in single quotes; header
// texts stand in double quotes, the body in single quotes (rules in
// core/text.hpp). Measuring scans the url, the headers' texts together and
// the body, once each; writing copies whole what needs no escape.
#include "request/core/curl.hpp"

#include <cassert>
#include <string_view>

namespace pemrik::curl {
namespace {

constexpr std::string_view command_start = "curl -X ";
constexpr std::string_view url_start = " ";
constexpr std::string_view header_start = " -H \"";
constexpr std::string_view name_value_separator = ": ";
constexpr std::string_view header_end = "\"";
constexpr std::string_view body_start = " -d '";
// curl reads "-d @name" from the file name; --data-raw takes "@" literally.
// It also reads "-H @name" from a file, and has no form of -H that sends a
// header whose name begins with "@".
constexpr char file_marker = '@';
constexpr std::string_view raw_body_start = " --data-raw '";
constexpr std::string_view single_quote = "'";

// The first text of the headers that no command line carries, if any.
std::optional<Refusal> refused_header(const Request& r) {
    auto reason = [](std::string_view text) -> std::optional<Refusal::Reason> {
        const char* end = text.data() + text.size();
        const char* at = text::find_in<text::HeaderWord::refused>(text.data(), end);
        if (at == end) return std::nullopt;
        return *at == '\0' ? Refusal::nul : Refusal::line_break;
    };
    for (std::size_t i = 0; i < r.header_count(); ++i) {
        if (r.header_name(i).starts_with(file_marker))
            return Refusal{Refusal::header_name, Refusal::file, i};
        if (auto why = reason(r.header_name(i))) return Refusal{Refusal::header_name, *why, i};
        if (auto why = reason(r.header_value(i))) return Refusal{Refusal::header_value, *why, i};
    }
    return std::nullopt;
}

}  // namespace

CommandLine::CommandLine(const Request& r) noexcept : request_(r) {
    size_.add(command_start);
    size_.add(name_of(r.method()));
    size_.add(url_start);

    const std::string_view url = r.url();
    const char* url_end = url.data() + url.size();
    bare_url_ = !url.empty() && text::find_in<text::quoted_url>(url.data(), url_end) == url_end;
    if (bare_url_) {
        size_.add(url);
    } else {
        const text::Measured m = text::measure<text::SingleQuoted>(url);
        if (m.refused) {
            refusal_ = Refusal{Refusal::url, Refusal::nul};
            return;
        }
        size_.add(single_quote);
        size_.add(url.size(), m);
        size_.add(single_quote);
        url_ = text::Seen::of(m);
    }

    // Every header's texts at once; which one is refused, if any, is found
    // only then.
    const std::size_t headers = r.header_count();
    const text::Measured m = text::measure<text::HeaderWord>(r.headers());
    bool file = false;
    for (std::size_t i = 0; i < headers; ++i) file |= r.header_name(i).starts_with(file_marker);
    if (m.refused || file) [[unlikely]] {
        refusal_ = refused_header(r);
        return;
    }
    size_.length +=
        headers * (header_start.size() + name_value_separator.size() + header_end.size());
    size_.add(r.headers().size(), m);
    headers_ = text::Seen::of(m);

    if (r.has_body()) {
        const std::string_view body = r.body();
        const text::Measured b = text::measure<text::SingleQuoted>(body);
        if (b.refused) {
            refusal_ = Refusal{Refusal::body, Refusal::nul};
            return;
        }
        size_.add(body.starts_with(file_marker) ? raw_body_start : body_start);
        size_.add(body.size(), b);
        size_.add(single_quote);
        body_ = text::Seen::of(b);
    }
}

template <class Char>
Char* CommandLine::write(Char* out) const noexcept {
    assert(!refusal_);
    const Request& r = request_;
    Char* const start = out;
    out = text::put_ascii(out, command_start);
    out = text::put_ascii(out, name_of(r.method()));
    out = text::put_ascii(out, url_start);
    if (bare_url_) {
        out = text::put_ascii(out, r.url());
    } else {
        out = text::put_ascii(out, single_quote);
        out = text::put<text::SingleQuoted>(out, r.url(), url_);
        out = text::put_ascii(out, single_quote);
    }
    for (std::size_t i = 0; i < r.header_count(); ++i) {
        out = text::put_ascii(out, header_start);
        out = text::put<text::HeaderWord>(out, r.header_name(i), headers_);
        out = text::put_ascii(out, name_value_separator);
        out = text::put<text::HeaderWord>(out, r.header_value(i), headers_);
        out = text::put_ascii(out, header_end);
    }
    if (r.has_body()) {
        out = text::put_ascii(out, r.body().starts_with(file_marker) ? raw_body_start : body_start);
        out = text::put<text::SingleQuoted>(out, r.body(), body_);
        out = text::put_ascii(out, single_quote);
    }
    assert(static_cast<std::size_t>(out - start) == size_.length);  // measured == written
    (void)start;
    return out;
}

template std::uint8_t* CommandLine::write(std::uint8_t*) const noexcept;
template std::uint16_t* CommandLine::write(std::uint16_t*) const noexcept;
template std::uint32_t* CommandLine::write(std::uint32_t*) const noexcept;

}  // namespace pemrik::curl
