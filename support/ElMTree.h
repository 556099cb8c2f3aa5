// An ordered tree of opaque items with a compact stream format.
//
// The tree never looks at an item's data: its owner writes, reads and frees that data
// through OnItemSave, OnItemLoad and OnItemDelete. A node is stored as
//
//   child count   4 bytes, signed, little-endian
//   item data     whatever OnItemSave writes; absent for the root
//   children      child count nodes, in child order
//
// so root -> A -> A1, root -> B -> B1 is 02000000, 01000000 A, 00000000 A1, 01000000 B,
// 00000000 B1. A save that starts at an item other than the root writes that item's data
// too. Loading appends to the node it starts at; nothing is cleared first.
#pragma once

#include "support/ElList.h"

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <stdexcept>

namespace cantorell {

// A stream that ended early or failed while the tree was being read or written.
class EElStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct TElMTreeItem {
    TElMTreeItem* Parent = nullptr;
    void* Data = nullptr;
    std::unique_ptr<TElList> List = std::make_unique<TElList>();
};

class TElMTree {
public:
    using TItemStreamEvent =
        std::function<void(TElMTree& sender, TElMTreeItem* item, std::iostream& stream)>;
    using TItemDeleteEvent = std::function<void(TElMTree& sender, TElMTreeItem* item, void* data)>;

    // Deeper streams are refused with EElStreamError instead of exhausting the stack.
    static constexpr int MaxLoadDepth = 10000;

    TElMTree();
    TElMTree(const TElMTree&) = delete;
    TElMTree& operator=(const TElMTree&) = delete;
    // Clears the tree, so OnItemDelete runs for every item.
    virtual ~TElMTree();

    TElMTreeItem* Root() const { return FRoot.get(); }
    int32_t Count() const { return FCount; }

    // Appends a child to `parent`, or to the root when `parent` is null.
    TElMTreeItem* AddItem(TElMTreeItem* parent, void* data);
    // Deletes the item's subtree deepest first, then the item itself; null does nothing.
    void DeleteItem(TElMTreeItem* item);
    void Clear();

    virtual void SaveToStream(std::iostream& stream);
    virtual void LoadFromStream(std::iostream& stream);
    // `item` null means the root.
    virtual void SaveSubTreeToStream(TElMTreeItem* item, std::iostream& stream);
    // A negative child count throws std::bad_alloc (the items read so far stay); a stream
    // that ends early throws EElStreamError.
    virtual void LoadSubTreeFromStream(TElMTreeItem* item, std::iostream& stream);

    TItemStreamEvent OnItemSave;
    TItemStreamEvent OnItemLoad;
    TItemDeleteEvent OnItemDelete;

protected:
    virtual void DoItemSave(TElMTreeItem* item, std::iostream& stream);
    virtual void DoItemLoad(TElMTreeItem* item, std::iostream& stream);
    virtual void DoItemDelete(TElMTreeItem* item, void* data);

private:
    void SaveNode(TElMTreeItem* item, std::iostream& stream);
    void LoadNode(TElMTreeItem* item, std::iostream& stream, int depth);

    std::unique_ptr<TElMTreeItem> FRoot;
    int32_t FCount = 0;
};

} // namespace cantorell
