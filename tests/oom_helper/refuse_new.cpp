// Preloaded by the out-of-memory sweep (tests/reliability/test_oom.py): operator new counts its
// calls from 0 in oom_new[0] and throws std::bad_alloc at call number oom_new[1] (-1 refuses none).
// The array and nothrow forms call this one.
#include <cstdlib>
#include <new>

extern "C" {
long long oom_new[2] = {0, -1};
}

void* operator new(std::size_t size) {
    if (oom_new[0]++ == oom_new[1]) throw std::bad_alloc();
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
