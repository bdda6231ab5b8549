// The request record: what one request holds, copied deeply and never changed.
#pragma once

#include <optional>
#include <vector>

#include "request/method.hpp"
#include "request/text.hpp"

namespace pemrik {

struct Header {
    Text name;
    Text value;
};

// Copying a record copies every text: a copy shares nothing with its source.
struct Request {
    Text url;
    std::vector<Header> headers;  // in the order given, duplicates kept
    Method method = Method::GET;
    std::optional<Text> body;     // absent differs from empty
};

}  // namespace pemrik
