// The request record: what one request holds, copied deeply and never changed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "request/core/method.hpp"

namespace pemrik {

struct HeaderView {
    std::string_view name;
    std::string_view value;
};

// Names one text of a record.
class TextId {
public:
    static constexpr TextId url() noexcept { return TextId(0); }
    static constexpr TextId body() noexcept { return TextId(1); }
    static constexpr TextId header_name(std::size_t i) noexcept { return TextId(2 + 2 * i); }
    static constexpr TextId header_value(std::size_t i) noexcept { return TextId(3 + 2 * i); }

private:
    friend class Request;
    constexpr explicit TextId(std::size_t slot) noexcept : slot_(slot) {}
    std::size_t slot_;  // where the record keeps the text
};

// Room for what a reader of a record notes about it; the record keeps it
// and never interprets it. Zero until a reader writes it.
struct RecordNote {
    std::array<std::uint32_t, 4> words;
    std::uint8_t bits;
};
using TextNote = std::uint32_t;  // one per text; only the low note_bits are kept

// A request record keeps its texts in one allocation, together with the notes
// its readers keep there; copying is one allocation and one copy of bytes that
// shares nothing with the source.
class Request {
public:
    static constexpr unsigned note_bits = 24;

    // Copies every text; an absent body differs from an empty one.
    Request(std::string_view url, std::span<const HeaderView> headers, Method method,
            std::optional<std::string_view> body);
    Request(const Request& other);
    Request(Request&& other) noexcept;
    Request& operator=(const Request&) = delete;
    ~Request();

    // How many texts a record of that many headers keeps (url, body, a name
    // and a value per header); std::bad_alloc when the count does not fit.
    static std::uint32_t text_count(std::size_t headers);

    std::string_view text(TextId id) const noexcept {
        const Slot* slots = block().slots();
        const std::size_t begin = id.slot_ ? slots[id.slot_ - 1].end : 0;
        return std::string_view(block().chars() + begin, slots[id.slot_].end - begin);
    }
    std::string_view url() const noexcept { return text(TextId::url()); }
    std::size_t header_count() const noexcept { return (block_->texts - 2) / 2; }
    std::string_view header_name(std::size_t i) const noexcept {
        return text(TextId::header_name(i));
    }
    std::string_view header_value(std::size_t i) const noexcept {
        return text(TextId::header_value(i));
    }
    Method method() const noexcept { return block_->method; }
    bool has_body() const noexcept { return block_->has_body; }
    std::string_view body() const noexcept { return text(TextId::body()); }  // empty when absent

    // The notes. Records never change, so what a reader notes stays true and
    // may be written through a const reading (the notes are mutable); like
    // every other access, that runs with the interpreter lock held.
    TextNote note(TextId id) const noexcept {
        return static_cast<TextNote>(block().slots()[id.slot_].note);
    }
    void set_note(TextId id, TextNote note) const noexcept {
        block().slots()[id.slot_].note = note & note_mask;
    }
    RecordNote record_note() const noexcept { return {block().note_words, block().note_bits}; }
    void set_record_note(const RecordNote& note) const noexcept {
        block().note_words = note.words;
        block().note_bits = note.bits;
    }

private:
    // Where a text ends in the bytes (it starts where the one before ends),
    // and its note.
    struct Slot {
        std::uint64_t end : 64 - note_bits;
        mutable std::uint64_t note : note_bits;
    };
    static constexpr TextNote note_mask = (TextNote{1} << note_bits) - 1;
    static constexpr std::uint64_t most_chars = (std::uint64_t{1} << (64 - note_bits)) - 1;

    // The single allocation: Block, then slots[texts], then the bytes of the
    // url, the body, name 0, value 0, name 1, ...
    struct Block {
        std::uint32_t texts;  // 2 + 2 * headers
        Method method;
        bool has_body;
        mutable std::uint8_t note_bits;
        mutable std::array<std::uint32_t, 4> note_words;

        std::size_t bytes() const noexcept {  // size of the whole allocation
            return sizeof(Block) + texts * sizeof(Slot) + slots()[texts - 1].end;
        }
        Slot* slots() noexcept { return reinterpret_cast<Slot*>(this + 1); }
        const Slot* slots() const noexcept { return reinterpret_cast<const Slot*>(this + 1); }
        char* chars() noexcept { return reinterpret_cast<char*>(slots() + texts); }
        const char* chars() const noexcept {
            return reinterpret_cast<const char*>(slots() + texts);
        }
    };

    const Block& block() const noexcept { return *block_; }

    Block* block_;
};

}  // namespace pemrik
