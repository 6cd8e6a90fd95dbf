#include "sys/BlockReuse.h"

#include <windows.h>

#include <malloc.h>

#include <cstdlib>
#include <new>

namespace {

// Blocks from this size up bypass the heap's own free lists; smaller ones are left to it.
constexpr size_t kSmallestKept = size_t(256) << 10;
constexpr size_t kLargestKept = size_t(16) << 20;
// Enough for the planes of two workers' pictures, small beside the picture budget.
constexpr size_t kMostKeptBytes = size_t(24) << 20;
constexpr int kSlots = 16;

struct Kept {
    void* block = nullptr;
    size_t bytes = 0;
};

// Plain data with static initialisation, so it is ready before any constructor of another unit allocates.
SRWLOCK gLock = SRWLOCK_INIT;
Kept gKept[kSlots];
size_t gKeptBytes = 0;

class LockGuard {
public:
    LockGuard() { AcquireSRWLockExclusive(&gLock); }
    ~LockGuard() { ReleaseSRWLockExclusive(&gLock); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;
};

// The smallest kept block that holds bytes without wasting more than a quarter of it, taken out of the list.
void* TakeKept(size_t bytes) {
    LockGuard lock;
    int best = -1;
    for (int i = 0; i < kSlots; ++i) {
        const Kept& k = gKept[i];
        if (k.block && k.bytes >= bytes && k.bytes - bytes <= k.bytes / 4 && (best < 0 || k.bytes < gKept[best].bytes))
            best = i;
    }
    if (best < 0) return nullptr;
    void* block = gKept[best].block;
    gKeptBytes -= gKept[best].bytes;
    gKept[best] = Kept();
    return block;
}

bool Keep(void* block, size_t bytes) {
    LockGuard lock;
    if (gKeptBytes + bytes > kMostKeptBytes) return false;
    for (Kept& k : gKept) {
        if (!k.block) {
            k = Kept{block, bytes};
            gKeptBytes += bytes;
            return true;
        }
    }
    return false;
}

}  // namespace

size_t KeptBlockBytes() {
    LockGuard lock;
    return gKeptBytes;
}

void ReleaseKeptBlocks() {
    Kept taken[kSlots];
    {
        LockGuard lock;
        for (int i = 0; i < kSlots; ++i) {
            taken[i] = gKept[i];
            gKept[i] = Kept();
        }
        gKeptBytes = 0;
    }
    for (const Kept& k : taken)
        std::free(k.block);
}

// The other forms (arrays, sized and nothrow) of the C++ library forward to these two.
void* operator new(size_t bytes) {
    if (bytes == 0) bytes = 1;
    if (bytes >= kSmallestKept && bytes <= kLargestKept) {
        if (void* block = TakeKept(bytes)) return block;
    }
    void* block = std::malloc(bytes);
    if (!block && KeptBlockBytes() > 0) {
        ReleaseKeptBlocks();
        block = std::malloc(bytes);
    }
    if (!block) throw std::bad_alloc();
    return block;
}

void operator delete(void* block) noexcept {
    if (!block) return;
    const size_t bytes = _msize(block);
    if (bytes >= kSmallestKept && bytes <= kLargestKept && Keep(block, bytes)) return;
    std::free(block);
}

// Most frees come with the size asked for. A block handed out for it is at most a third larger, so below that
// bound it is a small block, freed without asking the heap for its size.
void operator delete(void* block, size_t requested) noexcept {
    if (requested < kSmallestKept - kSmallestKept / 4) {
        std::free(block);
        return;
    }
    operator delete(block);
}
