// Tests of the core, built twice by CMake (with SIMD and with PEMRIK_NO_SIMD)
// and run by ctest from the test command. Every kernel is held against the
// table of its rule over all 256 byte values and over texts of length 0..64
// with a special byte at every position; both renderers must write exactly
// the bytes they measured.
//
// A failed CHECK prints where and what, and the run goes on; the exit status
// counts the failures. No framework: the core builds without anything but
// the compiler, and so do its tests.
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "collection/core/document.hpp"
#include "collection/core/json_writer.hpp"
#include "core/text.hpp"
#include "request/core/curl.hpp"
#include "request/core/known.hpp"
#include "request/core/record.hpp"
#include "request/core/shell.hpp"
#include "request/core/url.hpp"

namespace {

int failures = 0;

#define CHECK(cond, ...)                                                             \
    do {                                                                             \
        if (!(cond)) {                                                               \
            if (++failures <= 20) {                                                  \
                std::printf("%s:%d: CHECK(%s) failed: ", __FILE__, __LINE__, #cond); \
                std::printf(__VA_ARGS__);                                            \
                std::printf("\n");                                                   \
            }                                                                        \
        }                                                                            \
    } while (0)

using namespace pemrik;
using text::ByteSet;

constexpr ByteSet not_bare_url = text::set_where([](unsigned c) { return !text::bare_url[c]; });

constexpr std::size_t longest = 64;

// Calls check(text, position) for every text of length 0..64 made of filler
// with the byte b at one position, for every b and every position.
template <class Check>
void sweep(unsigned char filler, Check check) {
    for (unsigned b = 0; b < 256; ++b)
        for (std::size_t n = 0; n <= longest; ++n)
            for (std::size_t at = 0; at < (n ? n : 1); ++at) {
                std::string s(n, static_cast<char>(filler));
                if (n) s[at] = static_cast<char>(b);
                check(s, static_cast<unsigned char>(b), n ? at : 0);
            }
}

unsigned char outside(const ByteSet& set) {
    for (unsigned c = 0; c < 256; ++c)
        if (!set[c]) return static_cast<unsigned char>(c);
    return 0;
}

// ---- The kernels against their tables ----

template <const ByteSet& Set>
void test_find_in(const char* name) {
    sweep(outside(Set), [&](const std::string& s, unsigned char b, std::size_t at) {
        const std::size_t expected = !s.empty() && Set[b] ? at : s.size();
        const std::size_t found = text::find_in<Set>(s.data(), s.data() + s.size()) - s.data();
        CHECK(found == expected, "find_in<%s> byte 0x%02x at %zu of %zu: %zu", name, b, at,
              s.size(), found);
    });
}

void test_find_byte() {
    std::mt19937 random(1);
    for (unsigned c = 0; c < 256; ++c)
        for (std::size_t n = 0; n <= longest; ++n)
            for (std::size_t at = 0; at <= n; ++at) {  // at == n: c absent
                std::string s(n, 0);
                for (char& x : s) x = static_cast<char>(c + 1 + random() % 255);  // any byte but c
                if (at < n) s[at] = static_cast<char>(c);
                const std::size_t found =
                    text::find_byte(s.data(), s.data() + n, static_cast<unsigned char>(c)) -
                    s.data();
                CHECK(found == at, "find_byte 0x%02x at %zu of %zu: %zu", c, at, n, found);
            }
}

// The facts of a text counted byte by byte from the tables.
text::Facts facts_by_table(std::string_view s) {
    text::Facts f;
    for (unsigned char c : s) {
        f.json_added += text::json_added(c);
        f.double_quoted += text::double_quoted_escaped[c];
        f.single_quotes += text::single_quoted_escaped[c];
        f.bare_url &= text::bare_url[c];
        f.ascii &= c < 0x80;
    }
    return f;
}

bool same(const text::Facts& a, const text::Facts& b) {
    return a.json_added == b.json_added && a.double_quoted == b.double_quoted &&
           a.single_quotes == b.single_quotes && a.bare_url == b.bare_url && a.ascii == b.ascii;
}

void test_facts() {
    for (unsigned char filler :
         {text::plain_byte, static_cast<unsigned char>('"'), static_cast<unsigned char>(0x01),
          static_cast<unsigned char>(0xC3), static_cast<unsigned char>(' ')})
        sweep(filler, [&](const std::string& s, unsigned char b, std::size_t at) {
            const text::Facts expected = facts_by_table(s);
            const text::Facts found = text::facts_of(s);
            CHECK(same(found, expected), "facts_of: filler 0x%02x, byte 0x%02x at %zu of %zu",
                  filler, b, at, s.size());
            CHECK(text::facts_of(s, false).bare_url, "bare_url found unasked");
            CHECK(text::facts_of(s, false).json_added == expected.json_added,
                  "facts_of without bare_url");
        });
}

// Counts far past what a packed counter of the portable scan holds per round.
void test_facts_saturation() {
    for (unsigned char c : std::string_view("\x01\"'$\xff")) {
        const std::string s(200'003, static_cast<char>(c));
        CHECK(same(text::facts_of(s), facts_by_table(s)), "facts_of of 200003 bytes 0x%02x", c);
    }
}

std::string json_by_table(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        const char e = text::json_escapes[c];
        if (e == 0) {
            out += static_cast<char>(c);
        } else if (e == 'u') {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += '\\';
            out += e;
        }
    }
    return out;
}

std::string shell_by_table(std::string_view s, shell::Place place) {
    std::string out;
    for (unsigned char c : s) {
        if (place == shell::Place::double_quoted && text::double_quoted_escaped[c]) {
            out += '\\';
            out += static_cast<char>(c);
        } else if (place == shell::Place::single_quoted && text::single_quoted_escaped[c]) {
            out += text::quote_in_single_quotes;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The writers: written text as the table gives it, and the size facts_of predicts.
void test_writers() {
    for (unsigned char filler : {text::plain_byte, static_cast<unsigned char>('\\')})
        sweep(filler, [&](const std::string& s, unsigned char b, std::size_t at) {
            const text::Facts facts = text::facts_of(s);
            std::string out(s.size() * 6 + 8, '\0');

            const std::string escaped = json_by_table(s);
            std::size_t n = json::write_escaped(s, out.data()) - out.data();
            CHECK(out.substr(0, n) == escaped && n == s.size() + facts.json_added,
                  "write_escaped: byte 0x%02x at %zu of %zu", b, at, s.size());

            const std::string dq = shell_by_table(s, shell::Place::double_quoted);
            n = shell::put_in_double_quotes(out.data(), s) - out.data();
            CHECK(out.substr(0, n) == dq &&
                      n == s.size() + shell::added_bytes(shell::Place::double_quoted, facts),
                  "put_in_double_quotes: byte 0x%02x at %zu of %zu", b, at, s.size());

            const std::string sq = shell_by_table(s, shell::Place::single_quoted);
            n = shell::put_in_single_quotes(out.data(), s) - out.data();
            CHECK(out.substr(0, n) == sq &&
                      n == s.size() + shell::added_bytes(shell::Place::single_quoted, facts),
                  "put_in_single_quotes: byte 0x%02x at %zu of %zu", b, at, s.size());
        });
}

// ---- Url cutting ----

void test_url_cut() {
    struct Row {
        std::string_view url;
        bool cuttable;
        std::string_view host, path;
        std::size_t pieces;
        std::string_view protocol;
    };
    const Row rows[] = {
        {"", false, "", "", 0, "https"},
        {"example.com", false, "", "", 0, "https"},
        {"a/b", false, "", "", 0, "https"},
        {"//", true, "", "", 0, "https"},
        {"///", true, "", "", 1, "https"},
        {"http://h", true, "h", "", 0, "http"},
        {"http://h/", true, "h", "", 1, "http"},
        {"https://api.example.com:8443/v1/items/3?x=1", true, "api.example.com:8443",
         "v1/items/3?x=1", 3, "https"},
        {"HTTP+x-y.z://h/a//b", true, "h", "a//b", 3, "HTTP+x-y.z"},
        {"1http://h/p", true, "h", "p", 1, "https"},  // a scheme starts with a letter
        {"http:/x/h/p", true, "h", "p", 1, "https"},  // no "://"
        {"//h/p/q/", true, "h", "p/q/", 3, "https"},
        {"a b//c d/e\"f", true, "c d", "e\"f", 1, "https"},
    };
    for (const Row& row : rows) {
        const UrlCut cut = cut_url(row.url);
        CHECK(cut.cuttable == row.cuttable, "cuttable of %.*s", int(row.url.size()),
              row.url.data());
        if (!row.cuttable) continue;
        CHECK(cut.host(row.url) == row.host && cut.path(row.url) == row.path &&
                  cut.path_pieces == row.pieces && cut.protocol(row.url) == row.protocol,
              "cut of %.*s", int(row.url.size()), row.url.data());
        // The record keeps the cut in its notes; a copy keeps them too.
        const Request record(row.url, {}, Method::GET, std::nullopt);
        const Request copy(record);
        for (const Request* r : {&record, &copy, &record}) {
            const UrlCut kept = Known(*r).url_cut();
            CHECK(kept.cuttable && kept.host_begin == cut.host_begin &&
                      kept.host_end == cut.host_end && kept.path_pieces == cut.path_pieces &&
                      kept.scheme_size == cut.scheme_size,
                  "kept cut of %.*s", int(row.url.size()), row.url.data());
        }
    }
}

// ---- Renderers: measured size == written bytes ----

class RandomRecords {
public:
    explicit RandomRecords(unsigned seed) : random_(seed) {}

    std::string text(bool long_ok = true) {
        static constexpr std::string_view common = "aZ09@%+=:,./-_ \"\\$`'\n\t\x01\x1f\x7f";
        std::size_t n = random_() % 24;
        if (long_ok && random_() % 40 == 0) n = 4000 + random_() % 3000;  // past the 12-bit notes
        std::string s(n, 0);
        const bool one_byte = random_() % 4 == 0;  // a run of one byte: all special or none
        const char only = common[random_() % common.size()];
        for (char& c : s) {
            const unsigned r = random_() % 8;
            c = one_byte ? only
                : r < 6  ? common[random_() % common.size()]
                         : static_cast<char>(random_());
        }
        return s;
    }

    Request record(bool cuttable) {
        std::string url = text();
        if (cuttable) {
            const std::size_t at = random_() % (url.size() + 1);
            url = url.substr(0, at) + (random_() % 2 ? "https://" : "//") + url.substr(at);
        }
        std::vector<std::string> texts;
        const std::size_t headers = random_() % 4;
        for (std::size_t i = 0; i < 2 * headers; ++i) texts.push_back(text());
        std::vector<HeaderView> views;
        for (std::size_t i = 0; i < headers; ++i) views.push_back({texts[2 * i], texts[2 * i + 1]});
        std::string body = random_() % 3 ? text() : "";
        if (!body.empty() && random_() % 5 == 0) body[0] = '@';  // passed with --data-raw
        const bool has_body = random_() % 4 != 0;
        const auto method = static_cast<Method>(random_() % method_count);
        return Request(url, views, method,
                       has_body ? std::optional<std::string_view>(body) : std::nullopt);
    }

private:
    std::mt19937 random_;
};

bool all_ascii(std::string_view s) {
    for (unsigned char c : s)
        if (c >= 0x80) return false;
    return true;
}

// Renders into a buffer with a guard byte after the measured size.
template <class Measure, class Write>
void check_rendering(const char* what, int round, Measure measure, Write write) {
    const text::TextSize size = measure();
    std::string out(size.bytes + 1, '#');
    const char* end = write(out.data());
    CHECK(end == out.data() + size.bytes && out.back() == '#', "%s %d: measured %zu, wrote %td",
          what, round, size.bytes, end - out.data());
    CHECK(size.ascii == all_ascii(std::string_view(out.data(), size.bytes)), "%s %d: ascii flag",
          what, round);
}

void test_curl() {
    RandomRecords make(2);
    for (int round = 0; round < 3000; ++round) {
        const Request record = make.record(round % 2);
        // First written before anything is noted, then from the notes.
        for (int pass = 0; pass < 2; ++pass)
            check_rendering(
                "curl", round, [&] { return curl::measure(record); },
                [&](char* out) { return curl::write(record, out); });
        const Request copy(record);
        std::string a(curl::measure(record).bytes, 0), b(curl::measure(copy).bytes, 0);
        curl::write(record, a.data());
        curl::write(copy, b.data());
        CHECK(a == b, "curl %d: a copy renders differently", round);
    }
}

void test_export() {
    RandomRecords make(3);
    check_rendering(
        "export of none", 0, [] { return document::measure(nullptr); },
        [](char* out) { return document::write(nullptr, out); });
    for (int round = 0; round < 300; ++round) {
        std::vector<Request> records;
        const std::size_t n = static_cast<std::size_t>(round % 12);
        for (std::size_t i = 0; i < n; ++i) records.push_back(make.record(true));
        CHECK(!document::first_uncuttable(records), "export %d: an uncuttable url", round);
        for (int pass = 0; pass < 2; ++pass)
            check_rendering(
                "export", round, [&] { return document::measure(&records); },
                [&](char* out) { return document::write(&records, out); });
    }
    std::vector<Request> records;
    records.push_back(make.record(true));
    records.push_back(Request("no/host", {}, Method::GET, std::nullopt));
    CHECK(document::first_uncuttable(records) == std::optional<std::size_t>(1), "first_uncuttable");
}

// Texts whose counts pass the 12 bits a note keeps: renderings count them again.
void test_note_saturation() {
    for (std::size_t n : {4094, 4095, 4096, 5000, 20000}) {
        for (char c : {'"', '\'', '$', '\x01', ' '}) {
            const std::string s(n, c);
            const std::string url = "http://h/" + s;
            const HeaderView header{s, s};
            const Request record(url, std::span(&header, 1), Method::POST, std::string_view(s));
            check_rendering(
                "saturated curl", int(n), [&] { return curl::measure(record); },
                [&](char* out) { return curl::write(record, out); });
            std::vector<Request> records;
            records.push_back(Request(record));
            check_rendering(
                "saturated export", int(n), [&] { return document::measure(&records); },
                [&](char* out) { return document::write(&records, out); });
            const text::Facts facts = text::facts_of(s);
            const Piece value = Known(record).header_value(0);
            const std::size_t json = facts.json_added, shell = facts.double_quoted;
            CHECK(value.json_extra == (json >= 4095 ? Piece::unknown_extra : json) &&
                      value.shell_extra == (shell >= 4095 ? Piece::unknown_extra : shell),
                  "notes of %zu bytes 0x%02x", n, static_cast<unsigned char>(c));
        }
    }
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // failures print before an assertion stops the run
    test_find_in<text::json_escaped>("json_escaped");
    test_find_in<text::double_quoted_escaped>("double_quoted_escaped");
    test_find_in<text::single_quoted_escaped>("single_quoted_escaped");
    test_find_in<text::bare_url>("bare_url");
    test_find_in<not_bare_url>("not_bare_url");
    test_find_byte();
    test_facts();
    test_facts_saturation();
    test_writers();
    test_url_cut();
    test_curl();
    test_export();
    test_note_saturation();
    std::printf("core tests (%s): %d failed\n", PEMRIK_SIMD ? "SSE2" : "portable", failures);
    return failures != 0;
}
