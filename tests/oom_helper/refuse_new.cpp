// Preloaded by the out-of-memory sweep (tests/reliability/test_oom.py): operator new number
// oom_refuse_new, counted from 0 in oom_new_count, throws std::bad_alloc (-1 refuses none). The
// array and nothrow forms call this one.
#include <cstdlib>
#include <new>

extern "C" {
long long oom_new_count = 0, oom_refuse_new = -1;
}

void* operator new(std::size_t size) {
    if (oom_new_count++ == oom_refuse_new) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
