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
// Text form (the default). Bytes, no byte-order mark; the writer ends lines with CR LF,
// the reader splits at CR LF, lone CR and lone LF and stops at a zero byte:
//
//   ;Automatically generated file. DO NOT MODIFY!!!     Comment + WarningMessage
//   Count=3                                             root values, no header
//
//   [Window]                                            every key: empty line, header
//   Visible=false                                       Boolean: true / false
//   Title=Main                                          text, never quoted or escaped
//
//   [Window\Parts]
//   Data=454C 2 0A FF                                   bytes: "454C ", hex length, bytes
//   Items[0]=first                                      list: Name[index]=item
//   Items[1]=second
//
// Reading decides a value's type from its text alone: TRUE/FALSE in any case is a
// Boolean, "0.0" an eight-byte value, a decimal that prints back the same an integer,
// "454C..." a byte block, anything else a text. A line without separator is a nameless
// value, named "#" and its line number. Comments are dropped; a save writes the tree anew.
//
// Binary form (BinaryMode). Records, integers 32-bit little-endian, texts as a signed
// length and that many bytes:
//
//   key record    01, path                       (the root's path is empty)
//   value record  00, name, type (1..6), payload length, payload
//
// with payloads 1: one byte (non-zero is true), 2: the integer, 3: a text, 4: one text per
// item, 5: block length then the bytes, 6: the 8 bytes, low half first.
//
// Saving writes a temporary file beside the options file, flushes it and renames it over
// the old one, so a failed save leaves the previous file intact. Neither reader allocates
// more than its input holds, whatever a length in it says.
#pragma once

#include "support/ElList.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace cantorell {

class TFileSystem;
class TRegistry;

using TStrings = std::vector<std::string>;

// An operation the registry mode does not offer.
class EElIniError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file of the store that could not be opened, read, written or replaced; the message
// names the file and carries the operating system's reason.
class EElFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

enum TElValueType : uint8_t {
    evtNone = 0,
    evtBoolean = 1,
    evtInteger = 2,
    evtString = 3,
    evtMultiString = 4,
    evtBinary = 5,
    evtEightByte = 6
};

enum TRegRootType {
    rrtUnknown,
    rrtHKEY_CLASSES_ROOT,
    rrtHKEY_CURRENT_USER,
    rrtHKEY_LOCAL_MACHINE,
    rrtHKEY_USERS,
    rrtHKEY_CURRENT_CONFIG
};

// One node of the store's tree.
class TElIniEntry {
public:
    TElIniEntry();
    ~TElIniEntry();
    TElIniEntry(const TElIniEntry&) = delete;
    TElIniEntry& operator=(const TElIniEntry&) = delete;

    // The form names are compared in: trimmed of characters up to the blank, ASCII upper.
    static std::string NormalName(std::string_view name);

    // The first child (key or value) whose name matches, or null.
    TElIniEntry* FindChild(std::string_view name) const;
    // Appends a new child; the node owns it from then on.
    TElIniEntry* AddChild(std::string_view name, bool isKey);
    // The first child of that name, or a new one appended when there is none.
    TElIniEntry* FindOrAddChild(std::string_view name, bool isKey, bool& added);
    // Removes and frees one child with its subtree.
    void RemoveChild(TElIniEntry* child);
    void ClearChildren();
    // Gives the node another name; later lookups find it under the new one.
    void Rename(std::string_view name);
    // Drops whatever value the node holds.
    void ClearValue();

    int32_t ChildCount() const { return Children.Count(); }
    TElIniEntry* Child(int32_t index) const {
        return static_cast<TElIniEntry*>(Children.At(index));
    }
    const std::string& Name() const { return FName; }

    // Children, in the order they were added. Removing a child frees its subtree.
    TElList Children;
    bool IsKey = false;
    TElIniEntry* Parent = nullptr;
    TElValueType ValueType = evtNone;
    bool BoolValue = false;
    int32_t IntValue = 0;               // evtInteger
    std::string StringValue;            // evtString; evtBinary: the block
    TStrings MultiValue;                // evtMultiString
    std::array<uint8_t, 8> EightByte{}; // evtEightByte: low half, then high half

