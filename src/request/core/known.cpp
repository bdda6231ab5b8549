// Finding the facts of a record once, into its notes.
#include "request/core/known.hpp"

#include <algorithm>
#include <climits>

#include "core/text.hpp"
#include "request/core/shell.hpp"

namespace pemrik {

RecordNote Known::find(const Request& request) noexcept {
    RecordNote note{{}, noted | all_ascii};
    auto keep = [&](TextId id, shell::Place place) {
        const std::string_view text = request.text(id);
        const auto facts = text::facts_of(text, place == shell::Place::url);
        if (!facts.ascii) note.bits = static_cast<std::uint8_t>(note.bits & ~all_ascii);
        auto saturate = [](std::size_t n) {
            return static_cast<TextNote>(std::min<std::size_t>(n, saturated));
        };
        request.set_note(id, saturate(facts.json_added) | saturate(shell::added_bytes(place, facts, text.size()))
                                                              << extra_bits);
    };
    keep(TextId::url(), shell::Place::url);
    keep(TextId::body(), shell::Place::single_quoted);
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        keep(TextId::header_name(i), shell::Place::double_quoted);
        keep(TextId::header_value(i), shell::Place::double_quoted);
    }
    const std::string_view url = request.url();
    const UrlCut cut = cut_url(url);
        if (url.size() <= UINT32_MAX) {
        note.bits |= cut_kept;
        note.words[0] = static_cast<std::uint32_t>(cut.host_begin);
        note.words[1] = static_cast<std::uint32_t>(cut.host_end);
        note.words[2] = static_cast<std::uint32_t>(cut.path_pieces);
        note.words[3] = static_cast<std::uint32_t>(cut.scheme_size);
    }
    request.set_record_note(note);
    return note;
}

UrlCut Known::url_cut() const noexcept {
    if (!(note_.bits & cut_kept)) return cut_url(request_.url());  // a url of more than 4 GiB
    return UrlCut{note_.words[0], note_.words[1], note_.words[2], note_.words[3]};
}

}  // namespace pemrik
