#include "ElIniEntry.h"

#include "platform/Ascii.h"
#include "support/ElList.h"

#include <algorithm>
#include <bit>
#include <exception>
#include <functional>
#include <new>
#include <optional>

namespace cantorell {

namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string_view Trimmed(std::string_view name) {
    while (!name.empty() && IsTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && IsTrimmed(name.back()))
        name.remove_suffix(1);
    return name;
}

// Whether two names have the same normal form, found without building it.
bool SameNormalName(std::string_view a, std::string_view b) noexcept {
    return SameIgnoringAsciiCase(Trimmed(a), Trimmed(b));
}

// Gives `first` what a later namesake was given while a file was read, as if the later
// lines or records had gone to `first` itself: a list adds its items to a list, any other
// value replaces the one held; a namesake that got no value leaves `first` as it is.
void JoinValue(TElIniValue& first, TElIniValue&& later) {
    if (later.ValueType == evtNone)
        return;
    if (later.ValueType == evtMultiString && first.ValueType == evtMultiString) {
        for (const std::string& item : later.MultiValue)
            first.MultiValue.push_back(item);
        return;
    }
    first = std::move(later);
}

} // namespace

bool IsWithin(const TElIniEntry* entry, const TElIniEntry* ancestor) {
    for (; entry != nullptr; entry = entry->Parent)
        if (entry == ancestor)
            return true;
    return false;
}

int DepthOf(const TElIniEntry* entry) {
    int depth = 0;
    for (; entry->Parent != nullptr; entry = entry->Parent)
        ++depth;
    return depth;
}

// An open-addressing hash table with linear probing. A slot is 8 bytes: 32 bits of the
// normal name's hash and the child's position in the list (plus one; zero marks a free
// slot). A key with a million values is filled in time proportional to their number: the
// slots are one array, with no allocation per name, growing it moves the slots without
// touching the children, and a child's name is compared only when the hashes agree. Small
// slots keep the table of a large key a fraction of the size of its children.
class TElIniEntry::TChildIndex {
public:
    struct TSlot {
        uint32_t Hash = 0;
        uint32_t Child = 0; // 1 + the child's position; 0: the slot is free
    };

    explicit TChildIndex(const TChildren& children) : FChildren(children) {}

    static uint32_t HashOf(std::string_view normal) {
        return static_cast<uint32_t>(std::hash<std::string_view>{}(normal));
    }

    // The slot of the child named `normal`, or the free slot where it would go; room for
    // one more child is made first, so a slot found free can be filled at once.
    TSlot& Probe(std::string_view normal, uint32_t hash) {
        if ((FCount + 1) * 2 > FSlots.size())
            Grow(FSlots.empty() ? 64 : FSlots.size() * 2);
        return FSlots[Locate(normal, hash)];
    }
    TElIniEntry* Find(std::string_view normal) const {
        return FSlots.empty() ? nullptr : EntryOf(FSlots[Locate(normal, HashOf(normal))]);
    }
    TElIniEntry* EntryOf(const TSlot& slot) const {
        return slot.Child == 0 ? nullptr : FChildren.Items[slot.Child - 1];
    }
    void Fill(TSlot& slot, uint32_t hash, int32_t position) {
        slot = {hash, static_cast<uint32_t>(position) + 1};
        ++FCount;
    }
    // Frees `slot`, moving later slots of its probe run back so that every lookup still
    // reaches them.
    void Erase(TSlot& slot) {
        const size_t mask = FSlots.size() - 1;
        size_t hole = static_cast<size_t>(&slot - FSlots.data());
        for (size_t next = (hole + 1) & mask; FSlots[next].Child != 0; next = (next + 1) & mask) {
            const size_t home = FSlots[next].Hash & mask;
            // The slot stays when its home lies cyclically after the hole, up to itself.
            const bool stays =
                hole <= next ? hole < home && home <= next : hole < home || home <= next;
            if (stays)
                continue;
            FSlots[hole] = FSlots[next];
            hole = next;
        }
        FSlots[hole] = {};
        --FCount;
    }
    // The child at `position` has left the list: the ones after it moved up by one.
    void Removed(int32_t position) {
        const auto child = static_cast<uint32_t>(position) + 1;
        for (TSlot& slot : FSlots)
            if (slot.Child > child)
                --slot.Child;
    }

