// PemrikCollection: an ordered collection of request copies, and its
// export (its Python surface: stubs/pemrik-stubs/__init__.pyi).
//
// On free-threaded builds each call holds the collection's critical section,
// so calls from many threads run one at a time, as under the interpreter
// lock: a conflicting borrow means a call re-entered from script code.
#include "collection/classes.hpp"
#include "collection/core/document.hpp"
#include "core/format.hpp"
#include "module/binding.hpp"
#include "module/borrow.hpp"
#include "module/call.hpp"
#include "module/compat.hpp"
#include "module/convert.hpp"
#include "module/output.hpp"
#include "request/classes.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_url_without_host =
    "cannot export the request at position {} of the collection: its url '{}' has no host";

constexpr const char* new_parameters[] = {"collection"};
constexpr Signature new_signature = {"PemrikCollection", "__new__", new_parameters, 0};
constexpr const char* add_parameters[] = {"pemrik"};
constexpr Signature add_signature = {"PemrikCollection", "add_request", add_parameters, 1};

PyObject* collection_new(PyTypeObject* cls, PyObject* args, PyObject* kwargs) {
    return guarded([&] {
        Ref slot[1];
        bind(new_signature, args, kwargs, slot);
        CollectionClass::Record requests;
        if (slot[0] && slot[0].get() != Py_None)
            requests = convert_argument("collection", [&] {
                std::vector<Request> list;
                to_list(slot[0].get(), list, request_from);
                return list;
            });
        return new_instance<CollectionClass>(cls, std::move(requests));
    });
}

PyObject* add_request(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] {
        Ref slot[1];
        bind(add_signature, args, nargs, kwnames, slot);
        const compat::CriticalSection one_call_at_a_time(self);
        auto collection = Exclusive<CollectionClass>::take(self);
        Request request = convert_argument("pemrik", [&] { return request_from(slot[0].get()); });
        // Either branch leaves the collection as it was if memory runs out.
        if (*collection) {
            (*collection)->push_back(std::move(request));
        } else {
            std::vector<Request> first;
            first.push_back(std::move(request));
            *collection = std::move(first);
        }
        return Ref::borrow(Py_None);
    });
}

PyObject* get_collection(PyObject* self, PyObject*) {
    return guarded([&] {
        const compat::CriticalSection one_call_at_a_time(self);
        auto collection = Shared<CollectionClass>::take(self);
        if (!*collection) return Ref::borrow(Py_None);
        return requests_to_list(**collection);
    });
}

PyObject* export_collection(PyObject* self, PyObject*) {
    return guarded([&] {
        const compat::CriticalSection one_call_at_a_time(self);
        auto collection = Shared<CollectionClass>::take(self);
        const std::vector<Request>* requests = *collection ? &**collection : nullptr;
        const document::Document doc(requests);
        if (const auto bad = doc.without_host()) [[unlikely]]
            raise(PyExc_ValueError, format(msg_url_without_host, *bad, (*requests)[*bad].url()));
        return make_str(doc);
    });
}

PyMethodDef methods[] = {
    {"add_request", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(add_request)),
     METH_FASTCALL | METH_KEYWORDS, "add_request($self, pemrik)\n--\n\n"},
    {"get_collection", get_collection, METH_NOARGS, "get_collection($self)\n--\n\n"},
    {"export_collection", export_collection, METH_NOARGS, "export_collection($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_doc, const_cast<char*>("PemrikCollection(collection=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(collection_new)},
    {Py_tp_methods, methods},
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate<CollectionClass>)},
    {0, nullptr},
};

PyType_Spec spec = spec_of<CollectionClass>("builtins.PemrikCollection", slots);

}  // namespace

ClassInfo CollectionClass::info = {.name = "PemrikCollection", .spec = &spec};

}  // namespace pemrik
