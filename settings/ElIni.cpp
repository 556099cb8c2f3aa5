#include "ElIni.h"

#include "platform/Ascii.h"

#include "platform/FileSystem.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <random>

namespace cantorell {

namespace {

constexpr std::string_view kBinaryTextPrefix = "454C";
constexpr char kRegDelimiter = '\\';

bool IsTrimmed(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

// A token of a binary text: an optional "$", an optional sign, one or more hex digits.
bool ParseHexToken(std::string_view token, int64_t& value) {
    size_t i = 0;
    if (i < token.size() && token[i] == '$')
        ++i;
    bool negative = false;
    if (i < token.size() && (token[i] == '-' || token[i] == '+'))
        negative = token[i++] == '-';
    if (i == token.size())
        return false;
    uint64_t result = 0;
    for (; i < token.size(); ++i) {
        const int digit = HexDigitValue(token[i]);
        if (digit < 0)
            return false;
        result = std::min<uint64_t>(result * 16 + static_cast<uint64_t>(digit), 0xFFFFFFFFull);
    }
    value = negative ? -static_cast<int64_t>(result) : static_cast<int64_t>(result);
    return true;
}

void AppendLine(std::string& out, std::string_view text) {
    out += text;
    if (!text.ends_with("\r\n"))
        out += "\r\n";
}

void PutInt32(std::string& out, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((u >> (8 * i)) & 0xFF);
}

int32_t GetInt32(const char* p) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= uint32_t{static_cast<unsigned char>(p[i])} << (8 * i);
    return static_cast<int32_t>(u);
}

void PutStreamString(std::string& out, std::string_view text) {
    PutInt32(out, static_cast<int32_t>(text.size()));
    out += text;
}

std::string OsMessage(int error) {
    return std::strerror(error);
}

// A fresh GUID in its usual text form, lower case, without braces.
std::string NewGuidText() {
    std::random_device device;
    std::mt19937_64 generator((uint64_t{device()} << 32) ^ device());
    std::array<uint8_t, 16> bytes{};
    for (auto& b : bytes)
        b = static_cast<uint8_t>(generator());
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

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

bool IsWithin(const TElIniEntry* entry, const TElIniEntry* ancestor) {
    for (; entry != nullptr; entry = entry->Parent)
        if (entry == ancestor)
            return true;
    return false;
}

int DepthOf(const TElIniEntry* entry) {
    int depth = 0;
    for (; entry->Parent != nullptr; entry = entry->Parent)
        ++depth;
    return depth;
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

// A decimal integer written the way the writer writes one: an optional "-", no leading
// zero, no "+", no blank, no "-0", within the signed 32-bit range.
bool IsCanonicalInteger(std::string_view text, int32_t& value) {
    const bool negative = !text.empty() && text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.size() > 10 || (digits.front() == '0' && digits.size() > 1) ||
        (negative && digits == "0"))
        return false;
    int64_t result = 0;
    for (char c : digits) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + (c - '0');
    }
    if (negative)
        result = -result;
    if (result < INT32_MIN || result > INT32_MAX)
        return false;
    value = static_cast<int32_t>(result);
    return true;
}

} // namespace

// --- Free conversions -------------------------------------------------------------------

std::string BinaryToText(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text(kBinaryTextPrefix);
    text += ' ';
    char length[16];
    const int n = std::snprintf(length, sizeof length, "%zX", bytes.size());
    text.append(length, static_cast<size_t>(n));
    text += ' ';
    text.reserve(text.size() + bytes.size() * 3);
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 0x0F];
        text += ' ';
    }
    return text;
}

std::string TextToBinary(std::string_view text) {
    text.remove_prefix(std::min<size_t>(5, text.size()));
    size_t blank = text.find(' ');
    int64_t length = 0;
    if (!ParseHexToken(text.substr(0, blank), length) || length < 0)
        length = 0;
    std::string bytes;
    // Only the byte tokens that are really there are taken, whatever the length says.
    size_t pos = blank == std::string_view::npos ? text.size() : blank + 1;
    while (static_cast<int64_t>(bytes.size()) < length && pos < text.size()) {
        blank = text.find(' ', pos);
        const std::string_view token = text.substr(pos, blank - pos);
        int64_t value = 0;
        // A damaged token still takes its place, as a zero byte.
        bytes += static_cast<char>(ParseHexToken(token, value) ? value & 0xFF : 0);
        pos = blank == std::string_view::npos ? text.size() : blank + 1;
    }
    return bytes;
}

bool TextToInt(std::string_view text, int32_t& value) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    int base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' &&
               (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    if (i == text.size())
        return false;
    uint64_t result = 0;
    for (; i < text.size(); ++i) {
        const int digit = base == 16 ? HexDigitValue(text[i])
                                     : (text[i] >= '0' && text[i] <= '9' ? text[i] - '0' : -1);
        if (digit < 0)
            return false;
        result = result * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (result > 0xFFFFFFFFull)
            return false;
    }
    if (base == 10) {
        if (result > (negative ? 0x80000000ull : 0x7FFFFFFFull))
            return false;
        value = static_cast<int32_t>(negative ? -static_cast<int64_t>(result)
                                              : static_cast<int64_t>(result));
    } else {
        // Hexadecimal covers the 32 bits, so $FFFFFFFF is -1.
        const auto bits = static_cast<uint32_t>(result);
        value = static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    return true;
}

// --- TElIniEntry ------------------------------------------------------------------------

TElIniEntry::TElIniEntry() {
    Children.OnDelete = [this](TElList&, TElList::TItem item) {
        auto* child = static_cast<TElIniEntry*>(item);
        ForgetChild(child);
        delete child; // its value goes with it
    };
}

TElIniEntry::~TElIniEntry() {
    ClearChildren();
}

std::string TElIniEntry::NormalName(std::string_view name) {
    while (!name.empty() && IsTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && IsTrimmed(name.back()))
        name.remove_suffix(1);
    return UpperAscii(name);
}

bool TElIniEntry::MatchesNormal(std::string_view normal) const {
    std::string_view name = FName;
    while (!name.empty() && IsTrimmed(name.front()))
        name.remove_prefix(1);
    while (!name.empty() && IsTrimmed(name.back()))
        name.remove_suffix(1);
    if (name.size() != normal.size())
        return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c =
            name[i] >= 'a' && name[i] <= 'z' ? static_cast<char>(name[i] - 'a' + 'A') : name[i];
        if (c != normal[i])
            return false;
    }
    return true;
}

