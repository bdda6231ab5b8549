// Text and header conversions, and the texts of messages.
#include "module/convert.hpp"

#include <cstdint>

#include "core/format.hpp"

namespace pemrik {

namespace {

// str as an exact str whose lone surrogates became U+FFFD.
Ref lossy_str(PyObject* str) noexcept {
    if (PyUnicode_AsUTF8AndSize(str, nullptr))
        return PyUnicode_CheckExact(str) ? Ref::borrow(str) : Ref::steal(PyUnicode_FromObject(str));
    if (PyErr_ExceptionMatches(PyExc_MemoryError)) return Ref();
    PyErr_Clear();
    Ref bytes = Ref::steal(PyUnicode_AsEncodedString(str, "utf-8", "surrogatepass"));
    if (!bytes) return Ref();
    return Ref::steal(PyUnicode_DecodeUTF8(PyBytes_AS_STRING(bytes.get()),
                                           PyBytes_GET_SIZE(bytes.get()), "replace"));
}

}  // namespace

Ref str_or(PyObject* obj, std::string_view fallback, StrFailure failure) noexcept {
    if (Ref text = Ref::steal(PyObject_Str(obj))) return lossy_str(text.get());
    if (failure == StrFailure::raise || PyErr_ExceptionMatches(PyExc_MemoryError)) return Ref();
    if (failure == StrFailure::report_unraisable)
        PyErr_WriteUnraisable(obj);
    else
        PyErr_Clear();
    return Ref::steal(
        PyUnicode_FromStringAndSize(fallback.data(), static_cast<Py_ssize_t>(fallback.size())));
}

std::string utf8_or(Ref name, std::string_view fallback) {
    if (name) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size))
            return std::string(utf8, static_cast<std::size_t>(size));
    }
    clear_error_unless_out_of_memory();
    return std::string(fallback);
}

void raise_tuple_length(Py_ssize_t length) {
    raise(PyExc_ValueError, format(msg_tuple_length, 2, length));
}

std::string_view utf8_of_other(PyObject* obj) {
    if (!PyUnicode_Check(obj)) raise_conversion_error(obj, "PyString");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
    if (!utf8) throw_python_error();
    return std::string_view(utf8, static_cast<std::size_t>(size));
}

}  // namespace pemrik
