// A shell whose desktop, home, trash and volumes are folders of a temporary tree, so the
// folder tree can be tested without reading the real home folder or mount table. Folder
// reading is the real one; every folder read is recorded.
#pragma once

#include "platform/Shell.h"

#include <QDir>
#include <QTemporaryDir>

#include <set>
#include <string>
#include <vector>

namespace cantorell::test {

class TFakeShell : public TShell {
public:
    TFakeShell() {
        Root = QDir(Temp.path()).canonicalPath().toStdString();
        MakeFolders({"Desktop", "home", "root", "usb", "nas"});
        Desktop = Root + "/Desktop";
        Home = Root + "/home";
        Trash = Root + "/home/.local/share/Trash/files";
        FakeVolumes = {{Root + "/root", "File System", false}, {Root + "/usb", "USB", false}};
    }

    // Makes the folders (relative to the temporary root), with their parents.
    void MakeFolders(const std::vector<std::string>& folders) const {
        for (const std::string& folder : folders)
            QDir().mkpath(QString::fromStdString(Root + "/" + folder));
    }
    std::string Path(const std::string& relative) const { return Root + "/" + relative; }

    std::string DesktopPath() const override { return Desktop; }
    std::string HomePath() const override { return Home; }
    std::string TrashPath() const override { return Trash; }
    std::vector<TVolume> Volumes() const override { return FakeVolumes; }
    std::vector<std::string> MountPoints() const override {
        std::vector<std::string> points = ExtraMountPoints;
        for (const TVolume& volume : FakeVolumes)
            points.push_back(volume.RootPath);
        return points;
    }
    bool ListFolders(const std::string& folder, std::vector<std::string>& names) const override {
        Read.push_back(folder);
        if (Vanished.count(folder)) {
            names.clear();
            return false;
        }
        if (!TShell::ListFolders(folder, names))
            return false;
        std::erase_if(names, [&](const std::string& name) {
            return Vanished.count(folder + "/" + name) != 0;
        });
        return true;
    }
    bool FolderExists(const std::string& path) const override {
        return !Vanished.count(path) && TShell::FolderExists(path);
    }

    QTemporaryDir Temp;
    std::string Root, Desktop, Home, Trash;
    std::vector<TVolume> FakeVolumes;
    // Mount points that are not volumes a user would open.
    std::vector<std::string> ExtraMountPoints;
    // Folders the shell pretends are gone although they are on disk.
    std::set<std::string> Vanished;
    mutable std::vector<std::string> Read;
};

} // namespace cantorell::test