TElIniEntry* TElIniEntry::FindNormal(const std::string& normal) const {
    if (FIndex) {
        const auto it = FIndex->find(normal);
        return it == FIndex->end() ? nullptr : it->second;
    }
    for (int32_t i = 0; i < Children.Count(); ++i)
        if (Child(i)->MatchesNormal(normal))
            return Child(i);
    return nullptr;
}

TElIniEntry* TElIniEntry::FindChild(std::string_view name) const {
    return FindNormal(NormalName(name));
}

void TElIniEntry::BuildIndexIfLarge() {
    if (FIndex || Children.Count() <= IndexThreshold)
        return;
    FIndex = std::make_unique<std::unordered_map<std::string, TElIniEntry*>>();
    FIndex->reserve(static_cast<size_t>(Children.Count()) * 2);
    // In children order, so that the first of several namesakes is the one indexed.
    for (int32_t i = 0; i < Children.Count(); ++i)
        FIndex->try_emplace(NormalName(Child(i)->FName), Child(i));
}

TElIniEntry* TElIniEntry::AttachChild(std::string_view name, bool isKey) {
    // The list's own rule adds at most 1280 slots at a time, which makes filling a key
    // with a million values copy its slots hundreds of times; the store asks for doubled
    // room instead once the list is that large.
    if (Children.Count() == Children.Capacity() && Children.Capacity() >= 1280)
        Children.SetCapacity(static_cast<int32_t>(
            std::min<int64_t>(int64_t{Children.Capacity()} * 2, TElList::MaxListSize)));
    auto child = std::make_unique<TElIniEntry>();
    child->FName = name;
    child->IsKey = isKey;
    child->Parent = this;
    Children.Add(child.get());
    return child.release();
}

TElIniEntry* TElIniEntry::AddChild(std::string_view name, bool isKey) {
    TElIniEntry* child = AttachChild(name, isKey);
    if (FIndex)
        FIndex->try_emplace(NormalName(name), child);
    else
        BuildIndexIfLarge();
    return child;
}

TElIniEntry* TElIniEntry::FindOrAddChild(std::string_view name, bool isKey, bool& added) {
    std::string normal = NormalName(name);
    if (FIndex) {
        // One hash lookup for both the search and the insertion.
        auto [it, inserted] = FIndex->try_emplace(std::move(normal), nullptr);
        added = inserted;
        if (inserted)
            it->second = AttachChild(name, isKey);
        return it->second;
    }
    if (TElIniEntry* found = FindNormal(normal)) {
        added = false;
        return found;
    }
    added = true;
    TElIniEntry* child = AttachChild(name, isKey);
    BuildIndexIfLarge();
    return child;
}

void TElIniEntry::ForgetChild(TElIniEntry* child) {
    if (FClearing || !FIndex)
        return;
    const std::string normal = NormalName(child->FName);
    const auto it = FIndex->find(normal);
    if (it == FIndex->end() || it->second != child)
        return;
    FIndex->erase(it);
    // The next child of the same name, if any, is now the first match.
    for (int32_t i = 0; i < Children.Count(); ++i) {
        TElIniEntry* other = Child(i);
        if (other != child && other->MatchesNormal(normal)) {
            FIndex->emplace(normal, other);
            break;
        }
    }
}

void TElIniEntry::RemoveChild(TElIniEntry* child) {
    Children.Remove(child);
}

void TElIniEntry::ClearChildren() {
    // Every child goes: no index entry needs to be handed on to a later namesake.
    FClearing = true;
    FIndex.reset();
    Children.Clear();
    FClearing = false;
}

void TElIniEntry::Rename(std::string_view name) {
    if (Parent != nullptr)
        Parent->ForgetChild(this);
    FName = name;
    if (Parent == nullptr || !Parent->FIndex)
        return;
    auto [it, inserted] = Parent->FIndex->try_emplace(NormalName(name), this);
    // Keep "first match wins": the renamed node takes the index only if it comes first.
    if (!inserted && Parent->Children.IndexOf(this) < Parent->Children.IndexOf(it->second))
        it->second = this;
}

void TElIniEntry::ClearValue() {
    StringValue.clear();
    StringValue.shrink_to_fit();
    MultiValue.clear();
    IntValue = 0;
    BoolValue = false;
    EightByte.fill(0);
    ValueType = evtNone;
}

// --- TElIniFile: construction and properties ---------------------------------------------

TElIniFile::TElIniFile(TFileSystem& fs)
    : FFs(fs), FRoot(std::make_unique<TElIniEntry>()), FCurrentEntry(FRoot.get()) {
    FCurrentKey = std::string(1, FDelimiter);
}

TElIniFile::TElIniFile() : TElIniFile(TFileSystem::Default()) {}

TElIniFile::~TElIniFile() {
    if (!UseRegistry() && FLazyWrite && FModified) {
        try {
            Save();
        } catch (...) {
            // Nothing can report a failure from here; the old file is still intact.
        }
    }
    FRegistry.reset();
}

void TElIniFile::SetDelimiter(char value) {
    if (value == FDelimiter)
        return;
    if (UseRegistry() && value != kRegDelimiter)
        throw EElIniError("Changing delimiter is not available when using registry.");
    FDelimiter = value;
    if (!UseRegistry())
        FCurrentKey = PathOf(FCurrentEntry); // the old delimiter would no longer split it
    SaveIfEager();
}

void TElIniFile::SetLazyWrite(bool value) {
    FLazyWrite = value;
    if (FRegistry)
        FRegistry->SetLazyWrite(value);
}

