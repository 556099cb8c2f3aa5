#include "ElIniBackend.h"

#include "platform/Ascii.h"
#include "platform/Registry.h"

#include <algorithm>

namespace cantorell {

namespace {

constexpr char kRegDelimiter = '\\';

// Registry value data of the text kinds.
std::string ZeroTerminated(std::string_view text) {
    std::string data(text);
    data += '\0';
    return data;
}

TStrings SplitMultiString(std::string_view data) {
    TStrings items;
    size_t start = 0;
    while (start < data.size()) {
        const size_t end = data.find('\0', start);
        const std::string_view item = data.substr(start, end - start);
        if (item.empty())
            break; // the empty string that ends the list
        items.emplace_back(item);
        if (end == std::string_view::npos)
            break;
        start = end + 1;
    }
    return items;
}

// The registry path `text` cut after its last "\" (the parent key), and the last name.
void SplitLast(std::string_view text, std::string& parent, std::string& last) {
    const size_t pos = text.rfind(kRegDelimiter);
    parent = pos == std::string_view::npos || pos == 0 ? std::string(1, kRegDelimiter)
                                                       : std::string(text.substr(0, pos));
    last = pos == std::string_view::npos ? std::string(text) : std::string(text.substr(pos + 1));
}

bool StartsWithKey(std::string_view path, std::string_view key) {
    const std::string p = UpperAscii(path), k = UpperAscii(key);
    return p == k || (p.starts_with(k) && p.size() > k.size() && p[k.size()] == kRegDelimiter);
}

// A registry value as the store's reads see it; false for a kind no read accepts.
bool ToValue(TRegValueKind kind, std::string&& data, TElIniValue& value) {
    switch (kind) {
    case TRegValueKind::rvkString:
    case TRegValueKind::rvkExpandString:
        value.ValueType = evtString;
        value.StringValue = data.substr(0, data.find('\0'));
        return true;
    case TRegValueKind::rvkMultiString:
        value.ValueType = evtMultiString;
        value.MultiValue = SplitMultiString(data);
        return true;
    case TRegValueKind::rvkDword:
        if (data.size() != 4)
            return false;
        value.ValueType = evtInteger;
        value.IntValue = Int32LeAt(data.data());
        return true;
    case TRegValueKind::rvkBinary:
        value.ValueType = evtBinary;
        value.StringValue = std::move(data);
        return true;
    }
    return false;
}

// The registry kind and data that store `value`; false for a type the registry lacks.
bool FromValue(const TElIniValue& value, TRegValueKind& kind, std::string& data) {
    switch (value.ValueType) {
    case evtString:
        kind = TRegValueKind::rvkString;
        data = ZeroTerminated(value.StringValue);
        return true;
    case evtInteger:
    case evtBoolean:
        kind = TRegValueKind::rvkDword;
        AppendInt32Le(data, value.ValueType == evtInteger ? value.IntValue : value.BoolValue);
        return true;
    case evtBinary:
        kind = TRegValueKind::rvkBinary;
        data = value.StringValue;
        return true;
    case evtMultiString:
        kind = TRegValueKind::rvkMultiString;
        for (const std::string& item : value.MultiValue)
            data += ZeroTerminated(item);
        data += '\0';
        return true;
    default:
        return false;
    }
}

// Opens a key for one operation and re-opens the caller's current key at its end.
class TRegKeyVisit {
public:
    TRegKeyVisit(TElIniBackend& backend, const std::string& key, bool canCreate)
        : Backend(backend), Saved(backend.CurrentKey()), Opened(backend.OpenKey(key, canCreate)) {}
    ~TRegKeyVisit() {
        if (Opened)
            Backend.OpenKey(Saved, false);
    }
    TRegKeyVisit(const TRegKeyVisit&) = delete;
    TRegKeyVisit& operator=(const TRegKeyVisit&) = delete;

