// The shell words of a command line: what quoting adds to a text, and the
// writing of a text quoted (the byte rules live in core/text.hpp).
//
// A url is written bare when every byte may stand unquoted, else in single
// quotes; header texts sit in double quotes with each escaped byte preceded
// by a backslash; the body sits in single quotes, each single quote inside
// written as '\'' (close, escaped quote, reopen).
#pragma once

#include <cstddef>
#include <string_view>

#include "core/text.hpp"

namespace pemrik::shell {

// Where a text stands on the command line.
enum class Place { url, double_quoted, single_quoted };

// Bytes that quoting adds to a text of `size` bytes standing in place: for a
// url 0 when it is written bare (it is not empty and every byte may stand
// unquoted: an empty word would vanish), else the two quotes and what each
// single quote inside adds.
inline std::size_t added_bytes(Place place, const text::Facts& facts, std::size_t size) {
    switch (place) {
        case Place::url:
            return facts.bare_url && size ? 0 : 2 + text::single_quote_added * facts.single_quotes;
        case Place::double_quoted: return facts.double_quoted;
        case Place::single_quoted: return text::single_quote_added * facts.single_quotes;
    }
    return 0;
}

// Copies text, writing each byte of Set through escape().
template <const text::ByteSet& Set, class Escape>
char* put_escaped(char* out, std::string_view text, Escape escape) {
    const char* run = text.data();
    const char* end = run + text.size();
    for (const char* p = run; (p = text::find_in<Set>(p, end)) < end; ++p) {
        out = text::copy(out, run, static_cast<std::size_t>(p - run));
        out = escape(out, *p);
        run = p + 1;
    }
    return text::copy(out, run, static_cast<std::size_t>(end - run));
}

// The inside of a single-quoted word.
inline char* put_in_single_quotes(char* out, std::string_view text) {
    return put_escaped<text::single_quoted_escaped>(
        out, text, [](char* o, char) { return text::copy(o, text::quote_in_single_quotes); });
}

// The inside of a double-quoted word.
inline char* put_in_double_quotes(char* out, std::string_view text) {
    return put_escaped<text::double_quoted_escaped>(out, text, [](char* o, char c) {
        *o++ = '\\';
        *o++ = c;
        return o;
    });
}

}  // namespace pemrik::shell
