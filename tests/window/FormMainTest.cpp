// The main window driven as a user would: select a folder and a file, read the pages, edit,
// save, remove, copy and export. Modal interactions are answered through the window's seam.
#include "app/FileListBox.h"
#include "app/main.h"
#include "browse/FolderTree.h"
#include "platform/FileSystem.h"
#include "tags/DID3v2.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <cerrno>
#include <cstring>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v1tag.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <unsynchronizedlyricsframe.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

// Answers the window's modal questions and records what it showed.
class TRecordingSeam : public TFormSeam {
public:
    void ShowMessage(QWidget*, const QString& text) override { Messages.append(text); }
    void ShowError(QWidget*, const QString& message, const QString& reason) override {
        Messages.append(message);
        Reasons.append(reason);
    }
    TSaveAnswer AskSaveChanges(QWidget*, const QString& question) override {
        Questions.append(question);
        return SaveAnswer;
    }
    bool RunSaveDialog(QWidget*, const QString& proposed, QString& chosen) override {
        Proposed.append(proposed);
        chosen = Answer;
        return !Answer.isEmpty();
    }
    void CopyToClipboard(const QString& text) override { Clipboard = text; }
    void OpenAddress(const QUrl& address) override { Opened.append(address); }

    QStringList Messages;
    QStringList Reasons;
    QStringList Questions;
    TSaveAnswer SaveAnswer = TSaveAnswer::saDiscard;
    QStringList Proposed;
    QString Answer;
    QString Clipboard;
    QList<QUrl> Opened;
};

TagLib::String Utf8(const char* text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

} // namespace

class FormMainTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    }

    std::string Mp3(const std::string& name) {
        const std::string path = Dir.File(name);
        CopyStandardMp3(path);
        return path;
    }

    // An MP3 with an ID3v2 tag titled "v2 title" and an ID3v1 tag titled "v1 title".
    std::string TaggedMp3(const std::string& name) {
        const std::string path = Mp3(name);
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag(true)->setTitle("v2 title");
        file.ID3v1Tag(true)->setTitle("v1 title");
        EXPECT_TRUE(
            file.save(TagLib::MPEG::File::AllTags, TagLib::File::StripOthers, TagLib::ID3v2::v3));
        return path;
    }

    // Clicks a file of the listed folder, at its row on the list's viewport.
    void Click(const std::string& name) {
        const auto items =
            Form.FileListBox->findItems(QString::fromStdString(name), Qt::MatchExactly);
        ASSERT_EQ(1, items.size()) << name;
        Form.FileListBox->scrollToItem(items.first());
        QTest::mouseClick(Form.FileListBox->viewport(), Qt::LeftButton, {},
                          Form.FileListBox->visualItemRect(items.first()).center());
    }

    // Opens the test folder and clicks one of its files, as a user does.
    void Select(const std::string& name) {
        ASSERT_TRUE(Form.OpenPath(QString::fromStdString(Dir.Path())));
        Click(name);
    }

    // Shows the button's page with its Ctrl+digit key, then clicks the button.
    void Press(QAbstractButton* button) {
        for (int page = 0; page < Form.PageControl->count(); ++page) {
            if (Form.PageControl->widget(page)->isAncestorOf(button) &&
                Form.PageControl->currentIndex() != page)
                QTest::keyClick(&Form, static_cast<Qt::Key>(Qt::Key_1 + page), Qt::ControlModifier);
        }
        QTest::mouseClick(button, Qt::LeftButton);
    }

    QStringList MemoLines(const QPlainTextEdit* memo) {
        return memo->toPlainText().split('\n', Qt::SkipEmptyParts);
    }

    TTempDir Dir;
    TRecordingSeam Seam;
    // The options file goes into the test's own folder, so parallel tests never share one.
    TFormMain Form{&Seam, nullptr, QString::fromStdString(Dir.Path())};
};

