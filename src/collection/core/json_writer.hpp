// Compact JSON text written straight from the data, through templates whose
// fixed text is checked when the module is compiled.
//
// A template is JSON text in which "@" marks a hole for data ("a":"@" for a
// string's inside, [@] for an array's elements). keys_ascend() proves at
// compile time that the keys of every object in it ascend in byte order, as
// JSON objects written by this module must; the fixed runs between holes are
// each written with a single copy, and a Fill cursor fills the holes in order.
//
// A measuring sink and a writing sink run the same walk over the data, so
// the size found first is the size written.
#pragma once

#include <algorithm>
#include <array>
#include <cassert>
#include <concepts>
#include <cstring>
#include <string_view>

#include "core/text.hpp"
#include "request/core/known.hpp"

namespace pemrik::json {

inline constexpr char hole = '@';

// True when, in every object of the template, each key sorts after the one
// before it. Templates hold no escapes and nest at most 8 deep.
constexpr bool keys_ascend(std::string_view tmpl) {
    std::array<bool, 8> in_object{};
    std::array<std::string_view, 8> last_key{};
    std::size_t depth = 0;
    bool key_next = false;
    for (std::size_t i = 0; i < tmpl.size(); ++i) {
        const char c = tmpl[i];
        if (c == '{' || c == '[') {
            key_next = in_object[++depth] = c == '{';
            last_key[depth] = {};
        } else if (c == '}' || c == ']') {
            --depth;
        } else if (c == ',') {
            key_next = in_object[depth];
        } else if (c == '"') {
            const auto end = tmpl.find('"', i + 1);
            const auto text = tmpl.substr(i + 1, end - i - 1);
            if (key_next && !last_key[depth].empty() && !(last_key[depth] < text)) return false;
            if (key_next) last_key[depth] = text;
            key_next = false;
            i = end;
        }
    }
    return depth == 0;
}

// A template cut at its holes: the fixed runs around them, and for each hole
// whether it sits inside a string ("@") or not ([@]).
template <std::size_t Holes>
struct Template {
    std::array<std::string_view, Holes + 1> runs;
    std::array<bool, Holes> in_string;
};

template <std::size_t Holes>
constexpr Template<Holes> cut_template(std::string_view tmpl) {
    Template<Holes> t{};
    for (std::size_t k = 0; k < Holes; ++k) {
        const auto at = tmpl.find(hole);
        t.runs[k] = tmpl.substr(0, at);
        t.in_string[k] = at > 0 && tmpl[at - 1] == '"';
        tmpl.remove_prefix(at + 1);
    }
    t.runs[Holes] = tmpl;
    return t;
}

// A template checked for key order.
#define PEMRIK_JSON_TEMPLATE(name, text)                                               \
    static_assert(::pemrik::json::keys_ascend(text), "JSON keys out of order: " text); \
    inline constexpr auto name = ::pemrik::json::cut_template<std::ranges::count(      \
        std::string_view(text), ::pemrik::json::hole)>(text)

// What the walk over the data writes to: a measuring sink or a writing one.
template <class S>
concept Sink = std::copyable<S> && requires(S& sink, std::string_view run, char c, Piece piece,
                                            std::size_t n) {
    sink.raw(run);  // bytes as they are
    sink.raw(c);
    sink.text(piece);              // the inside of a string holding piece
    sink.split_strings(piece, n);  // the elements of an array of piece cut at every "/" (n pieces)
    sink.ascii(true);              // whether the data written is all ASCII
};

// Fills the holes of template T in order: each call fills the next hole and
// writes the run after it, returning the cursor for the hole after that;
// done() ends the walk. The compiler rejects a fill past the last hole, a
// fill of the wrong kind and done() before the last hole; builds with
// assertions reject a cursor left unused or used twice.
template <const auto& T, Sink S, std::size_t K>
class [[nodiscard]] Fill {
public:
    explicit Fill(S& sink) noexcept : sink_(sink) {}
    Fill(const Fill&) = delete;
    ~Fill() { assert(used_ && "a template cursor was left unused"); }

