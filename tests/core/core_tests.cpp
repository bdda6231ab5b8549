// The core alone, built with SSE2 and with PEMRIK_NO_SIMD: the kernels against the rule tables
// for every byte at every position of 0..64-byte texts (around the 16-byte blocks), renderers
// writing, in every code unit width, exactly the length they measured, and worked examples.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "collection/core/document.hpp"
#include "request/core/curl.hpp"

namespace {
using namespace pemrik;
int failures = 0;  // a failed CHECK prints; the exit status says whether any did
#define CHECK(cond, ...)                                                                       \
    if (!(cond) && ++failures <= 20)                                                           \
    std::fprintf(stderr, "line %d: %s: ", __LINE__, #cond), std::fprintf(stderr, __VA_ARGS__), \
        std::fputs("\n", stderr)

// Renders into code units of type Char followed by guard units; the code points as UTF-32.
template <class Char, class Renderer>
std::u32string rendered(const Renderer& r) {
    const text::Size size = r.size();
    std::vector<Char> out(size.length + 4, Char(0xA5));
    const Char* end = r.write(out.data());
    CHECK(end == out.data() + size.length &&
              std::all_of(out.end() - 4, out.end(), [](Char c) { return c == Char(0xA5); }),
          "wrote %td of %zu units", end - out.data(), size.length);
    return std::u32string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(size.length));
}

// In every width the output fits, the same code points; as UTF-8 when they are ASCII.
template <class Renderer>
std::string checked(const Renderer& r) {
    const unsigned char top = r.size().top;
    const std::u32string wide = rendered<std::uint32_t>(r);
    if (top < 0xF0) CHECK(rendered<std::uint16_t>(r) == wide, "two-byte units differ");
    if (top < 0xC4) CHECK(rendered<std::uint8_t>(r) == wide, "one-byte units differ");
    return top ? std::string("(not ascii)") : std::string(wide.begin(), wide.end());
}

// What a syntax's table says of a text, byte by byte.
template <class S>
std::string escaped(const std::string& s, text::Measured& want) {
    std::string out;
    for (unsigned char c : s) {
        if (S::escaped[c]) {
            char buffer[8];
            const char* end = S::escape(buffer, c);
            out.append(buffer, std::size_t(end - buffer));
            want.added += std::size_t(end - buffer) - 1;
        } else {
            out += char(c);
        }
        want.refused |= S::refused[c];
        want.top = c >= 0x80 ? std::max(want.top, c) : want.top;
        want.continuations += text::continuation[c];
    }
    return out;
}

// A text as the kernels get them: followed by padding that they may read but must not count.
std::string padded(const std::string& s) {
    return s + std::string(
                   "\"\xff\0\x01'\\\r$\xc3"
                   "a\xf0\"`\n@\x80",
                   15);
}

template <class S>
void check_syntax(const std::string& text, const char* what) {
    text::Measured want;
    const std::string written = escaped<S>(text, want), room = padded(text);
    const std::string_view s = std::string_view(room).substr(0, text.size());
    const text::Measured got = text::measure<S>(s);
    CHECK(got.added == want.added && got.refused == want.refused && got.top == want.top &&
              got.continuations == want.continuations,
          "%s: measured %zu/%d/%d, table %zu/%d/%d", what, got.added, got.refused, got.top,
          want.added, want.refused, want.top);
    if (want.top) return;
    std::string out(written.size() + 8, '#');
    auto* begin = reinterpret_cast<std::uint8_t*>(out.data());
    out.resize(static_cast<std::size_t>(text::put<S>(begin, s, text::Seen::of(got)) - begin));
    CHECK(out == written, "%s: written differently", what);
}

template <const text::ByteSet& Set>
void check_set(const std::string& text) {
    auto in = [](char c) { return Set[static_cast<unsigned char>(c)]; };
    const std::string room = padded(text);
    const std::string_view s = std::string_view(room).substr(0, text.size());
    CHECK(text::all_in<Set>(s) == std::all_of(s.begin(), s.end(), in) &&
              text::count_in<Set>(s) == std::size_t(std::count_if(s.begin(), s.end(), in)) &&
              text::find_in<Set>(s.data(), s.data() + s.size()) ==
                  std::find_if(s.data(), s.data() + s.size(), in),
          "a set's kernels disagree with it on %zu bytes", s.size());
}

// n bytes f with byte b at position at: every kernel; the renderings of a record of the text.
void check_text(unsigned char f, unsigned char b, std::size_t n, std::size_t at) {
    std::string s(n, char(f));
    if (n) s[at] = char(b);
    check_syntax<text::JsonString>(s, "JSON");
    check_syntax<text::HeaderWord>(s, "header word");
    check_syntax<text::SingleQuoted>(s, "single quotes");
    check_set<text::bare_url>(s);
    check_set<text::continuation>(s);
    check_set<text::with_high<text::JsonString::escaped>>(s);
    if (f != 'a' || b >= 0x80) return;  // renderings of valid UTF-8 only
    const HeaderView header{s, s};
    std::vector<Request> one;
    one.emplace_back("//h/" + s, std::span(&header, 1), Method::PUT, s);
    const curl::CommandLine line(one[0]);
    if (!line.refusal()) checked(line);
    checked(document::Document(&one));
}

// Texts holding characters of every UTF-8 length at every position, in every field.
void check_wide(const std::string& c, std::size_t n, std::size_t at) {
    std::string s = std::string(at, 'x') + c + std::string(n - at, '"');
    const HeaderView header{s, s};
    std::vector<Request> one;
    one.emplace_back("//" + s + "/" + s, std::span(&header, 1), Method::GET, s);
    checked(curl::CommandLine(one[0]));
    checked(document::Document(&one));
}
}  // namespace

