// Class creation from static descriptions, registration in the module, the
// conversion error of instance checks and the refusing constructor.
#include "module/types.hpp"

#include <string>
#include <vector>

#include "core/format.hpp"
#include "module/call.hpp"
#include "module/compat.hpp"
#include "module/convert.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_class_init_failed = "An error occurred while initializing class {}";
constexpr std::string_view msg_type_object_failed = "failed to create type object for {}";
constexpr std::string_view msg_conversion = "'{}' object cannot be converted to '{}'";
constexpr std::string_view msg_no_constructor = "No constructor defined for {}";
constexpr std::string_view msg_unmade = "{} object was not made by its constructor";
constexpr std::string_view unknown_type_name = "<failed to extract type name>";
constexpr std::string_view unknown_class_name = "<unknown>";

void make_class(ClassInfo& info) {
    if (!info.object.get()) {
        Ref cls = check(PyType_FromSpec(info.spec));
        if (info.vectorcall)
            reinterpret_cast<PyTypeObject*>(cls.get())->tp_vectorcall = info.vectorcall;
        info.object.fill(std::move(cls));  // made meanwhile by another thread? the first one stays
    }
    // Stored before the attributes are filled: the attribute values are
    // instances of the class itself and ask for it while this step runs.
    if (info.fill_attributes && !info.attributes_filled && !info.filling.exchange(true)) {
        try {
            info.fill_attributes(info.object.get());
        } catch (...) {
            info.filling = false;
            throw;
        }
        info.attributes_filled = true;
        info.filling = false;
    }
}

}  // namespace

PyObject* class_object(ClassInfo& info) {
    try {
        make_class(info);
    } catch (const PythonError&) {
        // A failure the interpreter reported without an exception becomes
        // SystemError at the boundary.
        if (!PyErr_Occurred()) throw;
        raise_from_current(PyExc_RuntimeError, format(msg_class_init_failed, info.name));
    }
    return info.object.get();
}

PyObject* class_for_use(ClassInfo& info) {
    PyObject* cls = info.object.get();
    if (cls && (!info.fill_attributes || info.attributes_filled || info.filling)) return cls;
    try {
        return class_object(info);
    } catch (const PythonError&) {
        PyErr_Print();
        panic(format(msg_type_object_failed, info.name));
    }
}

void register_class(PyObject* module, PyObject* all, ClassInfo& info) {
    PyObject* cls = class_object(info);
    Ref name = check(PyUnicode_FromString(info.name));
    check(PyList_Append(all, name.get()));
    check(PyObject_SetAttr(module, name.get(), cls));
}

void raise_conversion_error(PyObject* obj, const char* target) {
    std::string source = utf8_or(Ref::steal(PyType_GetQualName(Py_TYPE(obj))), unknown_type_name);
    raise(PyExc_TypeError, format(msg_conversion, source, target));
}

PyObject* refuse_construction(PyTypeObject* cls, PyObject*, PyObject*) {
    return guarded([&]() -> Ref {
        std::string name = utf8_or(Ref::steal(PyType_GetName(cls)), unknown_class_name);
        raise(PyExc_TypeError, format(msg_no_constructor, name));
    });
}

Ref call_through_type(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    // The arguments are lent: each is held before the first allocation of a
    // tuple or dict, in which the collector may run a finalizer that lets go
    // of them (binding.hpp).
    const auto nargs = static_cast<std::size_t>(PyVectorcall_NARGS(nargsf));
    const auto nkeywords = kwnames ? static_cast<std::size_t>(PyTuple_GET_SIZE(kwnames)) : 0;
    std::vector<Ref> held;
    held.reserve(nargs + nkeywords + 1);
    held.push_back(Ref::borrow(kwnames));
    for (std::size_t i = 0; i < nargs + nkeywords; ++i) held.push_back(Ref::borrow(args[i]));
    const Ref* arg = held.data() + 1;

    Ref positional = check(PyTuple_New(static_cast<Py_ssize_t>(nargs)));
    for (std::size_t i = 0; i < nargs; ++i)
        PyTuple_SET_ITEM(positional.get(), static_cast<Py_ssize_t>(i),
                         Ref::borrow(arg[i].get()).release());
    Ref keywords;
    if (nkeywords > 0) {
        keywords = check(PyDict_New());
        for (std::size_t k = 0; k < nkeywords; ++k)
            check(PyDict_SetItem(keywords.get(),
                                 PyTuple_GET_ITEM(kwnames, static_cast<Py_ssize_t>(k)),
                                 arg[nargs + k].get()));
    }
    return check(Py_TYPE(cls)->tp_call(cls, positional.get(), keywords.get()));
}

void raise_unmade(const char* class_name) {
    raise(PyExc_TypeError, format(msg_unmade, class_name));
}

}  // namespace pemrik
