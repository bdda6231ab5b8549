// The core, SSE2 and portable: kernels against the rule tables, what they write read back.
#include <wordexp.h>

#include <cstdio>
#include <string>
#include <vector>

#include "request/core/curl.hpp"

using namespace pemrik;
int failed = 0;  // a failed CHECK prints; the exit status says whether any did
#define CHECK(c) (void)((c) || failed++ >= 20 || std::printf("line %d: %s\n", __LINE__, #c))

// How a POSIX shell reads a word (after an x, as wordexp splits a word opening with '').
std::optional<std::string> shell_read(const std::string& word) {
    wordexp_t w;
    if (wordexp(("x" + word).c_str(), &w, WRDE_NOCMD | WRDE_UNDEF)) return std::nullopt;
    const auto out = w.we_wordc == 1 ? std::optional<std::string>(w.we_wordv[0] + 1) : std::nullopt;
    wordfree(&w);
    return out;
}

// A text, followed by bytes the kernels may read but not count, through every kernel.
void check_text(const std::string& text) {
    const std::string room = text + std::string("\"\xff\0\x01'\\\r$\303a\xf0\"`\n@\x80", 15);
    const std::string_view s(room.data(), text.size());
    auto syntax = [&]<class S>(S, decltype(&shell_read) read, const char* quote) {
        text::Measured want;
        for (unsigned char c : s) {
            want.added += S::escaped[c] * S::added + S::longer[c] * S::added_longer;
            want.refused |= S::refused[c], want.continuations += text::continuation[c];
            want.top = std::max(want.top, c >= 0x80 ? c : want.top);
        }
        const text::Measured got = text::measure<S>(s);
        CHECK(got.added == want.added && got.refused == want.refused && got.top == want.top &&
              got.continuations == want.continuations);
        std::vector<std::uint8_t> out(s.size() + want.added);  // in the units the module writes
        CHECK(want.top || want.refused ||
              (text::put<S>(out.data(), s, text::Seen::of(got)) == out.data() + out.size() &&
               (!read || read(std::string(quote).append(out.begin(), out.end()) + quote) == s)));
    };
    syntax(text::JsonString{}, nullptr, "");  // JSON read back: the texts' tests
    syntax(text::HeaderWord{}, shell_read, "\"");
    syntax(text::SingleQuoted{}, shell_read, "'");
    CHECK(text::find_in<text::quoted_url>(s.begin(), s.end()) ==
          std::ranges::find_if(s, [](unsigned char c) { return !text::bare_url[c]; }));
    CHECK(text::find_in<text::HeaderWord::refused>(s.begin(), s.end()) ==
          std::ranges::find_if(s, [](unsigned char c) { return text::HeaderWord::refused[c]; }));
}

int main() {
    for (char f : {'a', '\\', '\x01', '\xc3'})  // each byte at each position (at) of n more bytes f
        for (int b = 0; b < 256; ++b)
            for (std::size_t n = 0, at = 0; n <= 40; at = at < n ? at + 1 : 0, n += !at)
                check_text(std::string(n, f).insert(at, 1, char(b)));
    for (std::size_t n : {0, 4095, 200003})
        for (char c : {'"', '\'', '$', '\x01', ' ', '\xff'}) check_text(std::string(n, c));
    for (const char* c : {"\xc2\x80", "\xc3\xbf", "\xc4\x80", "\xef\xbf\xbf", "\xf0\x9f\x98\x80"})
        for (std::size_t n = 0, at = 0; n <= 34; at = at < n ? at + 1 : 0, n += !at)
            check_text(std::string(at, 'x') + c + std::string(n - at, '"'));
    CHECK(Request::texts_for(0x7FFFFFFE) == 0xFFFFFFFE);  // 2 + 2 * headers in 32 bits, none past
    for (std::size_t headers : {std::size_t{0x7FFFFFFF}, std::size_t{1} << 31, ~std::size_t{0}})
        try {
            CHECK(!Request::texts_for(headers));
        } catch (const std::bad_alloc&) {}
    std::printf("core tests (%s): %d failed\n", PEMRIK_SIMD ? "SSE2" : "portable", failed);
    return failed != 0;
}
