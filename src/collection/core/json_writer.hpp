// Compact JSON text written straight from the data, through templates whose
// fixed text is checked when the module is compiled.
//
// A template is JSON text in which "@" marks a hole for data ("a":"@" for a
// string's inside, [@] for an array's elements). keys_ascend() proves at
// compile time that the keys of every object in it ascend in byte order, as
// JSON objects written by this module must; holes() cuts it into the fixed
// runs between holes, each then written with a single copy.
//
// A measuring sink and a writing sink run the same walk over the data, so
// the size found first is the size written.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/json_escape.hpp"
#include "request/core/record.hpp"

namespace pemrik::json {

inline constexpr char hole = '@';

// True when, in every object of the template, each key sorts after the one
// before it. Templates hold no escapes and nest at most 8 deep.
constexpr bool keys_ascend(std::string_view tmpl) {
    struct Frame {
        bool object = false;
        bool expecting_key = false;
        std::string_view last;
    };
    std::array<Frame, 8> stack{};
    std::size_t depth = 0;
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        switch (tmpl[i]) {
            case '{': stack[++depth] = {true, true, {}}; break;
            case '[': stack[++depth] = {false, false, {}}; break;
            case '}':
            case ']': --depth; break;
            case ',': stack[depth].expecting_key = stack[depth].object; break;
            case '"': {
                const auto end = tmpl.find('"', i + 1);
                const auto text = tmpl.substr(i + 1, end - i - 1);
                Frame& frame = stack[depth];
                if (frame.expecting_key) {
                    if (!frame.last.empty() && !(frame.last < text)) return false;
                    frame.last = text;
                    frame.expecting_key = false;
                }
                i = end;
                break;
            }
            default: break;
        }
    }
    return depth == 0;
}

// The fixed runs of a template with N - 1 holes.
template <std::size_t N>
constexpr std::array<std::string_view, N> holes(std::string_view tmpl) {
    std::array<std::string_view, N> runs{};
    for (std::size_t k = 0; k + 1 < N; ++k) {
        const auto at = tmpl.find(hole);
        runs[k] = tmpl.substr(0, at);
        tmpl.remove_prefix(at + 1);
    }
    runs[N - 1] = tmpl;
    return runs;
}

constexpr std::size_t count_holes(std::string_view tmpl) {
    std::size_t n = 0;
    for (char c : tmpl) n += c == hole;
    return n;
}

// The fixed runs of a template checked for key order.
#define PEMRIK_JSON_TEMPLATE(name, text)                                              \
    static_assert(::pemrik::json::keys_ascend(text), "JSON keys out of order: " text); \
    inline constexpr auto name = ::pemrik::json::holes<::pemrik::json::count_holes(text) + 1>(text)

// Counts bytes and notes whether any is outside ASCII.
class Measure {
public:
    void raw(std::string_view s) noexcept { size_.bytes += s.size(); }
    void raw(char) noexcept { ++size_.bytes; }
    // The inside of a string holding p.
    void text(Piece p) noexcept { size_.bytes += p.text.size() + extra(p); }
    // The elements of an array of the pieces of p cut at every "/"; pieces
    // is their number (0: no element).
    void split_strings(Piece p, std::size_t pieces) noexcept {
        if (pieces) size_.bytes += p.text.size() + 2 * pieces + extra(p);
    }
    void ascii(bool all_ascii) noexcept { size_.ascii &= all_ascii; }
    TextSize size() const noexcept { return size_; }

private:
    static std::size_t extra(Piece p) noexcept {
        return p.json_extra == Piece::unknown_extra ? scan(p.text).extra : p.json_extra;
    }
    TextSize size_;
};

// Writes into memory that Measure has sized.
class Write {
public:
    explicit Write(char* out) noexcept : out_(out) {}
    void raw(std::string_view s) noexcept { out_ = copy(out_, s.data(), s.size()); }
    void raw(char c) noexcept { *out_++ = c; }
    void text(Piece p) noexcept { text(p.text, p.json_escapes()); }
    void split_strings(Piece p, std::size_t pieces) noexcept {
        if (!pieces) return;
        *out_++ = '"';
        const char* run = p.text.data();
        const char* end = run + p.text.size();
        for (const char* c = run; (c = find_byte(c, end, '/')) < end; ++c) {
            text(std::string_view(run, static_cast<std::size_t>(c - run)), p.json_escapes());
            raw(std::string_view("\",\""));
            run = c + 1;
        }
        text(std::string_view(run, static_cast<std::size_t>(end - run)), p.json_escapes());
        *out_++ = '"';
    }
    void ascii(bool) noexcept {}
    char* end() const noexcept { return out_; }

private:
    void text(std::string_view s, bool escapes) noexcept {
        if (escapes)
            out_ = write_escaped(s, out_);
        else
            raw(s);
    }
    char* out_;
};

}  // namespace pemrik::json
