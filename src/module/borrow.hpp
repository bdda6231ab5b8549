// Shared and exclusive borrows of an instance's record.
//
// The borrow flag: 0 free, n shared borrows, all bits set for one exclusive
// borrow. Each borrow also holds a strong reference to its instance, so the
// record outlives any script code that runs while the borrow is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

#include "module/errors.hpp"
#include "module/types.hpp"

namespace pemrik {

inline constexpr std::uint64_t exclusively_borrowed = ~std::uint64_t{0};
inline constexpr std::string_view msg_already_mutably_borrowed = "Already mutably borrowed";
inline constexpr std::string_view msg_already_borrowed = "Already borrowed";

// Read access to the record of an instance of class C.
template <class C>
class Shared {
public:
    using Record = typename C::Record;

    // Instance check, then one more reader; refused while exclusively borrowed.
    static Shared take(PyObject* obj) {
        auto* inst = checked_instance<C>(obj);
        if (!try_count_reader(inst)) raise(PyExc_RuntimeError, msg_already_mutably_borrowed);
        return Shared(obj, inst);
    }

    // As take, but empty instead of raising when obj is not an instance.
    static Shared try_take(PyObject* obj) {
        auto* inst = as_instance<C>(obj);
        if (!inst || !try_count_reader(inst)) return Shared();
        return Shared(obj, inst);
    }

    Shared(Shared&& other) noexcept
        : owner_(std::move(other.owner_)), inst_(std::exchange(other.inst_, nullptr)) {}
    Shared& operator=(Shared&&) = delete;
    ~Shared() {
        if (inst_) inst_->borrow.fetch_sub(1, std::memory_order_release);
    }

    explicit operator bool() const noexcept { return inst_ != nullptr; }
    const Record& operator*() const noexcept { return inst_->record; }
    const Record* operator->() const noexcept { return &inst_->record; }

private:
    Shared() = default;
    Shared(PyObject* obj, InstanceOf<C>* inst) : owner_(Ref::borrow(obj)), inst_(inst) {}

    static bool try_count_reader(InstanceOf<C>* inst) noexcept {
        auto flag = inst->borrow.load(std::memory_order_relaxed);
        do {
            if (flag >= exclusively_borrowed - 1) return false;
        } while (!inst->borrow.compare_exchange_weak(flag, flag + 1, std::memory_order_acquire,
                                                     std::memory_order_relaxed));
        return true;
    }

    Ref owner_;
    InstanceOf<C>* inst_ = nullptr;
};

// Read and write access to the record of an instance of class C.
template <class C>
class Exclusive {
public:
    using Record = typename C::Record;

    static Exclusive take(PyObject* obj) {
        auto* inst = checked_instance<C>(obj);
        std::uint64_t free = 0;
        if (!inst->borrow.compare_exchange_strong(free, exclusively_borrowed,
                                                  std::memory_order_acquire))
            raise(PyExc_RuntimeError, msg_already_borrowed);
        return Exclusive(obj, inst);
    }

    Exclusive(Exclusive&& other) noexcept
        : owner_(std::move(other.owner_)), inst_(std::exchange(other.inst_, nullptr)) {}
    Exclusive& operator=(Exclusive&&) = delete;
    ~Exclusive() {
        if (inst_) inst_->borrow.store(0, std::memory_order_release);
    }

    Record& operator*() const noexcept { return inst_->record; }
    Record* operator->() const noexcept { return &inst_->record; }

private:
    Exclusive(PyObject* obj, InstanceOf<C>* inst) : owner_(Ref::borrow(obj)), inst_(inst) {}

    Ref owner_;
    InstanceOf<C>* inst_ = nullptr;
};

}  // namespace pemrik
