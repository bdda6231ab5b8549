// Preloaded by the out-of-memory sweep: operator new (which the array and nothrow forms call)
// counts its calls in oom_new[0] and throws std::bad_alloc at call oom_new[1] (-1 refuses none).
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
