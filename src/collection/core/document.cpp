// The collection document, written straight as compact JSON from templates
// whose key order the compiler checks (json_writer.hpp).
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

template <json::Sink Sink>
void write_item(Sink& outer, const Request& record) {
    // A local sink: its position can stay in a register, where the byte
    // stores of a sink behind a reference would make the compiler reload it.
    Sink sink = outer;
    const Known request(record);
    const Piece url = request.url();
    const UrlCut cut = request.url_cut();
    assert(cut.has_host());
    sink.ascii(request.ascii());
    json::fill<item_template>(sink)
        .text(url)
        .text(request.body())
        .elements([&](Sink& s) {
            for (std::size_t i = 0; i < record.header_count(); ++i) {
                if (i) s.raw(',');
                json::fill<header_template>(s)
                    .text(request.header_name(i))
                    .text(request.header_value(i))
                    .done();
            }
        })
        .raw(name_of(record.method()))
        .text(url.part(cut.host(url.text)))
        .elements([&](Sink& s) { s.split_strings(url.part(cut.path(url.text)), cut.path_pieces); })
        .raw(cut.protocol(url.text))  // scheme characters never need escapes
        .text(url)
        .done();
    outer = sink;
}

template <json::Sink Sink>
void write_document(Sink& sink, const std::vector<Request>* requests) {
    json::fill<document_template>(sink)
        .raw(collection_name)
        .raw(schema_url)
        .elements([&](Sink& s) {
            if (requests)
                for (std::size_t i = 0; i < requests->size(); ++i) {
                    if (i) s.raw(',');
                    write_item(s, (*requests)[i]);
                }
        })
        .done();
}

}  // namespace

std::optional<std::size_t> first_without_host(const std::vector<Request>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (!Known(requests[i]).url_cut().has_host()) return i;
    return std::nullopt;
}

text::TextSize measure(const std::vector<Request>* requests) {
    json::Measure sink;
    write_document(sink, requests);
    return sink.size();
}

char* write(const std::vector<Request>* requests, char* out) {
    json::Write sink(out);
    write_document(sink, requests);
    assert(static_cast<std::size_t>(sink.end() - out) == measure(requests).bytes);
    return sink.end();
}

}  // namespace pemrik::document