    // Children appended while a file is read and not yet in the table: the hashes of the
    // children from position PendingFrom() on, in list order. After SettlePending, entry k
    // holds the position of child PendingFrom() + k's earlier namesake, or NoNamesake.
    static constexpr uint32_t NoNamesake = UINT32_MAX;
    TElBlockVector<uint32_t>& Pending() { return FPending; }
    int32_t PendingFrom() const { return FPendingFrom; }
    // Makes room for one more pending child, so that AddPending cannot fail.
    void ReservePending() {
        if (FPending.size() == FPending.capacity())
            FPending.reserve(std::max<size_t>(64, FPending.capacity() * 2));
    }
    void AddPending(uint32_t hash, int32_t position) noexcept {
        if (FPending.empty())
            FPendingFrom = position;
        FPending.push_back(hash);
    }
    // Puts the pending children into the table, the first of each name only, and says how
    // many have an earlier namesake. They are taken by region of the table: a few hundred
    // regions, each small enough to stay in the cache while its children go in, so a key of
    // a million values does not wait for memory once per value. Namesakes share a hash and
    // so a region, where they go in list order: the first of a name is the one indexed.
    // The table grows once, to its final size, before anything changes: where that fails
    // for memory, the pending children stay pending, and the next lookup tries again.
    size_t SettlePending() {
        size_t size = std::max<size_t>(FSlots.size(), 64);
        while ((FCount + FPending.size() + 1) * 2 > size)
            size *= 2;
        if (size != FSlots.size())
            Grow(size);
        std::optional<TScratch> byRegion;
        try {
            byRegion.emplace(FPending.size());
        } catch (const std::bad_alloc&) {
            // Without memory for the order, in list order: slower, but just as right.
            size_t namesakes = 0;
            for (size_t k = 0; k < FPending.size(); ++k)
                namesakes += InsertPending(k, FPending[k]);
            return namesakes;
        }
        const int tableBits = std::countr_zero(FSlots.size());
        const int shift = tableBits - std::min(tableBits, 8);
        const size_t mask = FSlots.size() - 1;
        std::array<size_t, 257> starts{};
        for (uint32_t hash : FPending)
            ++starts[((hash & mask) >> shift) + 1];
        for (size_t r = 1; r < starts.size(); ++r)
            starts[r] += starts[r - 1];
        TSlot* const ordered = byRegion->Slots;
        for (size_t k = 0; k < FPending.size(); ++k)
            ordered[starts[(FPending[k] & mask) >> shift]++] = {FPending[k],
                                                                static_cast<uint32_t>(k)};
        // The slots of the region after the current one are fetched meanwhile, at the pace
        // the insertions move through the table, so that its region is in the cache when
        // they get there.
        const size_t ahead = size_t{1} << shift;
        size_t namesakes = 0;
        for (size_t j = 0; j < FPending.size(); ++j) {
            if (const size_t next = j * FSlots.size() / FPending.size() + ahead;
                next < FSlots.size())
                __builtin_prefetch(&FSlots[next], 1);
            namesakes += InsertPending(ordered[j].Child, ordered[j].Hash);
        }
        return namesakes;
    }
    // The list lost `removed` children from PendingFrom() on: the pending ones went to the
    // positions Pending() names, the later ones moved up by `removed`.
    void Renumber(size_t removed) {
        const auto from = static_cast<uint32_t>(FPendingFrom);
        for (TSlot& slot : FSlots) {
            if (slot.Child == 0 || slot.Child - 1 < from)
                continue;
            const uint32_t k = slot.Child - 1 - from;
            slot.Child = (k < FPending.size() ? FPending[k] : slot.Child - 1 - removed) + 1;
        }
    }
    // Frees the pending list: a key is read once, and a million hashes are 4 MB.
    void ClearPending() noexcept { TElBlockVector<uint32_t>().swap(FPending); }

private:
    // Room for the pending slots in their order by region, left uninitialised: a slot is
    // an implicit-lifetime type, and each one is written before it is read.
    struct TScratch {
        explicit TScratch(size_t count)
            : Count(count), Slots(static_cast<TSlot*>(AllocateBlock(count * sizeof(TSlot)))) {}
        ~TScratch() { FreeBlock(Slots, Count * sizeof(TSlot)); }
        TScratch(const TScratch&) = delete;
        TScratch& operator=(const TScratch&) = delete;

