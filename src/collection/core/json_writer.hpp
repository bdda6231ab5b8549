// Compact JSON text written straight from the data, through templates.
//
// A template is JSON text in which "@" marks a hole for data ("a":"@" for a
// string's inside, [@] for an array's elements), its keys in the order the
// module writes them (ascending). The fixed runs between holes are each
// written with a single copy, and a Fill cursor fills the holes in order.
// The size of what a walk writes is its templates' fixed_size() and what
// fills their holes.
#pragma once

#include <algorithm>
#include <array>
#include <string_view>

#include "core/text.hpp"

namespace pemrik::json {

inline constexpr char hole = '@';

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

// The bytes of a template's fixed runs: its length without what fills its holes.
template <std::size_t Holes>
constexpr std::size_t fixed_size(const Template<Holes>& t) {
    std::size_t n = 0;
    for (std::string_view run : t.runs) n += run.size();
    return n;
}

// A template named name.
#define PEMRIK_JSON_TEMPLATE(name, text)                                          \
    inline constexpr auto name = ::pemrik::json::cut_template<std::ranges::count( \
        std::string_view(text), ::pemrik::json::hole)>(text)

// Fills the holes of template T in order: each call fills the next hole and
// writes the run after it, returning the cursor for the hole after that;
// done() ends the walk. The compiler rejects a fill past the last hole, a
// fill of the wrong kind and done() before the last hole.
template <const auto& T, class S, std::size_t K>
struct [[nodiscard]] Fill {
    S& sink;

    // A string's inside: a text escaped as it needs.
    auto text(std::string_view text, text::Seen seen) && {
        sink.text(text, seen);
        return next<true>();
    }
    // A string's inside that never needs escapes.
    auto raw(std::string_view plain) && {
        sink.raw(plain);
        return next<true>();
    }
    // An array's elements, written by elements(sink).
    auto elements(auto elements) && {
        elements(sink);
        return next<false>();
    }
    void done() && { static_assert(K == T.in_string.size(), "template holes left unfilled"); }

private:
    template <bool InString>
    Fill<T, S, K + 1> next() {
        static_assert(K < T.in_string.size(), "more fills than template holes");
        static_assert(T.in_string[K] == InString, "a fill of the wrong kind for this hole");
        sink.raw(T.runs[K + 1]);
        return {sink};
    }
};

// Writes the run before the first hole of T and returns the cursor for it.
template <const auto& T, class S>
Fill<T, S, 0> fill(S& sink) noexcept {
    sink.raw(T.runs[0]);
    return {sink};
}

// Writes code units, filling the holes of templates; the texts are those of
// records, followed by their padding.
template <class Char>
class Write {
public:
    explicit Write(Char* out) noexcept : out_(out) {}
    void raw(std::string_view s) noexcept { out_ = text::put_ascii(out_, s); }
    void raw(char c) noexcept { *out_++ = static_cast<Char>(c); }
    void text(std::string_view t, text::Seen seen) noexcept {
        out_ = text::put<text::JsonString>(out_, t, seen);
    }
    void split_strings(std::string_view t, text::Seen seen, std::size_t pieces) noexcept {
        if (!pieces) return;
        raw('"');
        for (std::size_t at; (at = t.find('/')) != std::string_view::npos;
             t.remove_prefix(at + 1)) {
            text(t.substr(0, at), seen);
            raw(std::string_view("\",\""));
        }
        text(t, seen);
        raw('"');
    }
    Char* end() const noexcept { return out_; }

private:
    Char* out_;
};

}  // namespace pemrik::json
