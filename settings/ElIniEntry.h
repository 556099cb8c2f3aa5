// One node of the options store's tree, and the typed value a node carries.
//
// A node is a key, a value, or both at once (a key that carries a value of its own). Names
// are compared after trimming characters up to and including the blank (codes 0 to 32) at
// both ends and upper-casing ASCII letters; the first match wins and a name keeps the
// spelling it was first written with.
#pragma once

#include "ElIniArena.h"

#include <array>
#include <cstdint>
#include <exception>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cantorell {

using TStrings = std::vector<std::string>;

// An operation the registry mode does not offer.
class EElIniError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file of the store that could not be opened, read, written or replaced; the message
// names the file and carries the operating system's reason.
class EElFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TElValueType : uint8_t {
    evtNone = 0,
    evtBoolean = 1,
    evtInteger = 2,
    evtString = 3,
    evtMultiString = 4,
    evtBinary = 5,
    evtEightByte = 6
};

// The items of a list value. A value that is no list (nearly all of them) pays one pointer
// for it, not a whole vector: a key of a million values has a million of these.
class TElMultiValue {
public:
    TElMultiValue() = default;
    TElMultiValue(const TElMultiValue& other);
    TElMultiValue& operator=(const TElMultiValue& other);
    TElMultiValue(TElMultiValue&&) noexcept = default;
    TElMultiValue& operator=(TElMultiValue&&) noexcept = default;
    TElMultiValue& operator=(TStrings items);

    operator const TStrings&() const { return FItems ? *FItems : Empty(); }
    size_t size() const { return FItems ? FItems->size() : 0; }
    bool empty() const { return size() == 0; }
    const std::string& operator[](size_t index) const { return (*FItems)[index]; }
    TStrings::const_iterator begin() const { return static_cast<const TStrings&>(*this).begin(); }
    TStrings::const_iterator end() const { return static_cast<const TStrings&>(*this).end(); }
    void push_back(std::string item);
    // Drops the items and their memory.
    void clear() noexcept { FItems.reset(); }

private:
    static const TStrings& Empty();

    std::unique_ptr<TStrings> FItems; // null while there is no item
};

// A typed value: only the field of its type counts. The small fields come last, so that a
// node (which adds a flag of its own) can place that flag in the space they leave.
struct TElIniValue {
    std::string StringValue;            // evtString; evtBinary: the block
    TElMultiValue MultiValue;           // evtMultiString
    std::array<uint8_t, 8> EightByte{}; // evtEightByte: low half, then high half
    int32_t IntValue = 0;               // evtInteger
    TElValueType ValueType = evtNone;
    bool BoolValue = false;

    int32_t DataSize() const { return static_cast<int32_t>(StringValue.size()); }
    // Drops whatever value is held.
    void ClearValue();
};

class TElIniEntry : public TElIniValue {
public:
    // A node of its own: its children come from the heap.
    TElIniEntry();
    // The root of a tree whose nodes all come from `arena`, which must outlive the root.
    explicit TElIniEntry(TElIniArena& arena);
    ~TElIniEntry();
    TElIniEntry(const TElIniEntry&) = delete;
    TElIniEntry& operator=(const TElIniEntry&) = delete;

    // The form names are compared in: trimmed of characters up to the blank, ASCII upper.
    static std::string NormalName(std::string_view name);

    // The first child (key or value) whose name matches, or null.
    TElIniEntry* FindChild(std::string_view name) const;
    // Appends a new child; the node owns it from then on.
    TElIniEntry* AddChild(std::string_view name, bool isKey);
    // The first child of that name, or a new one appended when there is none.
    TElIniEntry* FindOrAddChild(std::string_view name, bool isKey, bool& added);
    // While a file is read: the value entries named by `names`, in `entries` (as long as
    // `names`; an entry stays as it was where an exception stops the calls). A large key
    // gets a new entry for every name, without a look for an earlier one of that name; the
    // key's next lookup, or SettleLoadedValues, then hands the value of each such entry on
    // to the first of its name (a list adds its items to a list) and removes it, the result
    // of finding each name in turn. So a key of a million values is indexed one region of
    // its name index at a time, instead of at one random place of it per value.
    void AddLoadedValues(std::span<const std::string_view> names, std::span<TElIniEntry*> entries);
    // Ends what AddLoadedValues left open; a reader calls it when it leaves a key.
    void SettleLoadedValues() const;
    // Removes and frees one child with its subtree.
    void RemoveChild(TElIniEntry* child);
    void ClearChildren();
    // Gives the node another name; later lookups find it under the new one.
    void Rename(std::string_view name);