        const size_t Count;
        TSlot* const Slots;
    };

    // Indexes pending child k unless an indexed child has its name; 1 when one has.
    size_t InsertPending(size_t k, uint32_t hash) {
        const size_t mask = FSlots.size() - 1;
        size_t i = hash & mask;
        for (; FSlots[i].Child != 0; i = (i + 1) & mask) {
            if (FSlots[i].Hash != hash)
                continue;
            const TElIniEntry& child = *FChildren.Items[FPendingFrom + k];
            if (SameNormalName(EntryOf(FSlots[i])->FName, child.FName)) {
                FPending[k] = FSlots[i].Child - 1;
                return 1;
            }
        }
        FSlots[i] = {hash, static_cast<uint32_t>(FPendingFrom + k) + 1};
        ++FCount;
        FPending[k] = NoNamesake;
        return 0;
    }
    size_t Locate(std::string_view normal, uint32_t hash) const {
        const size_t mask = FSlots.size() - 1;
        size_t i = hash & mask;
        while (FSlots[i].Child != 0 &&
               (FSlots[i].Hash != hash || !EntryOf(FSlots[i])->MatchesNormal(normal)))
            i = (i + 1) & mask;
        return i;
    }
    // Moves the slots to a table of `size` slots, a power of two; throws before any change.
    void Grow(size_t size) {
        TElBlockVector<TSlot> old(size);
        old.swap(FSlots);
        const size_t mask = FSlots.size() - 1;
        for (const TSlot& slot : old) {
            if (slot.Child == 0)
                continue;
            size_t i = slot.Hash & mask;
            while (FSlots[i].Child != 0)
                i = (i + 1) & mask;
            FSlots[i] = slot;
        }
    }

    const TChildren& FChildren;
    TElBlockVector<TSlot> FSlots; // a power of two in size, at most half full
    size_t FCount = 0;
    TElBlockVector<uint32_t> FPending;
    int32_t FPendingFrom = 0;
};

TElIniEntry::TChildren::TChildren(TElIniArena* arena) : Arena(arena) {}

TElIniEntry::TChildren::~TChildren() = default;

TElIniEntry::TElIniEntry() = default;

TElIniEntry::TElIniEntry(TElIniArena& arena) : FChildren(std::make_unique<TChildren>(&arena)) {}

TElIniEntry::~TElIniEntry() {
    ClearChildren();
}

std::string TElIniEntry::NormalName(std::string_view name) {
    return UpperAscii(Trimmed(name));
}

bool TElIniEntry::MatchesNormal(std::string_view normal) const {
    return SameNormalName(FName, normal);
}

int32_t TElIniEntry::PositionOf(const TElIniEntry* child) const {
    for (int32_t i = 0; i < ChildCount(); ++i)
        if (Child(i) == child)
            return i;
    return -1;
}

TElIniEntry* TElIniEntry::FindNormal(const std::string& normal) const {
    if (const TChildIndex* index = Index())
        return index->Find(normal);
    for (int32_t i = 0; i < ChildCount(); ++i)
        if (Child(i)->MatchesNormal(normal))
            return Child(i);
    return nullptr;
}

TElIniEntry* TElIniEntry::FindChild(std::string_view name) const {
    return FindNormal(NormalName(name));
}

void TElIniEntry::BuildIndexIfLarge() {
    if (Index() != nullptr || ChildCount() <= IndexThreshold)
        return;
    FChildren->Index = std::make_unique<TChildIndex>(*FChildren);
    // In children order, so that the first of several namesakes is the one indexed.
    for (int32_t i = 0; i < ChildCount(); ++i)
        IndexIfFirst(i, NormalName(Child(i)->FName));
}

void TElIniEntry::IndexIfFirst(int32_t position, const std::string& normal) {
    const uint32_t hash = TChildIndex::HashOf(normal);
    TChildIndex::TSlot& slot = FChildren->Index->Probe(normal, hash);
    if (slot.Child == 0)
        FChildren->Index->Fill(slot, hash, position);
}

TElIniArena* TElIniEntry::ChildArena() const {
    if (FChildren)
        return FChildren->Arena;
    return Parent != nullptr ? Parent->FChildren->Arena : nullptr;
}