    int32_t DataSize() const { return static_cast<int32_t>(StringValue.size()); }

private:
    // Keys with more children than this find them through a name index; smaller ones are
    // scanned, which is faster than hashing for a handful of names.
    static constexpr int32_t IndexThreshold = 16;

    bool MatchesNormal(std::string_view normal) const;
    TElIniEntry* FindNormal(const std::string& normal) const;
    void BuildIndexIfLarge();
    void ForgetChild(TElIniEntry* child);
    TElIniEntry* AttachChild(std::string_view name, bool isKey);

    std::string FName;
    bool FClearing = false;
    // Normal name -> first child of that name, so that lookups in a key with many values
    // stay constant-time while "first match wins" is kept.
    std::unique_ptr<std::unordered_map<std::string, TElIniEntry*>> FIndex;
};

class TElIniFile {
public:
    // Deeper or longer key paths are refused (the open fails): no input can nest the tree
    // deeper than the recursive writer and destructor can handle. The text form writes
    // every key as a section with its whole path, so these limits also bound what one
    // section line of a file can make the next save write.
    static constexpr int MaxKeyDepth = 100;
    static constexpr size_t MaxKeyPathLength = 4096;
    // While a file is read, the keys it creates may cost at most this many times its size
    // (plus KeyBudgetExtra bytes) in the written form; sections beyond that budget are
    // skipped unless their key exists. A file of deeply nested keys cannot make the next
    // save many times larger than itself.
    static constexpr size_t KeyBudgetFactor = 4;
    static constexpr size_t KeyBudgetExtra = 64 * 1024;

    using TNotifyEvent = std::function<void(TElIniFile& sender)>;

    explicit TElIniFile(TFileSystem& fs);
    TElIniFile();
    // With LazyWrite on, unsaved changes are saved; a failing save is ignored here.
    virtual ~TElIniFile();
    TElIniFile(const TElIniFile&) = delete;
    TElIniFile& operator=(const TElIniFile&) = delete;

    static constexpr std::string_view DefaultWarning =
        "Automatically generated file. DO NOT MODIFY!!!";

    // Properties.
    bool BinaryMode() const { return FBinaryMode; }
    void SetBinaryMode(bool value) { FBinaryMode = value; }
    const std::string& Comment() const { return FComment; }
    void SetComment(std::string value) { FComment = std::move(value); }
    char Delimiter() const { return FDelimiter; }
    void SetDelimiter(char value);
    char DivChar() const { return FDivChar; }
    void SetDivChar(char value) { FDivChar = value; }
    bool LazyWrite() const { return FLazyWrite; }
    void SetLazyWrite(bool value);
    const std::string& Path() const { return FPath; }
    void SetPath(const std::string& value);
    bool Simple() const { return FSimple; }
    void SetSimple(bool value);
    TRegRootType RegRoot() const;
    void SetRegRoot(TRegRootType value);
    bool UseRegistry() const { return FRegistry != nullptr; }
    void SetUseRegistry(bool value);
    const std::string& WarningMessage() const { return FWarningMessage; }
    void SetWarningMessage(std::string value) { FWarningMessage = std::move(value); }
    // The folder of the registry service; empty (the default) means the user's
    // configuration folder. Takes effect when the registry mode is next switched on.
    const std::string& RegistryFolder() const { return FRegistryFolder; }
    void SetRegistryFolder(std::string value) { FRegistryFolder = std::move(value); }

    TNotifyEvent OnBeforeSave;
    TNotifyEvent OnAfterLoad;
    TNotifyEvent OnBeforeLoad;
    TNotifyEvent OnAfterSave;

    TElIniEntry& Root() const { return *FRoot; }
    TElIniEntry* CurrentEntry() const { return FCurrentEntry; }
    const std::string& CurrentKey() const { return FCurrentKey; }
    bool Modified() const { return FModified; }

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
    virtual void DoBeforeSave();
    virtual void DoAfterLoad();
    virtual void DoBeforeLoad();
    virtual void DoAfterSave();

private:
    // The current key as an operation found it, to be made current again at its end.
    struct TSavedKey {
        std::string Key;
        TElIniEntry* Entry;
    };
    TSavedKey SaveKey() const { return {FCurrentKey, FCurrentEntry}; }

