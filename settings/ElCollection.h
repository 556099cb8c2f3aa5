// A collection of items for published-property persistence: an ordered list of QObject
// items, each with its own published properties (Q_PROPERTY). A property whose value is a
// TElCollection is stored as a key with one subkey per item (Item0, Item1, ...).
#pragma once

#include <QObject>

#include <functional>
#include <vector>

namespace cantorell {

class TElCollection : public QObject {
    Q_OBJECT

public:
    // Makes a new item; the collection becomes its parent.
    using TItemFactory = std::function<QObject*(QObject* parent)>;

    explicit TElCollection(TItemFactory factory, QObject* parent = nullptr);

    int Count() const { return static_cast<int>(FItems.size()); }
    // Item `index`, or null outside 0 .. Count - 1.
    QObject* Item(int index) const;
    QObject* Add();
    void Delete(int index);
    void Clear();

private:
    TItemFactory FFactory;
    std::vector<QObject*> FItems; // children of this object, in item order
};

} // namespace cantorell
