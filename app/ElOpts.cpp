#include "app/ElOpts.h"

#include "settings/ElIni.h"
#include "settings/ElPropTools.h"

#include <QFile>
#include <QtDebug>

#include <exception>
#include <memory>

namespace cantorell {

TElOptions::TElOptions(QObject* owner) : QObject(owner), FIniSection(QStringLiteral("Options")) {}

TElOptions::TElOptions(TBare, QObject* owner) : QObject(owner) {}

TElOptions::~TElOptions() {
    SaveOnDestruction();
}

void TElOptions::SaveOnDestruction() {
    if (!FAutoSave || FSavedOnDestruction)
        return;
    FSavedOnDestruction = true;
    try {
        Save();
    } catch (const std::exception& error) {
        qWarning("The options could not be saved: %s", error.what());
    }
}

void TElOptions::Load() {
    if (TransferAll(false))
        Loaded();
}

void TElOptions::Save() {
    TransferAll(true);
}

bool TElOptions::TransferAll(bool saving) {
    // The section is taken once: a stored IniSection changes the key of later operations,
    // not of the load that reads it.
    const QString section = FIniSection;
    if (FStorageType != eosElIni)
        return false;
    if (FStorage != nullptr) {
        Transfer(*FStorage, FStorage->Delimiter() + section.toUtf8().toStdString(), saving);
    } else if (!FIniName.isEmpty()) {
        // A store of our own on the file IniName, read first: a load has something to load,
        // and a save keeps the file's other keys rather than replacing it by a file holding
        // only the options.
        TElIniFile store;
        store.SetPath(QFile::encodeName(FIniName).toStdString());
        try {
            store.Load();
        } catch (const std::exception&) {
            // An unreadable file leaves the options as they are, and is never overwritten.
            if (!saving || QFile::exists(FIniName))
                return false;
        }
        Transfer(store, store.Delimiter() + section.toUtf8().toStdString(), saving);
        if (saving)
            store.Save(); // a failure propagates to the caller
    }
    return true;
}

void TElOptions::Transfer(TElIniFile& store, const std::string& section, bool saving) {
    const TElIniKeyKeeper keeper(store);
    if (store.OpenKey(section, saving)) {
        for (const TPropInfo& property : PropertyList(*this)) {
            switch (property.Kind) {
            case TPropKind::pkInteger:
            case TPropKind::pkEnumeration:
                saving ? SaveOrdProperty(this, property, store)
                       : LoadOrdProperty(this, property, store);
                break;
            case TPropKind::pkString:
                saving ? SaveStrProperty(this, property, store)
                       : LoadStrProperty(this, property, store);
                break;
            case TPropKind::pkClass:
                if (property.Meta.metaType().id() == QMetaType::QStringList)
                    saving ? SaveStringListProperty(this, property, store)
                           : LoadStringListProperty(this, property, store);
                break;
            case TPropKind::pkSet:
            case TPropKind::pkFloat:
            case TPropKind::pkOther:
                break;
            }
        }
    }
}

} // namespace cantorell
