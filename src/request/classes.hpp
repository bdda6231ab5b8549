// HTTPMETHOD and Pemrik as the frame sees them, and the conversions the
// request model offers to the rest of the module.
#pragma once

#include <Python.h>

#include <vector>

#include "module/types.hpp"
#include "request/core/record.hpp"

namespace pemrik {

struct MethodClass {
    using Record = Method;
    static ClassInfo info;
};

struct RequestClass {
    using Record = Request;
    static ClassInfo info;
};

// The method value of an HTTPMETHOD member.
Method method_from(PyObject* obj);

// A deep copy of the record of a Pemrik instance.
Request request_from(PyObject* obj);

// A new list of new Pemrik instances, each holding a copy of one record, in order.
Ref requests_to_list(const std::vector<Request>& records);

}  // namespace pemrik
