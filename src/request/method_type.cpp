// HTTPMETHOD: the nine request methods as fixed class attributes (its
// Python surface: stubs/pemrik-stubs/__init__.pyi).
#include <array>
#include <string>

#include "core/format.hpp"
#include "module/borrow.hpp"
#include "module/call.hpp"
#include "request/classes.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_member_failed =
    "An error occurred while initializing `HTTPMETHOD.{}`";
constexpr std::string_view msg_dict_failed =
    "An error occurred while initializing `HTTPMETHOD.__dict__`";
constexpr std::string_view repr_format = "{}.{}";  // "HTTPMETHOD.GET"

PyObject* method_repr(PyObject* self) {
    return guarded([&] {
        const std::string text =
            format(repr_format, MethodClass::info.name, name_of(read<MethodClass>(self)));
        return check(
            PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    });
}

PyObject* method_int(PyObject* self) {
    return guarded(
        [&] { return check(PyLong_FromLong(static_cast<long>(read<MethodClass>(self)))); });
}

// Never raises: an operand it does not handle, an instance no constructor
// made among them, gives NotImplemented.
PyObject* method_richcompare(PyObject* self, PyObject* other, int op) {
    return guarded([&] {
        const Method* mine = try_read<MethodClass>(self);
        const Method* theirs = try_read<MethodClass>(other);
        if (!mine || !theirs || (op != Py_EQ && op != Py_NE)) return Ref::borrow(Py_NotImplemented);
        return Ref::borrow((*mine == *theirs) == (op == Py_EQ) ? Py_True : Py_False);
    });
}

void fill_members(PyObject* cls) {
    std::array<Ref, method_count> members;
    for (std::size_t i = 0; i < method_count; ++i) {
        try {
            members[i] = new_instance<MethodClass>(reinterpret_cast<PyTypeObject*>(cls),
                                                   static_cast<Method>(i));
        } catch (const PythonError&) {
            raise_from_current(PyExc_RuntimeError, format(msg_member_failed, method_names[i]));
        }
    }
    for (std::size_t i = 0; i < method_count; ++i) {
        std::string name(method_names[i]);
        if (PyObject_SetAttrString(cls, name.c_str(), members[i].get()) < 0)
            raise_from_current(PyExc_RuntimeError, msg_dict_failed);
    }
}

PyType_Slot slots[] = {
    {Py_tp_repr, reinterpret_cast<void*>(method_repr)},
    {Py_nb_int, reinterpret_cast<void*>(method_int)},
    {Py_tp_richcompare, reinterpret_cast<void*>(method_richcompare)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate<MethodClass>)},
    {0, nullptr},
};

PyType_Spec spec = spec_of<MethodClass>("builtins.HTTPMETHOD", slots);

}  // namespace

ClassInfo MethodClass::info = {
    .name = "HTTPMETHOD", .spec = &spec, .fill_attributes = fill_members};

Method method_from(PyObject* obj) { return read<MethodClass>(obj); }

}  // namespace pemrik
