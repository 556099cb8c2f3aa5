// The window's modal and outside-world interactions, behind one narrow interface: message
// boxes, the save dialog, the clipboard and the shell. The window uses the real ones; tests
// pass their own, so no test waits on a modal loop or races it with a timer.
#pragma once

#include <QString>
#include <QUrl>

class QWidget;

namespace cantorell {

// The answers to "Save the changes to <file>?".
enum class TSaveAnswer { saSave, saDiscard, saCancel };

class TFormSeam {
public:
    virtual ~TFormSeam() = default;

    // A modal message box with one OK button.
    virtual void ShowMessage(QWidget* parent, const QString& text);
    // A modal message box with the warning icon and one OK button: `message` on the first
    // line, `reason` (what the system said, may be empty) on the second.
    virtual void ShowError(QWidget* parent, const QString& message, const QString& reason);
    // Asks whether to save unsaved edits before they would be lost: Save, Discard or Cancel.
    virtual TSaveAnswer AskSaveChanges(QWidget* parent, const QString& question);
    // The save dialog of the lyrics page: proposes `proposed` with the text-file filter
    // selected; true with `chosen` set when the user confirms.
    virtual bool RunSaveDialog(QWidget* parent, const QString& proposed, QString& chosen);
    // The open dialog of the picture area, in `folder`, for JPEG, PNG, GIF, WebP and BMP
    // images; true with `chosen` set when the user confirms.
    virtual bool RunOpenPictureDialog(QWidget* parent, const QString& folder, QString& chosen);
    // The save dialog that exports a picture: proposes `proposed` (its extension names the
    // image's format); true with `chosen` set when the user confirms.
    virtual bool RunSavePictureDialog(QWidget* parent, const QString& proposed, QString& chosen);
    virtual void CopyToClipboard(const QString& text);
    // Opens an address or a document with the desktop's default handler.
    virtual void OpenAddress(const QUrl& address);
};

} // namespace cantorell
