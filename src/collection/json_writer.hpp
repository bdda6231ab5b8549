// Compact JSON text written straight from the data: a measuring sink and a
// writing sink run the same walk, so the size found first is the size written.
#pragma once

#include <cassert>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "core/json_escape.hpp"
#include "request/record.hpp"

namespace pemrik::json {

// Counts bytes and notes whether any is outside ASCII.
class Measure {
public:
    void raw(std::string_view s) noexcept { size_.bytes += s.size(); }
    void raw(char) noexcept { ++size_.bytes; }
    void string(Piece p) noexcept { size_.bytes += 2 + p.text.size() + extra(p); }
    // An array of the pieces of p cut at every "/"; pieces is their number
    // (0 gives the empty array).
    void split_strings(Piece p, std::size_t pieces) noexcept {
        size_.bytes += 2 + (pieces ? p.text.size() + 2 * pieces + extra(p) : 0);
    }
    void ascii(bool all_ascii) noexcept { size_.ascii &= all_ascii; }
    TextSize size() const noexcept { return size_; }

private:
    static std::size_t extra(Piece p) noexcept {
        return p.json_extra == Piece::unknown_extra ? scan(p.text).extra : p.json_extra;
    }
    TextSize size_;
};

// Copies n bytes. Short copies, the most common here, are done inline with
// two overlapping moves instead of a call.
inline char* copy(char* out, const char* from, std::size_t n) noexcept {
    if (n > 16) {
        std::memcpy(out, from, n);
    } else if (n >= 8) {
        std::uint64_t head, tail;
        std::memcpy(&head, from, 8);
        std::memcpy(&tail, from + n - 8, 8);
        std::memcpy(out, &head, 8);
        std::memcpy(out + n - 8, &tail, 8);
    } else if (n >= 4) {
        std::uint32_t head, tail;
        std::memcpy(&head, from, 4);
        std::memcpy(&tail, from + n - 4, 4);
        std::memcpy(out, &head, 4);
        std::memcpy(out + n - 4, &tail, 4);
    } else if (n > 0) {
        out[0] = from[0];
        out[n / 2] = from[n / 2];
        out[n - 1] = from[n - 1];
    }
    return out + n;
}

// Writes into memory that Measure has sized.
class Write {
public:
    explicit Write(char* out) noexcept : out_(out) {}
    void raw(std::string_view s) noexcept { out_ = copy(out_, s.data(), s.size()); }
    void raw(char c) noexcept { *out_++ = c; }
    void string(Piece p) noexcept {
        *out_++ = '"';
        text(p.text, p.json_escapes());
        *out_++ = '"';
    }
    void split_strings(Piece p, std::size_t pieces) noexcept {
        *out_++ = '[';
        if (pieces) {
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
        *out_++ = ']';
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

// An object whose keys must come in ascending byte order; debug builds check
// that they do, so a document written straight from code keeps JSON key order.
// Keys are plain literals that need no escaping.
template <class Sink>
class Object {
public:
    explicit Object(Sink& sink) noexcept : sink_(sink) { sink_.raw('{'); }
    Sink& key(std::string_view key) noexcept {
        assert(first_ || last_ < key);
        assert(scan(key).extra == 0);
        sink_.raw(first_ ? '"' : ',');
        if (!first_) sink_.raw('"');
        sink_.raw(key);
        sink_.raw(std::string_view("\":"));
        first_ = false;
#ifndef NDEBUG
        last_ = key;
#endif
        return sink_;
    }
    void close() noexcept { sink_.raw('}'); }

private:
    Sink& sink_;
    bool first_ = true;
#ifndef NDEBUG
    std::string_view last_;
#endif
};

template <class Sink>
class Array {
public:
    explicit Array(Sink& sink) noexcept : sink_(sink) { sink_.raw('['); }
    Sink& next() noexcept {
        if (!first_) sink_.raw(',');
        first_ = false;
        return sink_;
    }
    void close() noexcept { sink_.raw(']'); }

private:
    Sink& sink_;
    bool first_ = true;
};

}  // namespace pemrik::json