void TElIniFile::SetPath(const std::string& value) {
    if (!FRegistry) {
        FPath = value;
        return;
    }
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

void TElIniFile::SetSimple(bool value) {
    if (UseRegistry() || value == FSimple)
        return;
    // The tree is converted by writing it out in the present mode and reading it back in
    // the new one, through a file of its own in the temporary folder.
    const std::string saved = FPath;
    const std::string temporary = (std::filesystem::temp_directory_path() / NewGuidText()).string();
    const char delimiter = FDelimiter;
    auto restore = [&] {
        FPath = saved;
        FDelimiter = delimiter;
        FFs.Remove(temporary);
    };
    FPath = temporary;
    try {
        Save();
        FSimple = value;
        if (value)
            FDelimiter = '\0'; // section paths become whole key names
        Load();
    } catch (...) {
        restore();
        throw;
    }
    restore();
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
    if (FRegistry) {
        FRegistry->SetRootKey(ToRegistryRoot(value));
        // The current key lives below the base key of the new root from now on.
        FRegistry->OpenKey(FPath + FCurrentKey, true);
    }
}

void TElIniFile::SetUseRegistry(bool value) {
    if (value == UseRegistry())
        return;
    if (!value) {
        FRegistry.reset();
        // Path named the registry's base key; the file mode gets its own file name back, so
        // that a later save does not create a file called like the base key.
        FPath = FFilePath;
        // The registry's current key need not exist in the tree; take what is left of it.
        RestoreKey({FCurrentKey, nullptr});
        return;
    }
    // The user's configuration folder is looked up only now: a store in file mode reads
    // nothing from the environment.
    FRegistry = std::make_unique<TRegistry>(
        FRegistryFolder.empty() ? TRegistry::DefaultFolder() : FRegistryFolder, FFs);
    FRegistry->SetRootKey(ToRegistryRoot(FRegRoot));
    FFilePath = FPath;
    if (FPath.empty())
        FPath = "\\SOFTWARE";
    if (FCurrentKey.empty() || FCurrentKey.front() != kRegDelimiter)
        FCurrentKey = std::string(1, kRegDelimiter);
    std::string key = FCurrentKey == "\\" ? std::string() : FCurrentKey;
    FRegistry->OpenKey(FPath + key, true);
}

// --- Keys --------------------------------------------------------------------------------

std::string TElIniFile::PathOf(const TElIniEntry* entry) const {
    std::vector<const std::string*> names;
    for (; entry != nullptr && entry->Parent != nullptr; entry = entry->Parent)
        names.push_back(&entry->Name());
    std::string path;
    for (auto it = names.rbegin(); it != names.rend(); ++it) {
        path += FDelimiter;
        path += **it;
    }
    return path.empty() ? std::string(1, FDelimiter) : path;
}

bool TElIniFile::Walk(std::string_view key, bool canCreate, TElIniEntry*& reached,
                      std::string& path) {
    const std::string delimiter(1, FDelimiter);
    TElIniEntry* node;
    if (!key.empty() && key.front() == FDelimiter) {
        node = FRoot.get();
        path = delimiter;
        key.remove_prefix(1);
    } else {
        node = FCurrentEntry;
        path = FCurrentKey;
        if (path != delimiter)
            path += FDelimiter;
    }
    reached = node;
    auto finish = [&] {
        if (path.size() > 1 && path.back() == FDelimiter)
            path.pop_back();
    };
    if (key.empty()) {
        finish();
        return true;
    }
    if (key.back() == FDelimiter)
        key.remove_suffix(1);
    int depth = DepthOf(node);
    while (!key.empty()) {
        const size_t end = key.find(FDelimiter);
        const std::string_view component = key.substr(0, end);
        if (component.empty() || depth >= MaxKeyDepth ||
            path.size() + component.size() > MaxKeyPathLength)
            return false;
        // "\r\n[" path "]\r\n": what a new key adds to the text form.
        const size_t keyBytes = path.size() + component.size() + 4;
        TElIniEntry* child = nullptr;
        bool added = false;
        // Over the budget of a file being read, only existing keys open.
        const bool create = canCreate && FKeyBytesAdded + keyBytes <= FKeyBudget;
        if (create)
            child = node->FindOrAddChild(component, true, added);
        else if ((child = node->FindChild(component)) == nullptr)
            return false;
        if (added) {
            MarkModified();
            FKeyBytesAdded += keyBytes;
        } else if (!child->IsKey) {
            if (!create)
                return false;
            child->IsKey = true; // the value it holds stays
            MarkModified();
        }
        NameIfNameless(*child, component);
        path += component;
        path += FDelimiter;
        node = child;
        reached = node;
        ++depth;
        if (end == std::string_view::npos)
            break;
        key.remove_prefix(end + 1);
        if (key.empty())
            return false; // two delimiters in a row
    }
    finish();
    return true;
}

void TElIniFile::NameIfNameless(TElIniEntry& node, std::string_view component) {
    // A nameless value (one written with an empty name at the root) that a path walks
    // into takes the path's spelling: a key with an empty name would be written as the
    // path of its parent and come back as part of it.
    if (node.Name().empty() && !component.empty()) {
        node.Rename(component);
        MarkModified();
    }
}

bool TElIniFile::OpenKey(const std::string& key, bool canCreate) {
    if (key.empty() || SameIgnoringAsciiCase(key, FCurrentKey))
        return true;
    if (FRegistry)
        return RegOpenKey(key, canCreate);
    if (FSimple)
        return OpenKeySimple(key, canCreate);
    return OpenKeyFile(key, canCreate);
}

bool TElIniFile::OpenKeyFile(const std::string& key, bool canCreate) {
    TElIniEntry* reached = nullptr;
    std::string path;
    // A failed walk leaves the current key where it was.
    if (!Walk(key, canCreate, reached, path))
        return false;
    FCurrentEntry = reached;
    FCurrentKey = std::move(path);
    return true;
}

bool TElIniFile::OpenKeySimple(const std::string& key, bool canCreate) {
    std::string_view name = key;
    if (!name.empty() && name.front() == FDelimiter)
        name.remove_prefix(1);
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FDelimiter);
    if (name.empty())
        return true;
    TElIniEntry* node = FRoot->FindChild(name);
    if (node == nullptr) {
        if (!canCreate)
            return false;
        node = FRoot->AddChild(name, true);
        MarkModified();
    } else if (!node->IsKey) {
        // A value alone is no key to write values under, unless it may become one.
        if (!canCreate)
            return false;
        node->IsKey = true;
        MarkModified();
    }
    NameIfNameless(*node, name);
    FCurrentEntry = node;
    FCurrentKey = std::string(1, FDelimiter) + std::string(name);
    return true;
}

void TElIniFile::RestoreKey(const TSavedKey& saved) {
    if (FRegistry) {
        RegOpenKey(saved.Key, false);
        return;
    }
    if (saved.Entry == FCurrentEntry && saved.Key == FCurrentKey)
        return;
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FDelimiter);
    if (saved.Key.empty() || saved.Key == FCurrentKey)
        return;
    if (FSimple) {
        OpenKeySimple(saved.Key, false);
        return;
    }
    // Walks as far as the saved path still exists, so the current key is always a key of
    // the tree even when the operation removed or renamed part of the saved path.
    TElIniEntry* reached = nullptr;
    std::string path;
    Walk(saved.Key, false, reached, path);
    if (path.size() > 1 && path.back() == FDelimiter)
        path.pop_back();
    FCurrentEntry = reached;
    FCurrentKey = std::move(path);
}

