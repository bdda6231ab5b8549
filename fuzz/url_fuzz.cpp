// Fuzz target for the url cut and the protocol rule: the whole input, any
// bytes, is the url; it is checked against the pieces of a plain split, and
// once more through a record, whose document carries the cut it keeps.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "oracle.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace fuzz;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    check_cut(bytes);

    Spec spec;
    spec.url = valid_utf8(bytes);
    check_cut(spec.url);
    std::vector<core::Record> list;
    list.push_back(core::make(spec));
    const bool cuttable = split(spec.url, '/').size() >= 3;
    if (core::first_uncuttable(list) != (cuttable ? std::nullopt : std::optional<std::size_t>(0)))
        fail("first_uncuttable differs", spec.url);
    if (cuttable) check_document(render_document(&list), {spec});
    return 0;
}
