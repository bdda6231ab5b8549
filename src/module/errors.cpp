// Raising from bodies: what errors.hpp declares.
#include "module/errors.hpp"

#include <cstdio>
#include <utility>

#include "module/compat.hpp"

namespace pemrik {

void throw_python_error() { throw PythonError{}; }

void clear_error_unless_out_of_memory() {
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonError{};
    PyErr_Clear();
}

void raise(PyObject* type, std::string_view message) {
    Ref text =
        check(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    PyErr_SetObject(type, text.get());
    throw PythonError{};
}

void raise_with_cause(PyObject* type, std::string_view message, Ref cause) {
    try {
        raise(type, message);
    } catch (const PythonError&) {
        Ref exc = Ref::steal(compat::take_exception());
        PyException_SetCause(exc.get(), cause.release());
        compat::restore_exception(exc.release());
        throw;
    }
}

void raise_from_current(PyObject* type, std::string_view message) {
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, msg_no_exception_set);
    // Out of memory stays MemoryError, as everywhere else in the module.
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) throw PythonError{};
    raise_with_cause(type, message, Ref::steal(compat::take_exception()));
}

void panic(std::string message, std::source_location where) {
    std::fprintf(stderr, "pemrik: internal failure at %s:%u in %s: %s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), where.function_name(), message.c_str());
    throw Panic{std::move(message)};
}

}  // namespace pemrik