void TElIniFile::LeaveSubtree(const TElIniEntry* node, TElIniEntry* target) {
    if (!IsWithin(FCurrentEntry, node) || FCurrentEntry == target)
        return;
    if (FSimple) {
        FCurrentKey = PathOf(target);
    } else {
        // Cut the spelled path by as many components as the current key lies below target.
        for (int levels = DepthOf(FCurrentEntry) - DepthOf(target); levels > 0; --levels) {
            const size_t pos = FCurrentKey.rfind(FDelimiter);
            FCurrentKey.resize(pos == std::string::npos ? 0 : pos);
        }
        if (FCurrentKey.empty())
            FCurrentKey = std::string(1, FDelimiter);
    }
    FCurrentEntry = target;
}

bool TElIniFile::KeyExists(const std::string& key) {
    const TSavedKey saved = SaveKey();
    const bool exists = OpenKey(key, false);
    RestoreKey(saved);
    return exists;
}

TElIniEntry* TElIniFile::FindValueIn(TElIniEntry* key, const std::string& name) const {
    if (!name.empty())
        return key->FindChild(name);
    return key == FRoot.get() ? nullptr : key;
}

TElIniEntry* TElIniFile::GetValueEntry(const std::string& key, const std::string& name) {
    if (FRegistry)
        throw EElIniError("GetValueEntry method is not available when using registry.");
    const TSavedKey saved = SaveKey();
    TElIniEntry* node = OpenKey(key, false) ? FindValueIn(FCurrentEntry, name) : nullptr;
    RestoreKey(saved);
    return node;
}

TElIniEntry* TElIniFile::CreateValue(const std::string& key, const std::string& name) {
    if (FRegistry)
        throw EElIniError("CreateValue method is not available when using registry.");
    const TSavedKey saved = SaveKey();
    if (!OpenKey(key, true)) {
        RestoreKey(saved);
        return nullptr;
    }
    TElIniEntry* node = FindValueIn(FCurrentEntry, name);
    if (node != nullptr)
        node->ClearValue();
    else
        node = FCurrentEntry->AddChild(name, false);
    MarkModified();
    RestoreKey(saved);
    return node;
}

void TElIniFile::SetValueType(const std::string& key, const std::string& name, TElValueType type) {
    if (FRegistry)
        throw EElIniError("SetValueType method is not available when using registry.");
    if (TElIniEntry* node = CreateValue(key, name)) {
        node->ClearValue();
        node->ValueType = type;
    }
    MarkModified();
}

// --- Reads -------------------------------------------------------------------------------

bool TElIniFile::ReadString(const std::string& key, const std::string& name, const std::string& def,
                            std::string& value) {
    value = def;
    if (FRegistry) {
        uint8_t kind = 0;
        std::string data;
        if (!RegRead(key, name, kind, data))
            return false;
        switch (static_cast<TRegValueKind>(kind)) {
        case TRegValueKind::rvkString:
        case TRegValueKind::rvkExpandString:
            value = data.substr(0, data.find('\0'));
            return true;
        case TRegValueKind::rvkMultiString:
            value.clear();
            for (const std::string& item : SplitMultiString(data))
                value += item + "\r\n";
            return true;
        case TRegValueKind::rvkDword:
            if (data.size() != 4)
                return false;
            value = std::to_string(GetInt32(data.data()));
            return true;
        case TRegValueKind::rvkBinary:
            value = BinaryToText(data);
            return true;
        }
        return false;
    }
    const TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr)
        return false;
    switch (node->ValueType) {
    case evtString:
        value = node->StringValue;
        return true;
    case evtInteger:
        value = std::to_string(node->IntValue);
        return true;
    case evtBoolean:
        value = node->BoolValue ? "true" : "false";
        return true;
    case evtMultiString:
        value.clear();
        for (const std::string& item : node->MultiValue)
            value += item + "\r\n";
        return true;
    case evtBinary:
        value = BinaryToText(node->StringValue);
        return true;
    default:
        return false;
    }
}

bool TElIniFile::ReadInteger(const std::string& key, const std::string& name, int32_t def,
                             int32_t& value) {
    value = def;
    if (FRegistry) {
        uint8_t kind = 0;
        std::string data;
        if (!RegRead(key, name, kind, data) ||
            static_cast<TRegValueKind>(kind) != TRegValueKind::rvkDword || data.size() != 4)
            return false;
        value = GetInt32(data.data());
        return true;
    }
    const TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr)
        return false;
    if (node->ValueType == evtInteger) {
        value = node->IntValue;
        return true;
    }
    // A text is converted when it can be, but still counts as "not an integer".
    if (node->ValueType == evtString && !TextToInt(node->StringValue, value))
        value = def;
    return false;
}

bool TElIniFile::ReadBool(const std::string& key, const std::string& name, bool def, bool& value) {
    value = def;
    if (FRegistry) {
        uint8_t kind = 0;
        std::string data;
        if (!RegRead(key, name, kind, data) ||
            static_cast<TRegValueKind>(kind) != TRegValueKind::rvkDword || data.size() != 4)
            return false;
        value = GetInt32(data.data()) != 0;
        return true;
    }
    const TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr)
        return false;
    if (node->ValueType == evtBoolean) {
        value = node->BoolValue;
        return true;
    }
    if (node->ValueType == evtInteger) {
        value = node->IntValue != 0;
        return true;
    }
    return false;
}

bool TElIniFile::ReadBinary(const std::string& key, const std::string& name, void* buffer,
                            int32_t& size) {
    std::string data;
    if (FRegistry) {
        uint8_t kind = 0;
        if (!RegRead(key, name, kind, data) ||
            static_cast<TRegValueKind>(kind) != TRegValueKind::rvkBinary)
            return false;
    } else {
        const TElIniEntry* node = GetValueEntry(key, name);
        if (node == nullptr || node->ValueType != evtBinary)
            return false;
        data = node->StringValue;
    }
    const auto needed = static_cast<int32_t>(data.size());
    if (size < needed || (buffer == nullptr && needed > 0)) {
        size = needed;
        return false;
    }
    if (needed > 0)
        std::memcpy(buffer, data.data(), data.size());
    size = needed;
    return true;
}

bool TElIniFile::ReadMultiString(const std::string& key, const std::string& name,
                                 TStrings& strings) {
    if (FRegistry) {
        uint8_t kind = 0;
        std::string data;
        if (!RegRead(key, name, kind, data) ||
            static_cast<TRegValueKind>(kind) != TRegValueKind::rvkMultiString)
            return false;
        strings = SplitMultiString(data);
        return true;
    }
    const TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr || node->ValueType != evtMultiString)
        return false;
    strings = node->MultiValue;
    return true;
}

