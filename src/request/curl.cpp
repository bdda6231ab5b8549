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

std::string_view body_opening(const Text& body) {
    return !body.empty() && body.view().front() == '@' ? raw_body_start : body_start;
}

}  // namespace

TextSize measure(const Request& request) {
    TextSize size;
    size.add(command_start);
    size.add(name_of(request.method));
    size.add(1);
    const auto url = request.url.view();
    size.add(url);
    size.ascii = request.url.ascii();
    if (!is_bare(url)) size.add(2 + 3 * count(url, single_quote));
    for (const auto& h : request.headers) {
        size.add(header_start.size() + name_value_separator.size() + header_end.size());
        size.add(h.name.size() + count(h.name.view(), dq_escaped));
        size.add(h.value.size() + count(h.value.view(), dq_escaped));
        size.ascii &= h.name.ascii() && h.value.ascii();
    }
    if (request.body) {
        const auto& body = *request.body;
        size.add(body_opening(body).size() + single_quote_end.size());
        size.add(body.size() + 3 * count(body.view(), single_quote));
        size.ascii &= body.ascii();
    }
    return size;
}

char* write(const Request& request, char* out) {
    out = put(out, command_start);
    out = put(out, name_of(request.method));
    *out++ = ' ';
    const auto url = request.url.view();
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
    for (const auto& h : request.headers) {
        out = put(out, header_start);
        out = put_escaped(out, h.name.view(), dq_escaped, backslashed);
        out = put(out, name_value_separator);
        out = put_escaped(out, h.value.view(), dq_escaped, backslashed);
        out = put(out, header_end);
    }
    if (request.body) {
        out = put(out, body_opening(*request.body));
        out = put_in_single_quotes(out, request.body->view());
        out = put(out, single_quote_end);
    }
    return out;
}

}  // namespace pemrik::curl