void TElIniEntry::DestroyChild(TElIniEntry* child, TElIniArena* arena) noexcept {
    child->~TElIniEntry();
    if (arena != nullptr)
        arena->Give(child);
    else
        ::operator delete(child);
}

TElIniEntry* TElIniEntry::AttachChild(std::string_view name, bool isKey) {
    if (!FChildren)
        FChildren = std::make_unique<TChildren>(ChildArena());
    // The bound the children list has always had; no file comes near it before memory
    // runs out, but the error stays the list's own.
    if (ChildCount() >= TElList::MaxListSize)
        throw EElListError(TElList::MaxListSize + 1);
    TElIniArena* arena = FChildren->Arena;
    // The place in the list first: a node never exists without its owner.
    FChildren->Items.push_back(nullptr);
    TElIniEntry* child = nullptr;
    try {
        child = new (arena != nullptr ? arena->Take() : ::operator new(sizeof(TElIniEntry)))
            TElIniEntry();
        child->FName = name;
    } catch (...) {
        if (child != nullptr)
            DestroyChild(child, arena);
        FChildren->Items.pop_back();
        throw;
    }
    child->IsKey = isKey;
    child->Parent = this;
    FChildren->Items.back() = child;
    return child;
}

TElIniEntry* TElIniEntry::AddChild(std::string_view name, bool isKey) {
    TElIniEntry* child = AttachChild(name, isKey);
    if (Index() != nullptr)
        IndexIfFirst(ChildCount() - 1, NormalName(name));
    else
        BuildIndexIfLarge();
    return child;
}

TElIniEntry* TElIniEntry::FindOrAddChild(std::string_view name, bool isKey, bool& added) {
    const std::string normal = NormalName(name);
    return FindOrAddNormal(name, normal, TChildIndex::HashOf(normal), isKey, added);
}

void TElIniEntry::AddLoadedValues(std::span<const std::string_view> names,
                                  std::span<TElIniEntry*> entries) {
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string normal = NormalName(names[i]);
        const uint32_t hash = TChildIndex::HashOf(normal);
        TChildIndex* index = FChildren ? FChildren->Index.get() : nullptr;
        if (index == nullptr) {
            bool added = false;
            entries[i] = FindOrAddNormal(names[i], normal, hash, false, added);
            continue;
        }
        index->ReservePending();
        entries[i] = AttachChild(names[i], false);
        index->AddPending(hash, ChildCount() - 1);
    }
}

void TElIniEntry::SettleLoadedValues() const {
    TChildIndex* index = FChildren ? FChildren->Index.get() : nullptr;
    if (index == nullptr || index->Pending().empty())
        return;
    std::exception_ptr failure;
    if (index->SettlePending() > 0)
        failure = FChildren->DropNamesakes(*index);
    index->ClearPending();
    // Only a list that could not grow stops a value's hand-over; the tree is whole then.
    if (failure)
        std::rethrow_exception(failure);
}

std::exception_ptr TElIniEntry::TChildren::DropNamesakes(TChildIndex& index) noexcept {
    // The pending children with an earlier namesake hand their values on to it, in list
    // order, and leave the list; the others move up and learn their new positions.
    TElBlockVector<uint32_t>& pending = index.Pending();
    const auto from = static_cast<size_t>(index.PendingFrom());
    std::exception_ptr failure;
    size_t kept = from;
    for (size_t i = from; i < Items.size(); ++i) {
        const size_t k = i - from;
        if (k < pending.size() && pending[k] != TChildIndex::NoNamesake) {
            // The namesake lies before, at a position already settled.
            const size_t first = pending[k] < from ? pending[k] : pending[pending[k] - from];
            try {
                JoinValue(*Items[first], std::move(*Items[i]));
            } catch (...) {
                failure = std::current_exception();
            }
            DestroyChild(Items[i], Arena);
            continue;
        }
        if (k < pending.size())
            pending[k] = static_cast<uint32_t>(kept);
        Items[kept++] = Items[i];
    }
    const size_t removed = Items.size() - kept;
    Items.resize(kept);
    index.Renumber(removed);
    return failure;
}

