// The guarded call: the one boundary between bodies that throw and the
// interpreter, which sees only results or set exceptions.
#pragma once

#include <Python.h>

#include <utility>

#include "module/ref.hpp"

namespace pemrik {

// Turns the exception being handled into the thread's Python exception.
// Always returns null. Called only from inside a catch block.
[[gnu::cold]] PyObject* fail_with_current_exception() noexcept;

// The PanicException class, created on first use; null if it cannot be made.
PyObject* panic_exception_class() noexcept;

// Runs body (returning Ref) and hands its result to the interpreter as a new
// reference, or null with the failure set as a Python exception. Nothing
// thrown by body crosses into the interpreter.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return std::forward<Body>(body)().release();
    } catch (...) {
        return fail_with_current_exception();
    }
}

}  // namespace pemrik
