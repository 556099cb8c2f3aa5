#include "ElIniTree.h"

#include "platform/Ascii.h"

#include <vector>

namespace cantorell {

TElIniTree::TElIniTree(const TElIniFormat& format)
    : FFormat(format), FArena(sizeof(TElIniEntry)), FRoot(std::make_unique<TElIniEntry>(FArena)),
      FCurrentEntry(FRoot.get()), FCurrentKey(1, format.Delimiter) {}

std::string TElIniTree::PathOf(const TElIniEntry* entry) const {
    std::vector<const std::string*> names;
    for (; entry != nullptr && entry->Parent != nullptr; entry = entry->Parent)
        names.push_back(&entry->Name());
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += FFormat.Delimiter;
        path += **it;
    }
    return path.empty() ? std::string(1, FFormat.Delimiter) : path;
}

bool TElIniTree::Walk(std::string_view key, bool canCreate, TElIniEntry*& reached,
                      std::string& path) {
    const char delimiter = FFormat.Delimiter;
    TElIniEntry* node;
    if (!key.empty() && key.front() == delimiter) {
        node = FRoot.get();
        path = std::string(1, delimiter);
        key.remove_prefix(1);
    } else {
        node = FCurrentEntry;
        path = FCurrentKey;
        if (path.size() != 1 || path.front() != delimiter)
            path += delimiter;
    }
    reached = node;
    if (!key.empty() && key.back() == delimiter)
        key.remove_suffix(1);
    int depth = DepthOf(node);
    while (!key.empty()) {
        const size_t end = key.find(delimiter);
        const std::string_view component = key.substr(0, end);
        if (component.empty() || depth >= MaxKeyDepth ||
            path.size() + component.size() > MaxKeyPathLength)
            return false;
        // "\r\n[" path "]\r\n": what a new key adds to the text form.
        const size_t keyBytes = path.size() + component.size() + 4;
        TElIniEntry* child = nullptr;
        bool added = false;
        // Over the budget of a file being read, only existing keys open.
        const bool create = canCreate && FKeyBytesAdded + keyBytes <= FKeyBudget;
        if (create)
            child = node->FindOrAddChild(component, true, added);
        else if ((child = node->FindChild(component)) == nullptr)
            return false;
        if (added) {
            MarkModified();
            FKeyBytesAdded += keyBytes;
        } else if (!child->IsKey) {
            if (!create)
                return false;
            child->IsKey = true; // the value it holds stays
            MarkModified();
        }
        NameIfNameless(*child, component);
        path += component;
        path += delimiter;
        node = child;
        reached = node;
        ++depth;
        if (end == std::string_view::npos)
            break;
        key.remove_prefix(end + 1);
        if (key.empty())
            return false; // two delimiters in a row
    }
    if (path.size() > 1 && path.back() == delimiter)
        path.pop_back();
    return true;
}

void TElIniTree::NameIfNameless(TElIniEntry& node, std::string_view component) {
    // A nameless value (one written with an empty name at the root) that a path walks
    // into takes the path's spelling: a key with an empty name would be written as the
    // path of its parent and come back as part of it.
    if (node.Name().empty() && !component.empty()) {
        node.Rename(component);
        MarkModified();
    }
}

bool TElIniTree::OpenKey(const std::string& key, bool canCreate) {
    if (key.empty() || SameIgnoringAsciiCase(key, FCurrentKey))
        return true;
    if (FFormat.Simple)
        return OpenKeySimple(key, canCreate);
    TElIniEntry* reached = nullptr;
    std::string path;
    // A failed walk leaves the current key where it was.
    if (!Walk(key, canCreate, reached, path))
        return false;
    FCurrentEntry = reached;
    FCurrentKey = std::move(path);
    return true;
}

TElIniEntry* TElIniTree::FlatKey(std::string_view name, bool canCreate) {
    TElIniEntry* node = FRoot->FindChild(name);
    if (node == nullptr) {
        if (!canCreate)
            return nullptr;
        node = FRoot->AddChild(name, true);
        MarkModified();
    } else if (!node->IsKey) {
        // A value alone is no key to write values under, unless it may become one.
        if (!canCreate)
            return nullptr;
        node->IsKey = true;
        MarkModified();
    }
    NameIfNameless(*node, name);
    return node;
}

bool TElIniTree::OpenKeySimple(std::string_view key, bool canCreate) {
    if (!key.empty() && key.front() == FFormat.Delimiter)
        key.remove_prefix(1);
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FFormat.Delimiter);
    if (key.empty())
        return true;
    TElIniEntry* node = FlatKey(key, canCreate);
    if (node == nullptr)
        return false;
    FCurrentEntry = node;
    FCurrentKey += key;
    return true;
}

void TElIniTree::RestoreKey(const TSavedKey& saved) {
    if (saved.Entry == FCurrentEntry && saved.Key == FCurrentKey)
        return;
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FFormat.Delimiter);
    if (saved.Key.empty() || saved.Key == FCurrentKey)
        return;
    if (FFormat.Simple) {
        OpenKeySimple(saved.Key, false);
        return;
    }
    // Walks as far as the saved path still exists, so the current key is always a key of
    // the tree even when the operation removed or renamed part of the saved path.
    TElIniEntry* reached = nullptr;
    std::string path;
    Walk(saved.Key, false, reached, path);
    if (path.size() > 1 && path.back() == FFormat.Delimiter)
        path.pop_back();
    FCurrentEntry = reached;
    FCurrentKey = std::move(path);
}

TElIniEntry* TElIniTree::FindValueIn(TElIniEntry* key, const std::string& name) const {
    if (!name.empty())
        return key->FindChild(name);
    return key == FRoot.get() ? nullptr : key;
}

void TElIniTree::LeaveSubtree(const TElIniEntry* node, TElIniEntry* target) {
    if (!IsWithin(FCurrentEntry, node) || FCurrentEntry == target)
        return;
    if (FFormat.Simple) {
        FCurrentKey = PathOf(target);
    } else {
        // Cut the spelled path by as many components as the current key lies below target.
        for (int levels = DepthOf(FCurrentEntry) - DepthOf(target); levels > 0; --levels) {
            const size_t pos = FCurrentKey.rfind(FFormat.Delimiter);
            FCurrentKey.resize(pos == std::string::npos ? 0 : pos);
        }
        if (FCurrentKey.empty())
            FCurrentKey = std::string(1, FFormat.Delimiter);
    }
    FCurrentEntry = target;
}

void TElIniTree::Clear() {
    FRoot->ClearChildren();
    FRoot->ClearValue();
    // No node is left in the arena: its memory goes back at once rather than wait in the
    // free list for a tree of the same size.
    FArena.Release();
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FFormat.Delimiter);
}

TElIniEntry* TElIniTree::OpenSection(std::string_view path) {
    if (FFormat.Simple) {
        // Flat store: the whole path is one root-level key name.
        if (!path.empty() && path.front() == FFormat.Delimiter)
            path.remove_prefix(1);
        return path.empty() ? FRoot.get() : FlatKey(path, true);
    }
    TElIniEntry* reached = nullptr;
    std::string walked;
    return Walk(path, true, reached, walked) ? reached : nullptr;
}

} // namespace cantorell
