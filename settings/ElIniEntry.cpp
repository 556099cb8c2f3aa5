#include "ElIniEntry.h"

#include "platform/Ascii.h"

#include <algorithm>

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
    if (FIndex) {
        const auto it = FIndex->find(normal);
        return it == FIndex->end() ? nullptr : it->second;
    }
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
    FIndex = std::make_unique<std::unordered_map<std::string, TElIniEntry*>>();
    FIndex->reserve(static_cast<size_t>(Children.Count()) * 2);
    // In children order, so that the first of several namesakes is the one indexed.
    for (int32_t i = 0; i < Children.Count(); ++i)
        FIndex->try_emplace(NormalName(Child(i)->FName), Child(i));
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
        FIndex->try_emplace(NormalName(name), child);
    else
        BuildIndexIfLarge();
    return child;
}

TElIniEntry* TElIniEntry::FindOrAddChild(std::string_view name, bool isKey, bool& added) {
    std::string normal = NormalName(name);
    if (FIndex) {
        // One hash lookup for both the search and the insertion.
        auto [it, inserted] = FIndex->try_emplace(std::move(normal), nullptr);
        added = inserted;
        if (inserted)
            it->second = AttachChild(name, isKey);
        return it->second;
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
    const auto it = FIndex->find(normal);
    if (it == FIndex->end() || it->second != child)
        return;
    FIndex->erase(it);
    // The next child of the same name, if any, is now the first match.
    for (int32_t i = 0; i < Children.Count(); ++i) {
        TElIniEntry* other = Child(i);
        if (other != child && other->MatchesNormal(normal)) {
            FIndex->emplace(normal, other);
            break;
        }
    }
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
    auto [it, inserted] = Parent->FIndex->try_emplace(NormalName(name), this);
    // Keep "first match wins": the renamed node takes the index only if it comes first.
    if (!inserted && Parent->Children.IndexOf(this) < Parent->Children.IndexOf(it->second))
        it->second = this;
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
