#include "Registry.h"

#include "platform/Ascii.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace cantorell {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kValuesFile = ".values";
constexpr std::string_view kMagic = "CRV1";

std::string EncodeKeyName(std::string_view name) {
    std::string result;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = name[i];
        if (c == '%')
            result += "%25";
        else if (c == '/')
            result += "%2F";
        else if (c == '.' && i == 0)
            result += "%2E";
        else
            result += c;
    }
    return result;
}

std::string DecodeKeyName(std::string_view folder) {
    std::string result;
    for (size_t i = 0; i < folder.size(); ++i) {
        if (folder[i] == '%' && i + 2 < folder.size() && HexDigitValue(folder[i + 1]) >= 0 &&
            HexDigitValue(folder[i + 2]) >= 0) {
            result +=
                static_cast<char>(HexDigitValue(folder[i + 1]) * 16 + HexDigitValue(folder[i + 2]));
            i += 2;
        } else {
            result += folder[i];
        }
    }
    return result;
}

// Splits a key path at "\"; one leading and one trailing "\" are allowed, an empty
// component is not.
bool SplitPath(std::string_view path, std::vector<std::string_view>& parts) {
    if (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    if (!path.empty() && path.back() == '\\')
        path.remove_suffix(1);
    parts.clear();
    if (path.empty())
        return true;
    size_t start = 0;
    while (true) {
        const size_t end = path.find('\\', start);
        const std::string_view part = path.substr(start, end - start);
        if (part.empty())
            return false;
        parts.push_back(part);
        if (end == std::string_view::npos)
            return true;
        start = end + 1;
    }
}

// The stored subkey folder of `parent` whose key name matches `name`, or "".
std::string FindSubkey(const std::string& parent, std::string_view name) {
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.empty() || entry.front() == '.' || !it->is_directory(ec))
            continue;
        if (SameIgnoringAsciiCase(DecodeKeyName(entry), name))
            return entry;
    }
    return {};
}

void PutUint32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

bool GetUint32(std::string_view& in, uint32_t& value) {
    if (in.size() < 4)
        return false;
    value = 0;
    for (int i = 0; i < 4; ++i)
        value |= uint32_t{static_cast<unsigned char>(in[i])} << (8 * i);
    in.remove_prefix(4);
    return true;
}

} // namespace

TRegistry::TRegistry(std::string folder) : TRegistry(std::move(folder), TFileSystem::Default()) {}

TRegistry::TRegistry(std::string folder, TFileSystem& fs) : FFolder(std::move(folder)), FFs(fs) {}

std::string TRegistry::DefaultFolder() {
    std::string base;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/')
        base = config;
    else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        base = std::string(home) + "/.config";
    else
        base = fs::temp_directory_path().string();
    return base + "/tagcantorell/registry";
}

std::string TRegistry::RootFolder() const {
    static constexpr std::string_view names[] = {"HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",
                                                 "HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                                 "HKEY_CURRENT_CONFIG"};
    return FFolder + "/" + std::string(names[static_cast<int>(FRoot)]);
}

void TRegistry::SetRootKey(TRegistryRoot root) {
    FRoot = root;
    CloseKey();
}

void TRegistry::CloseKey() {
    FCurrentFolder.clear();
    FCurrentPath.clear();
}

bool TRegistry::Resolve(std::string_view path, bool canCreate, std::string& folder,
                        std::string& spelled) const {
    std::vector<std::string_view> parts;
    if (!SplitPath(path, parts))
        return false;
    const bool absolute = !path.empty() && path.front() == '\\';
    folder = absolute ? RootFolder() : CurrentFolder();
    spelled = absolute ? std::string() : FCurrentPath;
    std::error_code ec;
    if (canCreate)
        fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec))
        return parts.empty() && !canCreate ? (folder = RootFolder(), true) : false;
    for (std::string_view part : parts) {
        std::string entry = FindSubkey(folder, part);
        if (entry.empty()) {
            if (!canCreate)
                return false;
            entry = EncodeKeyName(part);
            if (!fs::create_directory(folder + "/" + entry, ec) && ec)
                return false;
        }
        folder += "/" + entry;
        if (!spelled.empty())
            spelled += '\\';
        spelled += DecodeKeyName(entry);
    }
    return true;
}

bool TRegistry::OpenKey(std::string_view path, bool canCreate) {
    std::string folder, spelled;
    if (!Resolve(path, canCreate, folder, spelled))
        return false;
    FCurrentFolder = folder;
    FCurrentPath = spelled;
    return true;
}

bool TRegistry::KeyExists(std::string_view path) const {
    std::string folder, spelled;
    return Resolve(path, false, folder, spelled);
}

