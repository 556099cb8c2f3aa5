#include "platform/Shell.h"

#include "platform/MountWatcher.h"

#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cantorell {

namespace {

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

std::vector<std::string> TShell::MountPoints() const {
    std::vector<std::string> points;
    for (const TMountEntry& entry : ParseMountInfo(MountTable()))
        points.push_back(entry.RootPath);
    return points;
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

namespace {

// Where each of the shell's icons comes from: the platform's icon of a kind, or a themed
// icon by name with that one as the fallback when the theme lacks it.
struct TIconSource {
    TShellIcon Icon;
    QAbstractFileIconProvider::IconType Kind;
    const char* ThemeName; // null: the platform's icon alone
};

constexpr TIconSource kIconSources[] = {
    {TShellIcon::siFolder, QAbstractFileIconProvider::Folder, nullptr},
    {TShellIcon::siDrive, QAbstractFileIconProvider::Drive, nullptr},
    {TShellIcon::siNetworkDrive, QAbstractFileIconProvider::Network, "folder-remote"},
    {TShellIcon::siComputer, QAbstractFileIconProvider::Computer, nullptr},
    {TShellIcon::siDesktop, QAbstractFileIconProvider::Desktop, nullptr},
    {TShellIcon::siHome, QAbstractFileIconProvider::Folder, "user-home"},
    {TShellIcon::siTrash, QAbstractFileIconProvider::Trashcan, nullptr},
    {TShellIcon::siNetwork, QAbstractFileIconProvider::Network, nullptr},
};

} // namespace

QIcon TShell::Icon(TShellIcon icon) const {
    const auto cached = Icons.find(icon);
    if (cached != Icons.end())
        return cached->second;
    QIcon made;
    for (const TIconSource& source : kIconSources) {
        if (source.Icon != icon)
            continue;
        const QIcon platform = QFileIconProvider().icon(source.Kind);
        made = source.ThemeName == nullptr
                   ? platform
                   : QIcon::fromTheme(QString::fromLatin1(source.ThemeName), platform);
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

void TShellNotifier::Renew(const std::string& folder) {
    if (!Counts.count(folder))
        return;
    const QString path = QFile::decodeName(QByteArray::fromStdString(folder));
    if (!Watcher.directories().contains(path))
        Watcher.addPath(path);
}

bool TShellNotifier::IsWatching(const std::string& folder) const {
    return Counts.count(folder) != 0;
}

bool TShellNotifier::IsWatchingMounts() const {
    return Mounts->IsWatching();
}

} // namespace cantorell
