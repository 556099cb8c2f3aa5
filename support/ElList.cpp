#include "ElList.h"

#include <algorithm>
#include <string>

namespace cantorell {

EElListError::EElListError(int32_t index)
    : std::out_of_range("List index [" + std::to_string(index) + "] out of bounds..."),
      FIndex(index) {}

TElList::~TElList() {
    // A throwing OnDelete must not escape a destructor.
    try {
        Clear();
    } catch (...) {
    }
}

void TElList::CheckIndex(int32_t index) const {
    if (index < 0 || index >= FCount)
        throw EElListError(index);
}

void TElList::Reallocate(int32_t capacity) {
    if (capacity == FCapacity)
        return;
    if (capacity == 0) {
        FItems.reset();
    } else {
        auto items = std::make_unique<TItem[]>(static_cast<size_t>(capacity));
        std::copy_n(FItems.get(), std::min(FCount, capacity), items.get());
        FItems = std::move(items);
    }
    FCapacity = capacity;
}

void TElList::ShrinkIfSparse() {
    const int32_t half = FCapacity / 2;
    if (FCount < half)
        Reallocate(half);
}

int32_t TElList::Add(TItem item) {
    if (FCount == FCapacity)
        Grow();
    FItems[FCount] = item;
    return FCount++;
}

TElList::TItem TElList::Get(int32_t index) const {
    CheckIndex(index);
    return FItems[index];
}

void TElList::Put(int32_t index, TItem item) {
    CheckIndex(index);
    if (FItems[index] != nullptr && OnDelete)
        OnDelete(*this, FItems[index]);
    FItems[index] = item;
}

int32_t TElList::IndexOf(TItem item) const {
    for (int32_t i = 0; i < FCount; ++i)
        if (FItems[i] == item)
            return i;
    return -1;
}

int32_t TElList::Remove(TItem item) {
    const int32_t index = IndexOf(item);
    if (index < 0)
        return -1;
    TriggerDeleteEvent(item);
    std::copy(FItems.get() + index + 1, FItems.get() + FCount, FItems.get() + index);
    --FCount;
    ShrinkIfSparse();
    return index;
}

void TElList::Delete(int32_t index) {
    CheckIndex(index);
    TItem item = FItems[index];
    TriggerDeleteEvent(item);
    if (AutoClearObjects && item != nullptr && FreeObject)
        FreeObject(item);
    std::copy(FItems.get() + index + 1, FItems.get() + FCount, FItems.get() + index);
    --FCount;
    ShrinkIfSparse();
}

void TElList::DeleteRange(int32_t first, int32_t last) {
    if (first < 0 || first >= FCount)
        throw EElListError(first);
    if (last < first || last >= FCount)
        throw EElListError(last);
    for (int32_t i = first; i <= last; ++i)
        TriggerDeleteEvent(FItems[i]);
    std::copy(FItems.get() + last + 1, FItems.get() + FCount, FItems.get() + first);
    FCount -= last - first + 1;
    ShrinkIfSparse();
}

void TElList::Clear() {
    for (int32_t i = 0; i < FCount; ++i)
        TriggerDeleteEvent(FItems[i]);
    if (AutoClearObjects && FreeObject) {
        for (int32_t i = 0; i < FCount; ++i) {
            if (FItems[i] == nullptr)
                continue;
            try {
                FreeObject(FItems[i]);
            } catch (...) {
                // A failure while freeing one item must not keep the others alive.
            }
        }
    }
    FCount = 0;
    Reallocate(0);
}

void TElList::Grow() {
    const int64_t delta = std::min<int64_t>(int64_t{FCount} * 2 + 1, 1280);
    SetCapacity(static_cast<int32_t>(std::min<int64_t>(FCapacity + delta, MaxListSize + 1LL)));
}

void TElList::TriggerDeleteEvent(TItem item) {
    if (OnDelete)
        OnDelete(*this, item);
}

void TElList::Assign(const TElList& source) {
    if (&source == this)
        return;
    Clear();
    Reallocate(source.FCapacity);
    std::copy_n(source.FItems.get(), source.FCount, FItems.get());
    FCount = source.FCount;
}

void TElList::SetCapacity(int32_t capacity) {
    if (capacity < FCount || capacity > MaxListSize)
        throw EElListError(capacity);
    Reallocate(capacity);
}

void TElList::SetCount(int32_t count) {
    if (count < 0 || count > MaxListSize)
        throw EElListError(count);
    if (count > FCapacity)
        SetCapacity(count);
    std::fill(FItems.get() + std::min(FCount, count), FItems.get() + count, nullptr);
    FCount = count;
}

} // namespace cantorell