    // A string's inside: text escaped as it needs.
    auto text(const Piece& piece) && {
        return fill<true>([&] { sink_.text(piece); });
    }
    // A string's inside that never needs escapes.
    auto raw(std::string_view plain) && {
        return fill<true>([&] { sink_.raw(plain); });
    }
    // An array's elements, written by elements(sink).
    auto elements(auto elements) && {
        return fill<false>([&] { elements(sink_); });
    }

    void done() && {
        static_assert(K == T.in_string.size(), "template holes left unfilled");
        use();
    }

private:
    template <bool InString>
    Fill<T, S, K + 1> fill(auto put) {
        static_assert(K < T.in_string.size(), "more fills than template holes");
        static_assert(T.in_string[K] == InString, "a fill of the wrong kind for this hole");
        use();
        put();
        sink_.raw(T.runs[K + 1]);
        return Fill<T, S, K + 1>(sink_);
    }
    void use() noexcept {
        assert(!used_ && "a template cursor was used twice");
        used_ = true;  // read by assertions only
    }

    S& sink_;
    bool used_ = false;
};

// Writes the run before the first hole of T and returns the cursor for it.
template <const auto& T, Sink S>
Fill<T, S, 0> fill(S& sink) noexcept {
    sink.raw(T.runs[0]);
    return Fill<T, S, 0>(sink);
}

// Writes text escaped (without the surrounding quotes) and returns the end.
// Plain runs between escapes are copied whole.
inline char* write_escaped(std::string_view text, char* out) {
    static constexpr char hex[] = "0123456789abcdef";
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;
    for (; (p = text::find_in<text::json_escaped>(p, end)) < end; ++p) {
        auto c = static_cast<unsigned char>(*p);
        char e = text::json_escapes[c];
        out = text::copy(out, run, static_cast<std::size_t>(p - run));
        run = p + 1;
        *out++ = '\\';
        if (e == 'u') {
            std::memcpy(out, "u00", 3);
            out[3] = hex[c >> 4];
            out[4] = hex[c & 15];
            out += 5;
        } else {
            *out++ = e;
        }
    }
    return text::copy(out, run, static_cast<std::size_t>(end - run));
}

// Counts bytes and notes whether any is outside ASCII.
class Measure {
public:
    void raw(std::string_view s) noexcept { size_.bytes += s.size(); }
    void raw(char) noexcept { ++size_.bytes; }
    void text(const Piece& p) noexcept { size_.bytes += p.text.size() + extra(p); }
    void split_strings(const Piece& p, std::size_t pieces) noexcept {
        if (pieces) size_.bytes += p.text.size() + 2 * pieces + extra(p);
    }
    void ascii(bool all_ascii) noexcept { size_.ascii &= all_ascii; }
    text::TextSize size() const noexcept { return size_; }

private:
    static std::size_t extra(const Piece& p) noexcept {
        return p.json_extra == Piece::unknown_extra ? text::facts_of(p.text, false).json_added
                                                    : p.json_extra;
    }
    text::TextSize size_;
};

// Writes into memory that Measure has sized.
class Write {
public:
    explicit Write(char* out) noexcept : out_(out) {}
    void raw(std::string_view s) noexcept { out_ = text::copy(out_, s); }
    void raw(char c) noexcept { *out_++ = c; }
    void text(const Piece& p) noexcept {
        out_ = p.json_escapes() ? write_escaped(p.text, out_) : text::copy(out_, p.text);
    }
    void split_strings(const Piece& p, std::size_t pieces) noexcept {
        if (!pieces) return;
        *out_++ = '"';
        const char* run = p.text.data();
        const char* end = run + p.text.size();
        for (const char* c = run; (c = text::find_byte(c, end, '/')) < end; ++c) {
            text(p.part(std::string_view(run, static_cast<std::size_t>(c - run))));
            raw(std::string_view("\",\""));
            run = c + 1;
        }
        text(p.part(std::string_view(run, static_cast<std::size_t>(end - run))));
        *out_++ = '"';
    }
    void ascii(bool) noexcept {}
    char* end() const noexcept { return out_; }

private:
    char* out_;
};
static_assert(Sink<Measure> && Sink<Write>);

}  // namespace pemrik::json
