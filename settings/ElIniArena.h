// Memory for the options store's tree.
//
// A key with a million values is a million nodes of the same size plus two arrays of a
// million entries (the key's children and their name index). Taken one by one from the
// general heap, a tree that size is handed back to the kernel when it is freed and faulted
// in again, 4 KiB at a time, by the next load; page faults then cost more than the parsing.
// So a tree takes its nodes from an arena of its own, in chunks that grow with the tree,
// and every block of 2 MiB or more (large chunks and large arrays alike) is mapped from the
// kernel on its own, aligned to 2 MiB and marked for transparent huge pages: the kernel
// then fills it one 2 MiB page at a time, and walking it costs a fraction of the TLB
// entries. Such blocks are kept, within a bound, when they are freed, for the next ones of
// the process (the next tree, the next doubling of an array), which then need not have them
// faulted in and zeroed again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

namespace cantorell {

// The size of a huge page; blocks of at least this many bytes are mapped on their own.
inline constexpr size_t HugePageBytes = size_t{2} * 1024 * 1024;

// `bytes` of memory aligned for any object; large blocks are mapped as described above.
// Throws std::bad_alloc when there is no memory.
void* AllocateBlock(size_t bytes);
// Frees a block of AllocateBlock, given the same size; a large one may be kept for the next
// AllocateBlock of that size.
void FreeBlock(void* block, size_t bytes) noexcept;

// A standard allocator over AllocateBlock, for arrays that may grow large.
template <class T> struct TElBlockAllocator {
    using value_type = T;

    TElBlockAllocator() = default;
    template <class U> TElBlockAllocator(const TElBlockAllocator<U>&) noexcept {}

    T* allocate(size_t count) {
        if (count > SIZE_MAX / sizeof(T))
            throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBlock(count * sizeof(T)));
    }
    void deallocate(T* items, size_t count) noexcept { FreeBlock(items, count * sizeof(T)); }

    template <class U> bool operator==(const TElBlockAllocator<U>&) const noexcept { return true; }
};

template <class T> using TElBlockVector = std::vector<T, TElBlockAllocator<T>>;

// Blocks of one size, cut from chunks that double in size up to a bound. A block given
// back goes to a free list and is the next one taken; the chunks themselves are freed only
// all at once, by Release or with the arena.
class TElIniArena {
public:
    explicit TElIniArena(size_t blockBytes);
    ~TElIniArena();
    TElIniArena(const TElIniArena&) = delete;
    TElIniArena& operator=(const TElIniArena&) = delete;

    // Uninitialised memory for one block; throws std::bad_alloc.
    void* Take();
    // Takes back a block of Take whose object has been destroyed.
    void Give(void* block) noexcept;
    // Frees every chunk; no object may live in the arena any more.
    void Release() noexcept;

    // The bounds of the chunk sizes: small trees (most options files) stay in the heap,
    // and a chunk of the largest size maps no more than a few pages it does not use.
    static constexpr size_t FirstChunkBytes = 16 * 1024;
    static constexpr size_t LargestChunkBytes = 16 * HugePageBytes;

private:
    struct TChunk {
        std::byte* Bytes;
        size_t Size;
    };
    struct TFreeBlock {
        TFreeBlock* Next;
    };

    void AddChunk();

    const size_t FBlockBytes;
    std::vector<TChunk> FChunks;
    std::byte* FNext = nullptr; // the unused rest of the newest chunk
    std::byte* FEnd = nullptr;
    TFreeBlock* FFree = nullptr;
};

} // namespace cantorell
