// The core alone, built with SSE2 and with PEMRIK_NO_SIMD: the kernels against the rule tables for
// every byte at every position of 0..64-byte texts, what they write read back as JSON and a POSIX
// shell read it, and renderers writing, in every code unit width, exactly the length they measured.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "collection/core/document.hpp"
#include "request/core/curl.hpp"

using namespace pemrik;
using Read = std::optional<std::string>;
int failures = 0;  // a failed CHECK prints; the exit status says whether any did
#define CHECK(cond) \
    if (!(cond) && failures++ < 20) std::fprintf(stderr, "line %d: %s\n", __LINE__, #cond)

// Writes in code units Char followed by guard units; the code points.
template <class Char, class Renderer>
std::u32string rendered(const Renderer& r) {
    std::vector<Char> out(r.size().length + 4, Char(0xA5));
    const Char* end = r.write(out.data());
    CHECK(end + 4 == out.data() + out.size() && std::count(end, end + 4, Char(0xA5)) == 4);
    return std::u32string(out.data(), out.data() + r.size().length);
}

// A record of text s in every field: its command line and document, in every width.
void check_record(const std::string& s) {
    const HeaderView header{s, s};
    const std::vector<Request> one{Request("//h/" + s, std::span(&header, 1), Method::PUT, s)};
    auto widths = [](const auto& r) {
        const std::u32string wide = rendered<std::uint32_t>(r);
        CHECK(r.size().top >= 0xF0 || rendered<std::uint16_t>(r) == wide);
        CHECK(r.size().top >= 0xC4 || rendered<std::uint8_t>(r) == wide);
    };
    if (const curl::CommandLine line(one[0]); !line.refusal()) widths(line);
    widths(document::Document(&one));
}

// How a JSON parser reads the inside of "...", and a POSIX shell a word, for ASCII texts:
// nothing where either would fail or stop, or the shell expand something.
Read json_read(std::string_view s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto at =
            s[i] != '\\' ? 8 : std::string_view("\"\\bfnrtu").find_first_of(s.substr(++i, 1));
        if (at == s.npos || (at == 8 && (s[i] == '"' || s[i] < 0x20))) return std::nullopt;
        if (at == 7 && s.substr(i + 1, 2) != "00") return std::nullopt;
        out += at == 8  ? s[i]
               : at < 7 ? "\"\\\b\f\n\r\t"[at]
                        : char(std::stoi(std::string(s.substr(i + 3, 2)), nullptr, 16));
        if (at == 7) i += 4;
    }
    return out;
}
Read shell_read(std::string_view w) {
    std::string out;
    char quote = 0;  // the quote open, if any
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (quote != '\'' && (w[i] == '$' || w[i] == '`')) return std::nullopt;
        const bool toggles = quote ? w[i] == quote : w[i] == '\'' || w[i] == '"';
        const bool escapes =
            w[i] == '\\' && (!quote || (quote == '"' && w.find_first_of("$`\"\\", i + 1) == i + 1));
        if (toggles) quote = quote ? 0 : w[i];
        if (!toggles) out += w.at(i += escapes);
    }
    return quote ? std::nullopt : Read(out);
}

// Text s measured in syntax S against its table; if ASCII and carried, written and read back.
template <class S>
void check_syntax(std::string_view s, Read (*read)(std::string_view), const char* quote) {
    text::Measured want;
    for (unsigned char c : s) {
        want.added += S::escaped[c] * S::added + S::longer[c] * S::added_longer;
        want.refused |= S::refused[c];
        want.top = c >= 0x80 ? std::max(want.top, c) : want.top;
        want.continuations += text::continuation[c];
    }
    const text::Measured got = text::measure<S>(s);
    CHECK(got.added == want.added && got.refused == want.refused && got.top == want.top &&
          got.continuations == want.continuations);
    if (want.top || want.refused) return;
    std::string out(s.size() + want.added, '#');
    auto* begin = reinterpret_cast<std::uint8_t*>(out.data());
    CHECK(text::put<S>(begin, s, text::Seen::of(got)) == begin + out.size() &&
          read(quote + out + quote) == s);
}

// A text, followed by bytes the kernels may read but not count: every kernel, and a record.
void check_text(const std::string& text, bool record) {
    const std::string room = text + std::string("\"\xff\0\x01'\\\r$\303a\xf0\"`\n@\x80", 15);
    const std::string_view s(room.data(), text.size());
    check_syntax<text::JsonString>(s, json_read, "");
    check_syntax<text::HeaderWord>(s, shell_read, "\"");
    check_syntax<text::SingleQuoted>(s, shell_read, "'");
    const auto bare = std::ranges::all_of(s, [](unsigned char c) { return text::bare_url[c]; });
    CHECK(text::all_in<text::bare_url>(s) == bare);
    CHECK(text::find_in<text::HeaderWord::refused>(s.begin(), s.end()) ==
          std::ranges::find_if(s, [](unsigned char c) { return text::HeaderWord::refused[c]; }));
    if (record) check_record(text);
}

int main() {
    // Each byte at each position of texts of 1..64 bytes of another; some of none or many.
    for (char f : {'a', ' ', '\\', '\x01', '\xc3'})
        for (int b = 0; b < 256; ++b)
            for (std::size_t n = 0; n < 64; ++n)
                for (std::size_t at = 0; at <= n; ++at)
                    check_text(std::string(at, f) + char(b) + std::string(n - at, f),
                               f == 'a' && b < 128);
    for (std::size_t n : {0, 4095, 200003})
        for (char c : {'"', '\'', '$', '\x01', ' ', '\xff'}) check_text(std::string(n, c), false);
    // Characters of every UTF-8 length at every position, in every field.
    for (const char* c : {"\xc2\x80", "\xc3\xbf", "\xc4\x80", "\xef\xbf\xbf", "\xf0\x9f\x98\x80"})
        for (std::size_t n = 0; n <= 34; ++n)
            for (std::size_t at = 0; at <= n; ++at)
                check_record(std::string(at, 'x') + c + std::string(n - at, '"'));
    // The record's text count at its limit (2 + 2 * headers in 32 bits).
    CHECK(Request::texts_for(0x7FFFFFFE) == 0xFFFFFFFE);
    for (std::size_t headers : {std::size_t{0x7FFFFFFF}, std::size_t{1} << 31, ~std::size_t{0}})
        try {
            CHECK(!Request::texts_for(headers));
        } catch (const std::bad_alloc&) {}
    std::printf("core tests (%s): %d failed\n", PEMRIK_SIMD ? "SSE2" : "portable", failures);
    return failures != 0;
}
