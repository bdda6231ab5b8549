// A vector whose first N items live in place, without an allocation: for
// the few items of one call.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <span>
#include <utility>

namespace pemrik {

template <class T, std::size_t N>
class SmallVector {
public:
    SmallVector() noexcept = default;
    SmallVector(const SmallVector&) = delete;
    SmallVector& operator=(const SmallVector&) = delete;
    ~SmallVector() { std::destroy_n(data_, size_); }

    void push_back(T item) {
        if (size_ == capacity_) grow(2 * capacity_);
        new (data_ + size_) T(std::move(item));
        ++size_;
    }
    void reserve(std::size_t n) {
        if (n > capacity_) grow(n);
    }

    std::span<T> items() noexcept { return {data_, size_}; }

private:
    struct alignas(T) Slot {
        unsigned char bytes[sizeof(T)];
    };

    void grow(std::size_t capacity) {
        auto fresh = std::make_unique<Slot[]>(capacity);
        T* moved = reinterpret_cast<T*>(fresh.get());
        std::uninitialized_move_n(data_, size_, moved);
        std::destroy_n(data_, size_);
        data_ = moved;
        heap_ = std::move(fresh);
        capacity_ = capacity;
    }

    Slot in_place_[N];
    std::unique_ptr<Slot[]> heap_;
    T* data_ = reinterpret_cast<T*>(in_place_);
    std::size_t size_ = 0;
    std::size_t capacity_ = N;
};

}  // namespace pemrik
