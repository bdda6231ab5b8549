// The module entry point: one module object per process, three classes.
#include <Python.h>

#include <atomic>
#include <cstdint>

#include "collection/classes.hpp"
#include "module/call.hpp"
#include "module/errors.hpp"
#include "module/types.hpp"
#include "request/classes.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_subinterpreter =
    "pemrik does not yet support sub-interpreters: it was already imported by another "
    "interpreter of this process";
constexpr std::string_view msg_finalized =
    "pemrik cannot be imported again after the interpreter that imported it was finalized";

PyModuleDef definition = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "pemrik",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

std::atomic<std::int64_t> recorded_interpreter{-1};
ObjectCell module_cell;  // the one module object, kept for the process

// The module object and the classes belong to the interpreter that imported
// the module first. Once it is finalized they are unusable (their names are
// cleared), and a new interpreter in the same process (an embedding program
// initialising Python again) would get them from a new import: refuse it.
std::atomic<bool> interpreter_finalized{false};
void note_finalized() { interpreter_finalized.store(true); }

Ref create_module() {
    if (interpreter_finalized.load()) raise(PyExc_ImportError, msg_finalized);
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (id == -1) throw_python_error();
    std::int64_t none = -1;
    if (recorded_interpreter.compare_exchange_strong(none, id))
        Py_AtExit(note_finalized);  // when its table is full, a new import is not refused
    else if (none != id)
        raise(PyExc_ImportError, msg_subinterpreter);
    if (PyObject* made = module_cell.get()) return Ref::borrow(made);

    // Made now rather than at the first failure, when memory may be short.
    if (!panic_exception_class()) throw_python_error();

    Ref module = check(PyModule_Create2(&definition, PYTHON_API_VERSION));
    Ref all = check(PyList_New(0));
    check(PyObject_SetAttrString(module.get(), "__all__", all.get()));
    for (ClassInfo* info : {&RequestClass::info, &CollectionClass::info, &MethodClass::info})
        register_class(module.get(), all.get(), *info);
#ifdef Py_GIL_DISABLED
    // Nothing the module shares between threads needs the interpreter lock.
    check(PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_NOT_USED));
#endif
    return Ref::borrow(module_cell.fill(std::move(module)));
}

}  // namespace
}  // namespace pemrik

PyMODINIT_FUNC PyInit_pemrik() { return pemrik::guarded(pemrik::create_module); }