TEST_F(FormMainTest, TheLayoutHasEveryNamedComponentAndThePagesInOrder) {
    EXPECT_EQ("Tag Cantorell", Form.windowTitle());
    EXPECT_EQ("FormMain", Form.objectName());
    for (const char* name :
         {"GroupBoxExplorer", "FolderTree1", "Splitter1",   "FileListBox",  "Splitter2",
          "GroupBoxEditor",   "Panel1",      "PageControl", "LB1INFO",      "Ed1Title",
          "Ed1Album",         "Ed1Artist",   "Ed1Track",    "Ed1Year",      "Ed1Comment",
          "Ed1Genre",         "PanelBTN",    "btSAVE",      "btREMOVEv1",   "LB2INFO",
          "Ed2Title",         "Ed2Album",    "Ed2Artist",   "Ed2Track",     "Ed2Year",
          "Ed2Genre",         "Ed2Comment",  "Panel4",      "SpeedButton8", "btREMOVEv2",
          "Panel2",           "btLyrCopy",   "btLyrSaveAs", "Ed2Lyrics",    "MemoInfo",
          "LB_PNM",           "LB_VER",      "LB_LINK",     "StatusBar1"})
        EXPECT_TRUE(Form.findChild<QWidget*>(QLatin1String(name))) << name;
    const QStringList pages{"ID3v1", "ID3v2", "Lyrics", "MPEG Info", "About", "Our Software"};
    ASSERT_EQ(pages.size(), Form.PageControl->count());
    for (int i = 0; i < pages.size(); ++i)
        EXPECT_EQ(pages[i], Form.PageControl->tabText(i));
    EXPECT_EQ("Explorer", Form.GroupBoxExplorer->title());
    EXPECT_EQ("Tag Information", Form.GroupBoxEditor->title());
    EXPECT_EQ("Save ID3v1", Form.btSAVE->text());
    EXPECT_EQ("Remove ID3v2", Form.btREMOVEv2->text());
    EXPECT_EQ("Tag Cantorell", Form.LB_PNM->text());
    EXPECT_TRUE(Form.LB_VER->text().contains(CANTORELL_VERSION));
    EXPECT_EQ(1, Form.btLyrCopy->property("tag").toInt());
    EXPECT_EQ("Save to file", Form.btLyrSaveAs->toolTip());
}

TEST_F(FormMainTest, BothGenreListsHoldAnEmptyItemThenTheGenres) {
    for (const QComboBox* list : {Form.Ed1Genre, Form.Ed2Genre}) {
        ASSERT_EQ(149, list->count());
        EXPECT_EQ("", list->itemText(0));
        EXPECT_EQ("Blues", list->itemText(1));
        EXPECT_EQ("Synthpop", list->itemText(148));
    }
}

TEST_F(FormMainTest, OnlyTheFirstActivationClearsThePagesAndShowsTheLyrics) {
    QEvent activate(QEvent::WindowActivate);
    QApplication::sendEvent(&Form, &activate);
    EXPECT_EQ(fpLyrics, Form.PageControl->currentIndex());
    EXPECT_EQ("File name: ", Form.Panel1->text());
    Form.Ed1Title->setText("typed by the user");
    Form.PageControl->setCurrentIndex(fpID3v1);
    QApplication::sendEvent(&Form, &activate); // back from a message box
    EXPECT_EQ("typed by the user", Form.Ed1Title->text());
    EXPECT_EQ(fpID3v1, Form.PageControl->currentIndex());
}

TEST_F(FormMainTest, TheFileListShowsMatchingFilesSortedWithoutRegardToCase) {
    for (const char* name : {"b.mp3", "A.MP3", "c.mp2", "d.mp+", "notes.txt", "e.mp3.bak"})
        WriteBytes(Dir.File(name), "x");
    QDir().mkdir(QString::fromStdString(Dir.File("folder.mp3")));
    Form.FileListBox->SetDirectory(QString::fromStdString(Dir.Path()));
    QStringList shown;
    for (int i = 0; i < Form.FileListBox->count(); ++i)
        shown.append(Form.FileListBox->item(i)->text());
    EXPECT_EQ((QStringList{"A.MP3", "b.mp3", "c.mp2", "d.mp+"}), shown);
    EXPECT_EQ("", Form.FileListBox->FileName());
}

TEST_F(FormMainTest, SelectingAFolderInTheTreeListsItsFilesAndClearsThePages) {
    Mp3("song.mp3");
    Form.Ed1Title->setText("left over");
    QTreeWidgetItem* node = Form.FolderTree1->FindNodeByPath(Dir.Path());
    ASSERT_TRUE(node);
    Form.FolderTree1->setCurrentItem(node);
    EXPECT_EQ(QString::fromStdString(Dir.Path()), Form.FileListBox->Directory());
    ASSERT_EQ(1, Form.FileListBox->count());
    EXPECT_EQ("", Form.Ed1Title->text());
    EXPECT_EQ("File name: ", Form.Panel1->text());
}

TEST_F(FormMainTest, AVersion11TagFillsTheID3v1PageAndSelectsItsGenre) {
    const std::string path = Mp3("v11.mp3");
    TId3v1Record record{"Title", "Artist", "Album", "1999", "Comment", 7, 17};
    WriteBytes(path, ReadBytes(path) + record.Build());
    Select("v11.mp3");
    EXPECT_EQ("v11.mp3", Form.Panel1->text());
    EXPECT_EQ("1.1", Form.LB1INFO->text());
    EXPECT_EQ("Title", Form.Ed1Title->text());
    EXPECT_EQ("Album", Form.Ed1Album->text());
    EXPECT_EQ("Artist", Form.Ed1Artist->text());
    EXPECT_EQ("7", Form.Ed1Track->text());
    EXPECT_EQ("1999", Form.Ed1Year->text());
    EXPECT_EQ("Comment", Form.Ed1Comment->text());
    EXPECT_EQ("Rock", Form.Ed1Genre->currentText());
    EXPECT_EQ(18, Form.Ed1Genre->currentIndex());
    EXPECT_EQ("Tag Not Found", Form.LB2INFO->text());
}

