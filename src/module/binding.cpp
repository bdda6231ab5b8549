// Argument binding with its messages, and the argument-error rule.
#include "module/binding.hpp"

#include <cstring>
#include <string>

#include "core/format.hpp"
#include "module/compat.hpp"
#include "module/convert.hpp"
#include "module/ref.hpp"

namespace pemrik {
namespace {

constexpr std::string_view msg_too_many_range =
    "{} takes from {} to {} positional arguments but {} {} given";
constexpr std::string_view msg_too_many = "{} takes {} positional arguments but {} {} given";
constexpr std::string_view msg_multiple_values = "{} got multiple values for argument '{}'";
constexpr std::string_view msg_unexpected_keyword = "{} got an unexpected keyword argument '{}'";
constexpr std::string_view msg_missing = "{} missing {} required {} {}: {}";
constexpr std::string_view msg_argument = "argument '{}': {}";
// The exception renamed is always exactly a TypeError.
constexpr std::string_view msg_unprintable = "<unprintable TypeError object>";

constexpr std::string_view display_format = "{}.{}()";  // "Pemrik.__new__()"

std::string display_name(const Signature& sig) {
    return format(display_format, sig.class_name, sig.name);
}

[[noreturn, gnu::cold]] void raise_too_many(const Signature& sig, std::size_t given) {
    const auto count = sig.parameters.size();
    const char* verb = given == 1 ? "was" : "were";
    if (sig.required == count)
        raise(PyExc_TypeError, format(msg_too_many, display_name(sig), count, given, verb));
    raise(PyExc_TypeError,
          format(msg_too_many_range, display_name(sig), sig.required, count, given, verb));
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string quoted_list(std::span<const char* const> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : i + 1 == names.size() ? ", and " : ", ";
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

[[noreturn, gnu::cold]] void raise_missing(const Signature& sig, const Ref* slots) {
    const char* missing[most_parameters];
    std::size_t count = 0;
    for (std::size_t i = 0; i < sig.required && count < std::size(missing); ++i)
        if (!slots[i]) missing[count++] = sig.parameters[i];
    raise(PyExc_TypeError, format(msg_missing, display_name(sig), count, "positional",
                                  count == 1 ? "argument" : "arguments",
                                  quoted_list(std::span<const char* const>(missing, count))));
}

void bind_positional(const Signature& sig, PyObject* const* args, std::size_t given, Ref* slots) {
    if (given > sig.parameters.size()) raise_too_many(sig, given);
    for (std::size_t i = 0; i < given; ++i) slots[i] = Ref::borrow(args[i]);
}

void bind_keyword(const Signature& sig, PyObject* key, PyObject* value, Ref* slots) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_Check(key) ? PyUnicode_AsUTF8AndSize(key, &size) : nullptr;
    if (utf8) {
        for (std::size_t i = 0; i < sig.parameters.size(); ++i) {
            const char* param = sig.parameters[i];
            if (std::strlen(param) != static_cast<std::size_t>(size) ||
                std::memcmp(param, utf8, static_cast<std::size_t>(size)) != 0)
                continue;
            if (slots[i])
                raise(PyExc_TypeError, format(msg_multiple_values, display_name(sig), param));
            slots[i] = Ref::borrow(value);
            return;
        }
    } else {
        clear_error_unless_out_of_memory();  // a name that is not valid text matches no parameter
    }
    Ref held = Ref::borrow(key);  // str() runs script code
    Ref text = str_or(held.get(), {}, StrFailure::raise);
    if (!text) throw_python_error();
    raise(PyExc_TypeError, format(msg_unexpected_keyword, display_name(sig), utf8_of(text.get())));
}

void check_required(const Signature& sig, std::size_t given, const Ref* slots) {
    for (std::size_t i = given; i < sig.required; ++i)
        if (!slots[i]) raise_missing(sig, slots);
}

}  // namespace

void bind(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* slots) {
    const auto given = static_cast<std::size_t>(PyTuple_GET_SIZE(args));
    bind_positional(sig, &PyTuple_GET_ITEM(args, 0), given, slots);
    if (kwargs) {
        Py_ssize_t pos = 0;
        PyObject *key, *value;
        while (PyDict_Next(kwargs, &pos, &key, &value)) bind_keyword(sig, key, value, slots);
    }
    check_required(sig, given, slots);
}

void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          Ref* slots) {
    const auto given = static_cast<std::size_t>(nargs);
    bind_positional(sig, args, given, slots);
    if (kwnames) {
        const Py_ssize_t count = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < count; ++k)
            bind_keyword(sig, PyTuple_GET_ITEM(kwnames, k),
                         args[given + static_cast<std::size_t>(k)], slots);
    }
    check_required(sig, given, slots);
}

void name_argument_error(const char* parameter) {
    if (!PyErr_Occurred() || !PyErr_ExceptionMatches(PyExc_TypeError)) return;
    Ref caught = Ref::steal(compat::take_exception());
    if (Py_TYPE(caught.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        compat::restore_exception(caught.release());
        return;
    }
    Ref text = str_or(caught.get(), msg_unprintable, StrFailure::report_unraisable);
    if (!text) throw_python_error();
    raise_with_cause(PyExc_TypeError, format(msg_argument, parameter, utf8_of(text.get())),
                     Ref::steal(PyException_GetCause(caught.get())));
}

}  // namespace pemrik
