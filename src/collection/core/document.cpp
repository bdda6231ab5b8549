// The collection document, written straight as compact JSON from templates
// whose key order the compiler checks (json_writer.hpp).
#include "collection/core/document.hpp"

#include <cassert>

#include "collection/core/json_writer.hpp"

namespace pemrik::document {
namespace {

PEMRIK_JSON_TEMPLATE(document_runs, R"({"info":{"name":"@","schema":"@"},"item":[@]})");
PEMRIK_JSON_TEMPLATE(item_runs,
                     R"({"name":"@","request":{"body":{"mode":"raw","raw":"@"},"header":[@],)"
                     R"("method":"@","url":{"host":"@","path":[@],"protocol":"@","raw":"@"}}})");
PEMRIK_JSON_TEMPLATE(header_runs, R"({"key":"@","value":"@"})");

template <class Sink>
void write_item(Sink& outer, const Request& request) {
    // A local sink: its position can stay in a register, where the byte
    // stores of a sink behind a reference would make the compiler reload it.
    Sink sink = outer;
    const Piece url = request.url();
    const UrlCut cut = request.url_cut();
    assert(cut.cuttable);
    sink.ascii(request.ascii());

    sink.raw(item_runs[0]);
    sink.text(url);
    sink.raw(item_runs[1]);
    sink.text(request.body());
    sink.raw(item_runs[2]);
    for (std::size_t i = 0; i < request.header_count(); ++i) {
        if (i) sink.raw(',');
        sink.raw(header_runs[0]);
        sink.text(request.header_name(i));
        sink.raw(header_runs[1]);
        sink.text(request.header_value(i));
        sink.raw(header_runs[2]);
    }
    sink.raw(item_runs[3]);
    sink.raw(name_of(request.method()));
    sink.raw(item_runs[4]);
    sink.text(url.part(cut.host(url.text)));
    sink.raw(item_runs[5]);
    sink.split_strings(url.part(cut.path(url.text)), cut.path_pieces);
    sink.raw(item_runs[6]);
    sink.raw(cut.protocol(url.text));  // scheme characters never need escapes
    sink.raw(item_runs[7]);
    sink.text(url);
    sink.raw(item_runs[8]);
    outer = sink;
}

template <class Sink>
void write_document(Sink& sink, const std::vector<Request>* requests) {
    sink.raw(document_runs[0]);
    sink.raw(collection_name);
    sink.raw(document_runs[1]);
    sink.raw(schema_url);
    sink.raw(document_runs[2]);
    if (requests)
        for (std::size_t i = 0; i < requests->size(); ++i) {
            if (i) sink.raw(',');
            write_item(sink, (*requests)[i]);
        }
    sink.raw(document_runs[3]);
}

}  // namespace

std::optional<std::size_t> first_uncuttable(const std::vector<Request>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (!requests[i].url_cut().cuttable) return i;
    return std::nullopt;
}

TextSize measure(const std::vector<Request>* requests) {
    json::Measure sink;
    write_document(sink, requests);
    return sink.size();
}

char* write(const std::vector<Request>* requests, char* out) {
    json::Write sink(out);
    write_document(sink, requests);
    return sink.end();
}

}  // namespace pemrik::document