TEST_F(FormMainTest, AVersion10TagShowsTrackZeroAndNoGenreAsTheEmptyItem) {
    const std::string path = Mp3("v10.mp3");
    TId3v1Record record{"Old", "", "", "", "A comment that is thirty bytes"};
    WriteBytes(path, ReadBytes(path) + record.Build());
    Select("v10.mp3");
    EXPECT_EQ("1.0", Form.LB1INFO->text());
    EXPECT_EQ("0", Form.Ed1Track->text());
    EXPECT_EQ("A comment that is thirty bytes", Form.Ed1Comment->text());
    EXPECT_EQ(0, Form.Ed1Genre->currentIndex());
    EXPECT_EQ("", Form.Ed1Genre->currentText());
}

TEST_F(FormMainTest, AFileWithoutTagsShowsTagNotFoundAndTheStreamSummary) {
    Mp3("plain.mp3");
    Select("plain.mp3");
    EXPECT_EQ("Tag Not Found", Form.LB1INFO->text());
    EXPECT_EQ("Tag Not Found", Form.LB2INFO->text());
    EXPECT_EQ("", Form.Ed1Title->text());
    const QStringList lines = MemoLines(Form.MemoInfo);
    ASSERT_EQ(5, lines.size()) << Form.MemoInfo->toPlainText().toStdString();
    EXPECT_EQ("File size: " + QString::number(ReadBytes(Dir.File("plain.mp3")).size()), lines[0]);
    EXPECT_EQ("MPEG type: MPEG 1 Layer III", lines[1]);
    EXPECT_TRUE(lines[2].startsWith("Channel mode: "));
    EXPECT_EQ("CBR 128 kbit/s", lines[3]);
    EXPECT_EQ("Sample Rate: 44100 hz", lines[4]);
    EXPECT_TRUE(Seam.Messages.isEmpty());
}

TEST_F(FormMainTest, AnId3v24TagWithNonLatinTextFillsTheID3v2AndLyricsPages) {
    const std::string path = Mp3("v24.mp3");
    {
        TagLib::MPEG::File file(path.c_str());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setTitle(Utf8("Кино — Группа крови"));
        tag->setArtist(Utf8("坂本龍一"));
        tag->setAlbum(Utf8("Ἀλβum"));
        tag->setYear(1988);
        tag->setTrack(3);
        tag->setGenre("Rock");
        auto* technical = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        technical->setDescription("iTunNORM");
        technical->setText(" 00000001 00000002");
        tag->addFrame(technical);
        auto* comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        comment->setText(Utf8("Привет"));
        tag->addFrame(comment);
        auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        lyrics->setText(Utf8("Первая строка\nВторая строка"));
        tag->addFrame(lyrics);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
    }
    Select("v24.mp3");
    EXPECT_EQ("2.4", Form.LB2INFO->text());
    EXPECT_EQ(QString::fromUtf8("Кино — Группа крови"), Form.Ed2Title->text());
    EXPECT_EQ(QString::fromUtf8("坂本龍一"), Form.Ed2Artist->text());
    EXPECT_EQ(QString::fromUtf8("Ἀλβum"), Form.Ed2Album->text());
    EXPECT_EQ("1988", Form.Ed2Year->text());
    EXPECT_EQ("3", Form.Ed2Track->text());
    EXPECT_EQ("Rock", Form.Ed2Genre->currentText());
    EXPECT_EQ(QString::fromUtf8("Привет"), Form.Ed2Comment->toPlainText());
    EXPECT_EQ(QString::fromUtf8("Первая строка\nВторая строка"), Form.Ed2Lyrics->toPlainText());
}

TEST_F(FormMainTest, SavingID3v1KeepsTheGenreAndShowsTheFileAsSaved) {
    const std::string path = Mp3("save.mp3");
    TId3v1Record record{"Old title", "Artist", "", "", "", 2, 8};
    WriteBytes(path, ReadBytes(path) + record.Build());
    Select("save.mp3");
    Form.Ed1Title->setText(QString::fromUtf8("New title, café"));
    Form.Ed1Track->setText(" 12");
    Press(Form.btSAVE);
    EXPECT_TRUE(Seam.Messages.isEmpty());
    EXPECT_EQ(QString::fromUtf8("New title, café"), Form.Ed1Title->text());
    EXPECT_EQ("12", Form.Ed1Track->text());
    EXPECT_EQ("Jazz", Form.Ed1Genre->currentText()) << "the genre survives an edit of the title";
    EXPECT_EQ(5, MemoLines(Form.MemoInfo).size()) << "every page was filled again";

    TagLib::MPEG::File file(path.c_str());
    EXPECT_EQ("New title, caf\u00e9", file.ID3v1Tag()->title().to8Bit(true));
    EXPECT_EQ("Jazz", file.ID3v1Tag()->genre().to8Bit(true));
}

