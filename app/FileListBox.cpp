#include "FileListBox.h"

#include <QCollator>
#include <QDir>

#include <algorithm>

namespace cantorell {

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true); // lets a folder of thousands of files lay out at once
    connect(this, &QListWidget::currentRowChanged, this, [this] { emit Change(); });
}

void TFileListBox::SetMask(const QString& mask) {
    FPatterns = mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

void TFileListBox::SetDirectory(const QString& folder) {
    FDirectory = folder;
    // QDir matches name filters without regard to case unless told otherwise, so
    // SONG.MP3 is listed as well as song.mp3.
    QStringList names;
    if (!folder.isEmpty()) {
        QDir dir(folder);
        names = dir.entryList(FPatterns, QDir::Files, QDir::NoSort);
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::sort(names.begin(), names.end(), collator);

    QSignalBlocker blocker(this);
    clear();
    addItems(names);
    setCurrentRow(-1);
    blocker.unblock();
    emit Change();
}

QString TFileListBox::FileName() const {
    const QListWidgetItem* item = currentItem();
    if (!item || !item->isSelected() || FDirectory.isEmpty())
        return QString();
    return QDir(FDirectory).filePath(item->text());
}

} // namespace cantorell