// --- Writes ------------------------------------------------------------------------------

void TElIniFile::SaveIfEager() {
    if (!FLazyWrite)
        Save();
}

bool TElIniFile::StoreValue(const std::string& key, const std::string& name,
                            const std::function<void(TElIniEntry&)>& assign) {
    const TSavedKey saved = SaveKey();
    if (!OpenKey(key, true)) {
        RestoreKey(saved);
        return false;
    }
    TElIniEntry* node = CreateValue(std::string(), name);
    if (node == nullptr) {
        RestoreKey(saved);
        return false;
    }
    assign(*node);
    MarkModified();
    RestoreKey(saved);
    SaveIfEager();
    return true;
}

bool TElIniFile::WriteString(const std::string& key, const std::string& name,
                             const std::string& value) {
    if (FRegistry)
        return RegWrite(key, name, static_cast<uint8_t>(TRegValueKind::rvkString),
                        ZeroTerminated(value));
    return StoreValue(key, name, [&](TElIniEntry& node) {
        node.ValueType = evtString;
        node.StringValue = value;
    });
}

bool TElIniFile::WriteInteger(const std::string& key, const std::string& name, int32_t value) {
    if (FRegistry) {
        std::string data;
        PutInt32(data, value);
        return RegWrite(key, name, static_cast<uint8_t>(TRegValueKind::rvkDword), data);
    }
    return StoreValue(key, name, [&](TElIniEntry& node) {
        node.ValueType = evtInteger;
        node.IntValue = value;
    });
}

bool TElIniFile::WriteBool(const std::string& key, const std::string& name, bool value) {
    if (FRegistry) {
        std::string data;
        PutInt32(data, value ? 1 : 0);
        return RegWrite(key, name, static_cast<uint8_t>(TRegValueKind::rvkDword), data);
    }
    if (FSimple)
        return false;
    return StoreValue(key, name, [&](TElIniEntry& node) {
        node.ValueType = evtBoolean;
        node.BoolValue = value;
    });
}

bool TElIniFile::WriteBinary(const std::string& key, const std::string& name, const void* buffer,
                             int32_t size) {
    if (size < 0 || (buffer == nullptr && size > 0))
        return false;
    const std::string_view bytes(static_cast<const char*>(buffer), static_cast<size_t>(size));
    if (FRegistry)
        return RegWrite(key, name, static_cast<uint8_t>(TRegValueKind::rvkBinary), bytes);
    if (FSimple)
        return false;
    return StoreValue(key, name, [&](TElIniEntry& node) {
        node.ValueType = evtBinary;
        node.StringValue = bytes;
    });
}

bool TElIniFile::WriteMultiString(const std::string& key, const std::string& name,
                                  const TStrings& strings) {
    if (FRegistry) {
        std::string data;
        for (const std::string& item : strings)
            data += ZeroTerminated(item);
        data += '\0';
        return RegWrite(key, name, static_cast<uint8_t>(TRegValueKind::rvkMultiString), data);
    }
    if (FSimple)
        return false;
    return StoreValue(key, name, [&](TElIniEntry& node) {
        node.ValueType = evtMultiString;
        node.MultiValue = strings;
    });
}

// --- Delete, clear, list, rename ---------------------------------------------------------

bool TElIniFile::Delete(const std::string& key, const std::string& name) {
    if (FRegistry)
        return RegDelete(key, name);
    TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr || node == FRoot.get())
        return false;
    // The current key may not stay inside what is removed: its parent takes over.
    LeaveSubtree(node, node->Parent);
    node->Parent->RemoveChild(node);
    MarkModified();
    return true;
}

bool TElIniFile::ClearKey(const std::string& key) {
    if (FRegistry)
        return RegClearKey(key);
    TElIniEntry* node = GetValueEntry(key, std::string());
    if (node == nullptr)
        return false;
    LeaveSubtree(node, node);
    node->ClearChildren();
    MarkModified();
    SaveIfEager();
    return true;
}

bool TElIniFile::GetKeyNames(const std::string& key, TStrings& strings) {
    return ChildNames(key, strings, true);
}

bool TElIniFile::GetValueNames(const std::string& key, TStrings& strings) {
    return ChildNames(key, strings, false);
}

bool TElIniFile::ChildNames(const std::string& key, TStrings& strings, bool keys) {
    if (FRegistry)
        return RegNames(key, strings, keys);
    const TSavedKey saved = SaveKey();
    if (!OpenKey(key, true)) {
        RestoreKey(saved);
        return false;
    }
    for (int32_t i = 0; i < FCurrentEntry->ChildCount(); ++i)
        if (FCurrentEntry->Child(i)->IsKey == keys)
            strings.push_back(FCurrentEntry->Child(i)->Name());
    RestoreKey(saved);
    return true;
}

bool TElIniFile::RenameKey(const std::string& key, const std::string& newName) {
    if (FRegistry)
        throw EElIniError("Key can not be renamed when using registry.");
    TElIniEntry* node = GetValueEntry(key, std::string());
    if (node == nullptr || newName.find(FDelimiter) != std::string::npos)
        return false;
    std::string sibling = key;
    if (!sibling.empty() && sibling.back() == FDelimiter)
        sibling.pop_back();
    const size_t pos = sibling.rfind(FDelimiter);
    sibling = (pos == std::string::npos ? std::string() : sibling.substr(0, pos + 1)) + newName;
    if (KeyExists(sibling))
        return false;
    node->Rename(newName);
    MarkModified();
    if (IsWithin(FCurrentEntry, node))
        FCurrentKey = PathOf(FCurrentEntry);
    return true;
}

bool TElIniFile::RenameValue(const std::string& key, const std::string& name,
                             const std::string& newName) {
    if (FRegistry)
        return RegRenameValue(key, name, newName);
    TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr || node == FRoot.get())
        return false;
    if (newName.find(FDelimiter) != std::string::npos || GetValueEntry(key, newName) != nullptr)
        return false;
    node->Rename(newName);
    MarkModified();
    if (IsWithin(FCurrentEntry, node))
        FCurrentKey = PathOf(FCurrentEntry);
    return true;
}

// --- Load and save -----------------------------------------------------------------------

void TElIniFile::ClearTree() {
    FRoot->ClearChildren();
    FRoot->ClearValue();
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FDelimiter);
}

