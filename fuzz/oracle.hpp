// Oracles of the fuzz targets, written from the rules of the output formats
// and not from the renderers: how the input bytes become requests, how "/"
// cuts a url, how a POSIX shell splits a command line into words, and which
// document a collection exports.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapter.hpp"

namespace fuzz {

using core::Spec;

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "fuzz oracle: %s\n", what);
    if (!detail.empty()) {
        std::fprintf(stderr, "  detail (%zu bytes): ", detail.size());
        for (const char byte : detail.substr(0, 2000)) {
            const auto c = static_cast<unsigned char>(byte);
            std::fprintf(stderr, c >= 0x20 && c < 0x7f && c != '\\' ? "%c" : "\\x%02x", c);
        }
        std::fprintf(stderr, "\n");
    }
    std::abort();
}

inline constexpr const char* method_names[] = {"GET",     "POST",  "PUT",   "DELETE", "HEAD",
                                               "OPTIONS", "PATCH", "TRACE", "CONNECT"};
inline constexpr unsigned method_total = 9;

// ---- input bytes to requests ----------------------------------------------

// Keeps every well-formed UTF-8 sequence and turns every other byte b into the
// character U+00bb, so any input gives valid UTF-8 and valid input stays as it is.
inline std::string valid_utf8(std::string_view in) {
    std::string out;
    std::size_t i = 0;
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(in[k]); };
    auto cont = [&](std::size_t k) { return k < in.size() && (byte(k) & 0xC0) == 0x80; };
    while (i < in.size()) {
        const unsigned char b = byte(i);
        std::size_t n = 0;
        if (b < 0x80)
            n = 1;
        else if (b >= 0xC2 && b <= 0xDF && cont(i + 1))
            n = 2;
        else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
            const unsigned char b1 = byte(i + 1);
            if (!(b == 0xE0 && b1 < 0xA0) && !(b == 0xED && b1 >= 0xA0))
                n = 3;  // no overlong, no surrogate
        } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
            const unsigned char b1 = byte(i + 1);
            if (!(b == 0xF0 && b1 < 0x90) && !(b == 0xF4 && b1 >= 0x90))
                n = 4;  // no overlong, <= U+10FFFF
        }
        if (n) {
            out.append(in.substr(i, n));
            i += n;
        } else {
            out += static_cast<char>(0xC0 | (b >> 6));
            out += static_cast<char>(0x80 | (b & 0x3F));
            ++i;
        }
    }
    return out;
}

inline std::vector<std::string_view> split(std::string_view text, char at) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i)
        if (i == text.size() || text[i] == at) {
            pieces.push_back(text.substr(start, i - start));
            start = i + 1;
        }
    return pieces;
}

// The input is a list of requests separated by the byte 0xFF. A request is a
// control byte (method = low nibble modulo 9, a body when bit 0x10 is set)
// and then texts separated by 0xFE: the url, header names and values in
// turn, and last the body when there is one. Neither byte occurs in UTF-8,
// so every text can hold any character; at most `most` requests are read.
inline std::vector<Spec> requests_from(std::string_view input, std::size_t most) {
    std::vector<Spec> specs;
    for (std::string_view chunk : split(input, '\xFF')) {
        if (specs.size() == most) break;
        Spec spec;
        unsigned char control = chunk.empty() ? 0 : static_cast<unsigned char>(chunk[0]);
        if (!chunk.empty()) chunk.remove_prefix(1);
        spec.method = (control & 0x0F) % method_total;
        std::vector<std::string_view> texts = split(chunk, '\xFE');
        if (control & 0x10) {
            spec.body = valid_utf8(texts.size() > 1 ? texts.back() : std::string_view());
            if (texts.size() > 1) texts.pop_back();
        }
        spec.url = valid_utf8(texts[0]);
        for (std::size_t k = 1; k < texts.size(); k += 2)
            spec.headers.emplace_back(
                valid_utf8(texts[k]),
                valid_utf8(k + 1 < texts.size() ? texts[k + 1] : std::string_view()));
        specs.push_back(std::move(spec));
    }
    return specs;
}

