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

// What both back ends do. Operations only one of them has (the tree's nodes, loading and
// saving a file; the registry's root and delimiter) are on that back end alone, and the
// store calls them only in that mode.
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

    // The node of a value (or of a key, `name` empty), or null.
    TElIniEntry* GetValueEntry(const std::string& key, const std::string& name);
    // The node of a value, emptied when it exists and added when not.
    TElIniEntry* CreateValue(const std::string& key, const std::string& name);
    bool RenameKey(const std::string& key, const std::string& newName);

    // Loads the file; `before` and `after` run around a load that happens.
    bool Load(const std::function<void()>& before, const std::function<void()>& after);
    bool Save();

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

// The registry service below a base key (Path, "\SOFTWARE" unless given): every key path
// names a registry key and every value is a registry value. There is no tree and no file
// to load or save.
class TElIniRegistryBackend final : public TElIniBackend {
public:
    // Opens `basePath` + `currentKey` with creation.
    TElIniRegistryBackend(const std::string& folder, TFileSystem& fs, TRegistryRoot root,
                          const std::string& basePath, const std::string& currentKey);
    ~TElIniRegistryBackend() override;

    const std::string& CurrentKey() const override { return FCurrentKey; }
    const std::string& Path() const override { return FPath; }
    void SetPath(const std::string& value) override;
    bool HasUnsavedChanges() const override { return false; }

    bool OpenKey(const std::string& key, bool canCreate) override;
    bool KeyExists(const std::string& key) override;
    const TElIniValue* ReadValue(const std::string& key, const std::string& name,
                                 TElIniValue& scratch) override;
    bool WriteValue(const std::string& key, const std::string& name, TElIniValue&& value) override;
    // A registry text is never an integer, whatever it spells.
    bool ConvertsTextToInteger() const override { return false; }

    bool Delete(const std::string& key, const std::string& name) override;
    bool ClearKey(const std::string& key) override;
    bool ChildNames(const std::string& key, TStrings& strings, bool keys) override;
    bool RenameValue(const std::string& key, const std::string& name,
                     const std::string& newName) override;

    // Throws EElIniError for any key path delimiter but the registry's own.
    void CheckDelimiter(char value) const;
    void SetLazyWrite(bool value);
    void SetRoot(TRegistryRoot root);

private:
    std::string Absolute(const std::string& key) const;
    bool DeleteKey(const std::string& key);

    std::unique_ptr<TRegistry> FRegistry;
    std::string FPath;
    std::string FCurrentKey;
};

} // namespace cantorell
