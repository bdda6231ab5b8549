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

constexpr bool is_alpha(char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; }
constexpr bool is_scheme_char(char c) {
    return is_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

const Text empty_text;

template <class Sink>
void write_item(Sink& sink, const Request& request) {
    const auto url = request.url.view();
    auto cut = cut_url(url);
    assert(cut);
    if (!cut) cut = UrlCut{};

    json::Object<Sink> item(sink);
    item.key("name").string(request.url);
    json::Object<Sink> req(item.key("request"));
    {
        json::Object<Sink> body(req.key("body"));
        body.key("mode").raw(std::string_view("\"raw\""));
        body.key("raw").string(request.body ? *request.body : empty_text);
        body.close();
    }
    {
        json::Array<Sink> headers(req.key("header"));
        for (const auto& h : request.headers) {
            json::Object<Sink> header(headers.next());
            header.key("key").string(h.name);
            header.key("value").string(h.value);
            header.close();
        }
        headers.close();
    }
    auto& method = req.key("method");
    method.raw('"');
    method.raw(name_of(request.method));
    method.raw('"');
    {
        json::Object<Sink> u(req.key("url"));
        u.key("host").string(cut->host, request.url);
        json::Array<Sink> path(u.key("path"));
        if (cut->has_path) {
            std::string_view rest = cut->path;
            for (;;) {
                auto slash = rest.find('/');
                path.next().string(rest.substr(0, slash), request.url);
                if (slash == std::string_view::npos) break;
                rest.remove_prefix(slash + 1);
            }
        }
        path.close();
        u.key("protocol").string(cut->protocol, request.url);
        u.key("raw").string(request.url);
        u.close();
    }
    req.close();
    item.close();
}

template <class Sink>
void write_document(Sink& sink, const std::vector<Request>* requests) {
    json::Object<Sink> top(sink);
    {
        json::Object<Sink> info(top.key("info"));
        info.key("name").raw('"');
        sink.raw(collection_name);
        sink.raw('"');
        info.key("schema").raw('"');
        sink.raw(schema_url);
        sink.raw('"');
        info.close();
    }
    json::Array<Sink> items(top.key("item"));
    if (requests)
        for (const auto& request : *requests) write_item(items.next(), request);
    items.close();
    top.close();
}

}  // namespace

std::string_view protocol_of(std::string_view url) {
    if (url.empty() || !is_alpha(url[0])) return "https";
    std::size_t i = 1;
    while (i < url.size() && is_scheme_char(url[i])) ++i;
    if (url.substr(i, 3) != "://") return "https";
    return url.substr(0, i);
}

std::optional<UrlCut> cut_url(std::string_view url) {
    auto first = url.find('/');
    if (first == std::string_view::npos) return std::nullopt;
    auto second = url.find('/', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    auto third = url.find('/', second + 1);
    UrlCut cut;
    cut.host = url.substr(second + 1, third - second - 1);
    cut.has_path = third != std::string_view::npos;
    if (cut.has_path) cut.path = url.substr(third + 1);
    cut.protocol = protocol_of(url);
    return cut;
}

std::optional<std::size_t> first_uncuttable(const std::vector<Request>& requests) {
    for (std::size_t i = 0; i < requests.size(); ++i)
        if (!cut_url(requests[i].url.view())) return i;
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
