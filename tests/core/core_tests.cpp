// The core alone, built with SSE2 and with PEMRIK_NO_SIMD: scans and writers against the rule
// tables for every byte at every position of 0..64-byte texts (around the 8- and 16-byte blocks),
// renderers writing the size they measured, and worked examples exactly.
#include <algorithm>
#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "collection/core/document.hpp"
#include "collection/core/json_writer.hpp"
#include "request/core/curl.hpp"
#include "request/core/shell.hpp"

namespace {
using namespace pemrik;
int failures = 0;  // a failed CHECK prints; the exit status says whether any did
#define CHECK(cond, ...)                                                                       \
    if (!(cond) && ++failures <= 20)                                                           \
    std::fprintf(stderr, "line %d: %s: ", __LINE__, #cond), std::fprintf(stderr, __VA_ARGS__), \
        std::fputs("\n", stderr)

// Renders into a buffer with a guard byte after the measured size.
template <class T>
std::string rendered(text::TextSize (*measure)(T), char* (*write)(T, char*),
                     std::type_identity_t<T> x) {
    const text::TextSize size = measure(x);
    std::string out(size.bytes + 1, '#');
    const char* end = write(x, out.data());
    CHECK(end == out.data() + size.bytes && out.back() == '#' &&
              size.ascii ==
                  std::all_of(out.begin(), out.end() - 1, [](char c) { return !(c & 0x80); }),
          "measured %zu", size.bytes);
    out.pop_back();
    return out;
}

// On s, n bytes f with byte b at position at: the scans, the writers and, for filler 'a' or long
// texts, the curl line and the document texts of a record of s alone.
void check_text(unsigned char f, unsigned char b, std::size_t n, std::size_t at) {
    std::string s(n, char(f));
    if (n) s[at] = char(b);
    std::string want[3], out(n * 6 + 8, '\0');  // JSON, double quotes, single quotes
    for (unsigned char c : s) {
        const char e = text::json_escapes[c], hex[] = "0123456789abcdef", x = char(c);
        want[0] += !e         ? std::string(1, x)
                   : e == 'u' ? std::string{'\\', 'u', '0', '0', hex[c >> 4], hex[c & 15]}
                              : std::string{'\\', e};
        want[1] += text::double_quoted_escaped[c] ? std::string{'\\', x} : std::string(1, x);
        want[2] +=
            text::single_quoted_escaped[c] ? text::quote_in_single_quotes : std::string(1, x);
    }
    const auto written = [&](char* end) { return out.substr(0, end - out.data()); };
    const text::Facts got = text::facts_of(s), unasked = text::facts_of(s, false);
    const bool bare =
        std::all_of(s.begin(), s.end(), [](char c) { return text::bare_url[c & 255]; });
    bool ok = got.json_added == want[0].size() - n && got.double_quoted == want[1].size() - n &&
              got.single_quotes * text::single_quote_added == want[2].size() - n &&
              got.bare_url == bare && unasked.bare_url && unasked.json_added == got.json_added &&
              got.ascii == std::all_of(s.begin(), s.end(), [](char c) { return !(c & 0x80); }) &&
              written(json::write_escaped(s, out.data())) == want[0] &&
              written(shell::put_in_double_quotes(out.data(), s)) == want[1] &&
              written(shell::put_in_single_quotes(out.data(), s)) == want[2];
    for (unsigned d : {b ^ 0u, b ^ 1u, b ^ 0x80u, f ^ 0u})
        ok &= text::find_byte(s.data(), s.data() + n, (unsigned char)d) - s.data() ==
              std::ptrdiff_t(std::min(s.find(char(d)), n));
    CHECK(ok, "byte 0x%02x at %zu of %zu, filler 0x%02x", b, at, n, f);  // before any assertion
    if (f != 'a' && n <= 64) return;
    const HeaderView header{s, s};
    std::vector<Request> one;
    one.emplace_back("//h/" + s, std::span(&header, 1), Method::PUT, s);
    CHECK(rendered(&curl::measure, &curl::write, one[0]) ==
                  "curl -X PUT " + (bare ? "//h/" + s : "'//h/" + want[2] + "'") + " -H \"" + want[1] +
                      ": " + want[1] + "\"" + (s.starts_with('@') ? " --data-raw '" : " -d '") +
                      want[2] + "'" &&
              rendered(&document::measure, &document::write, &one)
                      .find(R"(","request":{"body":{"mode":"raw","raw":")" + want[0] +
                            R"("},"header":[{"key":")" + want[0] + R"(","value":")" + want[0] +
                            R"("}],"method":"PUT",)") != std::string::npos,
          "renderings of byte 0x%02x at %zu of %zu, filler 0x%02x", b, at, n, f);
}
}  // namespace

int main() {
    for (unsigned char f : {'a', ' ', '\\', '\x01', '\xc3'})
        for (unsigned b = 0; b < 256; ++b)
            for (std::size_t n = 0; n <= 64; ++n)
                for (std::size_t at = 0; at < std::max<std::size_t>(n, 1); ++at)
                    check_text(f, (unsigned char)b, n, at);
    // Counts past the 12 bits a note keeps, and past a round of the portable scan.
    for (std::size_t n : {4094, 4095, 4096, 200003})
        for (char c : {'"', '\'', '$', '\x01', ' ', '\xff'}) check_text(c, c, n, 0);
    // The record's text count at its limit (2 + 2 * headers in 32 bits).
    CHECK(Request::text_count(0) == 2 && Request::text_count(0x7FFFFFFE) == 0xFFFFFFFE, "count");
    for (std::size_t headers : {std::size_t{0x7FFFFFFF}, std::size_t{1} << 31, ~std::size_t{0}}) {
        bool refused = false;
        try {
            Request::text_count(headers);
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
             std::pair{rendered(&curl::measure, &curl::write, both[0]),
                       "curl -X GET 'a!b://x/p//'"},
             {rendered(&curl::measure, &curl::write, both[1]),
              R"(curl -X POST 'Z+.-9://x/a b'\''c' -H "A: 1" -H "B\$\`: \"\\\$x" -d 'it'\''s)"
              "\n'"},
             {rendered(&document::measure, &document::write, &both),
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