    explicit operator bool() const { return Opened; }

private:
    TElIniBackend& Backend;
    const std::string Saved;
    const bool Opened;
};

// The registry service below a base key: every key path names a registry key and every
// value is a registry value.
class TElIniRegistryBackend final : public TElIniBackend {
public:
    TElIniRegistryBackend(const std::string& folder, TFileSystem& fs, TRegistryRoot root,
                          const std::string& basePath, const std::string& currentKey)
        : FRegistry(std::make_unique<TRegistry>(folder, fs)),
          FPath(basePath.empty() ? "\\SOFTWARE" : basePath), FCurrentKey(currentKey) {
        FRegistry->SetRootKey(root);
        if (FCurrentKey.empty() || FCurrentKey.front() != kRegDelimiter)
            FCurrentKey = std::string(1, kRegDelimiter);
        FRegistry->OpenKey(FPath + (FCurrentKey == "\\" ? std::string() : FCurrentKey), true);
    }

    const std::string& CurrentKey() const override { return FCurrentKey; }
    const std::string& Path() const override { return FPath; }
    bool HasUnsavedChanges() const override { return false; }
    // A registry text is never an integer, whatever it spells.
    bool ConvertsTextToInteger() const override { return false; }

    void SetPath(const std::string& value) override {
        std::string path = value;
        if (!path.empty() && path.back() == kRegDelimiter)
            path.pop_back();
        if (path.empty() || path.front() != kRegDelimiter)
            path.insert(path.begin(), kRegDelimiter);
        FRegistry->CloseKey();
        if (FRegistry->OpenKey(path, true)) {
            FPath = path;
            FCurrentKey = std::string(1, kRegDelimiter);
        } else {
            FRegistry->OpenKey(FPath + FCurrentKey, true);
        }
    }

    bool OpenKey(const std::string& key, bool canCreate) override {
        if (key.empty() || SameIgnoringAsciiCase(key, FCurrentKey))
            return true;
        std::string path = key;
        if (path.front() != kRegDelimiter)
            path = FCurrentKey + (FCurrentKey.ends_with(kRegDelimiter) ? "" : "\\") + path;
        if (!path.empty() && path.back() == kRegDelimiter)
            path.pop_back();
        if (FPath.ends_with(kRegDelimiter) && path.starts_with(kRegDelimiter))
            path.erase(0, 1);
        const std::string recorded = FRegistry->CurrentPath();
        FRegistry->CloseKey();
        const bool opened = FRegistry->OpenKey(FPath + path, canCreate);
        if (!opened)
            FRegistry->OpenKey(recorded, true);
        std::string current = FRegistry->CurrentPath();
        if (current.empty() || current.front() != kRegDelimiter)
            current.insert(current.begin(), kRegDelimiter);
        std::string base = FPath;
        if (base.ends_with(kRegDelimiter))
            base.pop_back();
        if (!base.empty() && StartsWithKey(current, base))
            current.erase(0, base.size());
        FCurrentKey = current.empty() ? std::string(1, kRegDelimiter) : current;
        return opened;
    }

    bool KeyExists(const std::string& key) override {
        const std::string saved = FCurrentKey;
        const bool exists = OpenKey(key, false);
        OpenKey(saved, false);
        return exists;
    }

    const TElIniValue* ReadValue(const std::string& key, const std::string& name,
                                 TElIniValue& scratch) override {
        const TRegKeyVisit visit(*this, key, false);
        TRegValueKind kind{};
        std::string data;
        if (!visit || !FRegistry->ReadValue(name, kind, data))
            return nullptr;
        return ToValue(kind, std::move(data), scratch) ? &scratch : nullptr;
    }

    bool WriteValue(const std::string& key, const std::string& name, TElIniValue&& value) override {
        TRegValueKind kind{};
        std::string data;
        if (!FromValue(value, kind, data))
            return false;
        const TRegKeyVisit visit(*this, key, true);
        return visit && FRegistry->WriteValue(name, kind, data);
    }

    bool Delete(const std::string& key, const std::string& name) override {
        if (name.empty())
            return DeleteKey(key);
        const TRegKeyVisit visit(*this, key, false);
        return visit && FRegistry->DeleteValue(name);
    }

