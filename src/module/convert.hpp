// Conversions between Python objects and the module's values.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <type_traits>

#include "module/compat.hpp"
#include "module/errors.hpp"
#include "module/ref.hpp"
#include "module/types.hpp"
#include "request/core/record.hpp"

namespace pemrik {

inline constexpr std::string_view msg_str_as_list = "Can't extract `str` to `Vec`";
inline constexpr std::string_view msg_tuple_length =
    "expected tuple of length {}, but got tuple of length {}";

// Texts for messages, in two contracts (arguments are converted by utf8_of
// below):
//
// str_or: the text of str(obj) as a str whose lone surrogates became U+FFFD
// (three per surrogate), or, when str() fails for any reason but memory, the
// fallback text (that failure cleared, or handed to the unraisable hook with
// obj), or, with StrFailure::raise, nothing with that failure set. Null, with
// the exception set, when memory runs out; makes no C++ allocation, so a
// failure report can use it.
enum class StrFailure { clear, report_unraisable, raise };
Ref str_or(PyObject* obj, std::string_view fallback,
           StrFailure failure = StrFailure::clear) noexcept;

// utf8_or: the UTF-8 of a name (a new reference to a str, or null from a
// call that failed), or the fallback when there is none or it is not valid
// text. Throws only when memory runs out.
std::string utf8_or(Ref name, std::string_view fallback);

// The UTF-8 of a str (or subclass), valid as long as the str lives; other
// objects raise the conversion error, lone surrogates the interpreter's
// UnicodeEncodeError. An ASCII str is its own UTF-8, read in place.
std::string_view utf8_of_other(PyObject* obj);
inline std::string_view utf8_of(PyObject* obj) {
    if (PyUnicode_Check(obj) && PyUnicode_IS_COMPACT_ASCII(obj))
        return std::string_view(static_cast<const char*>(PyUnicode_DATA(obj)),
                                static_cast<std::size_t>(PyUnicode_GET_LENGTH(obj)));
    return utf8_of_other(obj);
}

// A tuple (or subclass) of exactly two str as a header pair, valid as long
// as the tuple lives.
[[noreturn, gnu::cold]] void raise_tuple_length(Py_ssize_t length);
inline HeaderView header_of(PyObject* obj) {
    if (!PyTuple_Check(obj)) raise_conversion_error(obj, "PyTuple");
    if (PyTuple_GET_SIZE(obj) != 2) raise_tuple_length(PyTuple_GET_SIZE(obj));
    const auto name = utf8_of(PyTuple_GET_ITEM(obj, 0));
    return HeaderView{name, utf8_of(PyTuple_GET_ITEM(obj, 1))};
}

// Reads a sequence that is not a str into items, item by item in iteration
// order, converting each. The reported length only reserves room, within a
// bound, and never limits or pads the items. Each item is held while it is
// converted and, when kept is given, kept there afterwards, for results that
// point into it (the lifetime rule in binding.hpp).
template <class Items, class Convert, class Kept = std::nullptr_t>
void to_list(PyObject* obj, Items& items, Convert convert, Kept* kept = nullptr) {
    // The length a script reports may be anything (a __len__ can claim 2**62
    // and yield two items): it reserves at most this many, and a longer
    // sequence grows as it is read.
    constexpr Py_ssize_t most_reserved = 4096;
    if (PyUnicode_Check(obj)) raise(PyExc_TypeError, msg_str_as_list);
    auto take = [&](Ref item) {
        items.push_back(convert(item.get()));
        if constexpr (!std::is_null_pointer_v<Kept>)
            if (kept) kept->push_back(std::move(item));
    };
    // An exact list or tuple is walked in place. Script code that runs
    // meanwhile (a finalizer), or another thread when its critical section
    // is suspended, may change a list, so its size and items are read again
    // for each step, as its own iterator does.
    if (PyList_CheckExact(obj) || PyTuple_CheckExact(obj)) {
        const compat::CriticalSection walking(obj);
        items.reserve(static_cast<std::size_t>(PySequence_Fast_GET_SIZE(obj)));
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(obj); ++i)
            take(Ref::borrow(PySequence_Fast_GET_ITEM(obj, i)));
        return;
    }
    if (!PySequence_Check(obj)) raise_conversion_error(obj, "Sequence");
    Py_ssize_t hint = PySequence_Size(obj);
    // A failing hint costs only the reservation when it is an ordinary
    // exception; an interrupt or an internal failure ends the call.
    if (hint < 0) {
        if (!PyErr_ExceptionMatches(PyExc_Exception)) throw_python_error();
        PyErr_Clear();
    }
    items.reserve(static_cast<std::size_t>(std::clamp<Py_ssize_t>(hint, 0, most_reserved)));
    Ref iterator = check(PyObject_GetIter(obj));
    while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) take(std::move(item));
    if (PyErr_Occurred()) throw_python_error();
}

}  // namespace pemrik
