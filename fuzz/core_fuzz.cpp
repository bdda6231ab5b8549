// Fuzz target for the Python-free core: the input becomes up to four requests
// (see requests_from in oracle.hpp); each is rendered as a curl line, and the
// list as the export document, and both are checked against the oracles.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fuzz;
    const std::vector<Spec> specs =
        requests_from(std::string_view(reinterpret_cast<const char*>(data), size), 4);

    std::vector<core::Record> records;
    for (const Spec& spec : specs) {
        records.push_back(core::make(spec));
        check_curl(spec, records.back());
        check_cut(spec.url);
    }

    // A copy must render as its source does.
    const std::vector<core::Record> copies = records;
    for (std::size_t i = 0; i < copies.size(); ++i) check_curl(specs[i], copies[i]);

    std::optional<std::size_t> uncuttable;
    for (std::size_t i = 0; i < specs.size() && !uncuttable; ++i)
        if (split(specs[i].url, '/').size() < 3) uncuttable = i;
    if (core::first_uncuttable(records) != uncuttable)
        fail("first_uncuttable differs", uncuttable ? specs[*uncuttable].url : std::string_view());

    // The document of the requests that can be exported, of none, and of a
    // collection without a list.
    std::vector<Spec> kept;
    std::vector<core::Record> exported;
    for (std::size_t i = 0; i < specs.size(); ++i)
        if (split(specs[i].url, '/').size() >= 3) {
            kept.push_back(specs[i]);
            exported.push_back(std::move(records[i]));
        }
    check_document(render_document(&exported), kept);
    // Records keep what their first reading found; fresh ones read first by
    // the document must give the same document, and then the same lines.
    std::vector<core::Record> fresh;
    for (const Spec& spec : kept) fresh.push_back(core::make(spec));
    check_document(render_document(&fresh), kept);
    for (std::size_t i = 0; i < fresh.size(); ++i) check_curl(kept[i], fresh[i]);
    const std::vector<core::Record> none;
    check_document(render_document(&none), {});
    check_document(render_document(nullptr), {});
    return 0;
}
