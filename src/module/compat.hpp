// Differences between the supported interpreter versions, in one place.
#pragma once

#include <Python.h>

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

}  // namespace pemrik::compat
