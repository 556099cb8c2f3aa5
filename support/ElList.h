// A growable array of untyped references with a delete notification.
//
// The list never owns what its items point to. Whoever puts items in decides how they are
// released: every item that leaves the list (Put over it, Delete, DeleteRange, Remove,
// Clear, destruction) is reported through OnDelete first, and owners free their items
// there.
//
// Growth is the list's own rule: a full list grows by the smaller of 2 * Count + 1 and
// 1280 slots (1, 4, 13, 40, 121, ... then 1280 at a time), and a list that falls below
// half its capacity after a deletion is cut to that half.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

namespace cantorell {

// An index or size outside the list's bounds; the message carries the offending number.
class EElListError : public std::out_of_range {
public:
    explicit EElListError(int32_t index);
    int32_t Index() const { return FIndex; }

private:
    int32_t FIndex;
};

class TElList {
public:
    using TItem = void*;
    using TDeleteEvent = std::function<void(TElList& sender, TItem item)>;
    // Frees one item when AutoClearObjects is set; the list cannot know the item's type.
    using TFreeObject = void (*)(TItem item);

    static constexpr int32_t MaxListSize = 0x7FFFFFF;

    TElList() = default;
    TElList(const TElList&) = delete;
    TElList& operator=(const TElList&) = delete;
    // Every remaining item gets its delete notification.
    virtual ~TElList();

    int32_t Add(TItem item);
    virtual TItem Get(int32_t index) const;
    virtual void Put(int32_t index, TItem item);
    int32_t IndexOf(TItem item) const;
    int32_t Remove(TItem item);
    virtual void Delete(int32_t index);
    virtual void DeleteRange(int32_t first, int32_t last);
    virtual void Clear();
    virtual void Grow();
    virtual void TriggerDeleteEvent(TItem item);
    // Copies another list's capacity, count and references (after clearing this one).
    virtual void Assign(const TElList& source);

    int32_t Count() const { return FCount; }
    int32_t Capacity() const { return FCapacity; }
    void SetCapacity(int32_t capacity);
    void SetCount(int32_t count);

    TItem operator[](int32_t index) const { return Get(index); }
    // Unchecked access for loops that already know their bounds.
    TItem At(int32_t index) const { return FItems[index]; }

    bool AutoClearObjects = false;
    TFreeObject FreeObject = nullptr;
    TDeleteEvent OnDelete;

private:
    void CheckIndex(int32_t index) const;
    void Reallocate(int32_t capacity);
    void ShrinkIfSparse();

    std::unique_ptr<TItem[]> FItems;
    int32_t FCount = 0;
    int32_t FCapacity = 0;
};

} // namespace cantorell
