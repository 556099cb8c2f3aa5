#include "ElIniArena.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

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

} // namespace

void* AllocateBlock(size_t bytes) {
    if (bytes < HugePageBytes)
        return ::operator new(bytes);
    const size_t size = MappedBytes(bytes);
    if (size < bytes || size > SIZE_MAX - HugePageBytes)
        throw std::bad_alloc();
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
        munmap(block, MappedBytes(bytes));
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
    for (const TChunk& chunk : FChunks) {
        // Poison left on memory going back to the kernel would stay on whatever is mapped
        // there next.
        ASAN_UNPOISON_MEMORY_REGION(chunk.Bytes, chunk.Size);
        FreeBlock(chunk.Bytes, chunk.Size);
    }
    FChunks.clear();
    FChunks.shrink_to_fit();
    FNext = FEnd = nullptr;
    FFree = nullptr;
}

} // namespace cantorell
