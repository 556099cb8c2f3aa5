// The file list of the explorer: the files of one folder that match a mask, sorted by name.
//
// The list watches its folder: files that appear, vanish or are renamed by other programs
// are merged in place, so the selection and the window's pages stay as they are. The
// selected file is kept in the list even when it vanishes from the disk (shown in italics),
// because the window still shows its pages and the user's unsaved edits.
#pragma once

#include <QFileSystemWatcher>
#include <QListWidget>
#include <QStringList>

namespace cantorell {

class TFileListBox : public QListWidget {
    Q_OBJECT

public:
    explicit TFileListBox(QWidget* parent = nullptr);

    // Patterns separated by ";", matched without regard to case ("*.mp?;*.mp+").
    void SetMask(const QString& mask);
    // Lists the folder's matching files, then reports a change with nothing selected.
    void SetDirectory(const QString& folder);
    const QString& Directory() const { return FDirectory; }
    // Full path of the selected file; empty when none is selected.
    QString FileName() const;
    // Selects the file of that name (no folder part) in the list; false when it is not
    // listed. The selection change is reported like a click.
    bool SelectFile(const QString& name);
    // Reads the folder again and merges what changed, keeping the selection.
    void Refresh();
    // Whether the selected file has vanished from the disk since it was listed.
    bool SelectedFileIsGone() const;

signals:
    // The selected file changed (or nothing is selected any more).
    void Change();
    // The listed names were brought in line with the folder on disk.
    void Refreshed();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QStringList ReadNames() const;
    void ScheduleRefresh();

    QString FDirectory;
    QStringList FPatterns;
    QFileSystemWatcher Watcher;
    bool RefreshQueued = false;
};

} // namespace cantorell
