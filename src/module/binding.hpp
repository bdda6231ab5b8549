// Binding call arguments to parameters, and the argument-error rule.
//
// The lifetime rule for everything the module reads from its arguments: no
// pointer or view into memory that the module does not own survives a point
// where script code may run (a callback of an argument, a finalizer the
// collector runs meanwhile). A text is either copied into module-owned
// storage at once, or read through an object the module holds a strong
// reference to for as long as the view lives. The caller's references do not
// count: a caller written in C may lend them (functools.partial lends what it
// stores) and let go of them from inside such a callback. So bind() holds
// every bound argument, and to_list() (convert.hpp) every item it reads.
#pragma once

#include <Python.h>

#include <span>
#include <string_view>

#include "module/errors.hpp"
#include "module/ref.hpp"

namespace pemrik {

// The most parameters a signature may have (the missing-arguments message
// lists them from a fixed array).
inline constexpr std::size_t most_parameters = 8;

// A callable that takes arguments: all parameters positional-or-keyword, the
// first `required` of them required.
struct Signature {
    template <std::size_t count>
    consteval Signature(const char* class_name_, const char* name_,
                        const char* const (&parameters_)[count], std::size_t required_)
        : class_name(class_name_), name(name_), parameters(parameters_), required(required_) {
        static_assert(count <= most_parameters);
        if (!class_name_ || !name_) throw "a signature names its class and callable";
    }

    const char* class_name;
    const char* name;
    std::span<const char* const> parameters;
    std::size_t required;
};

// Both forms fill slots[0..parameters.size()) with strong references, empty
// for parameters not given, or raise the binding TypeError. nargs counts the
// positional arguments (a vectorcall's flag already taken off).
void bind(const Signature& sig, PyObject* args, PyObject* kwargs, Ref* slots);
void bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          Ref* slots);

// Rewrites the current exception, raised while converting the argument
// `parameter`: a TypeError (exactly) is raised again as one with the message
// "argument 'NAME': ..." and the same cause; any other stays as it is.
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