bool TElIniFile::Load() {
    if (FRegistry)
        return false;
    DoBeforeLoad();
    ClearTree();
    try {
        errno = 0;
        auto file = FFs.Open(FPath, TOpenMode::omReadOnly);
        int64_t size = 0;
        if (!file || !file->Size(size))
            throw EElFileError("Cannot open the options file \"" + FPath +
                               "\": " + OsMessage(errno ? errno : ENOENT));
        std::string bytes(static_cast<size_t>(size), '\0');
        if (size > 0 && !file->ReadExactAt(0, bytes.data(), size))
            throw EElFileError("Cannot read the options file \"" + FPath +
                               "\": " + OsMessage(errno ? errno : EIO));
        file.reset();
        LoadFromBytes(bytes, FPath);
    } catch (...) {
        DoAfterLoad();
        throw;
    }
    DoAfterLoad();
    return true;
}

bool TElIniFile::Save() {
    DoBeforeSave();
    if (FRegistry || FPath.empty()) {
        DoAfterSave();
        return false;
    }
    try {
        // The new content replaces the file as a whole (a link is followed, and the file
        // keeps its owner, mode and attributes), so a full disk or a missing permission never
        // leaves a truncated options file; anything but a regular file is left alone.
        const std::string bytes = SaveToBytes();
        errno = 0;
        if (!FFs.ReplaceContent(FPath, bytes, {.CreateMissing = true})) {
            std::string message =
                "Cannot save the options file \"" + FPath + "\": " + OsMessage(errno ? errno : EIO);
            if (!FFs.FailureNote().empty())
                message += " " + FFs.FailureNote();
            throw EElFileError(message);
        }
        FModified = false;
    } catch (...) {
        DoAfterSave();
        throw;
    }
    DoAfterSave();
    return true;
}

void TElIniFile::LoadFromBytes(std::string_view bytes, const std::string& source) {
    ClearTree();
    if (FBinaryMode)
        ParseBinary(bytes, source);
    else
        ParseText(bytes);
    FCurrentEntry = FRoot.get();
    FCurrentKey = std::string(1, FDelimiter);
}

std::string TElIniFile::SaveToBytes() const {
    return FBinaryMode ? WriteBinaryForm() : WriteText();
}

void TElIniFile::Loaded() {
    if (FPath.empty() || FRegistry)
        return;
    try {
        Load();
    } catch (...) {
        // A component without its file starts empty.
    }
}

void TElIniFile::DoBeforeSave() {
    if (OnBeforeSave)
        OnBeforeSave(*this);
}

void TElIniFile::DoAfterLoad() {
    if (OnAfterLoad)
        OnAfterLoad(*this);
}

void TElIniFile::DoBeforeLoad() {
    if (OnBeforeLoad)
        OnBeforeLoad(*this);
}

void TElIniFile::DoAfterSave() {
    if (OnAfterSave)
        OnAfterSave(*this);
}

// --- Text form ---------------------------------------------------------------------------

class TElIniFile::TKeyBudget {
public:
    TKeyBudget(TElIniFile& store, size_t size) : Store(store) {
        Store.FKeyBytesAdded = 0;
        Store.FKeyBudget = KeyBudgetFactor * size + KeyBudgetExtra;
    }
    ~TKeyBudget() { Store.FKeyBudget = SIZE_MAX; }
    TKeyBudget(const TKeyBudget&) = delete;
    TKeyBudget& operator=(const TKeyBudget&) = delete;

private:
    TElIniFile& Store;
};

TElIniEntry* TElIniFile::OpenAbsolute(std::string_view path) {
    if (FSimple) {
        // Flat store: the whole path is one root-level key name.
        if (!path.empty() && path.front() == FDelimiter)
            path.remove_prefix(1);
        if (path.empty())
            return FRoot.get();
        TElIniEntry* node = FRoot->FindChild(path);
        if (node == nullptr) {
            node = FRoot->AddChild(path, true);
            MarkModified();
        } else if (!node->IsKey) {
            node->IsKey = true;
            MarkModified();
        }
        NameIfNameless(*node, path);
        return node;
    }
    TElIniEntry* reached = nullptr;
    std::string walked;
    return Walk(path, true, reached, walked) ? reached : nullptr;
}

bool TElIniFile::ParseLine(std::string_view line, std::string& name, std::string& value) const {
    name.clear();
    value.clear();
    bool quoted = false;
    bool separated = false;
    const char commentStart = FComment.empty() ? '\0' : FComment.front();
    // Plain runs of characters are copied in one piece; only quotes, the separator and the
    // comment string's first character need a look.
    size_t run = 0;
    auto flush = [&](size_t end) {
        (separated ? value : name).append(line.substr(run, end - run));
        run = end;
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            continue;
        }
        if (c != '"' && c != FDivChar && (FComment.empty() || c != commentStart))
            continue;
        if (c == '"')
            quoted = true;
        if (!FComment.empty() && c == commentStart &&
            line.compare(i, FComment.size(), FComment) == 0) {
            flush(i);
            return separated;
        }
        if (!quoted && !separated && c == FDivChar) {
            flush(i);
            separated = true;
            run = i + 1; // the separator itself is dropped
        }
    }
    flush(line.size());
    return separated;
}

void TElIniFile::ParseText(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    const TKeyBudget budget(*this, text.size());
    TElIniEntry* section = FRoot.get();
    const std::string delimiter(1, FDelimiter);
    std::string name, value;
    int64_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find_first_of("\r\n", pos);
        const std::string_view line = text.substr(pos, end - pos);
        pos = end == std::string_view::npos                                           ? text.size()
              : (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? end + 2
                                                                                      : end + 1;
        ++lineNumber;
        if (line.empty() || (!FComment.empty() && line.starts_with(FComment)))
            continue;
        if (line.front() == '[') {
            const std::string_view path = line.size() >= 2 && line.back() == ']'
                                              ? line.substr(1, line.size() - 2)
                                              : line.substr(1);
            // A path that cannot be opened makes the lines up to the next header skipped.
            section = OpenAbsolute(delimiter + std::string(path));
            continue;
        }
        if (section == nullptr)
            continue;
        if (!ParseLine(line, name, value)) {
            value = std::move(name);
            name = "#" + std::to_string(lineNumber);
        }
        // A list item: Name[index]=text. The index only tells it is a list; items keep the
        // order of their lines.
        bool listItem = false;
        if (!name.empty() && name.back() == ']') {
            const size_t open = name.find('[');
            const size_t close = name.find(']');
            const size_t start = open == std::string::npos ? 0 : open + 1;
            int32_t index = -1;
            listItem = close >= start &&
                       TextToInt(std::string_view(name).substr(start, close - start), index) &&
                       index != -1;
            name.resize(open == std::string::npos ? 0 : open);
        }
        TElIniEntry* entry;
        bool added = false;
        if (name.empty())
            entry = section != FRoot.get() ? section : FRoot->FindChild(name);
        else
            entry = section->FindOrAddChild(name, false, added);
        if (entry == nullptr)
            continue;
        if (listItem) {
            if (entry->ValueType != evtMultiString) {
                entry->ClearValue();
                entry->ValueType = evtMultiString;
            }
            entry->MultiValue.push_back(std::move(value));
            continue;
        }
        entry->ClearValue();
        int32_t number = 0;
        if (SameIgnoringAsciiCase(value, "TRUE") || SameIgnoringAsciiCase(value, "FALSE")) {
            entry->ValueType = evtBoolean;
            entry->BoolValue = SameIgnoringAsciiCase(value, "TRUE");
        } else if (value == "0.0") {
            entry->ValueType = evtEightByte;
        } else if (IsCanonicalInteger(value, number)) {
            entry->ValueType = evtInteger;
            entry->IntValue = number;
        } else if (value.starts_with(kBinaryTextPrefix)) {
            entry->ValueType = evtBinary;
            entry->StringValue = TextToBinary(value);
        } else {
            entry->ValueType = evtString;
            entry->StringValue = std::move(value);
        }
    }
}