int main() {
    for (unsigned char f : {'a', ' ', '\\', '\x01', '\xc3'})
        for (unsigned b = 0; b < 256; ++b)
            for (std::size_t n = 0; n <= 64; ++n)
                for (std::size_t at = 0; at < std::max<std::size_t>(n, 1); ++at)
                    check_text(f, (unsigned char)b, n, at);
    for (std::size_t n : {4095, 200003})
        for (char c : {'"', '\'', '$', '\x01', ' ', '\xff'}) check_text(c, c, n, 0);
    for (const char* c : {"\xc2\x80", "\xc3\xbf", "\xc4\x80", "\xef\xbf\xbf", "\xf0\x9f\x98\x80"})
        for (std::size_t n = 0; n <= 34; ++n)
            for (std::size_t at = 0; at <= n; ++at) check_wide(c, n, at);
    // The record's text count at its limit (2 + 2 * headers in 32 bits).
    CHECK(Request::texts_for(0) == 2 && Request::texts_for(0x7FFFFFFE) == 0xFFFFFFFE, "count");
    for (std::size_t headers : {std::size_t{0x7FFFFFFF}, std::size_t{1} << 31, ~std::size_t{0}}) {
        bool refused = false;
        try {
            Request::texts_for(headers);
        } catch (const std::bad_alloc&) {
            refused = true;
        }
        CHECK(refused, "%zu headers taken", headers);
    }
    // Worked examples: two curl lines and their document.
    const HeaderView two[] = {{"A", "1"}, {"B$`", "\"\\$x"}};
    std::vector<Request> both;
    both.emplace_back("a!b://x/p//", std::span<HeaderView>(), Method::GET, std::nullopt);
    both.emplace_back("Z+.-9://x/a b'c", two, Method::POST, "it's\n");
    for (auto [got, want] : {
             std::pair{checked(curl::CommandLine(both[0])), "curl -X GET 'a!b://x/p//'"},
             {checked(curl::CommandLine(both[1])),
              R"(curl -X POST 'Z+.-9://x/a b'\''c' -H "A: 1" -H "B\$\`: \"\\\$x" -d 'it'\''s)"
              "\n'"},
             {checked(document::Document(&both)),
              R"({"info":{"name":"Pemrik Collection","schema":"https://schema.getpostman.com/json/)"
              R"(collection/v2.1.0/collection.json"},"item":[{"name":"a!b://x/p//","request":{)"
              R"("body":{"mode":"raw","raw":""},"header":[],"method":"GET","url":{"host":"a!b:",)"
              R"("path":["","x","p","",""],"protocol":"https","raw":"a!b://x/p//"}}},{"name":)"
              R"("Z+.-9://x/a b'c","request":{"body":{"mode":"raw","raw":"it's\n"},"header":[{)"
              R"("key":"A","value":"1"},{"key":"B$`","value":"\"\\$x"}],"method":"POST","url":{)"
              R"("host":"x","path":["a b'c"],"protocol":"Z+.-9","raw":"Z+.-9://x/a b'c"}}}]})"},
         })
        CHECK(got == want, "%s", got.c_str());
    std::printf("core tests (%s): %d failed\n", PEMRIK_SIMD ? "SSE2" : "portable", failures);
    return failures != 0;
}
