// The collection document, written straight as compact JSON from templates
// whose key order the compiler checks (json_writer.hpp). One walk over each
// request serves both passes: measuring, with what each text needs as it is
// measured, and writing, with what measuring noted.
#include "collection/core/document.hpp"

#include <cassert>

#include "collection/core/json_writer.hpp"

namespace pemrik::document {
namespace {

PEMRIK_JSON_TEMPLATE(document_template, R"({"info":{"name":"@","schema":"@"},"item":[@]})");
PEMRIK_JSON_TEMPLATE(item_template,
                     R"({"name":"@","request":{"body":{"mode":"raw","raw":"@"},"header":[@],)"
                     R"("method":"@","url":{"host":"@","path":[@],"protocol":"@","raw":"@"}}})");
PEMRIK_JSON_TEMPLATE(header_template, R"({"key":"@","value":"@"})");

// A request's texts with what the pass at hand knows of each: text::Measured
// while measuring, text::Seen while writing.
template <class Facts>
struct ItemFacts {
    Facts url, body, host, path;
    const Facts* headers;  // name and value of each header
};

template <json::Sink Sink, class Facts>
void write_item(Sink& outer, const Request& record, const UrlCut& cut, const ItemFacts<Facts>& f) {
    // A local sink: its position can stay in a register, where the stores
    // of a sink behind a reference would make the compiler reload it.
    Sink sink = outer;
    const std::string_view url = record.url();
    json::fill<item_template>(sink)
        .text(url, f.url)
        .text(record.body(), f.body)
        .elements([&](Sink& s) {
            for (std::size_t i = 0; i < record.header_count(); ++i) {
                if (i) s.raw(',');
                json::fill<header_template>(s)
                    .text(record.header_name(i), f.headers[2 * i])
                    .text(record.header_value(i), f.headers[2 * i + 1])
                    .done();
            }
        })
        .raw(name_of(record.method()))
        .text(cut.host(url), f.host)
        .elements([&](Sink& s) { s.split_strings(cut.path(url), f.path, cut.path_pieces); })
        .raw(cut.protocol(url))  // scheme characters never need escapes
        .text(url, f.url)
        .done();
    outer = sink;
}

template <json::Sink Sink>
void write_document(Sink& sink, auto items) {
    json::fill<document_template>(sink)
        .raw(collection_name)
        .raw(schema_url)
        .elements(items)
        .done();
}

}  // namespace

Document::Document(const std::vector<Request>* requests) : requests_(requests) {
    json::Measure sink(size_);
    std::vector<text::Measured> headers;  // of the request being measured
    write_document(sink, [&](json::Measure& s) {
        if (!requests) return;
        items_.reserve(requests->size());
        for (std::size_t i = 0; i < requests->size(); ++i) {
            const Request& record = (*requests)[i];
            const std::string_view url = record.url();
            const UrlCut cut = cut_url(url);
            if (!cut.has_host()) {
                without_host_ = i;
                return;
            }
            ItemFacts<text::Measured> f{};
            f.url = text::measure<text::JsonString>(url);
            if (f.url.added || f.url.top) {  // else the parts of the url need nothing either
                f.host = text::measure<text::JsonString>(cut.host(url));
                f.path = text::measure<text::JsonString>(cut.path(url));
            }
            f.body = text::measure<text::JsonString>(record.body());
            headers.clear();
            for (std::size_t h = 0; h < record.header_count(); ++h) {
                headers.push_back(text::measure<text::JsonString>(record.header_name(h)));
                headers.push_back(text::measure<text::JsonString>(record.header_value(h)));
            }
            f.headers = headers.data();
            if (i) s.raw(',');
            write_item(s, record, cut, f);
            using text::Seen;
            items_.push_back({cut, Seen::of(f.url), Seen::of(f.body), Seen::of(f.host),
                              Seen::of(f.path)});
            for (const text::Measured& m : headers) headers_.push_back(Seen::of(m));
        }
    });
}

template <class Char>
Char* Document::write_as(Char* out) const noexcept {
    assert(!without_host_);
    json::Write<Char> sink(out);
    write_document(sink, [&](json::Write<Char>& s) {
        const text::Seen* headers = headers_.data();
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const Request& record = (*requests_)[i];
            const Item& item = items_[i];
            if (i) s.raw(',');
            write_item(s, record, item.cut,
                       ItemFacts<text::Seen>{item.url, item.body, item.host, item.path, headers});
            headers += 2 * record.header_count();
        }
    });
    assert(static_cast<std::size_t>(sink.end() - out) == size_.length);
    return sink.end();
}

std::uint8_t* Document::write(std::uint8_t* out) const noexcept { return write_as(out); }
std::uint16_t* Document::write(std::uint16_t* out) const noexcept { return write_as(out); }
std::uint32_t* Document::write(std::uint32_t* out) const noexcept { return write_as(out); }

}  // namespace pemrik::document
