// Application options: a component that saves and loads every published property of
// itself, and so of any descendant, to and from the options store, without code per
// property. A descendant only declares its options as Q_PROPERTYs with their initial
// values.
//
// In the store, each property is one value named after it in the key IniSection (the
// store's root when IniSection is empty): integers, enumerations and Booleans as integers
// (false 0, true 1), texts as strings, string lists as multi-string values. Other object
// properties are not stored. QObject's objectName takes part as "Name".
#pragma once

#include <QObject>
#include <QString>

#include <cstdint>

namespace cantorell {

class TElIniFile;

class TElOptions : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool AutoSave READ AutoSave WRITE SetAutoSave)
    Q_PROPERTY(QString IniName READ IniName WRITE SetIniName)
    Q_PROPERTY(QString IniSection READ IniSection WRITE SetIniSection)
    Q_PROPERTY(TElStorageType StorageType READ StorageType WRITE SetStorageType)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)

public:
    // Which kind of store the options live in. Only the program's own store (eosElIni) is
    // provided; in the other two modes Load and Save leave everything as it is.
    enum TElStorageType : uint8_t { eosRegistry = 0, eosIni = 1, eosElIni = 2 };
    Q_ENUM(TElStorageType)

    // StorageType eosRegistry, IniSection "Options".
    explicit TElOptions(QObject* owner = nullptr);
    // Saves first when AutoSave is set (and no descendant's destructor has done so).
    ~TElOptions() override;

    bool AutoSave() const { return FAutoSave; }
    virtual void SetAutoSave(bool value) { FAutoSave = value; }
    QString IniName() const { return FIniName; }
    void SetIniName(const QString& value) { FIniName = value; }
    QString IniSection() const { return FIniSection; }
    void SetIniSection(const QString& value) { FIniSection = value; }
    TElStorageType StorageType() const { return FStorageType; }
    void SetStorageType(TElStorageType value) { FStorageType = value; }
    int Tag() const { return FTag; }
    void SetTag(int value) { FTag = value; }
    // The store of the mode eosElIni; not owned.
    TElIniFile* Storage() const { return FStorage; }
    void SetStorage(TElIniFile* value) { FStorage = value; }

    // Reads every stored property from the store; a missing or unreadable value leaves the
    // property as it is.
    virtual void Load();
    // Writes every stored property into the store.
    virtual void Save();

protected:
    // For descendants whose constructors set up the base values themselves: everything
    // at its zero value, StorageType eosRegistry and IniSection empty.
    struct TBare {};
    TElOptions(TBare, QObject* owner);
    // Runs at the end of each Load.
    virtual void Loaded() {}
    // The AutoSave save. A descendant calls it from its own destructor: by the time the
    // base destructor runs, the descendant's properties are gone from the object.
    void SaveOnDestruction();

private:
    // Load (`saving` false) or Save through the store of the options' mode; false when
    // nothing was loaded or saved.
    bool TransferAll(bool saving);
    // Load or save through `store`, in the key `section`.
    void Transfer(TElIniFile& store, const std::string& section, bool saving);

    bool FAutoSave = false;
    bool FSavedOnDestruction = false;
    QString FIniName;
    QString FIniSection;
    TElIniFile* FStorage = nullptr;
    TElStorageType FStorageType = eosRegistry;
    int FTag = 0;
};

} // namespace cantorell