TEST_F(FormMainTest, ATypedGenreNameStoresThatGenreAndAnyOtherTextStoresNone) {
    Mp3("genre.mp3");
    Select("genre.mp3");
    Form.Ed1Title->setText("x");
    Form.Ed1Genre->setEditText("hard rock");
    Press(Form.btSAVE);
    EXPECT_EQ("Hard Rock", Form.Ed1Genre->currentText());
    EXPECT_EQ(80, Form.Ed1Genre->currentIndex());

    Form.Ed1Genre->setEditText("Chiptune");
    Press(Form.btSAVE);
    EXPECT_EQ(0, Form.Ed1Genre->currentIndex());
    EXPECT_EQ("", Form.Ed1Genre->currentText());
}

TEST_F(FormMainTest, SavingID3v2WritesTheEditedFieldsAndReplacesOnlyTheMainComment) {
    const std::string path = Mp3("v2.mp3");
    {
        TagLib::MPEG::File file(path.c_str());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setTitle("Old");
        auto* technical = new TagLib::ID3v2::CommentsFrame();
        technical->setDescription("iTunSMPB");
        technical->setText(" 00000000 00000210");
        tag->addFrame(technical);
        auto* comment = new TagLib::ID3v2::CommentsFrame();
        comment->setText("old comment");
        tag->addFrame(comment);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v3));
    }
    Select("v2.mp3");
    EXPECT_EQ("old comment", Form.Ed2Comment->toPlainText());
    Form.Ed2Title->setText(QString::fromUtf8("Νέος τίτλος"));
    Form.Ed2Comment->setPlainText("new comment");
    Form.Ed2Lyrics->setPlainText("line one\nline two");
    Press(Form.SpeedButton8);
    EXPECT_TRUE(Seam.Messages.isEmpty()) << Seam.Messages.join('\n').toStdString();
    EXPECT_EQ(QString::fromUtf8("Νέος τίτλος"), Form.Ed2Title->text());
    EXPECT_EQ("2.3", Form.LB2INFO->text());

    TagLib::MPEG::File file(path.c_str());
    TagLib::ID3v2::Tag* tag = file.ID3v2Tag();
    ASSERT_TRUE(tag);
    EXPECT_EQ("Νέος τίτλος", tag->title().to8Bit(true));
    const auto comments = tag->frameList("COMM");
    ASSERT_EQ(2u, comments.size());
    bool technicalKept = false;
    for (auto* frame : comments) {
        auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
        if (comment->description() == "iTunSMPB")
            technicalKept = comment->text().stripWhiteSpace() == "00000000 00000210";
        else
            EXPECT_EQ("new comment", comment->text().to8Bit(true));
    }
    EXPECT_TRUE(technicalKept);
    const auto lyrics = tag->frameList("USLT");
    ASSERT_EQ(1u, lyrics.size());
    EXPECT_EQ("line one\r\nline two", lyrics.front()->toString().to8Bit(true));
}

TEST_F(FormMainTest, ADescribedCommentIsNotShownAndASaveWithoutEditsLeavesTheFileAsItWas) {
    const std::string path = Mp3("notes.mp3");
    {
        TagLib::MPEG::File file(path.c_str());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setTitle(" Title with spaces ");
        auto* notes = new TagLib::ID3v2::CommentsFrame();
        notes->setDescription("Liner notes");
        notes->setText("Recorded live");
        tag->addFrame(notes);
        auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame();
        lyrics->setText("line one\nline two\n");
        tag->addFrame(lyrics);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
    }
    const std::string before = ReadBytes(path);
    Select("notes.mp3");
    EXPECT_EQ("", Form.Ed2Comment->toPlainText());
    Press(Form.SpeedButton8);
    EXPECT_TRUE(Seam.Messages.isEmpty()) << Seam.Messages.join('\n').toStdString();
    EXPECT_TRUE(before == ReadBytes(path)) << "a save without edits changed the file";

    // A typed comment is added beside the notes, which stay as they were.
    Form.Ed2Comment->setFocus();
    QTest::keyClicks(Form.Ed2Comment, "Typed");
    Press(Form.SpeedButton8);
    EXPECT_EQ("2.4", Form.LB2INFO->text());
    EXPECT_EQ("Typed", Form.Ed2Comment->toPlainText());
    TagLib::MPEG::File file(path.c_str());
    const auto comments = file.ID3v2Tag()->frameList("COMM");
    ASSERT_EQ(2u, comments.size());
    EXPECT_EQ("Recorded live", comments[0]->toString().to8Bit(true));
    EXPECT_EQ("Typed", comments[1]->toString().to8Bit(true));
    EXPECT_EQ("line one\nline two\n",
              file.ID3v2Tag()->frameList("USLT").front()->toString().to8Bit(true));
}

