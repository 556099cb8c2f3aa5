#include "ElIniEntry.h"

#include "platform/Ascii.h"

#include <algorithm>
#include <functional>

namespace cantorell {

namespace {

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
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

// An open-addressing hash table of (hash of the normal name, child) slots with linear
// probing. A key with a million values is filled in time proportional to their number: the
// slots are one array, with no allocation per name, and growing it moves the slots without
// touching the children, whose names are compared only when the hashes agree.
class TElIniEntry::TChildIndex {
public:
    struct TSlot {
        size_t Hash = 0;
        TElIniEntry* Entry = nullptr; // null: the slot is free
    };

    static size_t HashOf(std::string_view normal) { return std::hash<std::string_view>{}(normal); }

    // The slot of the child named `normal`, or the free slot where it would go; room for
    // one more child is made first, so a slot found free can be filled at once.
    TSlot& Probe(std::string_view normal, size_t hash) {
        if ((FCount + 1) * 2 > FSlots.size())
            Grow();
        return FSlots[Locate(normal, hash)];
    }
    TElIniEntry* Find(std::string_view normal) const {
        return FSlots.empty() ? nullptr : FSlots[Locate(normal, HashOf(normal))].Entry;
    }
    void Fill(TSlot& slot, size_t hash, TElIniEntry* entry) {
        slot = {hash, entry};
        ++FCount;
    }
    // Frees `slot`, moving later slots of its probe run back so that every lookup still
    // reaches them.
    void Erase(TSlot& slot) {
        const size_t mask = FSlots.size() - 1;
        size_t hole = static_cast<size_t>(&slot - FSlots.data());
        for (size_t next = (hole + 1) & mask; FSlots[next].Entry != nullptr;
             next = (next + 1) & mask) {
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

private:
    size_t Locate(std::string_view normal, size_t hash) const {
        const size_t mask = FSlots.size() - 1;
        size_t i = hash & mask;
        while (FSlots[i].Entry != nullptr &&
               (FSlots[i].Hash != hash || !FSlots[i].Entry->MatchesNormal(normal)))
            i = (i + 1) & mask;
        return i;
    }
    void Grow() {
        std::vector<TSlot> old(FSlots.empty() ? 64 : FSlots.size() * 2);
        old.swap(FSlots);
        const size_t mask = FSlots.size() - 1;
        for (const TSlot& slot : old) {
            if (slot.Entry == nullptr)
                continue;
            size_t i = slot.Hash & mask;
            while (FSlots[i].Entry != nullptr)
                i = (i + 1) & mask;
            FSlots[i] = slot;
        }
    }

    std::vector<TSlot> FSlots; // a power of two in size, at most half full
    size_t FCount = 0;
};

TElIniEntry::TElIniEntry() {
    Children.OnDelete = [this](TElList&, TElList::TItem item) {
        auto* child = static_cast<TElIniEntry*>(item);
        ForgetChild(child);
        delete child; // its value goes with it
    };
}

TElIniEntry::~TElIniEntry() {
    ClearChildren();
}

std::string TElIniEntry::NormalName(std::string_view name) {
    while (!name.empty() && IsTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && IsTrimmed(name.back()))
        name.remove_suffix(1);
    return UpperAscii(name);
}

bool TElIniEntry::MatchesNormal(std::string_view normal) const {
    std::string_view name = FName;
    while (!name.empty() && IsTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && IsTrimmed(name.back()))
        name.remove_suffix(1);
    if (name.size() != normal.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c =
            name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
        if (c != normal[i])
            return false;
    }
    return true;
}

TElIniEntry* TElIniEntry::FindNormal(const std::string& normal) const {
    if (FIndex)
        return FIndex->Find(normal);
    for (int32_t i = 0; i < Children.Count(); ++i)
        if (Child(i)->MatchesNormal(normal))
            return Child(i);
    return nullptr;
}

TElIniEntry* TElIniEntry::FindChild(std::string_view name) const {
    return FindNormal(NormalName(name));
}

void TElIniEntry::BuildIndexIfLarge() {
    if (FIndex || Children.Count() <= IndexThreshold)
        return;
    FIndex = std::make_unique<TChildIndex>();
    // In children order, so that the first of several namesakes is the one indexed.
    for (int32_t i = 0; i < Children.Count(); ++i)
        IndexIfFirst(Child(i), NormalName(Child(i)->FName));
}

void TElIniEntry::IndexIfFirst(TElIniEntry* child, const std::string& normal) {
    const size_t hash = TChildIndex::HashOf(normal);
    TChildIndex::TSlot& slot = FIndex->Probe(normal, hash);
    if (slot.Entry == nullptr)
        FIndex->Fill(slot, hash, child);
}

TElIniEntry* TElIniEntry::AttachChild(std::string_view name, bool isKey) {
    // The list's own rule adds at most 1280 slots at a time, which makes filling a key
    // with a million values copy its slots hundreds of times; the store asks for doubled
    // room instead once the list is that large.
    if (Children.Count() == Children.Capacity() && Children.Capacity() >= 1280)
        Children.SetCapacity(static_cast<int32_t>(
            std::min<int64_t>(int64_t{Children.Capacity()} * 2, TElList::MaxListSize)));
    auto child = std::make_unique<TElIniEntry>();
    child->FName = name;
    child->IsKey = isKey;
    child->Parent = this;
    Children.Add(child.get());
    return child.release();
}

TElIniEntry* TElIniEntry::AddChild(std::string_view name, bool isKey) {
    TElIniEntry* child = AttachChild(name, isKey);
    if (FIndex)
        IndexIfFirst(child, NormalName(name));
    else
        BuildIndexIfLarge();
    return child;
}

TElIniEntry* TElIniEntry::FindOrAddChild(std::string_view name, bool isKey, bool& added) {
    std::string normal = NormalName(name);
    if (FIndex) {
        // One probe for both the search and the insertion.
        const size_t hash = TChildIndex::HashOf(normal);
        TChildIndex::TSlot& slot = FIndex->Probe(normal, hash);
        added = slot.Entry == nullptr;
        if (added)
            FIndex->Fill(slot, hash, AttachChild(name, isKey));
        return slot.Entry;
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
    if (FClearing || !FIndex)
        return;
    const std::string normal = NormalName(child->FName);
    TChildIndex::TSlot& slot = FIndex->Probe(normal, TChildIndex::HashOf(normal));
    if (slot.Entry != child)
        return;
    // The next child of the same name, if any, is now the first match.
    for (int32_t i = 0; i < Children.Count(); ++i) {
        TElIniEntry* other = Child(i);
        if (other != child && other->MatchesNormal(normal)) {
            slot.Entry = other;
            return;
        }
    }
    FIndex->Erase(slot);
}

void TElIniEntry::RemoveChild(TElIniEntry* child) {
    Children.Remove(child);
}

void TElIniEntry::ClearChildren() {
    // Every child goes: no index entry needs to be handed on to a later namesake.
    FClearing = true;
    FIndex.reset();
    Children.Clear();
    FClearing = false;
}

void TElIniEntry::Rename(std::string_view name) {
    if (Parent != nullptr)
        Parent->ForgetChild(this);
    FName = name;
    if (Parent == nullptr || !Parent->FIndex)
        return;
    const std::string normal = NormalName(name);
    const size_t hash = TChildIndex::HashOf(normal);
    TChildIndex::TSlot& slot = Parent->FIndex->Probe(normal, hash);
    if (slot.Entry == nullptr)
        Parent->FIndex->Fill(slot, hash, this);
    // Keep "first match wins": the renamed node takes the index only if it comes first.
    else if (Parent->Children.IndexOf(this) < Parent->Children.IndexOf(slot.Entry))
        slot.Entry = this;
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
