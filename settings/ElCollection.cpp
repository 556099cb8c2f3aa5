#include "settings/ElCollection.h"

namespace cantorell {

TElCollection::TElCollection(TItemFactory factory, QObject* parent)
    : QObject(parent), FFactory(std::move(factory)) {}

QObject* TElCollection::Item(int index) const {
    if (index < 0 || index >= Count())
        return nullptr;
    return FItems[static_cast<size_t>(index)];
}

QObject* TElCollection::Add() {
    QObject* item = FFactory ? FFactory(this) : new QObject(this);
    if (item->parent() != this)
        item->setParent(this);
    FItems.push_back(item);
    return item;
}

void TElCollection::Delete(int index) {
    if (index < 0 || index >= Count())
        return;
    QObject* item = FItems[static_cast<size_t>(index)];
    FItems.erase(FItems.begin() + index);
    delete item;
}

void TElCollection::Clear() {
    while (Count() > 0)
        Delete(Count() - 1);
}

} // namespace cantorell
