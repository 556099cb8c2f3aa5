#include "FormSeam.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>

namespace cantorell {

void TFormSeam::ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox::information(parent, QGuiApplication::applicationDisplayName(), text,
                             QMessageBox::Ok);
}

void TFormSeam::ShowError(QWidget* parent, const QString& message, const QString& reason) {
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(),
                    reason.isEmpty() ? message : message + QLatin1Char('\n') + reason,
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

TSaveAnswer TFormSeam::AskSaveChanges(QWidget* parent, const QString& question) {
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), question,
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Save);
    box.setEscapeButton(QMessageBox::Cancel);
    switch (box.exec()) {
    case QMessageBox::Save:
        return TSaveAnswer::saSave;
    case QMessageBox::Discard:
        return TSaveAnswer::saDiscard;
    default:
        return TSaveAnswer::saCancel;
    }
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

bool TFormSeam::RunOpenPictureDialog(QWidget* parent, const QString& folder, QString& chosen) {
    chosen = QFileDialog::getOpenFileName(
        parent, QStringLiteral("Add or replace a picture"), folder,
        QStringLiteral("Images (*.jpg *.jpeg *.png *.gif *.webp *.bmp);;All files (*)"));
    return !chosen.isEmpty();
}

bool TFormSeam::RunSavePictureDialog(QWidget* parent, const QString& proposed, QString& chosen) {
    const QString suffix = QFileInfo(proposed).suffix();
    chosen =
        QFileDialog::getSaveFileName(parent, QStringLiteral("Export the picture"), proposed,
                                     QStringLiteral("Image (*.%1);;All files (*)").arg(suffix));
    return !chosen.isEmpty();
}

void TFormSeam::CopyToClipboard(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void TFormSeam::OpenAddress(const QUrl& address) {
    QDesktopServices::openUrl(address);
}

} // namespace cantorell
