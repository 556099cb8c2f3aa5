// ID3v2 tags exchanged with TagLib, an independent reader and writer, on real MP3 audio.
#include "tags/DID3v2.h"

#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v2frame.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <textidentificationframe.h>
#include <unsynchronizedlyricsframe.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

TagLib::String Utf8(const std::string& text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

const std::string Title = "\xD0\x9F\xD0\xB5\xD1\x81\xD0\xBD\xD1\x8F \xE2\x99\xAB"; // "Песня ♫"
const std::string Lyrics = "First line\nZweite Zeile \xC3\xA4\xC3\xB6\xC3\xBC\nThird";
const std::string PictureBytes = FakeAudio(100 * 1024, 42);

} // namespace

class DID3v2InteropTest : public ::testing::Test {
protected:
    void SetUp() override {
        CopyStandardMp3(Path);
        Audio = ReadBytes(Path);
    }
    void TearDown() override {
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::Latin1);
    }

    // A full tag as TagLib writes it, in the given version and text encoding.
    void WriteWithTagLib(TagLib::ID3v2::Version version, TagLib::String::Type encoding) {
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(encoding);
        TagLib::MPEG::File file(Path.c_str());
        TagLib::ID3v2::Tag* tag = file.ID3v2Tag(true);
        tag->setTitle(Utf8(Title));
        tag->setArtist(Utf8("Bj\xC3\xB6rk"));
        tag->setAlbum("Album");
        tag->setYear(2004);
        tag->setTrack(3);
        tag->setGenre("Rock");
        tag->setComment(Utf8("A comment \xE2\x82\xAC"));
        auto* norm = new TagLib::ID3v2::CommentsFrame(encoding);
        norm->setDescription("iTunNORM");
        norm->setText(" 0000029A 00000000");
        tag->addFrame(norm);
        auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame(encoding);
        lyrics->setLanguage("eng");
        lyrics->setText(Utf8(Lyrics));
        tag->addFrame(lyrics);
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType("image/jpeg");
        picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
        picture->setPicture(
            TagLib::ByteVector(PictureBytes.data(), static_cast<unsigned>(PictureBytes.size())));
        tag->addFrame(picture);
        auto* custom = new TagLib::ID3v2::UserTextIdentificationFrame(encoding);
        custom->setDescription("MusicBrainz Album Id");
        custom->setText("0b3c3bd4-1d3b-4e2a-9d0c-6b5e0b1f1e3a");
        tag->addFrame(custom);
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, version));
    }

    void ExpectReadsTheTagLibTag(const TDID3v2& tag) {
        EXPECT_TRUE(tag.Exists);
        EXPECT_EQ(Title, tag.Title);
        EXPECT_EQ("Bj\xC3\xB6rk", tag.Artist);
        EXPECT_EQ("Album", tag.Album);
        EXPECT_EQ("2004", tag.Year);
        EXPECT_EQ("3", tag.Track);
        EXPECT_EQ("Rock", tag.Genre);
        ASSERT_EQ(2, tag.Frames_Comments.Count());
        EXPECT_EQ("A comment \xE2\x82\xAC", tag.GetComment(tag.MainCommentIndex()));
        EXPECT_EQ(Lyrics, tag.GetLyrics(0));
        ASSERT_EQ(1, tag.Frames_Images.Count());
        EXPECT_TRUE(tag.Frames_Images.Items(0).Data.ends_with(PictureBytes));
        EXPECT_TRUE(Audio == ReadBytes(Path).substr(static_cast<size_t>(tag.TagSize)));
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    std::string Audio;
};

TEST_F(DID3v2InteropTest, ReadsAVersion24Utf8TagWrittenByTagLib) {
    WriteWithTagLib(TagLib::ID3v2::v4, TagLib::String::UTF8);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    EXPECT_EQ(4, tag.VersionID);
    ExpectReadsTheTagLibTag(tag);
}

TEST_F(DID3v2InteropTest, ReadsAVersion23Utf16TagWrittenByTagLib) {
    WriteWithTagLib(TagLib::ID3v2::v3, TagLib::String::UTF16);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    EXPECT_EQ(3, tag.VersionID);
    ExpectReadsTheTagLibTag(tag);
}

