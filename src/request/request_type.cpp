// Pemrik: one immutable HTTP request (its Python surface:
// stubs/pemrik-stubs/__init__.pyi).
#include "core/format.hpp"
#include "core/small_vector.hpp"
#include "module/binding.hpp"
#include "module/borrow.hpp"
#include "module/call.hpp"
#include "module/convert.hpp"
#include "module/output.hpp"
#include "request/classes.hpp"
#include "request/core/curl.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_unrenderable = "cannot render the command line: {} {}";
// Indexed by curl::Refusal::Field and curl::Refusal::Reason.
constexpr std::string_view refused_fields[] = {
    "the url",
    "the name of header {}",
    "the value of header {}",
    "the body",
};
constexpr std::string_view refusal_reasons[] = {
    "holds a NUL character, which no shell can pass to a program",
    "holds a line break (CR or LF), which curl would send as further header lines",
    "begins with '@', which makes curl read headers from a file of that name",
};

constexpr const char* parameters[] = {"url", "headers", "method", "body"};
constexpr Signature signature = {"Pemrik", "__new__", parameters, 3};

// Arguments are converted in parameter order; the first failure ends the call.
// The texts are views into the bound arguments and into the header items,
// all held (binding.hpp) until the record has copied them.
Ref make_request(PyTypeObject* cls, const Ref* slot) {
    SmallVector<Ref, 8> items;
    SmallVector<HeaderView, 8> headers;
    const auto url = convert_argument("url", [&] { return utf8_of(slot[0].get()); });
    convert_argument("headers", [&] {
        to_list(slot[1].get(), headers, [](PyObject* item) { return header_of(item); }, &items);
    });
    const auto method = convert_argument("method", [&] { return method_from(slot[2].get()); });
    std::optional<std::string_view> body;
    if (slot[3] && slot[3].get() != Py_None)
        body = convert_argument("body", [&] { return utf8_of(slot[3].get()); });
    return new_instance<RequestClass>(cls, Request(url, headers.items(), method, body));
}

PyObject* request_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        Ref slot[std::size(parameters)];
        bind(signature, args, kwargs, slot);
        return make_request(cls, slot);
    });
}

// Calling the class: the same constructor without an argument tuple, as
// long as the class's __new__ and __init__ are still the module's own.
PyObject* request_vectorcall(PyObject* cls, PyObject* const* args, size_t nargsf,
                             PyObject* kwnames) {
    return guarded([&] {
        const auto* type = reinterpret_cast<PyTypeObject*>(cls);
        if (type->tp_new != request_new || type->tp_init != PyBaseObject_Type.tp_init) [[unlikely]]
            return call_through_type(cls, args, nargsf, kwnames);
        Ref slot[std::size(parameters)];
        bind(signature, args, PyVectorcall_NARGS(nargsf), kwnames, slot);
        return make_request(reinterpret_cast<PyTypeObject*>(cls), slot);
    });
}

PyObject* get_request_command(PyObject* self, PyObject*) {
    return guarded([&] {
        auto request = Shared<RequestClass>::take(self);
        const curl::CommandLine line(*request);
        if (const auto& refused = line.refusal()) [[unlikely]]
            raise(PyExc_ValueError,
                  format(msg_unrenderable, format(refused_fields[refused->field], refused->header),
                         refusal_reasons[refused->reason]));
        return make_str(line);
    });
}

PyMethodDef methods[] = {
    {"get_request_command", get_request_command, METH_NOARGS, "get_request_command($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("Pemrik(url, headers, method, body=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(request_new)},
    {Py_tp_methods, methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate<RequestClass>)},
    {0, nullptr},
};

PyType_Spec spec = spec_of<RequestClass>("builtins.Pemrik", slots);

}  // namespace

ClassInfo RequestClass::info = {.name = "Pemrik", .spec = &spec, .vectorcall = request_vectorcall};

Request request_from(PyObject* obj) { return *Shared<RequestClass>::take(obj); }

Ref requests_to_list(const std::vector<Request>& records) {
    auto* cls = reinterpret_cast<PyTypeObject*>(class_for_use(RequestClass::info));
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(records.size())));
    for (std::size_t i = 0; i < records.size(); ++i)
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i),
                        new_instance<RequestClass>(cls, Request(records[i])).release());
    return list;
}

}  // namespace pemrik