TEST_F(FormMainTest, RemovingATagRereadsItsPageAndKeepsTheOtherPagesEdits) {
    const std::string path = TaggedMp3("remove.mp3");
    Select("remove.mp3");
    ASSERT_EQ("v2 title", Form.Ed2Title->text());
    Form.Ed2Title->setText("typed v2");
    Press(Form.btREMOVEv1);
    EXPECT_EQ("Tag Not Found", Form.LB1INFO->text());
    EXPECT_EQ("", Form.Ed1Title->text());
    EXPECT_FALSE(Form.btREMOVEv1->isEnabled());
    EXPECT_EQ("typed v2", Form.Ed2Title->text());
    EXPECT_EQ(5, MemoLines(Form.MemoInfo).size());
    EXPECT_EQ("remove.mp3", Form.Panel1->text());
    Press(Form.btREMOVEv2);
    EXPECT_EQ("Tag Not Found", Form.LB2INFO->text());
    EXPECT_EQ("", Form.Ed2Title->text());
    EXPECT_FALSE(Form.btREMOVEv2->isEnabled());
    EXPECT_TRUE(Seam.Messages.isEmpty());
    CopyStandardMp3(Dir.File("plain.mp3"));
    EXPECT_EQ(ReadBytes(Dir.File("plain.mp3")), ReadBytes(path));
}

TEST_F(FormMainTest, AFailedSaveNamesTheFileAndTheReasonAndKeepsWhatWasTyped) {
    const std::string path = Mp3("fail.mp3");
    Select("fail.mp3");
    // Another program holds the file's save lock for longer than the window waits.
    TFileSystem other;
    const auto lock = other.LockFile(path);
    ASSERT_TRUE(lock);
    TFileSystem::Default().LockTimeoutMs = 50;
    const std::string before = ReadBytes(path);
    Form.Ed2Title->setText(QString::fromUtf8("a much longer title that needs a rebuild ♪"));
    Form.Ed1Title->setText("typed v1");
    Press(Form.SpeedButton8);
    TFileSystem::Default().LockTimeoutMs = 30000;
    ASSERT_EQ(1, Seam.Messages.size());
    EXPECT_EQ("Can not save ID3v2 tag to the file: " + QString::fromStdString(path),
              Seam.Messages[0]);
    EXPECT_EQ("Another program is saving the file.", Seam.Reasons.value(0));
    EXPECT_EQ(before, ReadBytes(path));
    EXPECT_EQ(QString::fromUtf8("a much longer title that needs a rebuild ♪"),
              Form.Ed2Title->text());
    EXPECT_EQ("typed v1", Form.Ed1Title->text());
}

TEST_F(FormMainTest, ADeletedFileKeepsItsRowPagesAndEditsAndEveryCommandSaysItIsGone) {
    const std::string path = TaggedMp3("gone.mp3");
    Mp3("other.mp3");
    Select("gone.mp3");
    Form.Ed1Title->setFocus();
    Form.Ed1Title->selectAll();
    QTest::keyClicks(Form.Ed1Title, "typed");
    QSignalSpy refreshed(Form.FileListBox, &TFileListBox::Refreshed);
    std::remove(path.c_str());
    ASSERT_TRUE(refreshed.wait(2000));
    EXPECT_EQ(QString::fromStdString(path), Form.FileListBox->FileName());
    EXPECT_TRUE(Form.FileListBox->SelectedFileIsGone());
    EXPECT_EQ("typed", Form.Ed1Title->text());
    EXPECT_EQ("v2 title", Form.Ed2Title->text());

    Press(Form.btSAVE);
    Press(Form.btREMOVEv1);
    Press(Form.btREMOVEv2);
    const QString shown = QString::fromStdString(path);
    EXPECT_EQ((QStringList{"Can not save ID3v1 tag to the file: " + shown,
                           "Can not remove ID3v1 tag from the file: " + shown,
                           "Can not remove ID3v2 tag from the file: " + shown}),
              Seam.Messages);
    EXPECT_EQ((QStringList(3, QString::fromLocal8Bit(std::strerror(ENOENT)))), Seam.Reasons);
    EXPECT_EQ("typed", Form.Ed1Title->text());
    EXPECT_FALSE(FileExists(path));

    // Choosing another file (and discarding the edits) lets the vanished row go.
    Click("other.mp3");
    ASSERT_TRUE(refreshed.wait(2000));
    EXPECT_EQ(1, Form.FileListBox->count());
}

TEST_F(FormMainTest, LyricsAreCopiedAsTheMemoShowsThem) {
    Mp3("lyrics.mp3");
    Select("lyrics.mp3");
    Form.Ed2Lyrics->setPlainText("typed\nlines");
    Press(Form.btLyrCopy);
    EXPECT_EQ("typed\nlines", Seam.Clipboard);
}

