// Shared and exclusive borrows of an instance's record.
//
// The borrow flag (values in types.hpp) counts shared borrows or marks one
// exclusive borrow; an instance without a record cannot be borrowed. Each
// borrow also holds a strong reference to its instance, so the record
// outlives any script code that runs while the borrow is held.
#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>
#include <type_traits>

#include "module/errors.hpp"
#include "module/types.hpp"

namespace pemrik {

inline constexpr std::string_view msg_already_mutably_borrowed = "Already mutably borrowed";
inline constexpr std::string_view msg_already_borrowed = "Already borrowed";

enum class Access { shared, exclusive };

// A borrow of the record of an instance of class C: read access for a shared
// borrow, read and write access for the exclusive one.
template <class C, Access access>
class Borrow {
public:
    using Record =
        std::conditional_t<access == Access::shared, const typename C::Record, typename C::Record>;

    // Instance check, then the borrow; refused while a conflicting one is
    // held, and for an instance without a record.
    static Borrow take(PyObject* obj) {
        auto* inst = checked_instance<C>(obj);
        const Acquired got = acquire(inst);
        if (got != Acquired::taken) [[unlikely]] {
            if (got == Acquired::no_state) raise_unmade(C::info.name);
            raise(PyExc_RuntimeError,
                  access == Access::shared ? msg_already_mutably_borrowed : msg_already_borrowed);
        }
        return Borrow(obj, inst);
    }

    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;
    ~Borrow() {
        if constexpr (access == Access::shared)
            inst_->borrow.fetch_sub(1, std::memory_order_release);
        else
            inst_->borrow.store(borrow_flag::unborrowed, std::memory_order_release);
    }

    Record& operator*() const noexcept { return inst_->record; }

private:
    Borrow(PyObject* obj, InstanceOf<C>* inst) : owner_(Ref::borrow(obj)), inst_(inst) {}

    enum class Acquired { taken, conflict, no_state };

    static Acquired acquire(InstanceOf<C>* inst) noexcept {
        using namespace borrow_flag;
        auto flag = inst->borrow.load(std::memory_order_relaxed);
        if constexpr (access == Access::exclusive) {
            if (flag == unborrowed &&
                inst->borrow.compare_exchange_strong(flag, exclusive, std::memory_order_acquire))
                return Acquired::taken;
        } else {
            // One more shared borrow must not make the flag read as
            // exclusive: the last count below it is refused, not taken.
            while (flag != no_state && flag < exclusive - 1) {
                if (inst->borrow.compare_exchange_weak(flag, flag + 1, std::memory_order_acquire,
                                                       std::memory_order_relaxed))
                    return Acquired::taken;
            }
        }
        return flag == no_state ? Acquired::no_state : Acquired::conflict;
    }

    Ref owner_;
    InstanceOf<C>* inst_;
};

// The record of an instance of a class that no call ever borrows
// exclusively (HTTPMETHOD), read without a borrow: it never changes, and the
// caller holds the instance for the call. Refuses an instance without a
// record; try_read gives null for it and for any other object.
template <class C>
const typename C::Record* try_read(PyObject* obj) {
    auto* inst = as_instance<C>(obj);
    if (!inst || inst->borrow.load(std::memory_order_acquire) == borrow_flag::no_state)
        return nullptr;
    return &inst->record;
}
template <class C>
const typename C::Record& read(PyObject* obj) {
    auto* inst = checked_instance<C>(obj);
    if (inst->borrow.load(std::memory_order_acquire) == borrow_flag::no_state) [[unlikely]]
        raise_unmade(C::info.name);
    return inst->record;
}

template <class C>
using Shared = Borrow<C, Access::shared>;
template <class C>
using Exclusive = Borrow<C, Access::exclusive>;

}  // namespace pemrik
