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

// The large chunks of the tree freed last, kept for the next tree of the process. Loading
// a big options file again (a reload, the next window's options) then writes over memory
// that is already mapped instead of having the kernel fault in and zero every huge page of
// it anew, which costs about as much as parsing the file.
//
// The bound: only the chunks of one tree are kept, those of the latest tree that had any,
// and what that tree kept and no tree took since is freed when the next one arrives. So the
// process never holds more than it held a moment before, while that tree was alive, and no
// more than KeptBytesLimit of it (a key of a million values, with room to spare). While
// kept, the chunks are marked as free to the kernel: under memory pressure it takes their
// pages back without swapping them out, and a chunk taken later is simply faulted in again.
class TChunkReserve {
public:
    static TChunkReserve& Process() {
        // Never destroyed: a store that outlives the static objects at exit still frees
        // its tree into it.
        static auto* reserve = new TChunkReserve;
        return *reserve;
    }

    // A kept chunk of exactly `size` bytes, or null.
    std::byte* Take(size_t size) {
        const std::lock_guard lock(FMutex);
        for (size_t i = 0; i < FCount; ++i) {
            if (FChunks[i].Size != size)
                continue;
            std::byte* bytes = FChunks[i].Bytes;
            FChunks[i] = FChunks[--FCount];
            return bytes;
        }
        return nullptr;
    }

    // Frees what is kept and starts keeping another tree's chunks: `each` offers them one
    // by one to the function it is given, which keeps the large ones up to the bound and
    // says false for each chunk the caller must free itself.
    template <class TEach> void Replace(TEach&& each) noexcept {
        const std::lock_guard lock(FMutex);
        for (size_t i = 0; i < FCount; ++i) {
            ASAN_UNPOISON_MEMORY_REGION(FChunks[i].Bytes, FChunks[i].Size);
            munmap(FChunks[i].Bytes, FChunks[i].Size);
        }
        FCount = 0;
        size_t bytes = 0;
        each([&](std::byte* chunk, size_t size) {
            const bool keep =
                size >= HugePageBytes && FCount < FChunks.size() && size <= KeptBytesLimit - bytes;
            if (!keep)
                return false;
            bytes += size;
            madvise(chunk, size, MADV_FREE);
            FChunks[FCount++] = {chunk, size};
            return true;
        });
    }

    static constexpr size_t KeptBytesLimit = 128 * HugePageBytes;

private:
    struct TKept {
        std::byte* Bytes;
        size_t Size;
    };

    std::mutex FMutex;
    std::array<TKept, 16> FChunks{};
    size_t FCount = 0;
};

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
    std::byte* bytes = size >= HugePageBytes ? TChunkReserve::Process().Take(size) : nullptr;
    if (bytes == nullptr)
        bytes = static_cast<std::byte*>(AllocateBlock(size));
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
    const bool large = std::any_of(FChunks.begin(), FChunks.end(),
                                   [](const TChunk& chunk) { return chunk.Size >= HugePageBytes; });
    // Poison left on memory going back to the kernel would stay on whatever is mapped there
    // next; a kept chunk stays poisoned until it is cut into blocks again.
    const auto unmap = [](const TChunk& chunk) {
        ASAN_UNPOISON_MEMORY_REGION(chunk.Bytes, chunk.Size);
        FreeBlock(chunk.Bytes, chunk.Size);
    };
    if (large) {
        TChunkReserve::Process().Replace([&](auto keep) {
            for (const TChunk& chunk : FChunks)
                if (!keep(chunk.Bytes, chunk.Size))
                    unmap(chunk);
        });
    } else {
        std::for_each(FChunks.begin(), FChunks.end(), unmap);
    }
    FChunks.clear();
    FChunks.shrink_to_fit();
    FNext = FEnd = nullptr;
    FFree = nullptr;
}

} // namespace cantorell
