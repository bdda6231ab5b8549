// New str objects holding rendered text, written straight in their final
// kind: one, two or four bytes per code point, as the interpreter stores it.
#pragma once

#include <Python.h>
#include <sys/mman.h>

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <new>

#include "core/text.hpp"
#include "module/errors.hpp"
#include "module/ref.hpp"

namespace pemrik {

// Asks the kernel to back a large output with huge pages, when it can:
// writing tens of MB into fresh memory otherwise costs a page fault per
// 4 KiB, more than the writing itself.
inline void advise_large_output(void* data, std::size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
    if (bytes < 4 * huge_page) return;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + huge_page - 1) & ~(huge_page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + bytes) & ~(huge_page - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);  // advice only
#else
    (void)data;
    (void)bytes;
#endif
}

// A new str holding what a renderer writes: size() is its text::Size,
// write(out) fills that many code units of the width of out.
template <class Renderer>
Ref make_str(const Renderer& renderer) {
    const text::Size size = renderer.size();
    if (size.length > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    const auto length = static_cast<Py_ssize_t>(size.length);
    Ref str = check(PyUnicode_New(length, static_cast<Py_UCS4>(text::max_code_point(size.top))));
    void* data = PyUnicode_DATA(str.get());
    const int kind = PyUnicode_KIND(str.get());
    advise_large_output(data, size.length * static_cast<std::size_t>(kind));
    [[maybe_unused]] const void* end;
    if (kind == PyUnicode_1BYTE_KIND)
        end = renderer.write(static_cast<Py_UCS1*>(data));
    else if (kind == PyUnicode_2BYTE_KIND)
        end = renderer.write(static_cast<Py_UCS2*>(data));
    else
        end = renderer.write(static_cast<Py_UCS4*>(data));
    assert(end == static_cast<char*>(data) + length * kind);  // what was measured was written
    return str;
}

}  // namespace pemrik
