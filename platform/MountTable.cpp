#include "platform/MountTable.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace cantorell {

namespace {

// File systems that hold no user files: kernel interfaces, memory-backed scratch space,
// container layers and packaged read-only images (snaps).
constexpr std::array PseudoTypes = {
    "autofs",        "binfmt_misc", "bpf",        "cgroup",          "cgroup2",     "configfs",
    "debugfs",       "devfs",       "devpts",     "devtmpfs",        "efivarfs",    "fusectl",
    "hugetlbfs",     "mqueue",      "nsfs",       "overlay",         "proc",        "pstore",
    "ramfs",         "rpc_pipefs",  "securityfs", "selinuxfs",       "squashfs",    "sysfs",
    "tmpfs",         "tracefs",     "nfsd",       "fuse.gvfsd-fuse", "fuse.portal", "fuse.lxcfs",
    "fuse.snapfuse", "swap"};

constexpr std::array NetworkTypes = {"nfs",         "nfs4",           "cifs",       "smb3",
                                     "smbfs",       "ncpfs",          "afs",        "ceph",
                                     "davfs",       "glusterfs",      "fuse.sshfs", "sshfs",
                                     "fuse.rclone", "fuse.glusterfs", "fuse.davfs2"};

// Folders of the system itself; a mount there is the system's business even when it is a
// network share (a shared /usr or /var, for example).
constexpr std::array SystemFolders = {"/boot", "/dev", "/efi", "/etc", "/proc", "/run",
                                      "/snap", "/sys", "/tmp", "/usr", "/var"};

bool StartsWithFolder(std::string_view path, std::string_view folder) {
    if (folder.empty() || path.size() <= folder.size() || path.substr(0, folder.size()) != folder)
        return false;
    return folder.back() == '/' || path[folder.size()] == '/';
}

bool IsOrIsBelow(std::string_view path, std::string_view folder) {
    return path == folder || StartsWithFolder(path, folder);
}

// mountinfo writes blank, tab, newline and backslash in paths as a backslash and three octal
// digits.
std::string DecodeOctal(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const char a = field[i + 1], b = field[i + 2], c = field[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(field[i]);
    }
    return out;
}

std::vector<std::string_view> SplitFields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ')
            ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ')
            ++i;
        if (i > start)
            fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

} // namespace

std::vector<TMountEntry> ParseMountInfo(std::string_view text) {
    std::vector<TMountEntry> entries;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::vector<std::string_view> fields = SplitFields(text.substr(start, end - start));
        start = end + 1;
        // Six fixed fields, any number of optional ones, the "-" separator, then type and
        // source.
        const auto separator = std::find(fields.begin(), fields.end(), std::string_view("-"));
        if (fields.size() < 6 || separator - fields.begin() < 6 || fields.end() - separator < 3)
            continue;
        entries.push_back(TMountEntry{DecodeOctal(fields[4]), DecodeOctal(*(separator + 2)),
                                      DecodeOctal(*(separator + 1))});
    }
    return entries;
}

bool IsNetworkFileSystem(std::string_view type) {
    return std::find(NetworkTypes.begin(), NetworkTypes.end(), type) != NetworkTypes.end();
}

bool IsUserVolume(const TMountEntry& entry, const std::string& home) {
    const std::string& path = entry.RootPath;
    if (path.empty() || path[0] != '/' || path == "/")
        return false;
    if (std::find(PseudoTypes.begin(), PseudoTypes.end(), entry.FileSystemType) !=
        PseudoTypes.end())
        return false;
    // A mount inside a dot folder was hidden on purpose (caches, sandboxes, portals).
    if (path.find("/.") != std::string::npos)
        return false;
    if (StartsWithFolder(path, "/media") || StartsWithFolder(path, "/run/media") ||
        StartsWithFolder(path, "/mnt"))
        return true;
    if (home.size() > 1 && StartsWithFolder(path, home))
        return true;
    if (!IsNetworkFileSystem(entry.FileSystemType))
        return false;
    return std::none_of(SystemFolders.begin(), SystemFolders.end(),
                        [&](const char* folder) { return IsOrIsBelow(path, folder); });
}

std::string DecodeLabel(std::string_view name) {
    const auto hex = [](char c) {
        return std::isdigit(static_cast<unsigned char>(c))
                   ? c - '0'
                   : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    };
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            out.push_back(static_cast<char>(hex(name[i + 2]) * 16 + hex(name[i + 3])));
            i += 3;
            continue;
        }
        out.push_back(name[i]);
    }
    return out;
}

} // namespace cantorell
