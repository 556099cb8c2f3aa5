// Form persistence: keeps a window's state, size and position, its always-on-top flag,
// its focused control and a listed set of properties of its controls in the options store,
// restores them when the window is shown and saves them when it is hidden.
//
// The component watches its window through a control hook (TElHook): a non-spontaneous
// show restores, a non-spontaneous hide saves, moves and resizes in the normal state keep
// the normal bounds up to date (so a maximised window still saves the bounds it comes back
// to), and a deactivation of the application re-asserts the always-on-top flag. Shows and
// hides that the window system causes (minimising, restoring) are spontaneous and change
// nothing.
//
// Store layout, in the key StoragePath + Delimiter + owner name (\FormMain for the main
// window):
//
//   State=0          0 normal, 1 minimised, 2 maximised             epoState
//   Topmost=false    the TopMost flag                               epoState
//   Active control=  name of the focused control                    epoActiveControl
//   Width= Height=   the normal-state client size                   epoSize
//   Left= Top=       the normal-state position of the window frame  epoPosition
//
// and below it one key per listed component ([FormMain\FolderTree1] Width=209).
//
// The property list (PropsToStore) is a TElMTree whose items carry a TElPropData record;
// its byte form is the tree's stream format with each item's data written as
//
//   Kind      1 byte   0 component or object property, 1 simple property, 2 collection item
//   StoreAll  1 byte   0 or 1: every published property of the object, not only the children
//   Name      4-byte little-endian signed length, then that many bytes (no terminator);
//             a collection item is "Columns<3>"
#pragma once

#include "platform/WindowPlacement.h"
#include "support/ElEvent.h"
#include "support/ElMTree.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QEvent;

namespace cantorell {

class TElHook;
class TElIniFile;

// Size limits of the window; 0 leaves the window's own limit. The maximised position and
// size are kept for callers that set them, but Qt offers no way to override where and how
// large a window manager maximises a window, so only the tracking limits are applied.
class TElMinMaxInfo : public QObject {
    Q_OBJECT

public:
    enum TIndex {
        miMaxPosX,
        miMaxPosY,
        miMaxSizeX,
        miMaxSizeY,
        miMaxTrackX,
        miMaxTrackY,
        miMinTrackX,
        miMinTrackY,
        miCount
    };

    explicit TElMinMaxInfo(QObject* parent = nullptr) : QObject(parent) {}

