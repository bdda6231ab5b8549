// curl command lines: fixed pieces around shell-quoted texts. One walk over
// the request feeds a measuring sink and a writing one: the url is written
// bare when it may stand unquoted, else in single quotes; header texts stand
// in double quotes, the body in single quotes (rules in core/text.hpp).
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

}  // namespace

template <class Sink>
void CommandLine::walk(Sink& sink) const {
    const Request& r = request_;
    sink.raw(command_start);
    sink.raw(name_of(r.method()));
    sink.raw(url_start);
    sink.url(r.url());
    for (std::size_t i = 0; i < r.header_count(); ++i) {
        sink.raw(header_start);
        sink.template text<text::HeaderWord>(r.header_name(i), Refusal::header_name, i);
        sink.raw(name_value_separator);
        sink.template text<text::HeaderWord>(r.header_value(i), Refusal::header_value, i);
        sink.raw(header_end);
    }
    if (r.has_body()) {
        sink.raw(r.body().starts_with(file_marker) ? raw_body_start : body_start);
        sink.template text<text::SingleQuoted>(r.body(), Refusal::body, 0);
        sink.raw(single_quote);
    }
}

// Sizes the line, notes what each text needs, and stops at a refusal.
struct CommandLine::Measure {
    CommandLine& line;
    std::size_t next = 0;  // the text being measured

    void raw(std::string_view fixed) { line.size_.add(fixed); }
    void url(std::string_view url) {
        line.bare_url_ = !url.empty() && text::all_in<text::bare_url>(url);
        if (line.bare_url_) {
            line.size_.add(url);
            ++next;
        } else {
            raw(single_quote);
            text<text::SingleQuoted>(url, Refusal::url, 0);
            raw(single_quote);
        }
    }
    template <class Syntax>
    void text(std::string_view text, Refusal::Field field, std::size_t header) {
        if (line.refusal_) return;
        if (field == Refusal::header_name && text.starts_with(file_marker))
            return refuse({field, Refusal::file, header});
        const text::Measured m = text::measure<Syntax>(text);
        if (m.refused) [[unlikely]] {
            const char* end = text.data() + text.size();
            const bool nul = text::find_in<text::unpassable>(text.data(), end) != end;
            return refuse({field, nul ? Refusal::nul : Refusal::line_break, header});
        }
        line.size_.add(text.size(), m);
        line.seen_[next++] = text::Seen::of(m);
    }
    void refuse(Refusal refusal) { line.refusal_ = refusal; }
};

template <class Char>
struct CommandLine::Write {
    const CommandLine& line;
    Char* out;
    std::size_t next = 0;  // the text being written

    void raw(std::string_view fixed) { out = text::put_ascii(out, fixed); }
    void url(std::string_view url) {
        if (line.bare_url_) {
            raw(url);
            ++next;
        } else {
            raw(single_quote);
            text<text::SingleQuoted>(url, Refusal::url, 0);
            raw(single_quote);
        }
    }
    template <class Syntax>
    void text(std::string_view text, Refusal::Field, std::size_t) {
        out = text::put<Syntax>(out, text, line.seen_[next++]);
    }
};

CommandLine::CommandLine(const Request& request)
    : request_(request), seen_(seen_in_place_.data()) {
    const std::size_t texts = 2 + 2 * request.header_count();
    if (texts > seen_in_place_.size()) {
        seen_on_heap_ = std::make_unique<text::Seen[]>(texts);
        seen_ = seen_on_heap_.get();
    }
    Measure sink{*this};
    walk(sink);
}

template <class Char>
Char* CommandLine::write_as(Char* out) const noexcept {
    assert(!refusal_);
    Write<Char> sink{*this, out};
    walk(sink);
    assert(static_cast<std::size_t>(sink.out - out) == size_.length);
    return sink.out;
}
std::uint8_t* CommandLine::write(std::uint8_t* out) const noexcept { return write_as(out); }
std::uint16_t* CommandLine::write(std::uint16_t* out) const noexcept { return write_as(out); }
std::uint32_t* CommandLine::write(std::uint32_t* out) const noexcept { return write_as(out); }

}  // namespace pemrik::curl