TEST_F(DID3v2InteropTest, ATagSavedHereReadsRightInTagLibWithEverythingKept) {
    for (const auto version : {TagLib::ID3v2::v4, TagLib::ID3v2::v3}) {
        SCOPED_TRACE(version == TagLib::ID3v2::v4 ? "from 2.4" : "from 2.3");
        CopyStandardMp3(Path);
        WriteWithTagLib(version, TagLib::String::UTF8);
        TDID3v2 tag;
        ASSERT_TRUE(tag.ReadFromFile(Path));
        tag.Title = "\xE6\x96\xB0\xE3\x81\x97\xE3\x81\x84"; // "新しい"
        tag.Year = "2011";
        tag.SetComment("Changed \xC3\xA9", tag.MainCommentIndex());
        tag.SetLyrics("New lyrics\n\xE2\x9C\x93", 0);
        ASSERT_TRUE(tag.SaveToFile(Path));
        EXPECT_TRUE(Audio == ReadBytes(Path).substr(static_cast<size_t>(LeadingTagSize(Path))));

        TagLib::MPEG::File file(Path.c_str());
        ASSERT_TRUE(file.hasID3v2Tag());
        TagLib::ID3v2::Tag* read = file.ID3v2Tag();
        EXPECT_EQ(version == TagLib::ID3v2::v4 ? 4u : 3u, read->header()->majorVersion());
        EXPECT_EQ(tag.Title, read->title().to8Bit(true));
        EXPECT_EQ("Bj\xC3\xB6rk", read->artist().to8Bit(true));
        EXPECT_EQ(2011u, read->year());
        EXPECT_EQ(3u, read->track());
        EXPECT_EQ("Rock", read->genre().to8Bit(true));
        EXPECT_EQ("Changed \xC3\xA9", read->comment().to8Bit(true));

        const auto& comments = read->frameListMap()["COMM"];
        ASSERT_EQ(2u, comments.size());
        bool foundNorm = false;
        for (auto* frame : comments) {
            auto* comment = dynamic_cast<TagLib::ID3v2::CommentsFrame*>(frame);
            ASSERT_NE(nullptr, comment);
            // TagLib writes "XXX" (unknown language); a save keeps what the frame had.
            EXPECT_EQ("XXX", std::string(comment->language().data(), 3));
            if (comment->description() == "iTunNORM") {
                foundNorm = true;
                EXPECT_EQ("0000029A 00000000", comment->text().stripWhiteSpace().to8Bit(true));
            }
        }
        EXPECT_TRUE(foundNorm);

        const auto& lyrics = read->frameListMap()["USLT"];
        ASSERT_EQ(1u, lyrics.size());
        EXPECT_EQ("New lyrics\n\xE2\x9C\x93", lyrics.front()->toString().to8Bit(true));

        const auto& pictures = read->frameListMap()["APIC"];
        ASSERT_EQ(1u, pictures.size());
        auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(pictures.front());
        ASSERT_NE(nullptr, picture);
        EXPECT_EQ("image/jpeg", picture->mimeType().to8Bit());
        EXPECT_TRUE(PictureBytes ==
                    std::string(picture->picture().data(), picture->picture().size()));

        auto* custom =
            TagLib::ID3v2::UserTextIdentificationFrame::find(read, "MusicBrainz Album Id");
        ASSERT_NE(nullptr, custom);
        EXPECT_EQ("0b3c3bd4-1d3b-4e2a-9d0c-6b5e0b1f1e3a", custom->fieldList().back().to8Bit(true));
    }
}

TEST_F(DID3v2InteropTest, RemovingTheTagLeavesTheAudioThatTagLibSees) {
    WriteWithTagLib(TagLib::ID3v2::v4, TagLib::String::UTF8);
    TDID3v2 tag;
    ASSERT_TRUE(tag.RemoveFromFile(Path));
    EXPECT_TRUE(Audio == ReadBytes(Path));
    TagLib::MPEG::File file(Path.c_str());
    EXPECT_FALSE(file.hasID3v2Tag());
    EXPECT_TRUE(file.isValid());
}
