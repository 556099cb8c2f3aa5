// Bytes read from a file for parsing. A read fills them, so they are never zero-filled
// first (a std::string would be), and the allocation stays with the object between reads,
// so that showing a list of files reuses one buffer instead of taking fresh pages per file.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string_view>

namespace cantorell {

class TReadBuffer {
public:
    std::string_view View() const { return {FData.get(), FSize}; }
    size_t Size() const { return FSize; }
    const char* Data() const { return FData.get(); }

    // Grows to `size` bytes, keeping the bytes held; the new ones are left for a read to
    // fill. Returns where they begin.
    char* Extend(size_t size) {
        if (size > FCapacity) {
            const size_t capacity = std::max(size, FCapacity * 2);
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
            if (FSize > 0)
                std::memcpy(grown.get(), FData.get(), FSize);
            FData = std::move(grown);
            FCapacity = capacity;
        }
        char* added = FData.get() + FSize;
        FSize = std::max(FSize, size);
        return added;
    }
    // Keeps the first `size` bytes (no more than are held).
    void Truncate(size_t size) { FSize = std::min(FSize, size); }
    void Assign(std::string_view bytes) {
        FSize = 0;
        if (!bytes.empty())
            std::memcpy(Extend(bytes.size()), bytes.data(), bytes.size());
    }
    void Clear() { FSize = 0; }

private:
    std::unique_ptr<char[]> FData;
    size_t FSize = 0;
    size_t FCapacity = 0;
};

} // namespace cantorell