void TElIniFile::WriteTextValue(const TElIniEntry& value, std::string& out) const {
    const std::string& name = value.Name();
    std::string line;
    if (!name.empty() && name.front() != '#') {
        line = name;
        line += FDivChar;
    }
    switch (value.ValueType) {
    case evtNone:
        return;
    case evtBoolean:
        line += FSimple ? (value.BoolValue ? "1" : "0") : (value.BoolValue ? "true" : "false");
        break;
    case evtInteger:
        line += std::to_string(value.IntValue);
        break;
    case evtString:
        line += value.StringValue;
        break;
    case evtMultiString:
        for (size_t i = 0; i < value.MultiValue.size(); ++i) {
            line = name + "[" + std::to_string(i) + "]";
            line += FDivChar;
            line += value.MultiValue[i];
            AppendLine(out, line);
        }
        return;
    case evtBinary:
        line += BinaryToText(value.StringValue);
        break;
    case evtEightByte:
        line += std::to_string(GetInt32(reinterpret_cast<const char*>(value.EightByte.data()))) +
                "." +
                std::to_string(GetInt32(reinterpret_cast<const char*>(value.EightByte.data() + 4)));
        break;
    }
    AppendLine(out, line);
}

void TElIniFile::WriteTextKey(const TElIniEntry& key, const std::string& path,
                              std::string& out) const {
    AppendLine(out, "");
    AppendLine(out, "[" + path + "]");
    for (int32_t i = 0; i < key.ChildCount(); ++i)
        WriteTextValue(*key.Child(i), out);
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& child = *key.Child(i);
        if (child.IsKey)
            WriteTextKey(child, path + FDelimiter + child.Name(), out);
    }
}

std::string TElIniFile::WriteText() const {
    std::string out;
    if (!FWarningMessage.empty())
        AppendLine(out, FComment + FWarningMessage);
    for (int32_t i = 0; i < FRoot->ChildCount(); ++i)
        WriteTextValue(*FRoot->Child(i), out);
    for (int32_t i = 0; i < FRoot->ChildCount(); ++i) {
        const TElIniEntry& child = *FRoot->Child(i);
        if (child.IsKey)
            WriteTextKey(child, child.Name(), out);
    }
    return out;
}

// --- Binary form -------------------------------------------------------------------------

void TElIniFile::WriteBinaryKey(const TElIniEntry& key, const std::string& path,
                                std::string& out) const {
    out += '\1';
    PutStreamString(out, path);
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& value = *key.Child(i);
        if (value.ValueType == evtNone)
            continue;
        out += '\0';
        PutStreamString(out, value.Name());
        out += static_cast<char>(value.ValueType);
        std::string payload;
        switch (value.ValueType) {
        case evtBoolean:
            payload += static_cast<char>(value.BoolValue ? 1 : 0);
            break;
        case evtInteger:
            PutInt32(payload, value.IntValue);
            break;
        case evtString:
            PutStreamString(payload, value.StringValue);
            break;
        case evtMultiString:
            for (const std::string& item : value.MultiValue)
                PutStreamString(payload, item);
            break;
        case evtBinary:
            PutStreamString(payload, value.StringValue);
            break;
        case evtEightByte:
            payload.append(reinterpret_cast<const char*>(value.EightByte.data()), 8);
            break;
        case evtNone:
            break;
        }
        PutInt32(out, static_cast<int32_t>(payload.size()));
        out += payload;
    }
    for (int32_t i = 0; i < key.ChildCount(); ++i) {
        const TElIniEntry& child = *key.Child(i);
        if (child.IsKey)
            WriteBinaryKey(child, path.empty() ? child.Name() : path + FDelimiter + child.Name(),
                           out);
    }
}

std::string TElIniFile::WriteBinaryForm() const {
    std::string out;
    WriteBinaryKey(*FRoot, std::string(), out);
    return out;
}

