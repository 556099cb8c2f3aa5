#include "ElIni.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <cstring>

namespace cantorell {

namespace {

TRegistryRoot ToRegistryRoot(TRegRootType root) {
    switch (root) {
    case rrtHKEY_CLASSES_ROOT:
        return TRegistryRoot::rrClassesRoot;
    case rrtHKEY_LOCAL_MACHINE:
        return TRegistryRoot::rrLocalMachine;
    case rrtHKEY_USERS:
        return TRegistryRoot::rrUsers;
    case rrtHKEY_CURRENT_CONFIG:
        return TRegistryRoot::rrCurrentConfig;
    default:
        return TRegistryRoot::rrCurrentUser;
    }
}

std::string ListText(const TStrings& items) {
    std::string text;
    for (const std::string& item : items)
        text += item + "\r\n";
    return text;
}

// Reads the value `name` of `key` and hands it to `take`, which takes what it can and
// tells whether the value was of the type asked for; false when there is no such value.
template <class TTake>
bool ReadThrough(TElIniBackend& backend, const std::string& key, const std::string& name,
                 TTake take) {
    TElIniValue scratch;
    const TElIniValue* found = backend.ReadValue(key, name, scratch);
    return found != nullptr && take(*found);
}

} // namespace

// --- Construction and properties ---------------------------------------------------------

TElIniFile::TElIniFile(TFileSystem& fs)
    : FFs(fs), FFile(std::make_unique<TElIniFileBackend>(
                   fs, FFormat, FLazyWrite, [this] { Save(); },
                   [this](std::string_view line, std::string& name, std::string& value) {
                       return ParseLine(line, name, value);
                   })),
      FBackend(FFile.get()) {}

TElIniFile::TElIniFile() : TElIniFile(TFileSystem::Default()) {}

TElIniFile::~TElIniFile() {
    if (FLazyWrite && FBackend->HasUnsavedChanges()) {
        try {
            Save();
        } catch (...) {
            // Nothing can report a failure from here; the old file is still intact.
        }
    }
}

void TElIniFile::SaveIfEager() {
    if (!FLazyWrite)
        Save();
}

void TElIniFile::SetDelimiter(char value) {
    if (value == FFormat.Delimiter)
        return;
    FBackend->CheckDelimiter(value);
    FFormat.Delimiter = value;
    FFile->Tree().RespellCurrentKey(); // the old delimiter would no longer split it
    SaveIfEager();
}

void TElIniFile::SetLazyWrite(bool value) {
    FLazyWrite = value;
    FBackend->SetLazyWrite(value);
}

void TElIniFile::SetSimple(bool value) {
    if (UseRegistry() || value == FFormat.Simple)
        return;
    // The tree is converted by writing it out in the present mode and reading it back in
    // the new one; in the flat store a section path is one whole key name.
    const std::string bytes = FFile->SaveToBytes();
    const char delimiter = FFormat.Delimiter;
    FFormat.Simple = value;
    if (value)
        FFormat.Delimiter = '\0';
    try {
        FFile->LoadFromBytes(bytes, Path());
    } catch (...) {
        FFormat.Delimiter = delimiter;
        throw;
    }
    FFormat.Delimiter = delimiter;
    FFile->Tree().RespellCurrentKey();
}

TRegRootType TElIniFile::RegRoot() const {
    switch (FRegRoot) {
    case rrtHKEY_CLASSES_ROOT:
    case rrtHKEY_LOCAL_MACHINE:
    case rrtHKEY_USERS:
    case rrtHKEY_CURRENT_CONFIG:
        return FRegRoot;
    default:
        return rrtHKEY_CURRENT_USER;
    }
}

void TElIniFile::SetRegRoot(TRegRootType value) {
    if (value == rrtUnknown || value == FRegRoot)
        return;
    FRegRoot = value;
    FBackend->SetRoot(ToRegistryRoot(value));
}

void TElIniFile::SetUseRegistry(bool value) {
    if (value == UseRegistry())
        return;
    if (!value) {
        // The registry's current key need not exist in the tree; take what is left of it.
        const std::string current = FRegistry->CurrentKey();
        FRegistry.reset();
        FBackend = FFile.get();
        FFile->Tree().RestoreKey({current, nullptr});
        return;
    }
    // The user's configuration folder is looked up only now: a store in file mode reads
    // nothing from the environment. The base key is the file's Path when one is set.
    FRegistry =
        MakeRegistryBackend(FRegistryFolder.empty() ? TRegistry::DefaultFolder() : FRegistryFolder,
                            FFs, ToRegistryRoot(FRegRoot), FFile->Path(), FFile->CurrentKey());
    FRegistry->SetLazyWrite(FLazyWrite);
    FBackend = FRegistry.get();
}

// --- Keys and values ---------------------------------------------------------------------

bool TElIniFile::OpenKey(const std::string& key, bool canCreate) {
    return FBackend->OpenKey(key, canCreate);
}

bool TElIniFile::KeyExists(const std::string& key) {
    return FBackend->KeyExists(key);
}

TElIniEntry* TElIniFile::GetValueEntry(const std::string& key, const std::string& name) {
    return FBackend->GetValueEntry(key, name);
}

TElIniEntry* TElIniFile::CreateValue(const std::string& key, const std::string& name) {
    return FBackend->CreateValue(key, name);
}

void TElIniFile::SetValueType(const std::string& key, const std::string& name, TElValueType type) {
    if (TElIniEntry* node = CreateValue(key, name)) {
        node->ClearValue();
        node->ValueType = type;
    }
    FFile->Tree().MarkModified();
}

bool TElIniFile::ReadString(const std::string& key, const std::string& name, const std::string& def,
                            std::string& value) {
    value = def;
    return ReadThrough(*FBackend, key, name, [&](const TElIniValue& found) {
        switch (found.ValueType) {
        case evtString:
            value = found.StringValue;
            return true;
        case evtInteger:
            value = std::to_string(found.IntValue);
            return true;
        case evtBoolean:
            value = found.BoolValue ? "true" : "false";
            return true;
        case evtMultiString:
            value = ListText(found.MultiValue);
            return true;
        case evtBinary:
            value = BinaryToText(found.StringValue);
            return true;
        default:
            return false;
        }
    });
}

bool TElIniFile::ReadInteger(const std::string& key, const std::string& name, int32_t def,
                             int32_t& value) {
    value = def;
    return ReadThrough(*FBackend, key, name, [&](const TElIniValue& found) {
        if (found.ValueType == evtInteger) {
            value = found.IntValue;
            return true;
        }
        // A text is converted when it can be, but still counts as "not an integer".
        if (found.ValueType == evtString && FBackend->ConvertsTextToInteger() &&
            !TextToInt(found.StringValue, value))
            value = def;
        return false;
    });
}

bool TElIniFile::ReadBool(const std::string& key, const std::string& name, bool def, bool& value) {
    value = def;
    return ReadThrough(*FBackend, key, name, [&](const TElIniValue& found) {
        if (found.ValueType == evtBoolean)
            value = found.BoolValue;
        else if (found.ValueType == evtInteger)
            value = found.IntValue != 0;
        else
            return false;
        return true;
    });
}

bool TElIniFile::ReadBinary(const std::string& key, const std::string& name, void* buffer,
                            int32_t& size) {
    return ReadThrough(*FBackend, key, name, [&](const TElIniValue& found) {
        if (found.ValueType != evtBinary)
            return false;
        const std::string& data = found.StringValue;
        const auto needed = static_cast<int32_t>(data.size());
        if (size < needed || (buffer == nullptr && needed > 0)) {
            size = needed;
            return false;
        }
        if (needed > 0)
            std::memcpy(buffer, data.data(), data.size());
        size = needed;
        return true;
    });
}

bool TElIniFile::ReadMultiString(const std::string& key, const std::string& name,
                                 TStrings& strings) {
    return ReadThrough(*FBackend, key, name, [&](const TElIniValue& found) {
        if (found.ValueType != evtMultiString)
            return false;
        strings = found.MultiValue;
        return true;
    });
}

template <class TFill>
bool TElIniFile::Write(const std::string& key, const std::string& name, TElValueType type,
                       TFill fill) {
    TElIniValue value;
    value.ValueType = type;
    fill(value);
    return FBackend->WriteValue(key, name, std::move(value));
}

bool TElIniFile::WriteString(const std::string& key, const std::string& name,
                             const std::string& value) {
    return Write(key, name, evtString, [&](TElIniValue& v) { v.StringValue = value; });
}

bool TElIniFile::WriteInteger(const std::string& key, const std::string& name, int32_t value) {
    return Write(key, name, evtInteger, [&](TElIniValue& v) { v.IntValue = value; });
}

bool TElIniFile::WriteBool(const std::string& key, const std::string& name, bool value) {
    return Write(key, name, evtBoolean, [&](TElIniValue& v) { v.BoolValue = value; });
}

bool TElIniFile::WriteBinary(const std::string& key, const std::string& name, const void* buffer,
                             int32_t size) {
    if (size < 0 || (buffer == nullptr && size > 0))
        return false;
    const std::string_view bytes(static_cast<const char*>(buffer), static_cast<size_t>(size));
    return Write(key, name, evtBinary, [&](TElIniValue& v) { v.StringValue = bytes; });
}

bool TElIniFile::WriteMultiString(const std::string& key, const std::string& name,
                                  const TStrings& strings) {
    return Write(key, name, evtMultiString, [&](TElIniValue& v) { v.MultiValue = strings; });
}

bool TElIniFile::Delete(const std::string& key, const std::string& name) {
    return FBackend->Delete(key, name);
}

bool TElIniFile::ClearKey(const std::string& key) {
    return FBackend->ClearKey(key);
}

bool TElIniFile::GetKeyNames(const std::string& key, TStrings& strings) {
    return FBackend->ChildNames(key, strings, true);
}

bool TElIniFile::GetValueNames(const std::string& key, TStrings& strings) {
    return FBackend->ChildNames(key, strings, false);
}

bool TElIniFile::RenameKey(const std::string& key, const std::string& newName) {
    return FBackend->RenameKey(key, newName);
}

bool TElIniFile::RenameValue(const std::string& key, const std::string& name,
                             const std::string& newName) {
    return FBackend->RenameValue(key, name, newName);
}

// --- Load and save -----------------------------------------------------------------------

bool TElIniFile::Load() {
    return FBackend->Load([this] { DoBeforeLoad(); }, [this] { DoAfterLoad(); });
}

bool TElIniFile::Save() {
    DoBeforeSave();
    bool saved = false;
    try {
        saved = FBackend->Save();
    } catch (...) {
        DoAfterSave();
        throw;
    }
    DoAfterSave();
    return saved;
}

void TElIniFile::LoadFromBytes(std::string_view bytes, const std::string& source) {
    FFile->LoadFromBytes(bytes, source);
}

std::string TElIniFile::SaveToBytes() const {
    return FFile->SaveToBytes();
}

void TElIniFile::Loaded() {
    if (Path().empty())
        return;
    try {
        Load();
    } catch (...) {
        // A component without its file starts empty.
    }
}

bool TElIniFile::ParseLine(std::string_view line, std::string& name, std::string& value) const {
    return SplitIniLine(line, FFormat, name, value);
}

} // namespace cantorell
