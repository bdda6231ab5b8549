// The collection document, written straight as compact JSON with its keys in
// ascending byte order:
//
//   {"info":{"name":N,"schema":S},"item":[
//     {"name":URL,"request":{"body":{"mode":"raw","raw":BODY},
//      "header":[{"key":K,"value":V},...],"method":M,
//      "url":{"host":H,"path":[P,...],"protocol":SCHEME,"raw":URL}}},...]}
#include "collection/document.hpp"

#include <cassert>

#include "collection/json_writer.hpp"

namespace pemrik::document {
namespace {

// A fixed text that needs no escaping, as a JSON string.
template <class Sink>
[[gnu::always_inline]] inline void plain_string(Sink& sink, std::string_view text) {
    sink.raw('"');
    sink.raw(text);
    sink.raw('"');
}

template <class Sink>
void write_item(Sink& outer, const Request& request) {
    // A local sink: its position can stay in a register, where the byte
    // stores of a sink behind a reference would make the compiler reload it.
    Sink sink = outer;
    const Piece url = request.url();
    const UrlCut cut = request.url_cut();
    assert(cut.cuttable);
    sink.ascii(request.ascii());

    json::Object<Sink> item(sink);
    item.key("name").string(url);
    json::Object<Sink> req(item.key("request"));
    {
        json::Object<Sink> body(req.key("body"));
        plain_string(body.key("mode"), "raw");
        body.key("raw").string(request.body());
        body.close();
    }
    {
        json::Array<Sink> headers(req.key("header"));
        for (std::size_t i = 0; i < request.header_count(); ++i) {
            json::Object<Sink> header(headers.next());
            header.key("key").string(request.header_name(i));
            header.key("value").string(request.header_value(i));
            header.close();
        }
        headers.close();
    }
    plain_string(req.key("method"), name_of(request.method()));
    {
        json::Object<Sink> u(req.key("url"));
        u.key("host").string(url.part(cut.host(url.text)));
        u.key("path").split_strings(url.part(cut.path(url.text)), cut.path_pieces);
        plain_string(u.key("protocol"), cut.protocol(url.text));  // scheme characters never escape
        u.key("raw").string(url);
        u.close();
    }
    req.close();
    item.close();
    outer = sink;
}

template <class Sink>
void write_document(Sink& sink, const std::vector<Request>* requests) {
    json::Object<Sink> top(sink);
    {
        json::Object<Sink> info(top.key("info"));
        plain_string(info.key("name"), collection_name);
        plain_string(info.key("schema"), schema_url);
        info.close();
    }
    json::Array<Sink> items(top.key("item"));
    if (requests)
        for (const auto& request : *requests) write_item(items.next(), request);
    items.close();
    top.close();
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
