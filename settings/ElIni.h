// The options store: a tree of keys holding typed, named values, kept in memory and
// persisted in one file (text or binary form), or kept in the registry service instead.
//
// Addressing. A key path is key names joined by Delimiter ('\' by default). A path that
// begins with the delimiter is absolute, any other is relative to the current key, and an
// empty path is the current key. Names are compared after trimming characters up to and
// including the blank (codes 0 to 32) at both ends and upper-casing ASCII letters; the
// first match wins and a name keeps the spelling it was first written with. A node can be
// a key and carry a value of its own at the same time.
//
// The tree and its navigation are in ElIniTree.h, the two file forms in ElIniCodec.h, and
// where the keys live (a tree persisted to a file, or the registry service) in
// ElIniBackend.h. This class holds the properties, converts values for the typed reads
// and writes, and fires the load and save events.
#pragma once

#include "ElIniBackend.h"
#include "ElIniCodec.h"
#include "ElIniEntry.h"
#include "ElIniTree.h"
#include "support/ElEvent.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace cantorell {

class TFileSystem;

enum TRegRootType {
    rrtUnknown,
    rrtHKEY_CLASSES_ROOT,
    rrtHKEY_CURRENT_USER,
    rrtHKEY_LOCAL_MACHINE,
    rrtHKEY_USERS,
    rrtHKEY_CURRENT_CONFIG
};

class TElIniFile {
public:
    // The bounds on key paths (see ElIniTree.h).
    static constexpr int MaxKeyDepth = TElIniTree::MaxKeyDepth;
    static constexpr size_t MaxKeyPathLength = TElIniTree::MaxKeyPathLength;

    using TNotifyEvent = std::function<void(TElIniFile& sender)>;

    explicit TElIniFile(TFileSystem& fs);
    TElIniFile();
    // With LazyWrite on, unsaved changes are saved; a failing save is ignored here.
    virtual ~TElIniFile();
    TElIniFile(const TElIniFile&) = delete;
    TElIniFile& operator=(const TElIniFile&) = delete;

    static constexpr std::string_view DefaultWarning = TElIniFormat::DefaultWarning;

    // Properties.
    bool BinaryMode() const { return FFormat.BinaryMode; }
    void SetBinaryMode(bool value) { FFormat.BinaryMode = value; }
    const std::string& Comment() const { return FFormat.Comment; }
    void SetComment(std::string value) { FFormat.Comment = std::move(value); }
    char Delimiter() const { return FFormat.Delimiter; }
    void SetDelimiter(char value);
    char DivChar() const { return FFormat.DivChar; }
    void SetDivChar(char value) { FFormat.DivChar = value; }
    bool LazyWrite() const { return FLazyWrite; }
    void SetLazyWrite(bool value);
    const std::string& Path() const { return FBackend->Path(); }
    void SetPath(const std::string& value) { FBackend->SetPath(value); }
    bool Simple() const { return FFormat.Simple; }
    void SetSimple(bool value);
    TRegRootType RegRoot() const;
    void SetRegRoot(TRegRootType value);
    bool UseRegistry() const { return FRegistry != nullptr; }
    void SetUseRegistry(bool value);
    const std::string& WarningMessage() const { return FFormat.WarningMessage; }
    void SetWarningMessage(std::string value) { FFormat.WarningMessage = std::move(value); }
    // The folder of the registry service; empty (the default) means the user's
    // configuration folder. Takes effect when the registry mode is next switched on.
    const std::string& RegistryFolder() const { return FRegistryFolder; }
    void SetRegistryFolder(std::string value) { FRegistryFolder = std::move(value); }

    TNotifyEvent OnBeforeSave;
    TNotifyEvent OnAfterLoad;
    TNotifyEvent OnBeforeLoad;
    TNotifyEvent OnAfterSave;

    // The file mode's tree; the registry mode leaves it as it was.
    TElIniEntry& Root() const { return FFile->Tree().Root(); }
    TElIniEntry* CurrentEntry() const { return FFile->Tree().CurrentEntry(); }
    const std::string& CurrentKey() const { return FBackend->CurrentKey(); }
    bool Modified() const { return FFile->Tree().Modified(); }

