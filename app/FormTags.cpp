// The main window's tag pages: filling them from the file, telling edits, saving and
// removing either tag, and the lyrics' copy and export.
#include "app/main.h"

#include "app/Common.h"
#include "app/FormSeam.h"
#include "app/PictureBox.h"
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

#include <cerrno>
#include <stdexcept>

namespace cantorell {

namespace {

const QString TagNotFound = QStringLiteral("Tag Not Found");

// ID3v1 edit boxes take at most 255 bytes of text before the tag's setters trim and cut.
std::string ToLatin1Field(const QString& text) {
    return text.toLatin1().left(255).toStdString();
}

// Removes leading and trailing characters up to U+0020 (spaces and control characters).
QString TrimControl(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin].unicode() <= 0x20)
        ++begin;
    while (end > begin && text[end - 1].unicode() <= 0x20)
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

void TFormMain::ClearID3v1Page() {
    for (QLineEdit* edit : {Ed1Title, Ed1Album, Ed1Artist, Ed1Track, Ed1Year, Ed1Comment}) {
        edit->clear();
        edit->setReadOnly(false);
    }
    Ed1Genre->setCurrentIndex(0);
    ID3v1Loaded = ID3v1Fields();
}

void TFormMain::ClearID3v2Page() {
    for (QLineEdit* edit : {Ed2Track, Ed2Artist, Ed2Album, Ed2Title, Ed2Year}) {
        edit->clear();
        edit->setReadOnly(false);
    }
    Ed2Comment->clear();
    Ed2Lyrics->clear();
    Ed2Genre->setCurrentIndex(0);
    Ed2Comment->setReadOnly(false);
    Ed2Lyrics->setReadOnly(false);
    Pictures->Clear();
    ID3v2Loaded = ID3v2Fields();
}

void TFormMain::ClearFields() {
    ClearID3v1Page();
    ClearID3v2Page();
    MemoInfo->clear();
    Panel1->setText(QStringLiteral("File name: "));
}

QStringList TFormMain::ID3v1Fields() const {
    return {Ed1Title->text(), Ed1Album->text(),   Ed1Artist->text(),      Ed1Track->text(),
            Ed1Year->text(),  Ed1Comment->text(), Ed1Genre->currentText()};
}

QStringList TFormMain::ID3v2Fields() const {
    return {Ed2Title->text(),          Ed2Album->text(),        Ed2Artist->text(),
            Ed2Track->text(),          Ed2Year->text(),         Ed2Genre->currentText(),
            Ed2Comment->toPlainText(), Ed2Lyrics->toPlainText()};
}

bool TFormMain::ID3v2Edited() const {
    return ID3v2Fields() != ID3v2Loaded || Pictures->Changed();
}

bool TFormMain::HasUnsavedChanges() const {
    return !ShownPath.isEmpty() && (ID3v1Fields() != ID3v1Loaded || ID3v2Edited());
}

void TFormMain::UpdateCommands() {
    const bool shown = !ShownPath.isEmpty();
    btSAVE->setEnabled(shown);
    SpeedButton8->setEnabled(shown);
    btREMOVEv1->setEnabled(shown && ID3v1Exists);
    btREMOVEv2->setEnabled(shown && ID3v2Exists);
}

void TFormMain::ShowID3v2(const QString& path) {
    ID3v2Exists = false;
    if (TagV2->ReadFromFile(NativePath(path))) {
        ID3v2Exists = TagV2->Exists;
        if (!TagV2->Exists) {
            LB2INFO->setText(TagNotFound);
        } else {
            LB2INFO->setText(QStringLiteral("2.") + QString::number(TagV2->VersionID));
            Ed2Title->setText(FromUtf8(TagV2->Title));
            Ed2Album->setText(FromUtf8(TagV2->Album));
            Ed2Artist->setText(FromUtf8(TagV2->Artist));
            Ed2Track->setText(FromUtf8(TagV2->Track));
            Ed2Year->setText(FromUtf8(TagV2->Year));
            Ed2Genre->setEditText(FromUtf8(TagV2->Genre));
            Ed2Comment->setPlainText(FromUtf8(TagV2->GetComment(TagV2->MainCommentIndex())));
            Ed2Lyrics->setPlainText(FromUtf8(TagV2->GetLyrics(0)));
        }
        Pictures->ShowTag(*TagV2, path);
    }
    ID3v2Loaded = ID3v2Fields();
}

void TFormMain::ShowID3v1(const QString& path) {
    ID3v1Exists = false;
    if (TagV1->ReadFromFile(NativePath(path))) {
        ID3v1Exists = TagV1->Exists();
        if (!TagV1->Exists()) {
            LB1INFO->setText(TagNotFound);
        } else {
            LB1INFO->setText(QStringLiteral("1.") + QString::number(TagV1->VersionID() - 1));
            Ed1Title->setText(FromLatin1(TagV1->Title()));
            Ed1Album->setText(FromLatin1(TagV1->Album()));
            Ed1Artist->setText(FromLatin1(TagV1->Artist()));
            Ed1Track->setText(QString::number(TagV1->Track()));
            Ed1Year->setText(FromLatin1(TagV1->Year()));
            // The genre's own item is selected, so that saving an edited title keeps the
            // genre.
            const int genre = TagV1->GenreID();
            Ed1Genre->setCurrentIndex(genre < GenreCount ? genre + 1 : 0);
            Ed1Comment->setText(FromLatin1(TagV1->Comment()));
        }
    }
    ID3v1Loaded = ID3v1Fields();
}

void TFormMain::ShowStreamInfo(const QString& path) {
    errno = 0;
    if (!MpegAudio->ReadFromFile(NativePath(path))) {
        ShowFailure(MsgCanNotRead, path, errno);
        return;
    }
    // Without an audio frame the analyser reports no size; the page still tells the real
    // one, and that no audio was found.
    const QStringList lines = StreamLines(*MpegAudio, QFileInfo(path).size());
    for (const QString& line : lines)
        MemoInfo->appendPlainText(line);
}

// ---------------------------------------------------------------------------------------
// Tag commands

void TFormMain::btSAVEClick() {
    Guarded([this] {
        if (SaveID3v1(ShownPath))
            ReloadPage(fpID3v1);
    });
}

void TFormMain::SpeedButton8Click() {
    Guarded([this] {
        if (SaveID3v2(ShownPath))
            ReloadPage(fpID3v2);
    });
}

void TFormMain::SaveShownPage() {
    if (ShownPath.isEmpty())
        return;
    // The lyrics are part of the ID3v2 tag.
    const int page = PageControl->currentIndex();
    if (page == fpID3v1)
        btSAVEClick();
    else if (page == fpID3v2 || page == fpLyrics)
        SpeedButton8Click();
}

void TFormMain::ReloadPage(TFormPage page) {
    const QString path = ShownPath;
    if (path.isEmpty())
        return;
    const TReadPin pin(TFileSystem::Default(), NativePath(path));
    MemoInfo->clear();
    ShowStreamInfo(path);
    // The other tag's object reads the file again too, without touching its page: it then
    // knows the file as it is now, so saving that page's edits next is not taken for a
    // save over another program's change.
    if (page == fpID3v1) {
        ClearID3v1Page();
        ShowID3v1(path);
        if (TagV2->ReadFromFile(NativePath(path)))
            Pictures->FileReadAgain(*TagV2);
    } else {
        ClearID3v2Page();
        ShowID3v2(path);
        const bool existed = ID3v1Exists;
        ID3v1Exists = TagV1->ReadFromFile(NativePath(path)) ? TagV1->Exists() : existed;
    }
    UpdateCommands();
}

bool TFormMain::SaveID3v1(const QString& path) {
    TagV1->SetTitle(ToLatin1Field(Ed1Title->text()));
    TagV1->SetAlbum(ToLatin1Field(Ed1Album->text()));
    TagV1->SetArtist(ToLatin1Field(Ed1Artist->text()));
    TagV1->SetYear(ToLatin1Field(Ed1Year->text()));
    TagV1->SetComment(ToLatin1Field(Ed1Comment->text()));
    TagV1->SetTrack(ParseTrack(Ed1Track->text()));

    // The selected item names the genre while its text is shown; a text the user typed
    // names a genre by its name or number, and no genre otherwise.
    uint8_t genre = TID3v1::NoGenre;
    const QString shown = Ed1Genre->currentText();
    const int index = Ed1Genre->currentIndex();
    if (index > 0 && Ed1Genre->itemText(index) == shown)
        genre = static_cast<uint8_t>(index - 1);
    else if (!ParseGenre(shown, genre))
        genre = TID3v1::NoGenre;
    TagV1->SetGenreID(genre);

    errno = 0;
    if (!TagV1->SaveToFile(NativePath(path))) {
        const int error = errno;
        ShowFailure(MsgCanNotSaveV1, path, error, TagV1->FailureNote());
        return false;
    }
    return true;
}

bool TFormMain::SaveID3v2(const QString& path) {
    TagV2->Title = ToUtf8(Ed2Title->text());
    TagV2->Album = ToUtf8(Ed2Album->text());
    TagV2->Artist = ToUtf8(Ed2Artist->text());
    TagV2->Track = ToUtf8(Ed2Track->text());
    TagV2->Year = ToUtf8(Ed2Year->text());
    TagV2->Genre = ToUtf8(Ed2Genre->currentText());
    // A memo the user left as it was shown passes nothing on, so the frame is kept as read
    // even when its line ends are not the CR LF that a memo gives back.
    const int comment = TagV2->MainCommentIndex();
    if (MemoEdited(Ed2Comment, TagV2->GetComment(comment)))
        TagV2->SetComment(ToUtf8(MemoText(Ed2Comment)), comment);
    if (MemoEdited(Ed2Lyrics, TagV2->GetLyrics(0)))
        TagV2->SetLyrics(ToUtf8(MemoText(Ed2Lyrics)), 0);
    Pictures->ApplyTo(*TagV2);
    errno = 0;
    if (!TagV2->SaveToFile(NativePath(path))) {
        ShowFailure(MsgCanNotSaveV2, path, errno, TagV2->FailureNote());
        return false;
    }
    return true;
}

void TFormMain::btREMOVEv1Click() {
    RemoveTag(
        [this](const std::string& file) {
            const bool removed = TagV1->RemoveFromFile(file);
            RemoveNote = TagV1->FailureNote();
            return removed;
        },
        MsgCanNotRemoveV1, fpID3v1);
}

void TFormMain::btREMOVEv2Click() {
    RemoveTag([this](const std::string& file) { return TagV2->RemoveFromFile(file); },
              MsgCanNotRemoveV2, fpID3v2);
}

// After a removal the stream summary and the removed tag's page are read again; the other
// page keeps what the user typed. After a failure nothing is re-read.
void TFormMain::RemoveTag(const std::function<bool(const std::string&)>& remove,
                          const QString& failure, TFormPage page) {
    Guarded([&] {
        const QString path = ShownPath;
        errno = 0;
        RemoveNote.clear();
        if (!remove(NativePath(path))) {
            const int error = errno;
            ShowFailure(failure, path, error, RemoveNote);
            return;
        }
        ReloadPage(page);
    });
}

// ---------------------------------------------------------------------------------------
// Lyrics

QString TFormMain::MemoText(const QPlainTextEdit* memo) {
    // No CR LF after the last line: a text read from a tag comes back as it was, and one
    // that ended with a line break shows an empty last line that restores it.
    if (memo->document()->isEmpty())
        return {};
    return memo->toPlainText().split(QLatin1Char('\n')).join(QStringLiteral("\r\n"));
}

bool TFormMain::MemoEdited(const QPlainTextEdit* memo, const std::string& shown) {
    QTextDocument document;
    document.setPlainText(FromUtf8(shown));
    return memo->toPlainText() != document.toPlainText();
}

void TFormMain::btLyrCopyClick() {
    const QObject* button = sender();
    const int tag = button ? button->property("tag").toInt() : 0;
    Guarded([this, tag] {
        if (tag == 1) {
            Ed2Lyrics->selectAll();
            Seam->CopyToClipboard(Ed2Lyrics->toPlainText());
        } else if (tag == 2) {
            SaveLyricsToFile();
        }
    });
}

void TFormMain::SaveLyricsToFile() {
    const QString proposed =
        TrimControl(Ed2Artist->text() + QStringLiteral(" - ") + Ed2Title->text());
    QString chosen;
    if (!Seam->RunSaveDialog(this, proposed, chosen))
        return;
    // Written to a temporary file and renamed over the target, so a failed write never
    // leaves a half-written lyrics file in place of an old one.
    QSaveFile file(chosen);
    QString text = MemoText(Ed2Lyrics);
    if (!text.isEmpty() && !text.endsWith(QStringLiteral("\r\n")))
        text += QStringLiteral("\r\n"); // every line of the file ends with CR LF
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit())
        throw std::runtime_error(QStringLiteral("Cannot create file \"%1\". %2")
                                     .arg(QDir::toNativeSeparators(chosen), file.errorString())
                                     .toStdString());
}

} // namespace cantorell