    bool ClearKey(const std::string& key) override {
        std::string saved = FCurrentKey;
        if (!OpenKey(key, false))
            return false;
        const std::string cleared = FCurrentKey;
        if (cleared == "\\") {
            OpenKey(saved, false);
            return false;
        }
        // A current key below the cleared one would be gone afterwards.
        if (StartsWithKey(saved, cleared))
            saved = cleared;
        TStrings keys, values;
        FRegistry->GetKeyNames(keys);
        for (const std::string& subkey : keys)
            DeleteKey(cleared + "\\" + subkey);
        OpenKey(cleared, false);
        FRegistry->GetValueNames(values);
        for (const std::string& value : values)
            FRegistry->DeleteValue(value);
        OpenKey(saved, false);
        return true;
    }

    bool ChildNames(const std::string& key, TStrings& strings, bool keys) override {
        const TRegKeyVisit visit(*this, key, true);
        if (!visit)
            return false;
        TStrings subkeys;
        FRegistry->GetKeyNames(subkeys);
        if (keys) {
            strings = std::move(subkeys);
            return true;
        }
        // A value that shares its name with a subkey is listed among the keys only.
        TStrings values;
        FRegistry->GetValueNames(values);
        strings.clear();
        for (std::string& value : values) {
            const bool isKey = std::any_of(subkeys.begin(), subkeys.end(), [&](const auto& k) {
                return SameIgnoringAsciiCase(k, value);
            });
            if (!isKey)
                strings.push_back(std::move(value));
        }
        return true;
    }

    bool RenameValue(const std::string& key, const std::string& name,
                     const std::string& newName) override {
        const TRegKeyVisit visit(*this, key, false);
        return visit && FRegistry->RenameValue(name, newName);
    }

    void CheckDelimiter(char value) const override {
        if (value != kRegDelimiter)
            throw EElIniError("Changing delimiter is not available when using registry.");
    }

    void SetLazyWrite(bool value) override { FRegistry->SetLazyWrite(value); }

    void SetRoot(TRegistryRoot root) override {
        FRegistry->SetRootKey(root);
        // The current key lives below the base key of the new root from now on.
        FRegistry->OpenKey(FPath + FCurrentKey, true);
    }

private:
    std::string Absolute(const std::string& key) const {
        std::string path = key;
        if (path.empty() || path.front() != kRegDelimiter)
            path = FCurrentKey + (FCurrentKey.ends_with(kRegDelimiter) ? "" : "\\") + path;
        if (path.size() > 1 && path.back() == kRegDelimiter)
            path.pop_back();
        return path;
    }

    bool DeleteKey(const std::string& key) {
        const std::string absolute = Absolute(key);
        if (absolute == "\\")
            return false; // the base key is never deleted
        std::string parent, last;
        SplitLast(absolute, parent, last);
        // The current key may not stay inside the key that goes away.
        if (StartsWithKey(FCurrentKey, absolute))
            OpenKey(parent, false);
        ClearKey(absolute);
        const std::string registryPath = (FPath == "\\" ? std::string() : FPath) + absolute;
        if (!FRegistry->KeyExists(registryPath))
            return false;
        const std::string recorded = FRegistry->CurrentPath();
        const bool deleted = FRegistry->DeleteKey(registryPath);
        FRegistry->OpenKey("\\" + recorded, true);
        Delete(parent, last);
        return deleted;
    }

    std::unique_ptr<TRegistry> FRegistry;
    std::string FPath;
    std::string FCurrentKey;
};

} // namespace

std::unique_ptr<TElIniBackend> MakeRegistryBackend(const std::string& folder, TFileSystem& fs,
                                                   TRegistryRoot root, const std::string& basePath,
                                                   const std::string& currentKey) {
    return std::make_unique<TElIniRegistryBackend>(folder, fs, root, basePath, currentKey);
}

} // namespace cantorell
