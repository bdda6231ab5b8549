// Ref: the one owning reference to a Python object, holding one strong
// reference or none; moved, never copied. steal(p) takes over a new reference
// that a C API call handed over, borrow(p) takes a new one to a borrowed
// pointer; get() lends the pointer, release() hands the reference on. There
// is no implicit conversion to PyObject*: every hand-over is visible.
#pragma once

#include <Python.h>

#include <atomic>
#include <utility>

namespace pemrik {

class Ref {
public:
    Ref() noexcept = default;
    Ref(Ref&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        Ref old(std::move(*this));
        ptr_ = std::exchange(other.ptr_, nullptr);
        return *this;
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    ~Ref() { Py_XDECREF(ptr_); }

    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    PyObject* get() const noexcept { return ptr_; }
    PyObject* release() noexcept { return std::exchange(ptr_, nullptr); }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

private:
    explicit Ref(PyObject* p) noexcept : ptr_(p) {}
    PyObject* ptr_ = nullptr;
};

// A process-wide cell filled once with an object kept for the process: the
// first value stored wins, and a reader in any thread sees it whole.
class ObjectCell {
public:
    PyObject* get() const noexcept { return value_.load(std::memory_order_acquire); }
    // Keeps obj unless a value is there already; returns the value kept.
    PyObject* fill(Ref obj) noexcept {
        PyObject* kept = nullptr;
        if (value_.compare_exchange_strong(kept, obj.get(), std::memory_order_acq_rel))
            return obj.release();
        return kept;
    }

private:
    std::atomic<PyObject*> value_{nullptr};
};

}  // namespace pemrik
