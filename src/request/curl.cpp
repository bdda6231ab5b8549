// curl command lines: fixed pieces around shell-quoted fields.
//
//   curl -X METHOD URL [-H "NAME: VALUE"]... [-d 'BODY' | --data-raw 'BODY']
//
// The url is written bare when every byte is safe unquoted, else in single
// quotes; header texts sit in double quotes with \ " $ ` escaped by a
// backslash; the body sits in single quotes. A single quote inside single
// quotes is written as '\'' (close, escaped quote, reopen).
#include "request/curl.hpp"

#include <array>
#include <cstring>
#include <string_view>

namespace pemrik::curl {
namespace {

enum : unsigned char {
    bare = 1,         // may stand unquoted in a url word
    dq_escaped = 2,   // needs a backslash inside double quotes
    single_quote = 4, // the single quote itself
};

constexpr std::array<unsigned char, 256> make_shell_table() {
    std::array<unsigned char, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] |= bare;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] |= bare;
    for (int c = '0'; c <= '9'; ++c) table[c] |= bare;
    for (unsigned char c : std::string_view("@%+=:,./-_")) table[c] |= bare;
    for (unsigned char c : std::string_view("\\\"$`")) table[c] |= dq_escaped;
    table['\''] |= single_quote;
    return table;
}
constexpr std::array<unsigned char, 256> shell = make_shell_table();

constexpr std::string_view command_start = "curl -X ";
constexpr std::string_view header_start = " -H \"";
constexpr std::string_view name_value_separator = ": ";
constexpr std::string_view header_end = "\"";
constexpr std::string_view body_start = " -d '";
// curl reads "-d @name" from the file name; --data-raw takes "@" literally.
constexpr std::string_view raw_body_start = " --data-raw '";
constexpr std::string_view single_quote_end = "'";
constexpr std::string_view quote_in_single_quotes = "'\\''";

std::size_t count(std::string_view text, unsigned char kind) {
    std::size_t n = 0;
    for (unsigned char c : text) n += (shell[c] & kind) != 0;
    return n;
}

bool is_bare(std::string_view url) {
    for (unsigned char c : url)
        if (!(shell[c] & bare)) return false;
    return true;
}

char* put(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// Copies text, writing each byte of the given kind through escape().
template <class Escape>
char* put_escaped(char* out, std::string_view text, unsigned char kind, Escape escape) {
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; p < end; ++p) {
        if (!(shell[static_cast<unsigned char>(*p)] & kind)) continue;
        out = put(out, std::string_view(run, static_cast<std::size_t>(p - run)));
        out = escape(out, *p);
        run = p + 1;
    }
    return put(out, std::string_view(run, static_cast<std::size_t>(end - run)));
}

char* put_in_single_quotes(char* out, std::string_view text) {
    return put_escaped(out, text, single_quote,
                       [](char* o, char) { return put(o, quote_in_single_quotes); });
}

std::string_view body_opening(std::string_view body) {
    return !body.empty() && body.front() == '@' ? raw_body_start : body_start;
}

}  // namespace

TextSize measure(const Request& request) {
    std::size_t bytes = command_start.size() + name_of(request.method()).size() + 1;
    const auto url = request.url().text;
    bytes += url.size();
    if (!is_bare(url)) bytes += 2 + 3 * count(url, single_quote);
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        const auto name = request.header_name(i).text;
        const auto value = request.header_value(i).text;
        bytes += header_start.size() + name_value_separator.size() + header_end.size();
        bytes += name.size() + count(name, dq_escaped) + value.size() + count(value, dq_escaped);
    }
    if (request.has_body()) {
        const auto body = request.body().text;
        bytes += body_opening(body).size() + single_quote_end.size();
        bytes += body.size() + 3 * count(body, single_quote);
    }
    return {bytes, request.ascii()};
}

char* write(const Request& request, char* out) {
    out = put(out, command_start);
    out = put(out, name_of(request.method()));
    *out++ = ' ';
    const auto url = request.url().text;
    if (is_bare(url)) {
        out = put(out, url);
    } else {
        *out++ = '\'';
        out = put_in_single_quotes(out, url);
        *out++ = '\'';
    }
    auto backslashed = [](char* o, char c) {
        *o++ = '\\';
        *o++ = c;
        return o;
    };
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        out = put(out, header_start);
        out = put_escaped(out, request.header_name(i).text, dq_escaped, backslashed);
        out = put(out, name_value_separator);
        out = put_escaped(out, request.header_value(i).text, dq_escaped, backslashed);
        out = put(out, header_end);
    }
    if (request.has_body()) {
        const auto body = request.body().text;
        out = put(out, body_opening(body));
        out = put_in_single_quotes(out, body);
        out = put(out, single_quote_end);
    }
    return out;
}

}  // namespace pemrik::curl
