// The shell quoting of command-line words: one table, and what quoting adds.
//
// A url is written bare when every byte may stand unquoted, else in single
// quotes; header texts sit in double quotes with \ " $ ` escaped by a
// backslash; the body sits in single quotes. A single quote inside single
// quotes is written as '\'' (close, escaped quote, reopen).
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace pemrik::shell {

enum : unsigned char {
    bare = 1,          // may stand unquoted in a url word
    dq_escaped = 2,    // needs a backslash inside double quotes
    single_quote = 4,  // the single quote itself
};

constexpr std::array<unsigned char, 256> make_table() {
    std::array<unsigned char, 256> table{};
    for (int c = 'a'; c <= 'z'; ++c) table[c] |= bare;
    for (int c = 'A'; c <= 'Z'; ++c) table[c] |= bare;
    for (int c = '0'; c <= '9'; ++c) table[c] |= bare;
    for (unsigned char c : std::string_view("@%+=:,./-_")) table[c] |= bare;
    for (unsigned char c : std::string_view("\\\"$`")) table[c] |= dq_escaped;
    table['\''] |= single_quote;
    return table;
}
inline constexpr std::array<unsigned char, 256> table = make_table();

inline constexpr std::string_view quote_in_single_quotes = "'\\''";

// Where a text stands on the command line.
enum class Place { url, double_quoted, single_quoted };

// What quoting needs to know about a text.
struct Counts {
    bool all_bare = true;         // every byte may stand unquoted in a url
    std::size_t dq_escaped = 0;   // bytes escaped inside double quotes
    std::size_t single_quotes = 0;
};

inline Counts count(std::string_view text) {
    Counts counts;
    for (unsigned char c : text) {
        const unsigned char kind = table[c];
        counts.all_bare &= (kind & bare) != 0;
        counts.dq_escaped += (kind & dq_escaped) != 0;
        counts.single_quotes += (kind & single_quote) != 0;
    }
    return counts;
}

// Bytes that quoting adds to a text standing in place: for a url 0 when it
// is written bare, else the two quotes and three per single quote inside.
inline std::size_t added_bytes(Place place, const Counts& counts) {
    switch (place) {
        case Place::url: return counts.all_bare ? 0 : 2 + 3 * counts.single_quotes;
        case Place::double_quoted: return counts.dq_escaped;
        case Place::single_quoted: return 3 * counts.single_quotes;
    }
    return 0;
}

inline std::size_t added_bytes(Place place, std::string_view text) {
    return added_bytes(place, count(text));
}

}  // namespace pemrik::shell
