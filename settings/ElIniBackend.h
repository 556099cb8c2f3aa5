// Where the options store keeps its keys and values: a tree in memory persisted to one
// file, or the registry service. The store (ElIni.h) holds the properties, converts values
// for its typed reads and writes and fires its events; a back end does the rest.
#pragma once

#include "ElIniCodec.h"

#include <functional>
#include <memory>
#include <string>

namespace cantorell {

class TFileSystem;
class TRegistry;
enum class TRegistryRoot;

// Where the store's operations go. Both back ends have keys and values; the operations
// on the tree's nodes, loading and saving a file are the file back end's, and the root,
// the delimiter and the lazy writing the registry's. What a back end lacks, it refuses
// through the defaults here: a node operation raises EElIniError, a load or a save
// reports false, a setting it has no use for is taken and ignored.
class TElIniBackend {
public:
    virtual ~TElIniBackend() = default;

    virtual const std::string& CurrentKey() const = 0;
    // The file's name, or the registry's base key.
    virtual const std::string& Path() const = 0;
    virtual void SetPath(const std::string& value) = 0;
    // Changes that only a save would keep.
    virtual bool HasUnsavedChanges() const = 0;

    virtual bool OpenKey(const std::string& key, bool canCreate) = 0;
    virtual bool KeyExists(const std::string& key) = 0;
    // The value named `name` under `key`, or null. `scratch` holds it when the back end
    // has no node of its own to point at.
    virtual const TElIniValue* ReadValue(const std::string& key, const std::string& name,
                                         TElIniValue& scratch) = 0;
    // Stores `value` under `key` (created when missing); false when it is not stored.
    virtual bool WriteValue(const std::string& key, const std::string& name,
                            TElIniValue&& value) = 0;
    // Whether a text value's reading as an integer takes the number it spells.
    virtual bool ConvertsTextToInteger() const = 0;

    virtual bool Delete(const std::string& key, const std::string& name) = 0;
    virtual bool ClearKey(const std::string& key) = 0;
    // Replaces or extends `strings` by the names of the key's subkeys (keys true) or values.
    virtual bool ChildNames(const std::string& key, TStrings& strings, bool keys) = 0;
    virtual bool RenameValue(const std::string& key, const std::string& name,
                             const std::string& newName) = 0;

    // The node of a value (or of a key, `name` empty), or null.
    virtual TElIniEntry* GetValueEntry(const std::string& key, const std::string& name);
    // The node of a value, emptied when it exists and added when not.
    virtual TElIniEntry* CreateValue(const std::string& key, const std::string& name);
    virtual bool RenameKey(const std::string& key, const std::string& newName);
    // Loads everything; `before` and `after` run around a load that happens.
    virtual bool Load(const std::function<void()>& before, const std::function<void()>& after);
    virtual bool Save();

    // Throws EElIniError when the back end cannot work with that key path delimiter.
    virtual void CheckDelimiter(char) const {}
    virtual void SetLazyWrite(bool) {}
    virtual void SetRoot(TRegistryRoot) {}
};

// The tree in memory, loaded from and saved to the file at Path in the form the format's
// BinaryMode chooses. Saving replaces the file as a whole through the file layer, so a
// failed save leaves the previous file intact.
class TElIniFileBackend final : public TElIniBackend {
public:
    // `saveNow` is what a change that must reach the file at once (LazyWrite off) calls;
    // `split` splits the text form's value lines.
    TElIniFileBackend(TFileSystem& fs, const TElIniFormat& format, const bool& lazyWrite,
                      std::function<void()> saveNow, TElLineSplitter split);

    TElIniTree& Tree() { return FTree; }
    const TElIniTree& Tree() const { return FTree; }
    // The tree from and to bytes, without a file.
    void LoadFromBytes(std::string_view bytes, const std::string& source);
    std::string SaveToBytes() const;

    const std::string& CurrentKey() const override { return FTree.CurrentKey(); }
    const std::string& Path() const override { return FPath; }
    void SetPath(const std::string& value) override { FPath = value; }
    bool HasUnsavedChanges() const override { return FTree.Modified(); }

    bool OpenKey(const std::string& key, bool canCreate) override;
    bool KeyExists(const std::string& key) override;
    const TElIniValue* ReadValue(const std::string& key, const std::string& name,
                                 TElIniValue& scratch) override;
    bool WriteValue(const std::string& key, const std::string& name, TElIniValue&& value) override;
    bool ConvertsTextToInteger() const override { return true; }

    bool Delete(const std::string& key, const std::string& name) override;
    bool ClearKey(const std::string& key) override;
    bool ChildNames(const std::string& key, TStrings& strings, bool keys) override;
    bool RenameValue(const std::string& key, const std::string& name,
                     const std::string& newName) override;

    TElIniEntry* GetValueEntry(const std::string& key, const std::string& name) override;
    TElIniEntry* CreateValue(const std::string& key, const std::string& name) override;
    bool RenameKey(const std::string& key, const std::string& newName) override;
    bool Load(const std::function<void()>& before, const std::function<void()>& after) override;
    bool Save() override;

private:
    void SaveIfEager();
    // Gives `node` its new name; the current key's path is spelled again when it runs
    // through the node.
    bool Rename(TElIniEntry& node, const std::string& newName);

    TFileSystem& FFs;
    const TElIniFormat& FFormat;
    const bool& FLazyWrite;
    std::function<void()> FSaveNow;
    TElLineSplitter FSplit;
    TElIniTree FTree;
    std::string FPath;
};

// The registry service below a base key (`basePath`, "\SOFTWARE" when empty): every key
// path names a registry key and every value is a registry value. There is no tree and no
// file to load or save. Opens `basePath` + `currentKey` with creation.
std::unique_ptr<TElIniBackend> MakeRegistryBackend(const std::string& folder, TFileSystem& fs,
                                                   TRegistryRoot root, const std::string& basePath,
                                                   const std::string& currentKey);

} // namespace cantorell
