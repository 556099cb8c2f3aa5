// The options store's tree with its current key: walking key paths, opening and
// re-opening keys, and opening the section paths the file readers meet.
//
// A key path is key names joined by the delimiter ('\' by default). A path that begins
// with the delimiter is absolute, any other is relative to the current key, and an empty
// path is the current key. In the flat (Simple) store every key is a child of the root and
// a path names one root-level key, delimiters included.
#pragma once

#include "ElIniEntry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cantorell {

// The settings that shape the tree's paths and the file's text; the store owns them and
// its parts read them.
struct TElIniFormat {
    static constexpr std::string_view DefaultWarning =
        "Automatically generated file. DO NOT MODIFY!!!";

    bool BinaryMode = false;
    std::string Comment = ";";
    char Delimiter = '\\';
    char DivChar = '=';
    bool Simple = false;
    std::string WarningMessage{DefaultWarning};
};

class TElIniTree {
public:
    // Deeper or longer key paths are refused (the open fails): no input can nest the tree
    // deeper than the recursive writer and destructor can handle. The text form writes
    // every key as a section with its whole path, so these limits also bound what one
    // section line of a file can make the next save write.
    static constexpr int MaxKeyDepth = 100;
    static constexpr size_t MaxKeyPathLength = 4096;
    // While a file is read, the keys it creates may cost at most this many times its size
    // (plus KeyBudgetExtra bytes) in the written form; sections beyond that budget are
    // skipped unless their key exists. A file of deeply nested keys cannot make the next
    // save many times larger than itself.
    static constexpr size_t KeyBudgetFactor = 4;
    static constexpr size_t KeyBudgetExtra = 64 * 1024;

    explicit TElIniTree(const TElIniFormat& format);
    TElIniTree(const TElIniTree&) = delete;
    TElIniTree& operator=(const TElIniTree&) = delete;

    TElIniEntry& Root() const { return *FRoot; }
    TElIniEntry* CurrentEntry() const { return FCurrentEntry; }
    const std::string& CurrentKey() const { return FCurrentKey; }
    bool Modified() const { return FModified; }
    void MarkModified() { FModified = true; }
    void ClearModified() { FModified = false; }

    bool OpenKey(const std::string& key, bool canCreate);

    // The current key as an operation found it, to be made current again at its end.
    struct TSavedKey {
        std::string Key;
        TElIniEntry* Entry;
    };
    TSavedKey SaveKey() const { return {FCurrentKey, FCurrentEntry}; }
    // Makes `saved` current again, or the deepest key of it that still exists.
    void RestoreKey(const TSavedKey& saved);
    // The node `name` names in the key opened (an empty name: the key itself, unless it is
    // the root), or null.
    TElIniEntry* FindValueIn(TElIniEntry* key, const std::string& name) const;
    // Moves the current key out of `node`'s subtree (to `target`) when it lies inside.
    void LeaveSubtree(const TElIniEntry* node, TElIniEntry* target);
    // The current key's path spelled again from the names in the tree, after a rename or a
    // change of delimiter.
    void RespellCurrentKey() { FCurrentKey = PathOf(FCurrentEntry); }
    // Empties the tree and makes the root current.
    void Clear();

    // Opens an absolute key path from the root with creation, as a file's sections do;
    // null when it cannot be opened.
    TElIniEntry* OpenSection(std::string_view path);
    // While one lives, the keys OpenSection creates are kept within the budget of an
    // input of `size` bytes.
    class TKeyBudget {
    public:
        TKeyBudget(TElIniTree& tree, size_t size) : Tree(tree) {
            Tree.FKeyBytesAdded = 0;
            Tree.FKeyBudget = KeyBudgetFactor * size + KeyBudgetExtra;
        }
        ~TKeyBudget() { Tree.FKeyBudget = SIZE_MAX; }
        TKeyBudget(const TKeyBudget&) = delete;
        TKeyBudget& operator=(const TKeyBudget&) = delete;

    private:
        TElIniTree& Tree;
    };

private:
    // Walks `key` from the root or the current key; reports the deepest key reached and
    // its path text.
    bool Walk(std::string_view key, bool canCreate, TElIniEntry*& reached, std::string& path);
    bool OpenKeySimple(std::string_view key, bool canCreate);
    // The root-level key of the flat store named `name`, made a key when it is a value.
    TElIniEntry* FlatKey(std::string_view name, bool canCreate);
    std::string PathOf(const TElIniEntry* entry) const;
    void NameIfNameless(TElIniEntry& node, std::string_view component);

    const TElIniFormat& FFormat;
    // Every node but the root; declared before the root, so that it outlives it.
    TElIniArena FArena;
    std::unique_ptr<TElIniEntry> FRoot;
    TElIniEntry* FCurrentEntry;
    std::string FCurrentKey;
    bool FModified = false;
    // While a file is parsed: the bytes the text form needs for the section headers of the
    // keys created so far, and how many it may need (no key is created beyond that).
    size_t FKeyBytesAdded = 0;
    size_t FKeyBudget = SIZE_MAX;
};

} // namespace cantorell