TEST_F(FormMainTest, LyricsAreSavedWithCrLfUnderTheArtistAndTitleName) {
    Mp3("lyrics.mp3");
    Select("lyrics.mp3");
    Form.Ed2Artist->setText("A");
    Form.Ed2Title->setText("B");
    Form.Ed2Lyrics->setPlainText(QString::fromUtf8("first\nsecond ♪"));
    Seam.Answer = QString::fromStdString(Dir.File("out.txt"));
    Press(Form.btLyrSaveAs);
    EXPECT_EQ(QStringList{"A - B"}, Seam.Proposed);
    EXPECT_EQ("first\r\nsecond \u266a\r\n", ReadBytes(Dir.File("out.txt")));

    Form.Ed2Title->clear();
    Seam.Answer.clear(); // the user cancels
    Press(Form.btLyrSaveAs);
    Form.Ed2Artist->clear();
    Press(Form.btLyrSaveAs);
    EXPECT_EQ((QStringList{"A - B", "A -", "-"}), Seam.Proposed);
}

TEST_F(FormMainTest, ALyricsFileThatCannotBeWrittenIsReportedByName) {
    Mp3("lyrics.mp3");
    Select("lyrics.mp3");
    Form.Ed2Lyrics->setPlainText("text");
    Seam.Answer = QString::fromStdString(Dir.File("no/such/folder/out.txt"));
    Press(Form.btLyrSaveAs);
    ASSERT_EQ(1, Seam.Messages.size());
    EXPECT_TRUE(Seam.Messages[0].contains(Seam.Answer)) << Seam.Messages[0].toStdString();
    EXPECT_EQ("text", Form.Ed2Lyrics->toPlainText());
}

TEST(FormMainMemoTest, AMemosWholeTextJoinsItsLinesWithCrLfAndGivesATagTextBack) {
    QPlainTextEdit memo;
    EXPECT_EQ("", TFormMain::MemoText(&memo));
    for (const char* text : {"one", "one\r\ntwo", "one\r\ntwo\r\n", "\r\n"}) {
        memo.setPlainText(text);
        EXPECT_EQ(text, TFormMain::MemoText(&memo));
    }
}

TEST_F(FormMainTest, TheAboutLinkOpensTheReadmeBesideTheProgram) {
    Form.LB_LINKClick();
    ASSERT_EQ(1, Seam.Opened.size());
    EXPECT_TRUE(Seam.Opened[0].isLocalFile());
    EXPECT_TRUE(Seam.Opened[0].toLocalFile().endsWith("/README.md"));
}

// --- the window in a user's hands -------------------------------------------------------

TEST_F(FormMainTest, AClickOnTheOnlyFileOfAFolderShowsIt) {
    Mp3("only.mp3");
    ASSERT_TRUE(Form.OpenPath(QString::fromStdString(Dir.Path())));
    EXPECT_FALSE(Form.btSAVE->isEnabled());
    EXPECT_FALSE(Form.SpeedButton8->isEnabled());
    Click("only.mp3");
    EXPECT_EQ("only.mp3", Form.Panel1->text());
    EXPECT_EQ(5, MemoLines(Form.MemoInfo).size());
    EXPECT_TRUE(Form.btSAVE->isEnabled());
    EXPECT_TRUE(Form.SpeedButton8->isEnabled());
    EXPECT_FALSE(Form.btREMOVEv1->isEnabled()) << "the file has no ID3v1 tag";
    EXPECT_FALSE(Form.btREMOVEv2->isEnabled());
}

TEST_F(FormMainTest, ArrowKeysAndTypeAheadShowTheFileTheyReach) {
    TaggedMp3("alpha.mp3");
    Mp3("beta.mp3");
    ASSERT_TRUE(Form.OpenPath(QString::fromStdString(Dir.Path())));
    Form.FileListBox->setFocus();
    QTest::keyClick(Form.FileListBox, Qt::Key_Down);
    EXPECT_EQ("alpha.mp3", Form.Panel1->text());
    EXPECT_TRUE(Form.btREMOVEv1->isEnabled());
    QTest::keyClicks(Form.FileListBox, "be");
    EXPECT_EQ("beta.mp3", Form.Panel1->text());
    EXPECT_EQ("", Form.Ed2Title->text());
}

TEST_F(FormMainTest, FoldersAndFilesComingAndGoingKeepTheSelectionAndTheEdits) {
    TaggedMp3("song.mp3");
    ASSERT_TRUE(Form.OpenPath(QString::fromStdString(Dir.Path())));
    Click("song.mp3");
    Form.Ed2Title->setFocus();
    QTest::keyClicks(Form.Ed2Title, " edited");
    QSignalSpy applied(Form.FolderTree1, &TFolderTree::ChangesApplied);
    QSignalSpy refreshed(Form.FileListBox, &TFileListBox::Refreshed);
    // Other programs make and remove folders beside and below the shown one, and add a file.
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(Dir.File("sibling"))));
    ASSERT_TRUE(refreshed.wait(2000));
    CopyStandardMp3(Dir.File("new.mp3"));
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(Dir.File("sibling"))));
    QTRY_VERIFY_WITH_TIMEOUT(Form.FileListBox->count() == 2, 2000);
    QApplication::processEvents();
    EXPECT_EQ("v2 title edited", Form.Ed2Title->text());
    EXPECT_EQ(QString::fromStdString(Dir.File("song.mp3")), Form.FileListBox->FileName());
    EXPECT_EQ(QString::fromStdString(Dir.File("song.mp3")), Form.ShownFile());
    EXPECT_TRUE(Seam.Questions.isEmpty());
}

