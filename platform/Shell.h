// The desktop shell as the folder tree sees it: the user's special folders, the mounted
// volumes a user would open, the subfolders of a folder, standard icons, and notices of
// changes on disk.
//
// Paths are byte strings as the kernel keeps them (UTF-8 on any current desktop, but not
// checked), so a folder whose name is not valid UTF-8 can still be listed and opened; only
// the texts shown to the user are converted to QString.
#pragma once

#include "platform/MountTable.h"

#include <QFileSystemWatcher>
#include <QIcon>
#include <QObject>
#include <QString>

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace cantorell {

class TMountWatcher;

struct TVolume {
    std::string RootPath;
    QString DisplayName; // the file system's label, else the mount point's last component
    bool Network = false;
};

enum class TShellIcon {
    siFolder,
    siDrive,
    siNetworkDrive,
    siComputer,
    siDesktop,
    siHome,
    siTrash,
    siNetwork
};

class TShell {
public:
    TShell() = default;
    virtual ~TShell();
    TShell(const TShell&) = delete;
    TShell& operator=(const TShell&) = delete;

    // The real desktop of the user running the process.
    static TShell& Default();

    // The user's desktop folder, or the home folder when there is none.
    virtual std::string DesktopPath() const;
    virtual std::string HomePath() const;
    // The folder that holds the trashed items themselves (the "files" folder of the trash).
    virtual std::string TrashPath() const;
    // "/" first (named "File System"), then the user volumes in mount order. Built from the
    // mount table alone: no volume is touched, so a hung network mount cannot block.
    virtual std::vector<TVolume> Volumes() const;
    // Every mount point of the table, the system's own included.
    virtual std::vector<std::string> MountPoints() const;

    // The names of the subfolders of `folder`, hidden ones and links to folders included, in
    // the order the file system gives them. False when the folder cannot be read (missing,
    // not a folder, permission denied); `names` is then empty.
    virtual bool ListFolders(const std::string& folder, std::vector<std::string>& names) const;
    virtual bool FolderExists(const std::string& path) const;

    // Standard icons of the desktop's theme, made once. Needs a QGuiApplication.
    QIcon Icon(TShellIcon icon) const;

protected:
    // The mount table as text; a test shell may return its own.
    virtual std::string MountTable() const;

private:
    mutable std::map<TShellIcon, QIcon> Icons;
};

// Change notices for the folders a caller has asked about, and for the mount table. A
// folder is reported when an entry in it is created, removed or renamed (files included:
// the caller compares the folder's subfolders to see whether anything it shows changed),
// and when the folder itself goes away.
class TShellNotifier : public QObject {
    Q_OBJECT
public:
    explicit TShellNotifier(QObject* parent = nullptr);
    ~TShellNotifier() override;

    // Watching the same folder twice counts twice; it is dropped after as many Unwatch calls.
    // False when the system refuses to watch it (for example the inotify watch limit).
    bool Watch(const std::string& folder);
    void Unwatch(const std::string& folder);
    // Watches a watched folder again if the system dropped it: a folder deleted and made
    // anew under the same name is a new folder to the kernel.
    void Renew(const std::string& folder);
    bool IsWatching(const std::string& folder) const;
    bool IsWatchingMounts() const;

signals:
    void FolderChanged(const std::string& folder);
    void MountsChanged();

private:
    QFileSystemWatcher Watcher;
    TMountWatcher* Mounts = nullptr;
    std::map<std::string, int> Counts;
};

} // namespace cantorell