    int Value(TIndex index) const { return FValues[index]; }
    // Writing the current value does nothing; any other value fires Changed.
    void SetValue(TIndex index, int value);
    // Copies the eight values of another record.
    void Assign(const TElMinMaxInfo& source);

// Each value is also a property of its own, so a form's listed properties can keep it:
// `Name` reads and `SetName` writes the value at index `miName`.
#define CANTORELL_MINMAX_VALUE(Name)                                                               \
    Q_PROPERTY(int Name READ Name WRITE Set##Name)                                                 \
    int Name() const {                                                                             \
        return Value(mi##Name);                                                                    \
    }                                                                                              \
    void Set##Name(int v) {                                                                        \
        SetValue(mi##Name, v);                                                                     \
    }
    CANTORELL_MINMAX_VALUE(MaxPosX)
    CANTORELL_MINMAX_VALUE(MaxPosY)
    CANTORELL_MINMAX_VALUE(MaxSizeX)
    CANTORELL_MINMAX_VALUE(MaxSizeY)
    CANTORELL_MINMAX_VALUE(MaxTrackX)
    CANTORELL_MINMAX_VALUE(MaxTrackY)
    CANTORELL_MINMAX_VALUE(MinTrackX)
    CANTORELL_MINMAX_VALUE(MinTrackY)
#undef CANTORELL_MINMAX_VALUE

    std::function<void()> Changed;

private:
    int FValues[miCount] = {};
};

// One entry of the property list.
struct TElPropData {
    enum TKind : uint8_t { pdkObject = 0, pdkProperty = 1, pdkCollectionItem = 2 };
    uint8_t Kind = pdkObject;
    bool StoreAll = false;
    std::string Name;
};

class TElFormPersist : public QObject {
    Q_OBJECT

public:
    enum TElPersistOption {
        epoState = 0x01,
        epoPosition = 0x02,
        epoProperties = 0x04,
        epoActiveControl = 0x08,
        epoSize = 0x10
    };
    Q_DECLARE_FLAGS(SElPersistOptions, TElPersistOption)
    Q_FLAG(SElPersistOptions)

    // The published properties, declared after the types they use.
    Q_PROPERTY(QString StoragePath READ StoragePath WRITE SetStoragePath)
    Q_PROPERTY(cantorell::TElMinMaxInfo* MinMaxInfo READ MinMaxInfo)
    Q_PROPERTY(bool Active READ Active WRITE SetActive)
    Q_PROPERTY(SElPersistOptions PersistOptions READ PersistOptions WRITE SetPersistOptions)
    Q_PROPERTY(bool TopMost READ TopMost WRITE SetTopMost)
    Q_PROPERTY(bool Flipped READ Flipped WRITE SetFlipped)
    Q_PROPERTY(QByteArray PropsToStore READ PropsToStore WRITE SetPropsToStore)

    using TNotifyEvent = std::function<void(TElFormPersist& sender)>;
    // Reports an error raised while saving or restoring; the window shows it in its error
    // box. Without a handler the error is only logged.
    using TErrorEvent = std::function<void(const QString& message)>;

    // `owner` is the window or one of its descendants; the window is found through the
    // parent chain once, here. `placement` is not owned.
    explicit TElFormPersist(QObject* owner,
                            TWindowPlacement& placement = TWindowPlacement::Default());
    ~TElFormPersist() override;

    // The store is not owned; whoever frees it first clears it here (or frees the
    // component first).
    TElIniFile* Storage() const { return FStorage; }
    void SetStorage(TElIniFile* value) { FStorage = value; }
    QString StoragePath() const { return FStoragePath; }
    void SetStoragePath(const QString& value) { FStoragePath = value; }
    TElMinMaxInfo* MinMaxInfo() const { return FMinMaxInfo.get(); }
    void SetMinMaxInfo(const TElMinMaxInfo& value) { FMinMaxInfo->Assign(value); }
    bool Active() const { return FActive; }
    void SetActive(bool value);
    SElPersistOptions PersistOptions() const { return FPersistOptions; }
    void SetPersistOptions(SElPersistOptions value) { FPersistOptions = value; }
    bool TopMost() const { return FTopMost; }
    void SetTopMost(bool value);
    bool Flipped() const { return FFlipped; }
    void SetFlipped(bool value);
    // The property list in its byte form; setting it appends the entries it holds. Bytes
    // that end early or are malformed keep the entries read before the fault.
    QByteArray PropsToStore() const;
    void SetPropsToStore(const QByteArray& bytes);
    TElMTree& PropList() { return FPropList; }

    QWidget* OwnerForm() const { return FOwnerForm; }
    // The window's last normal-state bounds: frame position and client size.
    QRect NormalBounds() const { return FNormalBounds; }

    void SaveWindowValues();
    void RestoreWindowValues();
    void SaveListedProperties();
    void RestoreListedProperties();
    // What hiding the form saves and showing it restores.
    void SaveAll();
    void RestoreAll();
    // Applies TopMost and Flipped once the properties are set.
    void Loaded();

    TNotifyEvent OnSave;
    TNotifyEvent OnRestore;
    TErrorEvent OnError;

    // Every live component of the process.
    static const std::vector<TElFormPersist*>& FormPersistList();

protected:
    virtual void DoSave() { Fire(OnSave, *this); }
    virtual void DoRestore() { Fire(OnRestore, *this); }

private:
    void BeforeProcess(QEvent& msg, bool& handled);
    void AfterProcess(QEvent& msg, bool& handled);
    void ApplicationDeactivated();
    // Clears and sets the flag again, so that the window system hears of it.
    void ApplyTopMost();
    void ApplySizeLimits();
    void RecordNormalBounds();
    bool CanWork() const;
    std::string KeyPath(const QString& ownerName) const;
    // Runs `act` (store, window) with the key of the window's own values open, created when
    // missing; the store's current key is kept.
    template <typename F> void InWindowKey(F act);
    void WriteWindowValues(TElIniFile& store, const QWidget& form);
    void ReadWindowValues(TElIniFile& store, QWidget& form);
    void RestoreWindowState(TElIniFile& store, QWidget& form);
    void WalkList(TElMTreeItem* node, QObject* object, const std::string& key, bool saving);
    void WalkChild(TElMTreeItem* child, QObject* object, bool saving);
    void WalkObject(TElMTreeItem* child, QObject* object, const std::string& name, bool saving);
    template <typename F> void Guarded(F step);

    TWindowPlacement& FPlacement;
    QPointer<QWidget> FOwnerForm;
    std::unique_ptr<TElHook> FHook;
    std::unique_ptr<TElMinMaxInfo> FMinMaxInfo;
    TElMTree FPropList;
    TElIniFile* FStorage = nullptr;
    QString FStoragePath;
    bool FActive = false;
    SElPersistOptions FPersistOptions = SElPersistOptions(epoState | epoPosition | epoSize);
    bool FTopMost = false;
    bool FFlipped = false;
    bool FCreated = false;
    bool FLimitsApplied = false;
    QRect FNormalBounds;
    QRect FUnflippedBounds;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TElFormPersist::SElPersistOptions)

} // namespace cantorell
