#include "support/ElMTree.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace cantorell {
namespace {

// Items carry a one-byte name as data: written as one byte, read back into a new string.
class TNamedTree : public TElMTree {
public:
    TNamedTree() {
        OnItemSave = [](TElMTree&, TElMTreeItem* item, std::iostream& stream) {
            stream.put(static_cast<std::string*>(item->Data)->front());
        };
        OnItemLoad = [this](TElMTree&, TElMTreeItem* item, std::iostream& stream) {
            char c = 0;
            if (!stream.get(c))
                throw EElStreamError("no item data");
            Owned.push_back(std::make_unique<std::string>(1, c));
            item->Data = Owned.back().get();
        };
        OnItemDelete = [this](TElMTree&, TElMTreeItem*, void* data) {
            Deleted.push_back(data == nullptr ? "?" : *static_cast<std::string*>(data));
        };
    }
    // The base destructor would report deletions into members that are already gone.
    ~TNamedTree() override { Clear(); }

    TElMTreeItem* Add(TElMTreeItem* parent, const std::string& name) {
        Owned.push_back(std::make_unique<std::string>(name));
        return AddItem(parent, Owned.back().get());
    }
    // The tree as text: each item's name followed by its children in parentheses.
    std::string Shape(TElMTreeItem* item = nullptr) const {
        item = item == nullptr ? Root() : item;
        std::string text;
        for (int32_t i = 0; i < item->List->Count(); ++i) {
            auto* child = static_cast<TElMTreeItem*>(item->List->Get(i));
            text += child->Data == nullptr ? "?" : *static_cast<std::string*>(child->Data);
            if (child->List->Count() > 0)
                text += "(" + Shape(child) + ")";
        }
        return text;
    }

    std::vector<std::unique_ptr<std::string>> Owned;
    std::vector<std::string> Deleted;
};

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int v : values)
        bytes += static_cast<char>(v);
    return bytes;
}

TEST(ElMTree, WorkedExampleStreamsChildCountsBeforeItemData) {
    TNamedTree tree;
    TElMTreeItem* a = tree.Add(nullptr, "A");
    tree.Add(a, "a");
    TElMTreeItem* b = tree.Add(nullptr, "B");
    tree.Add(b, "b");
    std::stringstream stream;
    tree.SaveToStream(stream);
    EXPECT_EQ(stream.str(), Bytes({2, 0,   0, 0, 1, 0, 0,   0, 'A', 0, 0, 0,
                                   0, 'a', 1, 0, 0, 0, 'B', 0, 0,   0, 0, 'b'}));

    TNamedTree copy;
    copy.LoadFromStream(stream);
    EXPECT_EQ(copy.Shape(), "A(a)B(b)");
    EXPECT_EQ(copy.Count(), 4);
}

TEST(ElMTree, EmptyTreeIsFourZeroBytesAndLoadingAppends) {
    TNamedTree empty;
    std::stringstream stream;
    empty.SaveToStream(stream);
    EXPECT_EQ(stream.str(), Bytes({0, 0, 0, 0}));

    TNamedTree tree;
    tree.Add(tree.Add(nullptr, "X"), "y");
    std::stringstream saved;
    tree.SaveToStream(saved);
    const std::string bytes = saved.str();
    std::stringstream first(bytes), second(bytes);
    tree.LoadFromStream(first);
    tree.LoadFromStream(second);
    EXPECT_EQ(tree.Shape(), "X(y)X(y)X(y)");
    EXPECT_EQ(tree.Count(), 6);
}

TEST(ElMTree, SubtreeOfALeafIsZeroCountThenItsData) {
    TNamedTree tree;
    TElMTreeItem* leaf = tree.Add(tree.Add(nullptr, "P"), "L");
    std::stringstream stream;
    tree.SaveSubTreeToStream(leaf, stream);
    EXPECT_EQ(stream.str(), Bytes({0, 0, 0, 0, 'L'}));
}

TEST(ElMTree, DeleteItemFreesDeepestItemsFirstAndTheItemLast) {
    TNamedTree tree;
    TElMTreeItem* a = tree.Add(nullptr, "A");
    TElMTreeItem* b = tree.Add(a, "B");
    tree.Add(b, "C");
    tree.Add(a, "D");
    tree.Add(nullptr, "E");
    tree.DeleteItem(a);
    EXPECT_EQ(tree.Deleted, (std::vector<std::string>{"C", "B", "D", "A"}));
    EXPECT_EQ(tree.Count(), 1);
    EXPECT_EQ(tree.Shape(), "E");
    tree.DeleteItem(nullptr);
    EXPECT_EQ(tree.Count(), 1);
}

TEST(ElMTree, DestructionDeletesEveryItem) {
    std::vector<std::string> deleted;
    {
        TNamedTree tree;
        tree.Add(tree.Add(nullptr, "A"), "B");
        tree.OnItemDelete = [&](TElMTree&, TElMTreeItem*, void* data) {
            deleted.push_back(*static_cast<std::string*>(data));
        };
    }
    EXPECT_EQ(deleted, (std::vector<std::string>{"B", "A"}));
}

TEST(ElMTree, DamagedStreamsFailAndKeepWhatWasRead) {
    TNamedTree tree;
    // Root says two children; the second is missing.
    std::stringstream truncated(Bytes({2, 0, 0, 0, 0, 0, 0, 0, 'A'}));
    EXPECT_THROW(tree.LoadFromStream(truncated), EElStreamError);
    EXPECT_EQ(tree.Shape(), "A?");
    EXPECT_EQ(tree.Count(), 2);

    TNamedTree negative;
    std::stringstream stream(Bytes({1, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 'N'}));
    EXPECT_THROW(negative.LoadFromStream(stream), std::bad_alloc);
    EXPECT_EQ(negative.Count(), 1);
}

TEST(ElMTree, StreamNestedDeeperThanTheLimitIsRefused) {
    TElMTree tree; // no item handlers: the stream is child counts only
    std::string bytes;
    for (int i = 0; i <= TElMTree::MaxLoadDepth + 1; ++i)
        bytes += Bytes({1, 0, 0, 0});
    std::stringstream stream(bytes);
    EXPECT_THROW(tree.LoadFromStream(stream), EElStreamError);
    EXPECT_LE(tree.Count(), TElMTree::MaxLoadDepth + 1);
}

} // namespace
} // namespace cantorell
