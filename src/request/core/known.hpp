// A record as its renderings read it: each text with what escaping and
// quoting add to it, the url cut, whether all is ASCII.
#pragma once

#include <cstddef>
#include <string_view>

#include "core/text.hpp"
#include "request/core/record.hpp"
#include "request/core/url.hpp"

namespace pemrik {

// A text with the bytes that escaping adds to its JSON string form and that
// quoting adds to its command-line word (unknown_extra when not known: count
// them again).
struct Piece {
    static constexpr std::size_t unknown_extra = ~std::size_t{0};

    std::string_view text;
    std::size_t json_extra = 0;
    std::size_t shell_extra = 0;

    bool json_escapes() const noexcept { return json_extra != 0; }
    // A part of this text for JSON: it holds escapes only if this one does.
    Piece part(std::string_view sub) const noexcept {
        return {sub, json_extra ? unknown_extra : 0, 0};
    }
};

// The facts are found on the first reading that needs them (many records are
// made and never rendered) and kept in the record's notes: per text, the
// JSON and shell extras in 12 bits each, all ones meaning "that many or
// more"; per record, the url cut and the ASCII flag.
class Known {
public:
    explicit Known(const Request& request) noexcept
        : request_(request), note_(request.record_note()) {
        if (!(note_.bits & noted)) note_ = find(request);
    }

    const Request& request() const noexcept { return request_; }
    Piece piece(TextId id) const noexcept {
        const TextNote note = request_.note(id);
        return {request_.text(id), extra(note), extra(note >> extra_bits)};
    }
    Piece url() const noexcept { return piece(TextId::url()); }
    Piece header_name(std::size_t i) const noexcept { return piece(TextId::header_name(i)); }
    Piece header_value(std::size_t i) const noexcept { return piece(TextId::header_value(i)); }
    Piece body() const noexcept { return piece(TextId::body()); }
    bool ascii() const noexcept { return note_.bits & all_ascii; }
    UrlCut url_cut() const noexcept;

private:
    enum : std::uint8_t { noted = 1, all_ascii = 2, cut_kept = 4 };
    static constexpr unsigned extra_bits = Request::note_bits / 2;
    static constexpr TextNote saturated = (TextNote{1} << extra_bits) - 1;
    static std::size_t extra(TextNote note) noexcept {
        note &= saturated;
        return note == saturated ? Piece::unknown_extra : note;
    }
    static RecordNote find(const Request& request) noexcept;

    const Request& request_;
    RecordNote note_;
};

}  // namespace pemrik