// ---- the url cut ------------------------------------------------------------

// The scheme: an ASCII letter, then ASCII letters, digits, "+", "-" or ".",
// directly followed by "://"; without one the protocol is "https".
inline std::string expected_protocol(std::string_view url) {
    static constexpr std::string_view letters =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static constexpr std::string_view later =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+-.";
    if (url.empty() || letters.find(url[0]) == std::string_view::npos) return "https";
    const std::size_t end = url.find_first_not_of(later, 1);
    if (end == std::string_view::npos || url.substr(end, 3) != "://") return "https";
    return std::string(url.substr(0, end));
}

inline void check_cut(std::string_view url) {
    const std::vector<std::string_view> pieces = split(url, '/');
    const core::Cut got = core::cut(url);
    if (got.cuttable != (pieces.size() >= 3)) fail("cuttable differs from the count of '/'", url);
    if (got.protocol != expected_protocol(url)) fail("protocol differs", url);
    if (!got.cuttable) return;
    if (got.host != pieces[2]) fail("host differs from piece 2", url);
    if (got.path_pieces != pieces.size() - 3) fail("path piece count differs", url);
    std::string path;
    for (std::size_t k = 3; k < pieces.size(); ++k) {
        if (k > 3) path += '/';
        path += pieces[k];
    }
    if (got.path != path) fail("path differs from pieces 3..", url);
}

// ---- rendering into a guarded buffer ---------------------------------------

// Writes into exactly the measured room followed by a guard zone, and checks
// that the renderer ended where it said and left the guard alone, and that
// its ASCII claim is true of what it wrote.
template <class Write>
std::string render(core::Measured measured, Write write) {
    constexpr std::size_t guard = 64;
    constexpr unsigned char mark = 0xA5;  // never written: it cannot start UTF-8
    std::unique_ptr<char[]> room(new char[measured.bytes + guard]);
    std::memset(room.get(), mark, measured.bytes + guard);
    char* end = write(room.get());
    const std::string_view text(room.get(), measured.bytes);
    if (end != room.get() + measured.bytes)
        fail("the writer did not end at the measured size", text);
    for (std::size_t k = 0; k < guard; ++k)
        if (static_cast<unsigned char>(room[measured.bytes + k]) != mark)
            fail("the writer wrote past the measured size", text);
    bool ascii = true;
    for (const char c : text) ascii &= static_cast<unsigned char>(c) < 0x80;
    if (ascii != measured.ascii) fail("the ASCII claim of the measure is wrong", text);
    return std::string(text);
}

// ---- the command line as a POSIX shell reads it ------------------------------

