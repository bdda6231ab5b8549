// Shared and exclusive borrows of an instance's record.
//
// The borrow flag: 0 free, n shared borrows, all bits set for one exclusive
// borrow. Each borrow also holds a strong reference to its instance, so the
// record outlives any script code that runs while the borrow is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>

#include "module/errors.hpp"
#include "module/types.hpp"

namespace pemrik {

inline constexpr std::uint64_t exclusively_borrowed = ~std::uint64_t{0};
inline constexpr std::string_view msg_already_mutably_borrowed = "Already mutably borrowed";
inline constexpr std::string_view msg_already_borrowed = "Already borrowed";

enum class Access { shared, exclusive };

// A borrow of the record of an instance of class C: read access for a shared
// borrow, read and write access for the exclusive one.
template <class C, Access access>
class Borrow {
public:
    using Record = std::conditional_t<access == Access::shared, const typename C::Record,
                                      typename C::Record>;

    // Instance check, then the borrow; refused while a conflicting one is held.
    static Borrow take(PyObject* obj) {
        auto* inst = checked_instance<C>(obj);
        if (!acquire(inst))
            raise(PyExc_RuntimeError, access == Access::shared ? msg_already_mutably_borrowed
                                                               : msg_already_borrowed);
        return Borrow(obj, inst);
    }

    // As take, but empty instead of raising when obj is not an instance.
    static Borrow try_take(PyObject* obj) {
        auto* inst = as_instance<C>(obj);
        if (!inst || !acquire(inst)) return Borrow();
        return Borrow(obj, inst);
    }

    Borrow(Borrow&& other) noexcept
        : owner_(std::move(other.owner_)), inst_(std::exchange(other.inst_, nullptr)) {}
    Borrow& operator=(Borrow&&) = delete;
    ~Borrow() {
        if (!inst_) return;
        if constexpr (access == Access::shared)
            inst_->borrow.fetch_sub(1, std::memory_order_release);
        else
            inst_->borrow.store(0, std::memory_order_release);
    }

    explicit operator bool() const noexcept { return inst_ != nullptr; }
    Record& operator*() const noexcept { return inst_->record; }
    Record* operator->() const noexcept { return &inst_->record; }

private:
    Borrow() = default;
    Borrow(PyObject* obj, InstanceOf<C>* inst) : owner_(Ref::borrow(obj)), inst_(inst) {}

    static bool acquire(InstanceOf<C>* inst) noexcept {
        auto flag = inst->borrow.load(std::memory_order_relaxed);
        if constexpr (access == Access::exclusive) {
            return flag == 0 && inst->borrow.compare_exchange_strong(flag, exclusively_borrowed,
                                                                     std::memory_order_acquire);
        } else {
            do {
                if (flag >= exclusively_borrowed - 1) return false;
            } while (!inst->borrow.compare_exchange_weak(flag, flag + 1, std::memory_order_acquire,
                                                         std::memory_order_relaxed));
            return true;
        }
    }

    Ref owner_;
    InstanceOf<C>* inst_ = nullptr;
};

template <class C>
using Shared = Borrow<C, Access::shared>;
template <class C>
using Exclusive = Borrow<C, Access::exclusive>;

}  // namespace pemrik
