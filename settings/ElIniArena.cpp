#include "ElIniArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <mutex>

// Under AddressSanitizer a block in the free list or not yet taken is poisoned, so that a
// node used after its removal is reported as it would be on the heap.
#if defined(__has_include)
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(address, size) ((void)(address), (void)(size))
#endif

namespace cantorell {

namespace {

size_t MappedBytes(size_t bytes) {
    return (bytes + HugePageBytes - 1) / HugePageBytes * HugePageBytes;
}

// Freed blocks of 2 MiB or more (a tree's large chunks, a big key's child list and name
// index), kept for the blocks asked for next. Loading a big options file again (a reload,
// the next window's options) then writes over memory that is already mapped instead of
// having the kernel fault in and zero every huge page of it anew, which costs about as much
// as parsing the file. The same holds within one load: the block a big key's array leaves
// when it doubles serves the other array's next doubling.
//
// The bound: the blocks freed last, at most KeptBytesLimit bytes (the trees of a key of a
// million values, with room to spare) in at most as many blocks as FBlocks holds; the
// oldest go back to the kernel first. While kept, a block is marked free to the kernel:
// under memory pressure it takes the pages back without swapping them out, and a block
// taken later is simply faulted in again. Under AddressSanitizer a kept block is poisoned,
// so that a use after its release is reported.
class TBlockReserve {
public:
    static TBlockReserve& Process() {
        // Never destroyed: a store that outlives the static objects at exit still frees
        // its tree into it.
        static auto* reserve = new TBlockReserve;
        return *reserve;
    }

    // A kept block of exactly `size` mapped bytes, the one freed last, or null.
    void* Take(size_t size) {
        const std::lock_guard lock(FMutex);
        for (size_t i = FCount; i-- > 0;) {
            if (FBlocks[i].Size != size)
                continue;
            void* bytes = FBlocks[i].Bytes;
            std::move(FBlocks.begin() + i + 1, FBlocks.begin() + FCount, FBlocks.begin() + i);
            --FCount;
            FBytes -= size;
            ASAN_UNPOISON_MEMORY_REGION(bytes, size);
            return bytes;
        }
        return nullptr;
    }

    // Keeps a block of `size` mapped bytes, making room by unmapping the oldest ones.
    void Keep(void* bytes, size_t size) noexcept {
        if (size > KeptBytesLimit) {
            munmap(bytes, size);
            return;
        }
        const std::lock_guard lock(FMutex);
        size_t drop = 0;
        for (; drop < FCount && (FCount - drop == FBlocks.size() || FBytes + size > KeptBytesLimit);
             ++drop) {
            FBytes -= FBlocks[drop].Size;
            ASAN_UNPOISON_MEMORY_REGION(FBlocks[drop].Bytes, FBlocks[drop].Size);
            munmap(FBlocks[drop].Bytes, FBlocks[drop].Size);
        }
        std::move(FBlocks.begin() + drop, FBlocks.begin() + FCount, FBlocks.begin());
        FCount -= drop;
        madvise(bytes, size, MADV_FREE);
        ASAN_POISON_MEMORY_REGION(bytes, size);
        FBlocks[FCount++] = {bytes, size};
        FBytes += size;
    }

    static constexpr size_t KeptBytesLimit = 128 * HugePageBytes;

private:
    struct TKept {
        void* Bytes;
        size_t Size;
    };

    std::mutex FMutex;
    std::array<TKept, 32> FBlocks{}; // the oldest first
    size_t FCount = 0;
    size_t FBytes = 0;
};

} // namespace

void* AllocateBlock(size_t bytes) {
    if (bytes < HugePageBytes)
        return ::operator new(bytes);
    const size_t size = MappedBytes(bytes);
    if (size < bytes || size > SIZE_MAX - HugePageBytes)
        throw std::bad_alloc();
    if (void* kept = TBlockReserve::Process().Take(size))
        return kept;
    // One huge page more than needed, so that an aligned range lies inside; the slack at
    // both ends goes back at once.
    void* mapped = mmap(nullptr, size + HugePageBytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto start = reinterpret_cast<uintptr_t>(mapped);
    const uintptr_t aligned = (start + HugePageBytes - 1) / HugePageBytes * HugePageBytes;
    if (aligned > start)
        munmap(mapped, aligned - start);
    if (const size_t tail = start + HugePageBytes - aligned; tail > 0)
        munmap(reinterpret_cast<void*>(aligned + size), tail);
    // Only a hint: where huge pages are off, the mapping works with small ones.
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
    return reinterpret_cast<void*>(aligned);
}

void FreeBlock(void* block, size_t bytes) noexcept {
    if (block == nullptr)
        return;
    if (bytes < HugePageBytes)
        ::operator delete(block);
    else
        TBlockReserve::Process().Keep(block, MappedBytes(bytes));
}

TElIniArena::TElIniArena(size_t blockBytes)
    : FBlockBytes(std::max(blockBytes, sizeof(TFreeBlock))) {}

TElIniArena::~TElIniArena() {
    Release();
}

void TElIniArena::AddChunk() {
    const size_t size =
        FChunks.empty() ? FirstChunkBytes : std::min(FChunks.back().Size * 2, LargestChunkBytes);
    FChunks.reserve(FChunks.size() + 1); // a chunk is never mapped without its record
    auto* bytes = static_cast<std::byte*>(AllocateBlock(size));
    FChunks.push_back({bytes, size});
    FNext = bytes;
    FEnd = bytes + size / FBlockBytes * FBlockBytes;
    ASAN_POISON_MEMORY_REGION(bytes, size);
}

void* TElIniArena::Take() {
    if (FFree != nullptr) {
        TFreeBlock* block = FFree;
        ASAN_UNPOISON_MEMORY_REGION(block, FBlockBytes);
        FFree = block->Next;
        return block;
    }
    if (FNext == FEnd)
        AddChunk();
    void* block = FNext;
    FNext += FBlockBytes;
    ASAN_UNPOISON_MEMORY_REGION(block, FBlockBytes);
    return block;
}

void TElIniArena::Give(void* block) noexcept {
    FFree = new (block) TFreeBlock{FFree};
    ASAN_POISON_MEMORY_REGION(block, FBlockBytes);
}

void TElIniArena::Release() noexcept {
    // Poison left on heap memory would stay on whatever the heap puts there next; a large
    // chunk is poisoned again while it is kept.
    for (const TChunk& chunk : FChunks) {
        ASAN_UNPOISON_MEMORY_REGION(chunk.Bytes, chunk.Size);
        FreeBlock(chunk.Bytes, chunk.Size);
    }
    FChunks.clear();
    FChunks.shrink_to_fit();
    FNext = FEnd = nullptr;
    FFree = nullptr;
}

} // namespace cantorell
