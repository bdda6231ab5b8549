// Binding call arguments to parameters, and the argument-error rule.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "module/errors.hpp"

namespace pemrik {

// A callable that takes arguments: all parameters positional-or-keyword, the
// first `required` of them required.
struct Signature {
    const char* class_name;  // may be null
    const char* name;
    std::span<const char* const> parameters;
    std::size_t required;
};

// Both forms fill slots[0..parameters.size()) with borrowed references, null
// for parameters not given, or raise the binding TypeError. nargs counts the
// positional arguments (a vectorcall's flag already taken off).
void bind(const Signature& sig, PyObject* args, PyObject* kwargs, PyObject** slots);
void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** slots);

// Rewrites the current exception, raised while converting the argument
// `parameter`: a TypeError (exactly) gets the message "argument 'NAME': ...".
[[gnu::cold]] void name_argument_error(const char* parameter);

// Runs a conversion of one bound argument under the argument-error rule.
template <class Convert>
auto convert_argument(const char* parameter, Convert convert) -> decltype(convert()) {
    try {
        return convert();
    } catch (const PythonError&) {
        name_argument_error(parameter);
        throw;
    }
}

}  // namespace pemrik
