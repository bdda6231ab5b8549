// What bodies throw, and the helpers that raise it: PythonError (a Python
// exception is already set on the thread), Panic (an internal failure,
// reported on standard error where it arose and raised to the script as
// PanicException) or std::bad_alloc (the module's own memory ran out:
// MemoryError). The guarded call (call.hpp) turns each into a Python
// exception. Exceptions are created on the spot, never deferred, so the
// module never lets go of the interpreter lock to build one later.
#pragma once

#include <Python.h>

#include <source_location>
#include <string>
#include <string_view>

#include "module/ref.hpp"

namespace pemrik {

// What a failure reported without an exception becomes: SystemError.
inline constexpr const char* msg_no_exception_set = "attempted to fetch exception but none was set";

struct PythonError {};

struct Panic {
    std::string message;
};

// Throws PythonError for a failure the interpreter has reported.
[[noreturn]] void throw_python_error();

// Sets an exception of the given type with a UTF-8 message (NUL bytes kept)
// and throws PythonError.
[[noreturn]] void raise(PyObject* type, std::string_view message);

// Like raise, with cause (may be empty) as the new exception's __cause__.
[[noreturn]] void raise_with_cause(PyObject* type, std::string_view message, Ref cause);

// Like raise, with the current exception as the new one's __cause__; a
// MemoryError is raised on unchanged instead.
[[noreturn]] void raise_from_current(PyObject* type, std::string_view message);

// Writes a report naming the message and its source to standard error and
// throws Panic.
[[noreturn]] void panic(std::string message,
                        std::source_location where = std::source_location::current());

// Discards the current exception where the module has a fallback for a
// failed call; a MemoryError is raised on instead, since running out of
// memory is never a reason to answer differently.
void clear_error_unless_out_of_memory();

// Takes over a new reference from the C API; throws PythonError on null.
inline Ref check(PyObject* new_reference) {
    if (!new_reference) throw_python_error();
    return Ref::steal(new_reference);
}

// Throws PythonError for a C API status below zero.
inline void check(int status) {
    if (status < 0) throw_python_error();
}

}  // namespace pemrik
