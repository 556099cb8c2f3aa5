#include "ElIniBackend.h"

#include "platform/FileSystem.h"

#include <cerrno>
#include <cstring>

namespace cantorell {

namespace {

std::string OsMessage(int error) {
    return std::strerror(error);
}

} // namespace

TElIniFileBackend::TElIniFileBackend(TFileSystem& fs, const TElIniFormat& format,
                                     const bool& lazyWrite, std::function<void()> saveNow,
                                     TElLineSplitter split)
    : FFs(fs), FFormat(format), FLazyWrite(lazyWrite), FSaveNow(std::move(saveNow)),
      FSplit(std::move(split)), FTree(format) {}

void TElIniFileBackend::SaveIfEager() {
    if (!FLazyWrite)
        FSaveNow();
}

bool TElIniFileBackend::OpenKey(const std::string& key, bool canCreate) {
    return FTree.OpenKey(key, canCreate);
}

bool TElIniFileBackend::KeyExists(const std::string& key) {
    const auto saved = FTree.SaveKey();
    const bool exists = FTree.OpenKey(key, false);
    FTree.RestoreKey(saved);
    return exists;
}

TElIniEntry* TElIniFileBackend::GetValueEntry(const std::string& key, const std::string& name) {
    const auto saved = FTree.SaveKey();
    TElIniEntry* node =
        FTree.OpenKey(key, false) ? FTree.FindValueIn(FTree.CurrentEntry(), name) : nullptr;
    FTree.RestoreKey(saved);
    return node;
}

TElIniEntry* TElIniFileBackend::CreateValue(const std::string& key, const std::string& name) {
    const auto saved = FTree.SaveKey();
    if (!FTree.OpenKey(key, true)) {
        FTree.RestoreKey(saved);
        return nullptr;
    }
    TElIniEntry* node = FTree.FindValueIn(FTree.CurrentEntry(), name);
    if (node != nullptr)
        node->ClearValue();
    else
        node = FTree.CurrentEntry()->AddChild(name, false);
    FTree.MarkModified();
    FTree.RestoreKey(saved);
    return node;
}

const TElIniValue* TElIniFileBackend::ReadValue(const std::string& key, const std::string& name,
                                                TElIniValue&) {
    return GetValueEntry(key, name);
}

bool TElIniFileBackend::WriteValue(const std::string& key, const std::string& name,
                                   TElIniValue&& value) {
    // The flat store keeps texts and integers only.
    if (FFormat.Simple && value.ValueType != evtString && value.ValueType != evtInteger)
        return false;
    TElIniEntry* node = CreateValue(key, name);
    if (node == nullptr)
        return false;
    static_cast<TElIniValue&>(*node) = std::move(value);
    FTree.MarkModified();
    SaveIfEager();
    return true;
}

bool TElIniFileBackend::Delete(const std::string& key, const std::string& name) {
    TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr || node == &FTree.Root())
        return false;
    // The current key may not stay inside what is removed: its parent takes over.
    FTree.LeaveSubtree(node, node->Parent);
    node->Parent->RemoveChild(node);
    FTree.MarkModified();
    return true;
}

bool TElIniFileBackend::ClearKey(const std::string& key) {
    TElIniEntry* node = GetValueEntry(key, std::string());
    if (node == nullptr)
        return false;
    FTree.LeaveSubtree(node, node);
    node->ClearChildren();
    FTree.MarkModified();
    SaveIfEager();
    return true;
}

bool TElIniFileBackend::ChildNames(const std::string& key, TStrings& strings, bool keys) {
    const auto saved = FTree.SaveKey();
    if (!FTree.OpenKey(key, true)) {
        FTree.RestoreKey(saved);
        return false;
    }
    const TElIniEntry* opened = FTree.CurrentEntry();
    for (int32_t i = 0; i < opened->ChildCount(); ++i)
        if (opened->Child(i)->IsKey == keys)
            strings.push_back(opened->Child(i)->Name());
    FTree.RestoreKey(saved);
    return true;
}

bool TElIniFileBackend::Rename(TElIniEntry& node, const std::string& newName) {
    node.Rename(newName);
    FTree.MarkModified();
    if (IsWithin(FTree.CurrentEntry(), &node))
        FTree.RespellCurrentKey();
    return true;
}

bool TElIniFileBackend::RenameKey(const std::string& key, const std::string& newName) {
    TElIniEntry* node = GetValueEntry(key, std::string());
    const char delimiter = FFormat.Delimiter;
    if (node == nullptr || newName.find(delimiter) != std::string::npos)
        return false;
    std::string sibling = key;
    if (!sibling.empty() && sibling.back() == delimiter)
        sibling.pop_back();
    const size_t pos = sibling.rfind(delimiter);
    sibling = (pos == std::string::npos ? std::string() : sibling.substr(0, pos + 1)) + newName;
    if (KeyExists(sibling))
        return false;
    return Rename(*node, newName);
}

bool TElIniFileBackend::RenameValue(const std::string& key, const std::string& name,
                                    const std::string& newName) {
    TElIniEntry* node = GetValueEntry(key, name);
    if (node == nullptr || node == &FTree.Root())
        return false;
    if (newName.find(FFormat.Delimiter) != std::string::npos ||
        GetValueEntry(key, newName) != nullptr)
        return false;
    return Rename(*node, newName);
}

bool TElIniFileBackend::Load(const std::function<void()>& before,
                             const std::function<void()>& after) {
    before();
    FTree.Clear();
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
        after();
        throw;
    }
    after();
    return true;
}

bool TElIniFileBackend::Save() {
    if (FPath.empty())
        return false;
    // The new content replaces the file as a whole (a link is followed, and the file keeps
    // its owner, mode and attributes), so a full disk or a missing permission never leaves
    // a truncated options file; anything but a regular file is left alone.
    const std::string bytes = SaveToBytes();
    errno = 0;
    if (!FFs.ReplaceContent(FPath, bytes, {.CreateMissing = true})) {
        std::string message =
            "Cannot save the options file \"" + FPath + "\": " + OsMessage(errno ? errno : EIO);
        if (!FFs.FailureNote().empty())
            message += " " + FFs.FailureNote();
        throw EElFileError(message);
    }
    FTree.ClearModified();
    return true;
}

void TElIniFileBackend::LoadFromBytes(std::string_view bytes, const std::string& source) {
    FTree.Clear();
    if (FFormat.BinaryMode)
        ReadIniBinary(bytes, FFormat, source, FTree);
    else
        ReadIniText(bytes, FFormat, FSplit, FTree);
}

std::string TElIniFileBackend::SaveToBytes() const {
    return FFormat.BinaryMode ? WriteIniBinary(FTree.Root(), FFormat)
                              : WriteIniText(FTree.Root(), FFormat);
}

} // namespace cantorell