    int32_t ChildCount() const {
        return FChildren ? static_cast<int32_t>(FChildren->Items.size()) : 0;
    }
    TElIniEntry* Child(int32_t index) const { return FChildren->Items[index]; }
    const std::string& Name() const { return FName; }

    bool IsKey = false;
    TElIniEntry* Parent = nullptr;

private:
    // Keys with more children than this find them through a name index; smaller ones are
    // scanned, which is faster than hashing for a handful of names.
    static constexpr int32_t IndexThreshold = 16;
    class TChildIndex;
    // The children in the order they were added, and once there are many, their name
    // index. The node owns its children; they live in the arena of the tree (null: the
    // heap), which a child's own children use too.
    struct TChildren {
        explicit TChildren(TElIniArena* arena);
        ~TChildren();
        // SettleLoadedValues after the pending children went into the index: the namesakes
        // among them give their values on and leave. What stopped a hand-over, if anything.
        std::exception_ptr DropNamesakes(TChildIndex& index) noexcept;

        TElBlockVector<TElIniEntry*> Items;
        std::unique_ptr<TChildIndex> Index;
        TElIniArena* const Arena;
    };

    bool MatchesNormal(std::string_view normal) const;
    TElIniEntry* FindNormal(const std::string& normal) const;
    // FindOrAddChild for a name whose normal form and its hash are known.
    TElIniEntry* FindOrAddNormal(std::string_view name, const std::string& normal, uint32_t hash,
                                 bool isKey, bool& added);
    void BuildIndexIfLarge();
    // Indexes the child at `position` under `normal` unless an earlier child of that name
    // is indexed.
    void IndexIfFirst(int32_t position, const std::string& normal);
    void ForgetChild(TElIniEntry* child);
    TElIniEntry* AttachChild(std::string_view name, bool isKey);
    // The arena this node's children come from: the one of its own children, else the one
    // of its siblings.
    TElIniArena* ChildArena() const;
    static void DestroyChild(TElIniEntry* child, TElIniArena* arena) noexcept;

    // The name index, with the values a reader added settled first: every lookup and every
    // change of the children goes through here.
    TChildIndex* Index() const {
        SettleLoadedValues();
        return FChildren ? FChildren->Index.get() : nullptr;
    }
    int32_t PositionOf(const TElIniEntry* child) const;

    std::string FName;
    // Null until the first child arrives (a tree's root has it from the start, for its
    // arena): a store of a million values is mostly values without children, and each of
    // them pays for one pointer here, not for a list.
    std::unique_ptr<TChildren> FChildren;
};

// Finds or adds the values of `key` named by the first `count` of `items` (each with a
// `Name`) in one batch, see AddLoadedValues, and hands each entry with its item to
// `assign`, in order; where the batch stops with an exception, the items before keep what
// they were given. `count` is 0 afterwards. `key` may be null while nothing is gathered.
template <typename TItem, size_t N, typename TAssign>
void AssignValueBatch(TElIniEntry* key, std::array<TItem, N>& items, size_t& count,
                      TAssign assign) {
    if (count == 0)
        return;
    std::array<std::string_view, N> names;
    std::array<TElIniEntry*, N> entries{};
    for (size_t i = 0; i < count; ++i)
        names[i] = items[i].Name;
    const size_t taken = std::exchange(count, 0);
    try {
        key->AddLoadedValues({names.data(), taken}, {entries.data(), taken});
    } catch (...) {
        for (size_t i = 0; i < taken && entries[i] != nullptr; ++i)
            assign(*entries[i], items[i]);
        throw;
    }
    for (size_t i = 0; i < taken; ++i)
        assign(*entries[i], items[i]);
}

// AssignValueBatch, then SettleLoadedValues, whatever stops the batch: a reader leaving
// `key` or stopping.
template <typename TItem, size_t N, typename TAssign>
void FinishValueBatch(TElIniEntry* key, std::array<TItem, N>& items, size_t& count,
                      TAssign assign) {
    try {
        AssignValueBatch(key, items, count, assign);
    } catch (...) {
        if (key != nullptr)
            key->SettleLoadedValues();
        throw;
    }
    if (key != nullptr)
        key->SettleLoadedValues();
}

// True when `entry` is `ancestor` or lies below it.
bool IsWithin(const TElIniEntry* entry, const TElIniEntry* ancestor);
// How many keys lie between the root and `entry`.
int DepthOf(const TElIniEntry* entry);

} // namespace cantorell
