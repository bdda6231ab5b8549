// PemrikCollection as the frame sees it.
#pragma once

#include <optional>
#include <vector>

#include "module/types.hpp"
#include "request/core/record.hpp"

namespace pemrik {

struct CollectionClass {
    // Absent until a list is given or a request added.
    using Record = std::optional<std::vector<Request>>;
    static ClassInfo info;
};

}  // namespace pemrik
