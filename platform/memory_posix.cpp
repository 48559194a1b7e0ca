#include "platform/memory.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace platform {

void adviseLargeBuffer(void* p, std::size_t n) {
#ifdef MADV_HUGEPAGE
    if (p == nullptr || n < kLargeBufferBytes) return;
    // madvise wants whole pages: the pages that lie entirely inside.
    static const std::uintptr_t page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(p) + n) & ~(page - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)n;
#endif
}

void tuneAllocatorForLargeMessages() {
#if defined(__GLIBC__)
    // A packet is at most 10 MiB and an attachment some tens; the freed
    // memory kept is bounded by the trim threshold per arena.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // One heap for all threads: a block freed by the command of one I/O
    // thread is then there for the next message whichever thread reads it
    // (the service's few threads hardly contend for it).
    mallopt(M_ARENA_MAX, 1);
#endif
}

}  // namespace platform
