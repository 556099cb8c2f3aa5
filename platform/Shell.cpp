#include "platform/Shell.h"

#include "platform/MountWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::string LastComponent(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string RealPath(const std::string& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

// Labels of block devices as udev publishes them: /dev/disk/by-label/<label> -> device.
std::map<std::string, std::string> DeviceLabels() {
    std::map<std::string, std::string> labels;
    const std::string folder = "/dev/disk/by-label";
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return labels;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        labels[RealPath(folder + "/" + name)] = DecodeLabel(name);
    }
    ::closedir(dir);
    return labels;
}

std::string ToBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
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
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' &&
            std::isxdigit(static_cast<unsigned char>(name[i + 2])) &&
            std::isxdigit(static_cast<unsigned char>(name[i + 3]))) {
            out.push_back(
                static_cast<char>(std::stoi(std::string(name.substr(i + 2, 2)), nullptr, 16)));
            i += 3;
            continue;
        }
        out.push_back(name[i]);
    }
    return out;
}

TShell::~TShell() = default;

TShell& TShell::Default() {
    static TShell shell;
    return shell;
}

std::string TShell::HomePath() const {
    return ToBytes(QDir::homePath());
}

std::string TShell::DesktopPath() const {
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!desktop.isEmpty() && FolderExists(ToBytes(desktop)))
        return ToBytes(QDir::cleanPath(desktop));
    return HomePath();
}

std::string TShell::TrashPath() const {
    return ToBytes(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                   QStringLiteral("/Trash/files"));
}

std::string TShell::MountTable() const {
    std::string text;
    const int fd = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got > 0)
            text.append(buffer, static_cast<size_t>(got));
        else if (got < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    ::close(fd);
    return text;
}

std::vector<TVolume> TShell::Volumes() const {
    std::vector<TVolume> volumes;
    volumes.push_back(TVolume{"/", QStringLiteral("File System"), false});
    const std::string home = HomePath();
    std::map<std::string, std::string> labels;
    bool labelsRead = false;
    for (const TMountEntry& entry : ParseMountInfo(MountTable())) {
        if (!IsUserVolume(entry, home))
            continue;
        // A later mount on the same folder hides the earlier one.
        volumes.erase(
            std::remove_if(volumes.begin() + 1, volumes.end(),
                           [&](const TVolume& v) { return v.RootPath == entry.RootPath; }),
            volumes.end());
        std::string name;
        if (entry.Device.starts_with("/dev/")) {
            if (!labelsRead) {
                labels = DeviceLabels();
                labelsRead = true;
            }
            const auto label = labels.find(RealPath(entry.Device));
            if (label != labels.end())
                name = label->second;
        }
        if (name.empty())
            name = LastComponent(entry.RootPath);
        volumes.push_back(TVolume{entry.RootPath,
                                  QFile::decodeName(QByteArray::fromStdString(name)),
                                  IsNetworkFileSystem(entry.FileSystemType)});
    }
    return volumes;
}

bool TShell::ListFolders(const std::string& folder, std::vector<std::string>& names) const {
    names.clear();
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return false;
    const int dirFd = ::dirfd(dir);
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        bool isFolder = entry->d_type == DT_DIR;
        // Links are shown when they lead to a folder, as file managers do; some file systems
        // give no type at all and must be asked.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info;
            isFolder = ::fstatat(dirFd, name, &info, 0) == 0 && S_ISDIR(info.st_mode);
        }
        if (isFolder)
            names.emplace_back(name);
    }
    ::closedir(dir);
    return true;
}

bool TShell::FolderExists(const std::string& path) const {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

QIcon TShell::Icon(TShellIcon icon) const {
    const auto cached = Icons.find(icon);
    if (cached != Icons.end())
        return cached->second;
    QFileIconProvider provider;
    QIcon made;
    switch (icon) {
    case TShellIcon::siFolder:
        made = provider.icon(QAbstractFileIconProvider::Folder);
        break;
    case TShellIcon::siDrive:
        made = provider.icon(QAbstractFileIconProvider::Drive);
        break;
    case TShellIcon::siNetworkDrive:
        made = QIcon::fromTheme(QStringLiteral("folder-remote"),
                                provider.icon(QAbstractFileIconProvider::Network));
        break;
    case TShellIcon::siComputer:
        made = provider.icon(QAbstractFileIconProvider::Computer);
        break;
    case TShellIcon::siDesktop:
        made = provider.icon(QAbstractFileIconProvider::Desktop);
        break;
    case TShellIcon::siHome:
        made = QIcon::fromTheme(QStringLiteral("user-home"),
                                provider.icon(QAbstractFileIconProvider::Folder));
        break;
    case TShellIcon::siTrash:
        made = provider.icon(QAbstractFileIconProvider::Trashcan);
        break;
    case TShellIcon::siNetwork:
        made = provider.icon(QAbstractFileIconProvider::Network);
        break;
    }
    Icons[icon] = made;
    return made;
}

TShellNotifier::TShellNotifier(QObject* parent) : QObject(parent), Mounts(new TMountWatcher(this)) {
    connect(&Watcher, &QFileSystemWatcher::directoryChanged, this,
            [this](const QString& path) { emit FolderChanged(ToBytes(path)); });
    connect(Mounts, &TMountWatcher::MountsChanged, this, &TShellNotifier::MountsChanged);
}

TShellNotifier::~TShellNotifier() = default;

bool TShellNotifier::Watch(const std::string& folder) {
    int& count = Counts[folder];
    if (count++ > 0)
        return true;
    if (Watcher.addPath(QFile::decodeName(QByteArray::fromStdString(folder))))
        return true;
    Counts.erase(folder);
    return false;
}

void TShellNotifier::Unwatch(const std::string& folder) {
    const auto found = Counts.find(folder);
    if (found == Counts.end() || --found->second > 0)
        return;
    Counts.erase(found);
    const QString path = QFile::decodeName(QByteArray::fromStdString(folder));
    // The watcher forgets a folder by itself when the folder is deleted.
    if (Watcher.directories().contains(path))
        Watcher.removePath(path);
}

void TShellNotifier::UnwatchAll() {
    Counts.clear();
    const QStringList folders = Watcher.directories();
    if (!folders.isEmpty())
        Watcher.removePaths(folders);
}

bool TShellNotifier::IsWatching(const std::string& folder) const {
    return Counts.count(folder) != 0;
}

bool TShellNotifier::IsWatchingMounts() const {
    return Mounts->IsWatching();
}

} // namespace cantorell
