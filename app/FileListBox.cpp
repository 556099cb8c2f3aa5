#include "FileListBox.h"

#include <QCollator>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QScrollBar>

#include <algorithm>

namespace cantorell {

namespace {

// Items of files that have vanished while selected carry this role, so a later refresh
// drops them once they are no longer selected.
constexpr int GoneRole = Qt::UserRole + 1;

} // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true); // lets a folder of thousands of files lay out at once
    // The selection, not the current row, is what the user chose: a mouse press moves the
    // current row before the row is selected, so the current row's signal comes too early.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        emit Change();
        // A vanished file's row goes once the user has chosen another.
        for (int i = 0; i < count(); ++i) {
            if (item(i)->data(GoneRole).toBool() && !item(i)->isSelected()) {
                ScheduleRefresh();
                break;
            }
        }
    });
    connect(&Watcher, &QFileSystemWatcher::directoryChanged, this, [this] { ScheduleRefresh(); });
}

void TFileListBox::SetMask(const QString& mask) {
    FPatterns = mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

QStringList TFileListBox::ReadNames() const {
    // QDir matches name filters without regard to case unless told otherwise, so
    // SONG.MP3 is listed as well as song.mp3.
    QStringList names;
    if (!FDirectory.isEmpty())
        names = QDir(FDirectory).entryList(FPatterns, QDir::Files, QDir::NoSort);
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), collator);
    return names;
}

void TFileListBox::SetDirectory(const QString& folder) {
    if (!Watcher.directories().isEmpty())
        Watcher.removePaths(Watcher.directories());
    FDirectory = folder;
    if (!folder.isEmpty() && QFileInfo(folder).isDir())
        Watcher.addPath(folder);

    QSignalBlocker blocker(this);
    clear();
    addItems(ReadNames());
    setCurrentRow(-1);
    blocker.unblock();
    emit Change();
}

void TFileListBox::ScheduleRefresh() {
    // A copy into the folder reports many changes in a row; one refresh after the event
    // loop has delivered them all is enough.
    if (RefreshQueued)
        return;
    RefreshQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            RefreshQueued = false;
            Refresh();
        },
        Qt::QueuedConnection);
}

void TFileListBox::Refresh() {
    const QListWidgetItem* selected = selectedItems().isEmpty() ? nullptr : selectedItems().first();
    const QString selectedName = selected ? selected->text() : QString();
    QStringList names = ReadNames();
    const bool gone = selected && !names.contains(selectedName);
    if (gone) {
        // The user may still be editing the vanished file's tags: its row stays, in
        // italics, until another file is chosen.
        names.append(selectedName);
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        std::sort(names.begin(), names.end(), collator);
    }
    // A folder deleted and made again is a new folder to the kernel; watch it afresh.
    if (!FDirectory.isEmpty() && Watcher.directories().isEmpty() && QFileInfo(FDirectory).isDir())
        Watcher.addPath(FDirectory);

    QStringList shown;
    for (int i = 0; i < count(); ++i)
        shown.append(item(i)->text());
    if (shown != names || gone != (selected && selected->data(GoneRole).toBool())) {
        // The selection does not change, so nobody is told: the window keeps its pages.
        QSignalBlocker blocker(this);
        const int scroll = verticalScrollBar()->value();
        clear();
        addItems(names);
        if (selected) {
            const QList<QListWidgetItem*> found = findItems(selectedName, Qt::MatchExactly);
            for (QListWidgetItem* item : found) {
                setCurrentItem(item);
                if (gone) {
                    QFont font = item->font();
                    font.setItalic(true);
                    item->setFont(font);
                    item->setData(GoneRole, true);
                    item->setToolTip(tr("This file is no longer in the folder."));
                }
            }
        } else {
            setCurrentRow(-1);
        }
        verticalScrollBar()->setValue(scroll);
    }
    emit Refreshed();
}

QString TFileListBox::FileName() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    if (selected.isEmpty() || FDirectory.isEmpty())
        return QString();
    return QDir(FDirectory).filePath(selected.first()->text());
}

bool TFileListBox::SelectFile(const QString& name) {
    const QList<QListWidgetItem*> found = findItems(name, Qt::MatchExactly);
    if (found.isEmpty())
        return false;
    setCurrentItem(found.first());
    scrollToItem(found.first());
    return true;
}

void TFileListBox::keyPressEvent(QKeyEvent* event) {
    // With nothing selected, the first arrow key press chooses the first file, as in a
    // file manager; the view alone would step past the row its focus frame is on.
    const bool arrow = event->key() == Qt::Key_Down || event->key() == Qt::Key_Up;
    if (arrow && event->modifiers() == Qt::NoModifier && selectedItems().isEmpty() && count() > 0) {
        setCurrentRow(0);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}

bool TFileListBox::SelectedFileIsGone() const {
    const QList<QListWidgetItem*> selected = selectedItems();
    return !selected.isEmpty() && selected.first()->data(GoneRole).toBool();
}

} // namespace cantorell
