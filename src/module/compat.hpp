// Differences between the supported interpreter versions, in one place.
#pragma once

#include <Python.h>

#include "module/ref.hpp"

namespace pemrik::compat {

// Takes the current exception out of the thread state (null if none).
inline PyObject* take_exception() noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    return PyErr_GetRaisedException();
#else
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (!type) return nullptr;
    PyErr_NormalizeException(&type, &value, &traceback);
    if (traceback) PyException_SetTraceback(value, traceback);
    Py_XDECREF(type);
    Py_XDECREF(traceback);
    return value;
#endif
}

// Makes exc (a new reference, stolen) the current exception.
inline void restore_exception(PyObject* exc) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_SetRaisedException(exc);
#else
    PyErr_Restore(Py_NewRef(reinterpret_cast<PyObject*>(Py_TYPE(exc))), exc,
                  PyException_GetTraceback(exc));
#endif
}

// Holds obj's critical section for the life of the guard on free-threaded
// builds, so that no other thread changes obj or runs a call guarded on it
// meanwhile (the interpreter suspends it while this thread blocks), and a
// reference, so that obj outlives it; under the interpreter lock it does
// nothing, as nothing else runs anyway.
class CriticalSection {
public:
#ifdef Py_GIL_DISABLED
    explicit CriticalSection(PyObject* obj) noexcept : held_(Ref::borrow(obj)) {
        PyCriticalSection_Begin(&section_, obj);
    }
    ~CriticalSection() { PyCriticalSection_End(&section_); }
#else
    explicit CriticalSection(PyObject*) noexcept {}
#endif
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

private:
#ifdef Py_GIL_DISABLED
    Ref held_;
    PyCriticalSection section_;
#endif
};

}  // namespace pemrik::compat
