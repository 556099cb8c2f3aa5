// A small hierarchical key/value service standing in for a system registry.
//
// Linux has no registry, so the options store's registry mode talks to this service. Keys
// form a tree under a handful of roots; each key holds typed values. On disk every root
// and every key is one folder below the service's folder:
//
//   <folder>/HKEY_CURRENT_USER/SOFTWARE/Options/.values
//
// Key names are matched without regard to the case of ASCII letters and keep the spelling
// they were created with. A key folder's name is the key name with "%", "/" and a leading
// "." written as %25, %2F and %2E, so that any name without the path separator "\" is a
// valid folder and no key folder can clash with the ".values" file. That file holds the
// key's values:
//
//   "CRV1"                                  4 bytes, identifies the file
//   then per value: name length (u32 LE), name bytes, kind (1 byte),
//                   data length (u32 LE), data bytes
//
// The data is kept as a registry keeps it: texts with their terminating zero byte, a
// 32-bit number as 4 little-endian bytes, a text list as zero-terminated texts followed by
// one more zero byte. A values file is replaced in one rename, so a key never holds half a
// write; with LazyWrite false it is also flushed to the disk before the rename.
//
// Failures are reported as false and never thrown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cantorell {

class TFileSystem;

enum class TRegistryRoot { rrClassesRoot, rrCurrentUser, rrLocalMachine, rrUsers, rrCurrentConfig };

// The kinds carry the registry's own type numbers, so stored files read like one.
enum class TRegValueKind : uint8_t {
    rvkString = 1,       // text and its terminating zero byte
    rvkExpandString = 2, // the same, meant to have variables expanded by the reader
    rvkBinary = 3,       // bytes
    rvkDword = 4,        // 32-bit number, little-endian
    rvkMultiString = 7   // zero-terminated texts, then one more zero byte
};

class TRegistry {
public:
    // `folder` holds one folder per root; tests pass a temporary folder.
    explicit TRegistry(std::string folder);
    TRegistry(std::string folder, TFileSystem& fs);
    TRegistry(const TRegistry&) = delete;
    TRegistry& operator=(const TRegistry&) = delete;

    // The user's configuration folder ($XDG_CONFIG_HOME, else ~/.config) followed by
    // "tagcantorell/registry".
    static std::string DefaultFolder();

    TRegistryRoot RootKey() const { return FRoot; }
    // Changes the root and closes the current key.
    void SetRootKey(TRegistryRoot root);

    // Opens a key path whose components are separated by "\": from the root when it begins
    // with "\", otherwise below the current key. One trailing "\" is allowed; an empty
    // component fails. With `canCreate` missing keys are made. On failure the current key
    // stays open.
    bool OpenKey(std::string_view path, bool canCreate);
    // Makes the root current again.
    void CloseKey();
    // The current key's path from the root, without a leading "\", spelled as stored.
    const std::string& CurrentPath() const { return FCurrentPath; }
    bool KeyExists(std::string_view path) const;

    bool ValueExists(std::string_view name) const;
    bool ReadValue(std::string_view name, TRegValueKind& kind, std::string& data) const;
    bool WriteValue(std::string_view name, TRegValueKind kind, std::string_view data);
    bool DeleteValue(std::string_view name);
    // Deletes a key (path as for OpenKey) with all its subkeys and values. The root itself
    // cannot be deleted.
    bool DeleteKey(std::string_view path);
    // The names of the current key's subkeys and of its values, replacing `names`.
    bool GetKeyNames(std::vector<std::string>& names) const;
    bool GetValueNames(std::vector<std::string>& names) const;
    // Copies a value to a new name and deletes the old one; does nothing (and succeeds)
    // when the old value is missing or the new name is taken.
    bool RenameValue(std::string_view oldName, std::string_view newName);

    bool LazyWrite() const { return FLazyWrite; }
    void SetLazyWrite(bool lazy) { FLazyWrite = lazy; }

private:
    struct TValue {
        std::string Name;
        TRegValueKind Kind;
        std::string Data;
    };

    using TValues = std::vector<TValue>;

    std::string RootFolder() const;
    // The folder of the current key (the root's when none is open).
    std::string CurrentFolder() const;
    // The value of `values` named `name`, compared ignoring ASCII case; end() when none.
    static TValues::iterator FindValue(TValues& values, std::string_view name);
    // Resolves a path to a folder and its stored spelling; creates what is missing when
    // asked. Returns false for an invalid path or a missing key.
    bool Resolve(std::string_view path, bool canCreate, std::string& folder,
                 std::string& spelled) const;
    bool LoadValues(const std::string& folder, TValues& values) const;
    bool StoreValues(const std::string& folder, const TValues& values);

    std::string FFolder;
    TFileSystem& FFs;
    TRegistryRoot FRoot = TRegistryRoot::rrCurrentUser;
    std::string FCurrentFolder; // empty: the root
    std::string FCurrentPath;
    bool FLazyWrite = true;
};

} // namespace cantorell
