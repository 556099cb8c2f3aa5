#include "FormSeam.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>

namespace cantorell {

void TFormSeam::ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QGuiApplication::applicationDisplayName(), text,
                             QMessageBox::Ok);
}

bool TFormSeam::RunSaveDialog(QWidget* parent, const QString& proposed, QString& chosen) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    const QString textFiles = QStringLiteral("Text Files (*.txt)");
    dialog.setNameFilters({QStringLiteral("All files (*)"), textFiles});
    dialog.selectNameFilter(textFiles);
    dialog.selectFile(proposed);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    chosen = dialog.selectedFiles().first();
    return true;
}

void TFormSeam::CopyToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void TFormSeam::OpenAddress(const QUrl& address) {
    QDesktopServices::openUrl(address);
}

} // namespace cantorell
