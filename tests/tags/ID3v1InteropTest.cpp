// ID3v1 records exchanged with TagLib, an independent reader and writer, on real MP3 audio.
#include "tags/ID3v1.h"

#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <id3v1tag.h>
#include <mpegfile.h>

using namespace cantorell;
using namespace cantorell::test;

class ID3v1InteropTest : public ::testing::Test {
protected:
    void SetUp() override { CopyStandardMp3(Path); }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

TEST_F(ID3v1InteropTest, ARecordWrittenByTagLibReadsBackHere) {
    {
        TagLib::MPEG::File file(Path.c_str());
        auto* tag = file.ID3v1Tag(true);
        tag->setTitle(TagLib::String("Caf\u00e9 au lait", TagLib::String::UTF8));
        tag->setArtist("The Artist");
        tag->setAlbum("An Album");
        tag->setYear(1994);
        tag->setComment("From TagLib");
        tag->setTrack(12);
        tag->setGenre("Jazz");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
    }
    TID3v1 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    EXPECT_TRUE(tag.Exists());
    EXPECT_EQ(TID3v1::Version11, tag.VersionID());
    EXPECT_EQ("Caf\xe9 au lait", tag.Title()) << "ID3v1 text stays ISO-8859-1 bytes";
    EXPECT_EQ("The Artist", tag.Artist());
    EXPECT_EQ("An Album", tag.Album());
    EXPECT_EQ("1994", tag.Year());
    EXPECT_EQ("From TagLib", tag.Comment());
    EXPECT_EQ(12, tag.Track());
    EXPECT_EQ("Jazz", tag.Genre());
}

TEST_F(ID3v1InteropTest, ARecordWrittenHereReadsRightInTagLib) {
    TID3v1 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    tag.SetTitle("Na\xefve song");
    tag.SetArtist("Someone");
    tag.SetAlbum("Record");
    tag.SetYear("2003");
    tag.SetComment("Written here");
    tag.SetTrack(4);
    tag.SetGenreID(17);
    ASSERT_TRUE(tag.SaveToFile(Path));

    TagLib::MPEG::File file(Path.c_str());
    ASSERT_TRUE(file.isValid());
    ASSERT_TRUE(file.hasID3v1Tag());
    auto* read = file.ID3v1Tag();
    EXPECT_EQ("Na\u00efve song", read->title().to8Bit(true));
    EXPECT_EQ("Someone", read->artist().to8Bit(true));
    EXPECT_EQ("Record", read->album().to8Bit(true));
    EXPECT_EQ(2003u, read->year());
    EXPECT_EQ("Written here", read->comment().to8Bit(true));
    EXPECT_EQ(4u, read->track());
    EXPECT_EQ("Rock", read->genre().to8Bit(true));
    EXPECT_GT(file.audioProperties()->lengthInMilliseconds(), 900);
}

TEST_F(ID3v1InteropTest, RemovingARecordLeavesTagLibNothingToFind) {
    {
        TagLib::MPEG::File file(Path.c_str());
        file.ID3v1Tag(true)->setTitle("to be removed");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
    }
    TID3v1 tag;
    ASSERT_TRUE(tag.RemoveFromFile(Path));
    TagLib::MPEG::File file(Path.c_str());
    EXPECT_FALSE(file.hasID3v1Tag());
}
