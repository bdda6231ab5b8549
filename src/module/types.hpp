// Classes made from static descriptions, and their instances: each instance
// holds one C++ record, constructed in place, and an atomic borrow flag that
// also says whether the record is there.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>
#include <new>
#include <utility>

#include "module/errors.hpp"
#include "module/ref.hpp"

namespace pemrik {

// One class of the module: its description and its process-wide class object.
struct ClassInfo {
    const char* name = nullptr;  // "Pemrik"
    PyType_Spec* spec = nullptr;
    void (*fill_attributes)(PyObject* cls) = nullptr;  // class attributes, or null; throws
    vectorcallfunc vectorcall = nullptr;               // calling the class without a tuple, or null
    ObjectCell object{};                               // made once, kept for the process
    std::atomic<bool> attributes_filled{false};
    std::atomic<bool> filling{false};  // by the thread filling them, which may ask again meanwhile
};

// The class object, made on first need. A failure raises the RuntimeError
// chain "An error occurred while initializing class NAME".
PyObject* class_object(ClassInfo& info);

// The class object for an instance check or creation outside registration: a
// failure to make it is printed and becomes an internal failure.
PyObject* class_for_use(ClassInfo& info);

// Adds the class to the module under its name and lists it in all.
void register_class(PyObject* module, PyObject* all, ClassInfo& info);

// TypeError "'{}' object cannot be converted to '{}'" for obj's type.
[[noreturn]] void raise_conversion_error(PyObject* obj, const char* target);

// Calls cls with vectorcall arguments as the interpreter's type call does
// (its __new__, then its __init__): for a class whose private fast call must
// give way because a script replaced either of them.
Ref call_through_type(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames);

// The refusing constructor of a class without one.
PyObject* refuse_construction(PyTypeObject* cls, PyObject* args, PyObject* kwargs);

// TypeError "NAME object was not made by its constructor".
[[noreturn, gnu::cold]] void raise_unmade(const char* class_name);

// Values of the borrow flag. The classes are mutable, so a script can give
// one a __new__ that makes instances without the module (object.__new__):
// their memory is zero-filled, which reads as no_state. new_instance sets
// the flag to unborrowed; n shared borrows make it unborrowed + n; one
// exclusive borrow sets all bits.
namespace borrow_flag {
inline constexpr std::uint64_t no_state = 0;
inline constexpr std::uint64_t unborrowed = 1;
inline constexpr std::uint64_t exclusive = ~std::uint64_t{0};
}  // namespace borrow_flag

// Layout of every instance: header, record (only when the borrow flag is not
// no_state), borrow flag.
template <class Record>
struct Instance {
    PyObject_HEAD
    Record record;
    std::atomic<std::uint64_t> borrow;
};

// A class of the module, as templates below see it:
//   struct SomeClass { using Record = ...; static ClassInfo info; };
template <class C>
using InstanceOf = Instance<typename C::Record>;

// The description of class C, named "module.Name", with its instances' layout.
template <class C>
constexpr PyType_Spec spec_of(const char* name, PyType_Slot* slots) {
    return {.name = name,
            .basicsize = static_cast<int>(sizeof(InstanceOf<C>)),
            .itemsize = 0,
            .flags = Py_TPFLAGS_DEFAULT,
            .slots = slots};
}

// New instance of cls (the class itself or the type passed to __new__)
// owning record.
template <class C>
Ref new_instance(PyTypeObject* cls, typename C::Record&& record) {
    allocfunc alloc = cls->tp_alloc ? cls->tp_alloc : PyType_GenericAlloc;
    Ref obj = check(alloc(cls, 0));
    auto* inst = reinterpret_cast<InstanceOf<C>*>(obj.get());
    new (&inst->record) typename C::Record(std::move(record));
    new (&inst->borrow) std::atomic<std::uint64_t>(borrow_flag::unborrowed);
    return obj;
}

// The deallocation slot: drop the record if there is one (records'
// destructors never throw), free the memory, then drop the reference to the
// class that every instance of a heap class holds.
template <class C>
void deallocate(PyObject* self) {
    using Record = typename C::Record;
    auto* inst = reinterpret_cast<InstanceOf<C>*>(self);
    if (inst->borrow.load(std::memory_order_relaxed) != borrow_flag::no_state) {
        inst->record.~Record();
        inst->borrow.~atomic();
    }
    PyTypeObject* type = Py_TYPE(self);
    type->tp_free(self);
    Py_DECREF(type);
}

// The instance behind obj if it is one of class C, else null. Never raises
// but for a class object that cannot be made.
template <class C>
InstanceOf<C>* as_instance(PyObject* obj) {
    auto* cls = reinterpret_cast<PyTypeObject*>(class_for_use(C::info));
    if (Py_TYPE(obj) != cls && !PyType_IsSubtype(Py_TYPE(obj), cls)) return nullptr;
    return reinterpret_cast<InstanceOf<C>*>(obj);
}

// The instance check: the instance, or the conversion error naming the class.
template <class C>
InstanceOf<C>* checked_instance(PyObject* obj) {
    if (auto* inst = as_instance<C>(obj)) return inst;
    raise_conversion_error(obj, C::info.name);
}

}  // namespace pemrik
