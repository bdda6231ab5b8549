// The collection document, written straight as compact JSON from templates
// (json_writer.hpp).
//
// Measuring scans each request's url, and its body and headers' texts
// together, once each, and sums the template's fixed runs and the texts;
// writing fills the templates, copying whole the texts that need no escape.
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

text::Measured measure(std::string_view text) { return text::measure<text::JsonString>(text); }

}  // namespace

Document::Document(const std::vector<Request>* requests) : requests_(requests) {
    // What fills the holes of the document template: the name, the schema
    // and the items with a comma between each two.
    size_.length += json::fixed_size(document_template);
    size_.add(collection_name);
    size_.add(schema_url);
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
        // The url stands twice, whole, and once cut into host and path; when
        // it needs nothing, neither do its parts.
        const text::Measured whole = measure(url), rest = measure(record.body_and_headers());
        text::Measured host, path;
        if (whole.added || whole.top) {
            host = measure(cut.host(url));
            path = measure(cut.path(url));
        }
        const std::size_t headers = record.header_count();
        size_.length += json::fixed_size(item_template);
        size_.add(url.size(), whole);
        size_.add(url.size(), whole);
        size_.add(cut.host(url).size(), host);
        if (cut.path_pieces) {  // each "/" becomes "," between two quotes, and the whole is quoted
            size_.add(cut.path(url).size(), path);
            size_.length += 2 * cut.path_pieces;
        }
        size_.add(cut.protocol(url));
        size_.add(name_of(record.method()));
        size_.length += headers * json::fixed_size(header_template) + (headers ? headers - 1 : 0);
        size_.add(record.body_and_headers().size(), rest);
        if (i) size_.length += 1;  // the comma before the item
        items_.push_back({cut, text::Seen::of(whole), text::Seen::of(rest)});
    }
}

template <class Char>
Char* Document::write(Char* out) const noexcept {
    assert(!without_host_);
    json::Write<Char> sink(out);
    auto items = [&](json::Write<Char>& outer) {
        for (std::size_t i = 0; i < items_.size(); ++i) {
            const Request& record = (*requests_)[i];
            const Item& item = items_[i];
            const std::string_view url = record.url();
            // A local sink: its position can stay in a register, where the
            // stores of a sink behind a reference would make the compiler
            // reload it.
            json::Write<Char> s = outer;
            if (i) s.raw(',');
            json::fill<item_template>(s)
                .text(url, item.url)
                .text(record.body(), item.rest)
                .elements([&](json::Write<Char>& h) {
                    for (std::size_t k = 0; k < record.header_count(); ++k) {
                        if (k) h.raw(',');
                        json::fill<header_template>(h)
                            .text(record.header_name(k), item.rest)
                            .text(record.header_value(k), item.rest)
                            .done();
                    }
                })
                .raw(name_of(record.method()))
                .text(item.cut.host(url), item.url)
                .elements([&](json::Write<Char>& p) {
                    p.split_strings(item.cut.path(url), item.url, item.cut.path_pieces);
                })
                .raw(item.cut.protocol(url))  // scheme characters never need escapes
                .text(url, item.url)
                .done();
            outer = s;
        }
    };
    json::fill<document_template>(sink).raw(collection_name).raw(schema_url).elements(items).done();
    assert(static_cast<std::size_t>(sink.end() - out) == size_.length);  // measured == written
    return sink.end();
}

template std::uint8_t* Document::write(std::uint8_t*) const noexcept;
template std::uint16_t* Document::write(std::uint16_t*) const noexcept;
template std::uint32_t* Document::write(std::uint32_t*) const noexcept;

}  // namespace pemrik::document
