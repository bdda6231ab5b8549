// Fuzz target for the Python-free core. The input is up to four requests separated by 0xFF: a
// control byte (the low four bits, modulo the number of methods, pick the method; with bit 0x10
// the last text after the url is the body), then texts separated by 0xFE: the url, then header
// names and values in turn. Each command line not refused, and the document of the list (when
// every url has a host), of no list and of an empty one, is written in every code unit width it
// allows: exactly as long as measured, guard units after it untouched, the same code points in
// every width, the str width its top byte gives, and the same for copies of the requests.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ranges>
#include <string>
#include <vector>

#include "collection/core/document.hpp"
#include "request/core/curl.hpp"

namespace {
using namespace pemrik;

void check(bool ok, const char* what) {
    if (!ok) std::puts(what), std::abort();
}

// Writes in code units Char, followed by guard units that must stay as they are.
template <class Char, class Renderer>
std::u32string written(const Renderer& r) {
    const std::size_t n = r.size().length;
    std::vector<Char> out(n + 16, Char(0xA5));
    const bool exact = r.write(out.data()) == out.data() + n;
    check(exact && std::all_of(out.begin() + n, out.end(), [](Char c) { return c == Char(0xA5); }),
          "wrote other than the length it measured");
    return std::u32string(out.data(), out.data() + n);
}

template <class Renderer>
std::u32string rendered(const Renderer& r) {
    const unsigned char top = r.size().top;
    const std::u32string wide = written<std::uint32_t>(r);
    check(top >= 0xF0 || written<std::uint16_t>(r) == wide, "two-byte units differ");
    check(top >= 0xC4 || written<std::uint8_t>(r) == wide, "one-byte units differ");
    const char32_t most = std::ranges::max(wide);                  // no output is empty
    constexpr char32_t widths[] = {0x7F, 0xFF, 0xFFFF, 0x10FFFF};  // what each str width holds
    check(*std::ranges::lower_bound(widths, most) == text::max_code_point(top), "another width");
    return wide;
}

// Any bytes as UTF-8: each well-formed character kept, each other byte b as U+00bb.
std::string utf8(std::string_view in) {
    std::string out;
    for (std::size_t n; !in.empty(); in.remove_prefix(n)) {
        const auto b = static_cast<unsigned char>(in[0]);
        const int ones = std::countl_one(b);
        n = ones == 0 ? 1 : ones >= 2 && ones <= 4 ? ones : 0;
        char32_t c = b & (0x7F >> ones);
        for (std::size_t k = 1; k < n; ++k)
            c = c << 6 | (k < in.size() && (in[k] & 0xC0) == 0x80 ? in[k] & 0x3F : 0x110000);
        constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        if (n && c >= least[n] && c <= 0x10FFFF && (c < 0xD800 || c > 0xDFFF))
            out += in.substr(0, n);
        else
            out += {char(0xC0 | b >> 6), char(0x80 | (b & 0x3F))}, n = 1;
    }
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<Request> requests;
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    for (auto chunk : std::views::split(input, '\xFF') | std::views::take(4)) {
        const unsigned control = chunk.empty() ? 0 : static_cast<unsigned char>(chunk.front());
        std::vector<std::string> texts;
        for (auto text : std::views::split(chunk | std::views::drop(1), '\xFE'))
            texts.push_back(utf8({text.begin(), text.end()}));
        std::optional<std::string> body;  // the last text after the url
        if (control & 0x10 && texts.size() > 1) body = std::move(texts.back()), texts.pop_back();
        texts.resize(texts.size() | 1);  // the url, then names and values in pairs
        std::vector<HeaderView> headers;
        for (std::size_t k = 1; k < texts.size(); k += 2)
            headers.push_back({texts[k], texts[k + 1]});
        requests.emplace_back(texts[0], headers, Method((control & 0x0F) % method_count),
                              body ? std::optional<std::string_view>(*body) : std::nullopt);
    }
    const std::vector<Request> copies = requests;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const curl::CommandLine line(requests[i]), copied(copies[i]);
        check(!line.refusal() == !copied.refusal(), "a copy refused otherwise");
        if (!line.refusal()) check(rendered(line) == rendered(copied), "a copy's line differs");
    }
    const document::Document all(&requests), copied(&copies);
    check(all.without_host() == copied.without_host(), "a copy's urls cut otherwise");
    if (!all.without_host()) check(rendered(all) == rendered(copied), "a copy's document differs");
    requests.clear();
    rendered(document::Document(&requests));
    rendered(document::Document(nullptr));
    return 0;
}
