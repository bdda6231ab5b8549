// Advice for large outputs.
#include "module/output.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace pemrik {

void advise_large_output(void* data, std::size_t bytes) noexcept {
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

}  // namespace pemrik