    // Walks `key` from the root or the current key; reports the deepest key reached and
    // its path text.
    bool Walk(std::string_view key, bool canCreate, TElIniEntry*& reached, std::string& path);
    bool OpenKeyFile(const std::string& key, bool canCreate);
    bool OpenKeySimple(const std::string& key, bool canCreate);
    // Makes `saved` current again, or the deepest key of it that still exists.
    void RestoreKey(const TSavedKey& saved);
    void ClearTree();
    // Moves the current key out of `node`'s subtree (to `target`) when it lies inside.
    void LeaveSubtree(const TElIniEntry* node, TElIniEntry* target);
    std::string PathOf(const TElIniEntry* entry) const;
    void MarkModified() { FModified = true; }
    void NameIfNameless(TElIniEntry& node, std::string_view component);
    void SaveIfEager();
    bool StoreValue(const std::string& key, const std::string& name,
                    const std::function<void(TElIniEntry&)>& assign);
    TElIniEntry* FindValueIn(TElIniEntry* key, const std::string& name) const;
    // Opens an absolute key path from the root with creation, as a file's sections do.
    TElIniEntry* OpenAbsolute(std::string_view path);
    // Sets the key budget for the parse of `size` bytes, and lifts it when destroyed.
    class TKeyBudget;

    void ParseText(std::string_view text);
    void ParseBinary(std::string_view bytes, const std::string& source);
    std::string WriteText() const;
    std::string WriteBinaryForm() const;
    void WriteTextKey(const TElIniEntry& key, const std::string& path, std::string& out) const;
    void WriteTextValue(const TElIniEntry& value, std::string& out) const;
    void WriteBinaryKey(const TElIniEntry& key, const std::string& path, std::string& out) const;

    // Registry mode.
    bool RegOpenKey(const std::string& key, bool canCreate);
    std::string RegAbsolute(const std::string& key) const;
    bool RegRead(const std::string& key, const std::string& name, uint8_t& kind, std::string& data);
    bool RegWrite(const std::string& key, const std::string& name, uint8_t kind,
                  std::string_view data);
    bool RegDelete(const std::string& key, const std::string& name);
    bool RegClearKey(const std::string& key);
    bool RegNames(const std::string& key, TStrings& strings, bool keys);
    // The names of the key's subkeys (keys true) or of its values.
    bool ChildNames(const std::string& key, TStrings& strings, bool keys);
    bool RegRenameValue(const std::string& key, const std::string& name,
                        const std::string& newName);

    TFileSystem& FFs;
    std::unique_ptr<TElIniEntry> FRoot;
    TElIniEntry* FCurrentEntry;
    std::string FCurrentKey;
    bool FModified = false;
    // While a file is parsed: the bytes the text form needs for the section headers of the
    // keys created so far, and how many it may need (no key is created beyond that).
    size_t FKeyBytesAdded = 0;
    size_t FKeyBudget = SIZE_MAX;

    bool FBinaryMode = false;
    std::string FComment = ";";
    char FDelimiter = '\\';
    char FDivChar = '=';
    bool FLazyWrite = true;
    std::string FPath;
    bool FSimple = false;
    std::string FWarningMessage{DefaultWarning};
    TRegRootType FRegRoot = rrtHKEY_CURRENT_USER;
    std::string FRegistryFolder;
    std::string FFilePath; // Path of the file mode while the registry mode is on
    std::unique_ptr<TRegistry> FRegistry;
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

// The binary text of a byte block: "454C ", the length in hex, then each byte as two hex
// digits and a blank.
std::string BinaryToText(std::string_view bytes);
// Reads a binary text back; never yields more bytes than the text holds.
std::string TextToBinary(std::string_view text);
// Integer text conversion as the store's text form uses it: leading blanks, an optional
// sign, decimal digits or hexadecimal digits after "$" or "0x"; signed 32-bit.
bool TextToInt(std::string_view text, int32_t& value);

} // namespace cantorell
