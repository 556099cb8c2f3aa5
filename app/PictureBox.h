// The picture area of the ID3v2 page: the front cover (else the first picture) scaled to
// fit, what it is beneath it, a selector through several pictures, and the commands to add
// or replace, export and remove a picture; an image file dropped on it is added.
//
// Changes stay in the area until the tag is saved: the window asks Changed() for its
// unsaved-edits question and calls ApplyTo() before it writes the tag.
//
// Showing a tag costs nothing per picture but its description: the area keeps, for each
// picture of the tag, only a reference to where its bytes are. The bytes are loaded and
// decoded on a worker thread, at the size they are shown where the format allows, with an
// allocation limit, so a huge or hostile picture never blocks or exhausts the window. A
// request that is no longer the latest when its turn comes loads nothing, and a result
// that arrives after another picture or file was shown is thrown away. Export loads the
// bytes when it is asked to. Only a picture the user added or replaced is held in memory,
// until the tag is saved.
#pragma once

#include "tags/DID3v2.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QToolButton;

namespace cantorell {

class TFormSeam;

// The most memory a picture's decoding may take, in megabytes.
inline constexpr int PictureAllocationLimitMB = 64;

// Decodes `bytes` to an image that fits `box`, keeping its aspect ratio; a null image when
// the bytes are no image the reader knows, or would take more than the allocation limit.
// Safe on any thread.
QImage DecodePicture(const std::string& bytes, QSize box);

class TPictureBox : public QWidget {
    Q_OBJECT

public:
    TPictureBox(TFormSeam& seam, QWidget* parent = nullptr);
    ~TPictureBox() override;

    // Shows the pictures of a tag just read; `file` names the file for messages.
    void ShowTag(const TDID3v2& tag, const QString& file);
    // The window read the same file into `tag` again without showing it afresh (the other
    // tag was saved): each picture of the tag still shown as read takes its new reference,
    // so that it still loads; the user's changes stay.
    void FileReadAgain(const TDID3v2& tag);
    // No file: no pictures, nothing changed.
    void Clear();
    // Whether the user added, replaced or removed a picture since ShowTag.
    bool Changed() const { return FChanged; }
    // Writes the user's changes into `tag` (the object ShowTag was given, read again or
    // not), for a save.
    void ApplyTo(TDID3v2& tag) const;
    // Adds the image file as a picture of the type chosen in the type list, replacing the
    // one of that type. False (and a message naming the file) when it is no image.
    bool AddFile(const QString& path);

    // The picture shown: its position in the list, and how many there are.
    int Current() const { return FCurrent; }
    int Count() const { return static_cast<int>(FEntries.size()); }

    QLabel* Image = nullptr;    // the picture, or "No preview"
    QLabel* Info = nullptr;     // type, MIME type, pixel size, bytes
    QLabel* Selector = nullptr; // "2 of 3 · Back cover"
    QToolButton* btPrevPicture = nullptr;
    QToolButton* btNextPicture = nullptr;
    QComboBox* PictureType = nullptr; // the type of a picture added
    QToolButton* btAddPicture = nullptr;
    QToolButton* btExportPicture = nullptr;
    QToolButton* btRemovePicture = nullptr;

signals:
    // The user changed the pictures.
    void Edited();
    // The shown picture's preview was put up (or "No preview"): tests wait on it.
    void PreviewReady();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    struct TEntry {
        int Item = -1; // the tag's item, -1 for a picture added here
        uint8_t Type = 0;
        QString Mime;
        QString Description;
        qint64 Bytes = 0;
        QSize Pixels;
        bool Valid = true;     // the frame's fields could be read
        bool Replaced = false; // the item's image was replaced here
        // Where the tag's image bytes are, for the worker and for Export.
        TDID3v2::TPictureRef Ref;
        // The image of a picture added or replaced here, kept until the tag is saved.
        std::shared_ptr<const std::string> Added;
    };

    void ShowCurrent();
    void Step(int delta);
    void AddClick();
    void ExportClick();
    void RemoveClick();
    void UpdateButtons();

    TFormSeam& Seam;
    QString FFile;
    std::vector<TEntry> FEntries;
    std::vector<int> FRemoved; // tag items the user removed
    int FCurrent = -1;
    bool FChanged = false;
    // Each preview request gets a number; the worker skips, and the window drops, any
    // whose number is no longer the latest.
    std::shared_ptr<std::atomic<uint64_t>> FLatest;
    // Loads and decodes previews, one at a time.
    QThreadPool FDecoder;
};

} // namespace cantorell