struct TLeaveCase {
    TSaveAnswer Answer;
    bool Moves; // the other file is shown afterwards
    bool Saved; // the edit reached the disk
};

class FormMainLeaveTest : public FormMainTest, public ::testing::WithParamInterface<TLeaveCase> {};

TEST_P(FormMainLeaveTest, ChoosingAnotherFileWithUnsavedEditsAsksFirst) {
    const std::string path = TaggedMp3("first.mp3");
    Mp3("second.mp3");
    Select("first.mp3");
    Form.Ed1Title->setFocus();
    Form.Ed1Title->selectAll();
    QTest::keyClicks(Form.Ed1Title, "typed");
    Form.Ed2Title->setFocus();
    QTest::keyClicks(Form.Ed2Title, " too");
    Seam.SaveAnswer = GetParam().Answer;
    Click("second.mp3");
    EXPECT_EQ(QStringList{"Save the changes to " + QString::fromStdString(path) + "?"},
              Seam.Questions);
    const QString shown =
        QString::fromStdString(Dir.File(GetParam().Moves ? "second.mp3" : "first.mp3"));
    EXPECT_EQ(shown, Form.ShownFile());
    EXPECT_EQ(shown, Form.FileListBox->FileName());
    EXPECT_EQ(GetParam().Moves ? "" : "typed", Form.Ed1Title->text());
    TagLib::MPEG::File file(path.c_str());
    EXPECT_EQ(GetParam().Saved ? "typed" : "v1 title", file.ID3v1Tag()->title().to8Bit(true));
    EXPECT_EQ(GetParam().Saved ? "v2 title too" : "v2 title",
              file.ID3v2Tag()->title().to8Bit(true));

    // No edits, no question.
    Click("first.mp3");
    EXPECT_EQ(1, Seam.Questions.size());
}

INSTANTIATE_TEST_SUITE_P(Answers, FormMainLeaveTest,
                         ::testing::Values(TLeaveCase{TSaveAnswer::saSave, true, true},
                                           TLeaveCase{TSaveAnswer::saDiscard, true, false},
                                           TLeaveCase{TSaveAnswer::saCancel, false, false}));

TEST_F(FormMainTest, ClosingOrChoosingAFolderWithUnsavedEditsCanBeCancelled) {
    Mp3("song.mp3");
    QDir().mkdir(QString::fromStdString(Dir.File("sub")));
    Select("song.mp3");
    Form.Ed2Lyrics->setPlainText("new lyrics");
    Seam.SaveAnswer = TSaveAnswer::saCancel;
    EXPECT_FALSE(Form.close());
    EXPECT_TRUE(Form.isVisible());
    EXPECT_FALSE(Form.OpenPath(QString::fromStdString(Dir.File("sub"))));
    QTreeWidgetItem* sub = Form.FolderTree1->FindNodeByPath(Dir.File("sub"));
    ASSERT_TRUE(sub);
    Form.FolderTree1->scrollToItem(sub);
    // On the node's name, which starts at the left of its row (a long row runs off the view).
    const QRect row = Form.FolderTree1->visualItemRect(sub);
    QTest::mouseClick(Form.FolderTree1->viewport(), Qt::LeftButton, {},
                      QPoint(row.left() + 30, row.center().y()));
    EXPECT_EQ(3, Seam.Questions.size());
    EXPECT_EQ(QString::fromStdString(Dir.Path()), Form.FileListBox->Directory());
    EXPECT_EQ("new lyrics", Form.Ed2Lyrics->toPlainText());
    EXPECT_NE(sub, Form.FolderTree1->currentItem());
}

TEST_F(FormMainTest, CtrlSSavesTheTagOfThePageShown) {
    const std::string path = Mp3("keys.mp3");
    Select("keys.mp3");
    QTest::keyClick(&Form, Qt::Key_3, Qt::ControlModifier);
    EXPECT_EQ(fpLyrics, Form.PageControl->currentIndex());
    Form.Ed2Lyrics->setFocus();
    QTest::keyClicks(Form.Ed2Lyrics, "la la");
    QTest::keyClick(&Form, Qt::Key_S, Qt::ControlModifier);
    QTest::keyClick(&Form, Qt::Key_1, Qt::ControlModifier);
    Form.Ed1Title->setFocus();
    QTest::keyClicks(Form.Ed1Title, "v1");
    QTest::keyClick(Form.Ed1Title, Qt::Key_S, Qt::ControlModifier);
    EXPECT_FALSE(Form.HasUnsavedChanges());
    TagLib::MPEG::File file(path.c_str());
    ASSERT_TRUE(file.ID3v2Tag() && file.ID3v1Tag());
    EXPECT_EQ("la la", file.ID3v2Tag()->frameList("USLT").front()->toString().to8Bit(true));
    EXPECT_EQ("v1", file.ID3v1Tag()->title().to8Bit(true));
}

