// Compact JSON text written straight from the data: a measuring sink and a
// writing sink run the same walk, so the size found first is the size written.
#pragma once

#include <cassert>
#include <cstring>
#include <string_view>

#include "core/json_escape.hpp"
#include "request/text.hpp"

namespace pemrik::json {

// Counts bytes and notes whether any is outside ASCII.
class Measure {
public:
    void raw(std::string_view s) noexcept { size_.bytes += s.size(); }
    void raw(char) noexcept { ++size_.bytes; }
    void string(const Text& t) noexcept {
        size_.bytes += 2 + t.size() + t.json_extra();
        size_.ascii &= t.ascii();
    }
    // A slice of the text whole; when whole needs no escaping neither does it.
    void string(std::string_view slice, const Text& whole) noexcept {
        size_.bytes += 2 + slice.size() + (whole.json_extra() ? scan(slice).extra : 0);
        size_.ascii &= whole.ascii();
    }
    TextSize size() const noexcept { return size_; }

private:
    TextSize size_;
};

// Writes into memory that Measure has sized.
class Write {
public:
    explicit Write(char* out) noexcept : out_(out) {}
    void raw(std::string_view s) noexcept {
        std::memcpy(out_, s.data(), s.size());
        out_ += s.size();
    }
    void raw(char c) noexcept { *out_++ = c; }
    void string(const Text& t) noexcept { quoted(t.view(), t.json_extra() != 0); }
    void string(std::string_view slice, const Text& whole) noexcept {
        quoted(slice, whole.json_extra() != 0);
    }
    char* end() const noexcept { return out_; }

private:
    void quoted(std::string_view s, bool escape) noexcept {
        *out_++ = '"';
        if (escape) {
            out_ = write_escaped(s, out_);
        } else {
            raw(s);
        }
        *out_++ = '"';
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
        sink_.raw(first_ ? std::string_view("\"") : std::string_view(",\""));
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