    // Keys and values.
    bool OpenKey(const std::string& key, bool canCreate);
    bool KeyExists(const std::string& key);
    virtual TElIniEntry* GetValueEntry(const std::string& key, const std::string& name);
    TElIniEntry* CreateValue(const std::string& key, const std::string& name);
    virtual void SetValueType(const std::string& key, const std::string& name, TElValueType type);

    bool ReadString(const std::string& key, const std::string& name, const std::string& def,
                    std::string& value);
    bool ReadInteger(const std::string& key, const std::string& name, int32_t def, int32_t& value);
    bool ReadBool(const std::string& key, const std::string& name, bool def, bool& value);
    // `size` is the buffer's size on entry and the value's size on return; a buffer that
    // is too small is left untouched and the result is false.
    bool ReadBinary(const std::string& key, const std::string& name, void* buffer, int32_t& size);
    bool ReadMultiString(const std::string& key, const std::string& name, TStrings& strings);

    bool WriteString(const std::string& key, const std::string& name, const std::string& value);
    bool WriteInteger(const std::string& key, const std::string& name, int32_t value);
    bool WriteBool(const std::string& key, const std::string& name, bool value);
    bool WriteBinary(const std::string& key, const std::string& name, const void* buffer,
                     int32_t size);
    bool WriteMultiString(const std::string& key, const std::string& name, const TStrings& strings);

    // An empty name deletes the key itself with everything below it.
    bool Delete(const std::string& key, const std::string& name);
    virtual bool ClearKey(const std::string& key);
    bool GetKeyNames(const std::string& key, TStrings& strings);
    bool GetValueNames(const std::string& key, TStrings& strings);
    virtual bool RenameKey(const std::string& key, const std::string& newName);
    virtual bool RenameValue(const std::string& key, const std::string& name,
                             const std::string& newName);

    // The whole tree from and to the file at Path. File errors throw EElFileError after
    // OnAfterLoad / OnAfterSave have fired.
    bool Load();
    bool Save();
    // The same without a file: the form chosen by BinaryMode, from and to bytes. A binary
    // input that ends inside a record throws EElFileError naming `source`.
    void LoadFromBytes(std::string_view bytes, const std::string& source);
    std::string SaveToBytes() const;

    // Called once the owner has set the properties: loads the file when Path is set,
    // ignoring any failure.
    virtual void Loaded();

    // Splits a value line into name and value; false when it holds no separator outside
    // quotes (a nameless value). A comment string outside quotes ends the line.
    virtual bool ParseLine(std::string_view line, std::string& name, std::string& value) const;

protected:
    virtual void DoBeforeSave() { Fire(OnBeforeSave, *this); }
    virtual void DoAfterLoad() { Fire(OnAfterLoad, *this); }
    virtual void DoBeforeLoad() { Fire(OnBeforeLoad, *this); }
    virtual void DoAfterSave() { Fire(OnAfterSave, *this); }

private:
    template <class TFill>
    bool Write(const std::string& key, const std::string& name, TElValueType type, TFill fill);
    void SaveIfEager();

    TFileSystem& FFs;
    TElIniFormat FFormat;
    bool FLazyWrite = true;
    TRegRootType FRegRoot = rrtHKEY_CURRENT_USER;
    std::string FRegistryFolder;
    // The tree lives as long as the store; the registry back end only while that mode is
    // on. FBackend is the one in use.
    std::unique_ptr<TElIniFileBackend> FFile;
    std::unique_ptr<TElIniBackend> FRegistry;
    TElIniBackend* FBackend;
};

// Records the store's current key and opens it again when it goes out of scope, so that an
// operation that descends into other keys leaves the store's current key as it found it,
// on every way out.
class TElIniKeyKeeper {
public:
    explicit TElIniKeyKeeper(TElIniFile& store) : Store(store), Saved(store.CurrentKey()) {}
    ~TElIniKeyKeeper() {
        try {
            Store.OpenKey(Saved, false);
        } catch (...) {
            // Re-opening a key that existed a moment ago is not expected to fail; if it
            // does, the store stays where it is rather than end the program.
        }
    }
    TElIniKeyKeeper(const TElIniKeyKeeper&) = delete;
    TElIniKeyKeeper& operator=(const TElIniKeyKeeper&) = delete;

private:
    TElIniFile& Store;
    const std::string Saved;
};

} // namespace cantorell