TEST_F(FormMainTest, CtrlLAndThePathFieldOpenATypedFolderOrFile) {
    Mp3("typed.mp3");
    QTest::keyClick(&Form, Qt::Key_L, Qt::ControlModifier);
    EXPECT_TRUE(Form.EdPath->hasFocus());
    QTest::keyClicks(Form.EdPath, QString::fromStdString(Dir.File("typed.mp3")));
    QTest::keyClick(Form.EdPath, Qt::Key_Return);
    EXPECT_EQ(QString::fromStdString(Dir.Path()), Form.FileListBox->Directory());
    EXPECT_EQ(QString::fromStdString(Dir.File("typed.mp3")), Form.ShownFile());
    EXPECT_EQ("typed.mp3", Form.Panel1->text());

    Form.EdPath->setText(QString::fromStdString(Dir.File("missing")));
    QTest::keyClick(Form.EdPath, Qt::Key_Return);
    ASSERT_EQ(1, Seam.Messages.size());
    EXPECT_TRUE(Seam.Messages[0].endsWith(QString::fromStdString(Dir.File("missing"))));
}

TEST_F(FormMainTest, AFileDroppedOnTheWindowOpens) {
    Mp3("dropped.mp3");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Dir.File("dropped.mp3")))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&Form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&Form, &drop);
    EXPECT_EQ(QString::fromStdString(Dir.File("dropped.mp3")), Form.ShownFile());
}

TEST_F(FormMainTest, AFileWithoutMpegAudioShowsItsRealSizeAndSaysSo) {
    const std::pair<const char*, std::string> files[] = {{"text.mp3", std::string(1240, 'x')},
                                                         {"empty.mp3", std::string()}};
    for (const auto& [name, bytes] : files)
        WriteBytes(Dir.File(name), bytes);
    for (const auto& [name, bytes] : files) {
        Select(name);
        EXPECT_EQ(
            (QStringList{"File size: " + QString::number(bytes.size()), "No MPEG audio found"}),
            MemoLines(Form.MemoInfo))
            << name;
    }
    EXPECT_TRUE(Seam.Messages.isEmpty());
}

TEST_F(FormMainTest, EveryVisibleButtonHasATooltip) {
    for (const QAbstractButton* button : Form.findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(&Form) && !button->objectName().isEmpty()) {
            EXPECT_FALSE(button->toolTip().isEmpty()) << button->objectName().toStdString();
        }
    }
}

TEST_F(FormMainTest, TheProductNameIsDrawnInAFontThatExists) {
    const QFontInfo shown(Form.LB_PNM->font());
    EXPECT_TRUE(QFontDatabase::hasFamily("Impact") ? shown.family() == "Impact"
                                                   : Form.LB_PNM->font().bold());
    EXPECT_TRUE(QFontDatabase::hasFamily(shown.family())) << shown.family().toStdString();
}

TEST_F(FormMainTest, TheSplitterBetweenExplorerAndPagesDragsEvenInASmallWindow) {
    Form.resize(631, 523);
    QApplication::processEvents();
    const int before = Form.GroupBoxExplorer->height();
    QSplitterHandle* handle = Form.Splitter2->handle(1);
    const QPoint grip = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip + QPoint(0, 60));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, 60));
    EXPECT_GT(Form.GroupBoxExplorer->height(), before + 30);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(0, 120));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(0, 120));
    EXPECT_LT(Form.GroupBoxExplorer->height(), before);
}

TEST_F(FormMainTest, F5ReadsTheFolderAndTheShownFileAgainAfterAskingAboutEdits) {
    const std::string path = TaggedMp3("outside.mp3");
    Select("outside.mp3");
    {
        // Another program retitles the file; the window does not know yet.
        TagLib::MPEG::File file(path.c_str());
        file.ID3v2Tag(true)->setTitle("changed outside");
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripNone, TagLib::ID3v2::v3));
    }
    Form.Ed1Title->setText("typed");
    Seam.SaveAnswer = TSaveAnswer::saCancel;
    QTest::keyClick(&Form, Qt::Key_F5);
    EXPECT_EQ(1, Seam.Questions.size());
    EXPECT_EQ("typed", Form.Ed1Title->text());
    EXPECT_EQ("v2 title", Form.Ed2Title->text());

    Seam.SaveAnswer = TSaveAnswer::saDiscard;
    QTest::keyClick(&Form, Qt::Key_F5);
    EXPECT_EQ("changed outside", Form.Ed2Title->text());
    EXPECT_EQ("v1 title", Form.Ed1Title->text());
    EXPECT_EQ(QString::fromStdString(path), Form.ShownFile());
}