bool TRegistry::LoadValues(const std::string& folder, TValues& values) const {
    values.clear();
    const std::string file = folder + "/" + std::string(kValuesFile);
    if (!FFs.Exists(file))
        return true; // a key without values
    auto handle = FFs.Open(file, TOpenMode::omReadOnly);
    int64_t size = 0;
    if (!handle || !handle->Size(size))
        return false;
    std::string bytes(static_cast<size_t>(size), '\0');
    if (!handle->ReadExactAt(0, bytes.data(), size))
        return false;
    std::string_view in(bytes);
    if (!in.starts_with(kMagic))
        return false;
    in.remove_prefix(kMagic.size());
    // Every length is checked against the bytes that are left, so a damaged file yields
    // the values before the damage and nothing is allocated beyond the file's size.
    while (!in.empty()) {
        uint32_t nameLength = 0, dataLength = 0;
        if (!GetUint32(in, nameLength) || nameLength > in.size())
            return false;
        TValue value;
        value.Name = std::string(in.substr(0, nameLength));
        in.remove_prefix(nameLength);
        if (in.empty())
            return false;
        value.Kind = static_cast<TRegValueKind>(static_cast<uint8_t>(in.front()));
        in.remove_prefix(1);
        if (!GetUint32(in, dataLength) || dataLength > in.size())
            return false;
        value.Data = std::string(in.substr(0, dataLength));
        in.remove_prefix(dataLength);
        values.push_back(std::move(value));
    }
    return true;
}

bool TRegistry::StoreValues(const std::string& folder, const TValues& values) {
    std::string bytes(kMagic);
    for (const TValue& value : values) {
        PutUint32(bytes, static_cast<uint32_t>(value.Name.size()));
        bytes += value.Name;
        bytes += static_cast<char>(value.Kind);
        PutUint32(bytes, static_cast<uint32_t>(value.Data.size()));
        bytes += value.Data;
    }
    const std::string file = folder + "/" + std::string(kValuesFile);
    const bool ok = FFs.ReplaceContent(file, bytes, {.CreateMissing = true, .Flush = !FLazyWrite});
    return ok;
}

std::string TRegistry::CurrentFolder() const {
    return FCurrentFolder.empty() ? RootFolder() : FCurrentFolder;
}

TRegistry::TValues::iterator TRegistry::FindValue(TValues& values, std::string_view name) {
    return std::find_if(values.begin(), values.end(),
                        [&](const TValue& v) { return SameIgnoringAsciiCase(v.Name, name); });
}

bool TRegistry::ValueExists(std::string_view name) const {
    TRegValueKind kind;
    std::string data;
    return ReadValue(name, kind, data);
}

bool TRegistry::ReadValue(std::string_view name, TRegValueKind& kind, std::string& data) const {
    TValues values;
    if (!LoadValues(CurrentFolder(), values))
        return false;
    const auto it = FindValue(values, name);
    if (it == values.end())
        return false;
    kind = it->Kind;
    data = std::move(it->Data);
    return true;
}

bool TRegistry::WriteValue(std::string_view name, TRegValueKind kind, std::string_view data) {
    const std::string folder = CurrentFolder();
    std::error_code ec;
    fs::create_directories(folder, ec);
    TValues values;
    if (!LoadValues(folder, values))
        return false;
    const auto it = FindValue(values, name);
    if (it == values.end())
        values.push_back({std::string(name), kind, std::string(data)});
    else
        *it = {it->Name, kind, std::string(data)};
    return StoreValues(folder, values);
}

bool TRegistry::DeleteValue(std::string_view name) {
    const std::string folder = CurrentFolder();
    TValues values;
    if (!LoadValues(folder, values))
        return false;
    const auto it = FindValue(values, name);
    if (it == values.end())
        return false;
    values.erase(it);
    return StoreValues(folder, values);
}

bool TRegistry::DeleteKey(std::string_view path) {
    std::string folder, spelled;
    if (!Resolve(path, false, folder, spelled) || spelled.empty())
        return false;
    std::error_code ec;
    fs::remove_all(folder, ec);
    if (ec)
        return false;
    // A current key inside the deleted one no longer exists; fall back to the root.
    if (FCurrentFolder == folder || FCurrentFolder.starts_with(folder + "/"))
        CloseKey();
    return true;
}

bool TRegistry::GetKeyNames(std::vector<std::string>& names) const {
    names.clear();
    const std::string folder = CurrentFolder();
    std::error_code ec;
    std::vector<std::string> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (!entry.empty() && entry.front() != '.' && it->is_directory(ec))
            entries.push_back(DecodeKeyName(entry));
    }
    // Folders come back in no particular order; a sorted list is stable between runs.
    std::sort(entries.begin(), entries.end());
    names = std::move(entries);
    return true;
}

bool TRegistry::GetValueNames(std::vector<std::string>& names) const {
    names.clear();
    TValues values;
    if (!LoadValues(CurrentFolder(), values))
        return false;
    for (TValue& value : values)
        names.push_back(std::move(value.Name));
    return true;
}

bool TRegistry::RenameValue(std::string_view oldName, std::string_view newName) {
    const std::string folder = CurrentFolder();
    TValues values;
    if (!LoadValues(folder, values))
        return false;
    const auto source = FindValue(values, oldName);
    const bool taken = FindValue(values, newName) != values.end();
    if (source == values.end() || taken)
        return true;
    source->Name = std::string(newName);
    return StoreValues(folder, values);
}

} // namespace cantorell
