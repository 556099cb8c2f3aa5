// The main window's browsing: the folder tree, the file list and the path field choose
// the shown file, asking first about unsaved edits of the one shown.
#include "app/main.h"

#include "app/Common.h"
#include "app/FileListBox.h"
#include "app/FormSeam.h"
#include "app/PictureBox.h"
#include "browse/FolderTree.h"
#include "platform/FileSystem.h"
#include "tags/ID3v1.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

namespace cantorell {

// ---------------------------------------------------------------------------------------
// Selection and display

void TFormMain::FolderTree1Change() {
    if (SelectingFolder)
        return;
    Guarded([this] {
        const QString folder = FromNativePath(FolderTree1->GetSelectedPath());
        // The tree also reports a selection it merely kept while folders came and went
        // around it; only a new folder is listed again.
        if (folder == FileListBox->Directory())
            return;
        if (!ConfirmLeave()) {
            // Back to the folder that is listed; that report changes nothing.
            ShowFolder(FileListBox->Directory());
            return;
        }
        FileListBox->SetDirectory(folder);
    });
}

void TFormMain::ShowFolder(const QString& folder) {
    QTreeWidgetItem* node = nullptr;
    if (!folder.isEmpty()) {
        node = FolderTree1->FindNodeByPath(NativePath(folder));
        const TFolderNode* entry = TFolderTree::NodeData(node);
        if (!entry || FromNativePath(entry->Path) != folder)
            node = nullptr; // a hidden folder, or one outside the tree's volumes
    }
    {
        const QSignalBlocker blocker(FolderTree1);
        SelectingFolder = true;
        if (node) {
            for (QTreeWidgetItem* up = node->parent(); up; up = up->parent())
                up->setExpanded(true);
            FolderTree1->setCurrentItem(node);
            FolderTree1->scrollToItem(node);
        } else {
            FolderTree1->clearSelection();
        }
        SelectingFolder = false;
    }
    if (folder != FileListBox->Directory())
        FileListBox->SetDirectory(folder);
}

bool TFormMain::OpenPath(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    const bool isFolder = info.isDir();
    const QString folder =
        QDir::cleanPath(isFolder ? info.absoluteFilePath() : info.absolutePath());
    if (folder != FileListBox->Directory() && !ConfirmLeave())
        return false;
    ShowFolder(folder);
    if (isFolder)
        return true;
    if (!FileListBox->SelectFile(info.fileName()))
        return false;
    return ShownPath == QDir(folder).filePath(info.fileName());
}

void TFormMain::FileListBoxSelect() {
    Guarded([this] {
        const QString path = FileListBox->FileName();
        if (!path.isEmpty() && path == ShownPath)
            return;
        if (!ConfirmLeave()) {
            // The user stays with the shown file: its row is selected again.
            const QSignalBlocker blocker(FileListBox);
            FileListBox->clearSelection();
            if (!ShownPath.isEmpty())
                FileListBox->SelectFile(QFileInfo(ShownPath).fileName());
            return;
        }
        FileListBoxChange();
    });
}

void TFormMain::FileListBoxChange() {
    Guarded([this] {
        ClearFields();
        ShownPath.clear();
        ID3v1Exists = ID3v2Exists = false;
        const QString path = FileListBox->FileName();
        const QFileInfo file(path);
        if (path.isEmpty() || !file.isFile()) {
            UpdateCommands();
            return;
        }
        ShownPath = path;
        Panel1->setText(file.fileName());
        // The three readers take the same file one after another: open it once for all.
        const TReadPin pin(TFileSystem::Default(), NativePath(path));
        ShowStreamInfo(path);
        ShowID3v2(path);
        ShowID3v1(path);
        UpdateCommands();
    });
}

bool TFormMain::ConfirmLeave() {
    if (!HasUnsavedChanges())
        return true;
    switch (Seam->AskSaveChanges(this, SaveChangesQuestion(ShownPath))) {
    case TSaveAnswer::saCancel:
        return false;
    case TSaveAnswer::saDiscard:
        ID3v1Loaded = ID3v1Fields();
        ID3v2Loaded = ID3v2Fields();
        Pictures->Clear();
        return true;
    case TSaveAnswer::saSave:
        break;
    }
    // Both pages are written before anything is read again, so neither page's edits are
    // lost to the other's refresh.
    const QString path = ShownPath;
    const bool v2 = ID3v2Edited();
    const bool v1 = ID3v1Fields() != ID3v1Loaded;
    if (v2 && !SaveID3v2(path))
        return false;
    // The ID3v1 object learns the file as the ID3v2 save left it, so its own save is not
    // taken for one over another program's change.
    if (v1 && ((v2 && !TagV1->ReadFromFile(NativePath(path))) || !SaveID3v1(path)))
        return false;
    ID3v1Loaded = ID3v1Fields();
    ID3v2Loaded = ID3v2Fields();
    return true;
}

void TFormMain::ReloadAll() {
    Guarded([this] {
        if (!ConfirmLeave())
            return;
        ID3v1Loaded = ID3v1Fields();
        ID3v2Loaded = ID3v2Fields();
        FileListBox->Refresh();
        FileListBoxChange();
    });
}

} // namespace cantorell