TElIniEntry* TElIniEntry::FindOrAddNormal(std::string_view name, const std::string& normal,
                                          uint32_t hash, bool isKey, bool& added) {
    if (TChildIndex* index = Index()) {
        // One probe for both the search and the insertion.
        TChildIndex::TSlot& slot = index->Probe(normal, hash);
        added = slot.Child == 0;
        if (!added)
            return index->EntryOf(slot);
        TElIniEntry* child = AttachChild(name, isKey);
        index->Fill(slot, hash, ChildCount() - 1);
        return child;
    }
    if (TElIniEntry* found = FindNormal(normal)) {
        added = false;
        return found;
    }
    added = true;
    TElIniEntry* child = AttachChild(name, isKey);
    BuildIndexIfLarge();
    return child;
}

void TElIniEntry::ForgetChild(TElIniEntry* child) {
    TChildIndex* index = Index();
    if (index == nullptr)
        return;
    const std::string normal = NormalName(child->FName);
    TChildIndex::TSlot& slot = index->Probe(normal, TChildIndex::HashOf(normal));
    if (index->EntryOf(slot) != child)
        return;
    // The next child of the same name, if any, is now the first match.
    for (int32_t i = 0; i < ChildCount(); ++i) {
        TElIniEntry* other = Child(i);
        if (other != child && other->MatchesNormal(normal)) {
            slot.Child = static_cast<uint32_t>(i) + 1;
            return;
        }
    }
    index->Erase(slot);
}

void TElIniEntry::RemoveChild(TElIniEntry* child) {
    SettleLoadedValues(); // the positions below are the settled ones
    const int32_t position = PositionOf(child);
    if (position < 0)
        return;
    ForgetChild(child);
    // Out of the list first, then freed with its subtree.
    FChildren->Items.erase(FChildren->Items.begin() + position);
    if (TChildIndex* index = Index())
        index->Removed(position);
    DestroyChild(child, FChildren->Arena);
}

void TElIniEntry::ClearChildren() {
    if (!FChildren)
        return;
    // Every child goes at once: no index entry needs to be handed on to a later namesake.
    // The list is emptied before the children are freed, so that it never names a freed
    // node; the children record stays, with its arena.
    FChildren->Index.reset();
    TElBlockVector<TElIniEntry*> children;
    children.swap(FChildren->Items);
    for (TElIniEntry* child : children)
        DestroyChild(child, FChildren->Arena);
}

void TElIniEntry::Rename(std::string_view name) {
    if (Parent != nullptr)
        Parent->ForgetChild(this);
    FName = name;
    TChildIndex* index = Parent == nullptr ? nullptr : Parent->Index();
    if (index == nullptr)
        return;
    const std::string normal = NormalName(name);
    const uint32_t hash = TChildIndex::HashOf(normal);
    TChildIndex::TSlot& slot = index->Probe(normal, hash);
    const int32_t position = Parent->PositionOf(this);
    if (slot.Child == 0)
        index->Fill(slot, hash, position);
    // Keep "first match wins": the renamed node takes the index only if it comes first.
    else if (static_cast<uint32_t>(position) + 1 < slot.Child)
        slot.Child = static_cast<uint32_t>(position) + 1;
}

TElMultiValue::TElMultiValue(const TElMultiValue& other)
    : FItems(other.FItems ? std::make_unique<TStrings>(*other.FItems) : nullptr) {}

TElMultiValue& TElMultiValue::operator=(const TElMultiValue& other) {
    if (this != &other)
        *this = static_cast<const TStrings&>(other);
    return *this;
}

TElMultiValue& TElMultiValue::operator=(TStrings items) {
    if (items.empty())
        FItems.reset();
    else if (FItems)
        *FItems = std::move(items);
    else
        FItems = std::make_unique<TStrings>(std::move(items));
    return *this;
}

void TElMultiValue::push_back(std::string item) {
    if (!FItems)
        FItems = std::make_unique<TStrings>();
    FItems->push_back(std::move(item));
}

const TStrings& TElMultiValue::Empty() {
    static const TStrings empty;
    return empty;
}

void TElIniValue::ClearValue() {
    StringValue.clear();
    StringValue.shrink_to_fit();
    MultiValue.clear();
    IntValue = 0;
    BoolValue = false;
    EightByte.fill(0);
    ValueType = evtNone;
}

} // namespace cantorell
