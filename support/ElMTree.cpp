#include "ElMTree.h"

#include <array>
#include <new>
#include <string>

namespace cantorell {

namespace {

void WriteInt32(std::iostream& stream, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    const std::array<char, 4> bytes{static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                                    static_cast<char>((u >> 16) & 0xFF),
                                    static_cast<char>((u >> 24) & 0xFF)};
    if (!stream.write(bytes.data(), bytes.size()))
        throw EElStreamError("Stream write error");
}

int32_t ReadInt32(std::iostream& stream) {
    std::array<unsigned char, 4> bytes{};
    if (!stream.read(reinterpret_cast<char*>(bytes.data()), bytes.size()))
        throw EElStreamError("Stream read error");
    return static_cast<int32_t>(uint32_t{bytes[0]} | uint32_t{bytes[1]} << 8 |
                                uint32_t{bytes[2]} << 16 | uint32_t{bytes[3]} << 24);
}

} // namespace

TElMTree::TElMTree() : FRoot(std::make_unique<TElMTreeItem>()) {}

TElMTree::~TElMTree() {
    try {
        Clear();
    } catch (...) {
        // An owner's delete handler must not escape a destructor.
    }
}

TElMTreeItem* TElMTree::AddItem(TElMTreeItem* parent, void* data) {
    if (parent == nullptr)
        parent = FRoot.get();
    auto item = std::make_unique<TElMTreeItem>();
    item->Parent = parent;
    item->Data = data;
    parent->List->Add(item.get());
    ++FCount;
    return item.release();
}

void TElMTree::DeleteItem(TElMTreeItem* item) {
    if (item == nullptr)
        return;
    while (item->List->Count() > 0)
        DeleteItem(static_cast<TElMTreeItem*>(item->List->At(0)));
    if (item == FRoot.get())
        return; // the root always exists; deleting it only empties it
    std::unique_ptr<TElMTreeItem> owned(item);
    owned->List.reset();
    owned->Parent->List->Remove(item);
    --FCount;
    DoItemDelete(item, item->Data);
}

void TElMTree::Clear() {
    while (FRoot->List->Count() > 0)
        DeleteItem(static_cast<TElMTreeItem*>(FRoot->List->At(0)));
}

void TElMTree::SaveToStream(std::iostream& stream) {
    SaveSubTreeToStream(nullptr, stream);
}

void TElMTree::LoadFromStream(std::iostream& stream) {
    LoadSubTreeFromStream(nullptr, stream);
}

void TElMTree::SaveSubTreeToStream(TElMTreeItem* item, std::iostream& stream) {
    SaveNode(item == nullptr ? FRoot.get() : item, stream);
}

void TElMTree::LoadSubTreeFromStream(TElMTreeItem* item, std::iostream& stream) {
    LoadNode(item == nullptr ? FRoot.get() : item, stream, 0);
}

void TElMTree::SaveNode(TElMTreeItem* item, std::iostream& stream) {
    const TElList& children = *item->List;
    WriteInt32(stream, children.Count());
    if (item != FRoot.get())
        DoItemSave(item, stream);
    for (int32_t i = 0; i < children.Count(); ++i)
        SaveNode(static_cast<TElMTreeItem*>(children.At(i)), stream);
}

void TElMTree::LoadNode(TElMTreeItem* item, std::iostream& stream, int depth) {
    // Four bytes per level are enough to nest a stream deeper than the call stack can go.
    if (depth > MaxLoadDepth)
        throw EElStreamError("Stream nests items deeper than " + std::to_string(MaxLoadDepth));
    const int32_t count = ReadInt32(stream);
    if (item != FRoot.get())
        DoItemLoad(item, stream);
    if (count < 0)
        throw std::bad_alloc();
    // No room is reserved from the count: each child costs at least four more bytes of the
    // stream, so a hostile count ends in a read error, not in a huge allocation.
    for (int32_t i = 0; i < count; ++i)
        LoadNode(AddItem(item, nullptr), stream, depth + 1);
}

void TElMTree::DoItemSave(TElMTreeItem* item, std::iostream& stream) {
    if (OnItemSave)
        OnItemSave(*this, item, stream);
}

void TElMTree::DoItemLoad(TElMTreeItem* item, std::iostream& stream) {
    if (OnItemLoad)
        OnItemLoad(*this, item, stream);
}

void TElMTree::DoItemDelete(TElMTreeItem* item, void* data) {
    if (OnItemDelete)
        OnItemDelete(*this, item, data);
}

} // namespace cantorell