void TElIniFile::ParseBinary(std::string_view bytes, const std::string& source) {
    size_t pos = 0;
    const TKeyBudget budget(*this, bytes.size());
    auto fail = [&](const char* what) {
        throw EElFileError("The options file \"" + source + "\" " + what + " at byte " +
                           std::to_string(pos));
    };
    auto need = [&](size_t count) {
        if (bytes.size() - pos < count)
            fail("ends inside a record");
    };
    auto readInt32 = [&] {
        need(4);
        const int32_t value = GetInt32(bytes.data() + pos);
        pos += 4;
        return value;
    };
    auto readByte = [&] {
        need(1);
        return static_cast<uint8_t>(bytes[pos++]);
    };
    // A text whose length is negative or runs past the end is not read; the target keeps
    // what it held and reading goes on after the length.
    auto readText = [&](std::string_view from, size_t& at, std::string& text) {
        if (from.size() - at < 4)
            return false;
        const int32_t length = GetInt32(from.data() + at);
        at += 4;
        if (length < 0 || static_cast<size_t>(length) > from.size() - at)
            return false;
        text.assign(from.substr(at, static_cast<size_t>(length)));
        at += static_cast<size_t>(length);
        return true;
    };

    TElIniEntry* section = FRoot.get();
    while (pos < bytes.size()) {
        if (readByte() == 1) {
            std::string path;
            if (!readText(bytes, pos, path) && pos > bytes.size())
                fail("ends inside a record");
            if (!path.empty() && path.front() != FDelimiter)
                path.insert(path.begin(), FDelimiter);
            // Until the next key record, the values of a key that cannot be opened are
            // skipped.
            section = OpenAbsolute(path);
            continue;
        }
        std::string name;
        readText(bytes, pos, name);
        const uint8_t type = readByte();
        const int32_t length = readInt32();
        if (length < 0)
            fail("has a negative record length");
        need(static_cast<size_t>(length));
        const std::string_view payload = bytes.substr(pos, static_cast<size_t>(length));
        pos += static_cast<size_t>(length);
        if (section == nullptr || type < evtBoolean || type > evtEightByte)
            continue;
        auto fixed = [&](size_t count) {
            if (payload.size() < count)
                fail("has a value record too short for its type");
        };
        // The payload is checked before the entry is touched, so a damaged record changes
        // nothing.
        switch (type) {
        case evtBoolean:
            fixed(1);
            break;
        case evtInteger:
        case evtBinary:
            fixed(4);
            break;
        case evtEightByte:
            fixed(8);
            break;
        default:
            break;
        }
        if (type == evtBinary) {
            const int32_t size = GetInt32(payload.data());
            if (size < 0 || static_cast<size_t>(size) > payload.size() - 4)
                fail("has a byte block longer than its record");
        }
        bool added = false;
        TElIniEntry* entry = section->FindOrAddChild(name, false, added);
        if (type == evtMultiString) {
            if (entry->ValueType != evtMultiString) {
                entry->ClearValue();
                entry->ValueType = evtMultiString;
            }
            size_t at = 0;
            std::string item;
            while (at < payload.size() && readText(payload, at, item))
                entry->MultiValue.push_back(item);
            continue;
        }
        entry->ClearValue();
        entry->ValueType = static_cast<TElValueType>(type);
        switch (type) {
        case evtBoolean:
            entry->BoolValue = payload[0] != 0;
            break;
        case evtInteger:
            entry->IntValue = GetInt32(payload.data());
            break;
        case evtString: {
            size_t at = 0;
            readText(payload, at, entry->StringValue);
            break;
        }
        case evtBinary:
            entry->StringValue.assign(
                payload.substr(4, static_cast<size_t>(GetInt32(payload.data()))));
            break;
        case evtEightByte:
            std::memcpy(entry->EightByte.data(), payload.data(), 8);
            break;
        default:
            break;
        }
    }
}

// --- Registry mode -----------------------------------------------------------------------

bool TElIniFile::RegOpenKey(const std::string& key, bool canCreate) {
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

std::string TElIniFile::RegAbsolute(const std::string& key) const {
    std::string path = key;
    if (path.empty() || path.front() != kRegDelimiter)
        path = FCurrentKey + (FCurrentKey.ends_with(kRegDelimiter) ? "" : "\\") + path;
    if (path.size() > 1 && path.back() == kRegDelimiter)
        path.pop_back();
    return path;
}

bool TElIniFile::RegRead(const std::string& key, const std::string& name, uint8_t& kind,
                         std::string& data) {
    const std::string saved = FCurrentKey;
    if (!RegOpenKey(key, false))
        return false;
    TRegValueKind valueKind{};
    const bool found = FRegistry->ReadValue(name, valueKind, data);
    kind = static_cast<uint8_t>(valueKind);
    RegOpenKey(saved, false);
    return found;
}

bool TElIniFile::RegWrite(const std::string& key, const std::string& name, uint8_t kind,
                          std::string_view data) {
    const std::string saved = FCurrentKey;
    if (!RegOpenKey(key, true))
        return false;
    const bool stored = FRegistry->WriteValue(name, static_cast<TRegValueKind>(kind), data);
    RegOpenKey(saved, false);
    return stored;
}

bool TElIniFile::RegDelete(const std::string& key, const std::string& name) {
    if (!name.empty()) {
        const std::string saved = FCurrentKey;
        if (!RegOpenKey(key, false))
            return false;
        const bool deleted = FRegistry->DeleteValue(name);
        RegOpenKey(saved, false);
        return deleted;
    }
    const std::string absolute = RegAbsolute(key);
    if (absolute == "\\")
        return false; // the base key is never deleted
    std::string parent, last;
    SplitLast(absolute, parent, last);
    // The current key may not stay inside the key that goes away.
    if (StartsWithKey(FCurrentKey, absolute))
        RegOpenKey(parent, false);
    RegClearKey(absolute);
    const std::string registryPath = (FPath == "\\" ? std::string() : FPath) + absolute;
    if (!FRegistry->KeyExists(registryPath))
        return false;
    const std::string recorded = FRegistry->CurrentPath();
    const bool deleted = FRegistry->DeleteKey(registryPath);
    FRegistry->OpenKey("\\" + recorded, true);
    RegDelete(parent, last);
    return deleted;
}

bool TElIniFile::RegClearKey(const std::string& key) {
    std::string saved = FCurrentKey;
    if (!RegOpenKey(key, false))
        return false;
    const std::string cleared = FCurrentKey;
    if (cleared == "\\") {
        RegOpenKey(saved, false);
        return false;
    }
    // A current key below the cleared one would be gone afterwards.
    if (StartsWithKey(saved, cleared))
        saved = cleared;
    TStrings keys, values;
    FRegistry->GetKeyNames(keys);
    for (const std::string& subkey : keys)
        RegDelete(cleared + "\\" + subkey, std::string());
    RegOpenKey(cleared, false);
    FRegistry->GetValueNames(values);
    for (const std::string& value : values)
        FRegistry->DeleteValue(value);
    RegOpenKey(saved, false);
    return true;
}

bool TElIniFile::RegNames(const std::string& key, TStrings& strings, bool keys) {
    const std::string saved = FCurrentKey;
    if (!RegOpenKey(key, true))
        return false;
    TStrings subkeys;
    FRegistry->GetKeyNames(subkeys);
    if (keys) {
        strings = std::move(subkeys);
    } else {
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
    }
    RegOpenKey(saved, false);
    return true;
}

bool TElIniFile::RegRenameValue(const std::string& key, const std::string& name,
                                const std::string& newName) {
    const std::string saved = FCurrentKey;
    if (!RegOpenKey(key, false))
        return false;
    const bool renamed = FRegistry->RenameValue(name, newName);
    RegOpenKey(saved, false);
    return renamed;
}

} // namespace cantorell
