// The guarded call's failure ladder, the PanicException class and the
// helpers that raise.
#include "module/call.hpp"

#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "module/compat.hpp"
#include "module/convert.hpp"
#include "module/errors.hpp"

namespace pemrik {
namespace {

constexpr const char* panic_class_name = "boundary_runtime.PanicException";
constexpr const char* panic_class_doc =
    "Raised when the native code of the pemrik module fails internally.\n"
    "\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so\n"
    "that it usually travels all the way up the stack and ends the interpreter\n"
    "instead of being swallowed by an ordinary exception handler.";

constexpr std::string_view msg_generic_panic = "the native code of the pemrik module failed";
constexpr std::string_view msg_unwrapped_panic = "Unwrapped panic from Python code";
constexpr const char* msg_resume_banner =
    "pemrik: resuming an internal failure (PanicException) that came back from Python code\n"
    "Python stack trace below:\n";
constexpr const char* msg_abort = "uncaught panic at ffi boundary\n";

ObjectCell panic_class;

void set_panic(PyObject* text) noexcept {
    if (PyObject* cls = panic_exception_class()) PyErr_SetObject(cls, text);
}

// When memory runs out on the way, the MemoryError is what stays set.
void set_panic(std::string_view message) noexcept {
    Ref text = Ref::steal(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) set_panic(text.get());
}

// A PanicException raised by the module further down the stack came back
// through script code: report it and raise it again as a new one. Runs while
// a failure is reported, so it makes no C++ allocation: when memory runs
// out, the interpreter's MemoryError is what stays set.
void resume_panic_from_python() noexcept {
    Ref exc = Ref::steal(compat::take_exception());
    std::fputs(msg_resume_banner, stderr);
#if PY_VERSION_HEX >= 0x030C0000
    PyErr_DisplayException(exc.get());
#else
    PyErr_Display(nullptr, exc.get(), nullptr);
#endif
    if (Ref message = str_or(exc.get(), msg_unwrapped_panic)) set_panic(message.get());
}

void settle_python_error() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, msg_no_exception_set);
    } else if (panic_class.get() && PyErr_ExceptionMatches(panic_class.get())) {
        resume_panic_from_python();
    }
}

// Sets the Python exception for the C++ exception being handled.
void set_current_exception() {
    try {
        throw;
    } catch (const PythonError&) {
        settle_python_error();
    } catch (const Panic& p) {
        set_panic(p.message);
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pemrik: internal failure: %s\n", e.what());
        set_panic(e.what());
    } catch (...) {
        std::fprintf(stderr, "pemrik: internal failure of unknown kind\n");
        set_panic(msg_generic_panic);
    }
}

}  // namespace

PyObject* panic_exception_class() noexcept {
    if (PyObject* cls = panic_class.get()) return cls;
    Ref cls = Ref::steal(
        PyErr_NewExceptionWithDoc(panic_class_name, panic_class_doc, PyExc_BaseException, nullptr));
    return cls ? panic_class.fill(std::move(cls)) : nullptr;
}

PyObject* fail_with_current_exception() noexcept {
    // A failure while a failure is being reported cannot be reported: abort.
    try {
        set_current_exception();
    } catch (...) {
        std::fputs(msg_abort, stderr);
        std::fflush(stderr);
        std::abort();
    }
    return nullptr;
}

}  // namespace pemrik