// Splits a simple command into words the way a POSIX shell does for the
// quoting forms a rendering may use: single quotes (all literal), double
// quotes (backslash escapes \ " $ ` only; an unescaped $ or ` would expand),
// and bare characters that no shell treats specially. Blanks separate words,
// a run of them being one separator. Anything else means the shell would not
// read back the words given: an error.
inline std::vector<std::string> shell_words(std::string_view line) {
    static constexpr std::string_view plain =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789@%+=:,./-_";
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ') {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
            ++i;
            continue;
        }
        in_word = true;
        if (c == '\'') {
            const std::size_t close = line.find('\'', i + 1);
            if (close == std::string_view::npos) fail("unclosed single quote", line);
            word.append(line.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == '"') {
            ++i;
            for (;;) {
                if (i >= line.size()) fail("unclosed double quote", line);
                const char d = line[i];
                if (d == '"') {
                    ++i;
                    break;
                }
                if (d == '$' || d == '`') fail("an expansion inside double quotes", line);
                if (d == '\\') {
                    if (i + 1 >= line.size()) fail("a backslash at the end", line);
                    const char e = line[i + 1];
                    if (e == '\n') fail("a line continuation inside double quotes", line);
                    if (e == '\\' || e == '"' || e == '$' || e == '`') {
                        word += e;
                        i += 2;
                        continue;
                    }
                }
                word += d;
                ++i;
            }
        } else if (c == '\\') {
            // An escape outside quotes: allowed only for the one quote form '\''.
            if (i + 1 >= line.size() || line[i + 1] != '\'') fail("a bare backslash", line);
            word += '\'';
            i += 2;
        } else {
            if (plain.find(c) == std::string_view::npos)
                fail("a shell-special or unsafe bare character", line);
            word += c;
            ++i;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

// The words the curl line stands for. An empty url is written as nothing at
// all (the line keeps its blank), so it gives no word.
inline std::vector<std::string> expected_words(const Spec& spec) {
    std::vector<std::string> words = {"curl", "-X", method_names[spec.method]};
    if (!spec.url.empty()) words.push_back(spec.url);
    for (const auto& [name, value] : spec.headers) {
        words.push_back("-H");
        words.push_back(name + ": " + value);
    }
    if (spec.body) {
        words.push_back(!spec.body->empty() && spec.body->front() == '@' ? "--data-raw" : "-d");
        words.push_back(*spec.body);
    }
    return words;
}

inline void check_curl(const Spec& spec, const core::Record& record) {
    const std::string line = render(core::curl_measure(record),
                                    [&](char* out) { return core::curl_write(record, out); });
    if (shell_words(line) != expected_words(spec))
        fail("the curl words differ from the request", line);
}

// ---- the export document ---------------------------------------------------

inline constexpr std::string_view schema =
    "https://schema.getpostman.com/json/collection/v2.1.0/collection.json";

// The document as a value; nlohmann::json keeps object keys sorted by bytes.
inline nlohmann::json expected_document(const std::vector<Spec>& specs) {
    using nlohmann::json;
    json items = json::array();
    for (const Spec& s : specs) {
        const std::vector<std::string_view> pieces = split(s.url, '/');
        json path = json::array();
        for (std::size_t k = 3; k < pieces.size(); ++k) path.push_back(std::string(pieces[k]));
        json headers = json::array();
        for (const auto& [name, value] : s.headers)
            headers.push_back({{"key", name}, {"value", value}});
        items.push_back({{"name", s.url},
                         {"request",
                          {{"method", method_names[s.method]},
                           {"header", headers},
                           {"body", {{"mode", "raw"}, {"raw", s.body.value_or("")}}},
                           {"url",
                            {{"raw", s.url},
                             {"protocol", expected_protocol(s.url)},
                             {"host", std::string(pieces.at(2))},
                             {"path", path}}}}}});
    }
    return {{"info", {{"name", "Pemrik Collection"}, {"schema", schema}}}, {"item", items}};
}

// Every object's keys, as written, in strictly ascending byte order.
inline void check_key_order(const nlohmann::ordered_json& value, std::string_view text) {
    if (value.is_object()) {
        const std::string* last = nullptr;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (last && !(*last < it.key())) fail("object keys out of byte order", text);
            last = &it.key();
            check_key_order(it.value(), text);
        }
    } else if (value.is_array()) {
        for (const auto& element : value) check_key_order(element, text);
    }
}

// Parses strictly (RFC 8259, valid UTF-8, nothing after the value) and
// compares the value; then the text must be the compact form with the
// escapes of a standard serializer, byte for byte.
inline void check_document(std::string_view text, const std::vector<Spec>& specs) {
    nlohmann::ordered_json parsed;
    try {
        parsed = nlohmann::ordered_json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        fail(e.what(), text);
    }
    check_key_order(parsed, text);
    const nlohmann::json expected = expected_document(specs);
    if (nlohmann::json(parsed) != expected) fail("the document differs from the collection", text);
    if (expected.dump() != text) fail("the document is not in compact standard form", text);
}

inline std::string render_document(const std::vector<core::Record>* list) {
    return render(core::document_measure(list),
                  [&](char* out) { return core::document_write(list, out); });
}

}  // namespace fuzz
