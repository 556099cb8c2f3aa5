// The file list of the explorer: the files of one folder that match a mask, sorted by name.
#pragma once

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

signals:
    void Change();

private:
    QString FDirectory;
    QStringList FPatterns;
};

} // namespace cantorell
