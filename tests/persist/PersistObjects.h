// Small objects with published properties of every stored kind, for the persistence tests.
#pragma once

#include "settings/ElCollection.h"

#include <QObject>
#include <QStringList>

namespace cantorell::test {

class TFontObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Size MEMBER Size)

public:
    using QObject::QObject;
    int Size = 8;
};

class TItemObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption MEMBER Caption)
    Q_PROPERTY(int Width MEMBER Width)

public:
    using QObject::QObject;
    QString Caption;
    int Width = 0;
};

class TSampleObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Width MEMBER Width)
    Q_PROPERTY(bool Visible MEMBER Visible)
    Q_PROPERTY(int Top MEMBER Top)
    Q_PROPERTY(bool TopMost MEMBER TopMost)
    Q_PROPERTY(int TabOrder MEMBER TabOrder)
    Q_PROPERTY(int Tag MEMBER Tag)
    Q_PROPERTY(TAlign Align MEMBER Align)
    Q_PROPERTY(SAnchors Anchors READ GetAnchors WRITE SetAnchors)
    Q_PROPERTY(short Small MEMBER Small)
    Q_PROPERTY(QString Caption MEMBER Caption)
    Q_PROPERTY(QStringList Lines MEMBER Lines)
    Q_PROPERTY(double Ratio MEMBER Ratio)
    Q_PROPERTY(qint64 Big MEMBER Big)
    Q_PROPERTY(int Computed READ Computed)
    Q_PROPERTY(QObject* Font READ Font)
    Q_PROPERTY(QObject* Nothing READ Nothing)
    Q_PROPERTY(QObject* Items READ Items)

public:
    enum TAlign { alNone, alTop, alBottom, alLeft };
    Q_ENUM(TAlign)
    enum TAnchor { akLeft = 1, akTop = 2, akRight = 4 };
    Q_DECLARE_FLAGS(SAnchors, TAnchor)
    Q_FLAG(SAnchors)

    explicit TSampleObject(QObject* parent = nullptr)
        : QObject(parent), FFont(new TFontObject(this)),
          FItems(new TElCollection([](QObject* p) { return new TItemObject(p); }, this)) {}

    SAnchors GetAnchors() const { return Anchors; }
    void SetAnchors(SAnchors value) { Anchors = value; }
    int Computed() const { return 42; }
    TFontObject* Font() const { return FFont; }
    QObject* Nothing() const { return nullptr; }
    TElCollection* Items() const { return FItems; }
    TItemObject* Item(int i) const { return static_cast<TItemObject*>(FItems->Item(i)); }

    int Width = 0;
    bool Visible = false;
    int Top = 0;
    bool TopMost = false;
    int TabOrder = 0;
    int Tag = 0;
    TAlign Align = alNone;
    SAnchors Anchors;
    short Small = 0;
    QString Caption;
    QStringList Lines;
    double Ratio = 0;
    qint64 Big = 0;

private:
    TFontObject* FFont;
    TElCollection* FItems;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TSampleObject::SAnchors)

// A parent whose child refers back to it: a walk that followed every reference would never
// end.
class TLoopObject : public QObject {
    Q_OBJECT
    Q_PROPERTY(int Depth MEMBER Depth)
    Q_PROPERTY(QObject* Back READ Back)
    Q_PROPERTY(QObject* Child READ Child)

public:
    explicit TLoopObject(QObject* parent = nullptr, bool withChild = true) : QObject(parent) {
        if (withChild)
            FChild = new TLoopObject(this, false);
    }
    QObject* Back() const { return parent(); }
    QObject* Child() const { return FChild; }
    int Depth = 0;

private:
    TLoopObject* FChild = nullptr;
};

} // namespace cantorell::test
