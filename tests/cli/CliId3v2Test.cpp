// tagcantorell-cli end to end: the ID3v2 section of show, set-v2 and remove-v2 on real MP3
// files, checked against TagLib.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <attachedpictureframe.h>
#include <commentsframe.h>
#include <id3v2framefactory.h>
#include <id3v2tag.h>
#include <mpegfile.h>
#include <unsynchronizedlyricsframe.h>

using namespace cantorell::test;

namespace {

TagLib::String Utf8(const char* text) {
    return TagLib::String(text, TagLib::String::UTF8);
}

} // namespace

class CliId3v2Test : public ::testing::Test {
protected:
    void SetUp() override {
        CopyStandardMp3(Path);
        Audio = ReadBytes(Path);
    }

    // A 2.4 UTF-8 tag as TagLib writes it, with a technical comment before the plain one.
    void TagWithTagLib() {
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::UTF8);
        TagLib::MPEG::File file(Path.c_str());
        auto* tag = file.ID3v2Tag(true);
        tag->setTitle(Utf8("\xC3\x9C"
                           "ber"));
        tag->setArtist("Artist");
        tag->setAlbum("Album");
        tag->setYear(1999);
        tag->setTrack(7);
        tag->setGenre("Jazz");
        auto* norm = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        norm->setDescription("iTunNORM");
        norm->setText("0000 0000");
        tag->addFrame(norm);
        auto* plain = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
        plain->setText("Plain comment");
        tag->addFrame(plain);
        auto* lyrics = new TagLib::ID3v2::UnsynchronizedLyricsFrame(TagLib::String::UTF8);
        lyrics->setText("La la\nla");
        tag->addFrame(lyrics);
        auto* picture = new TagLib::ID3v2::AttachedPictureFrame;
        picture->setMimeType("image/png");
        picture->setPicture(TagLib::ByteVector(1000, 'p'));
        tag->addFrame(picture);
        ASSERT_TRUE(
            file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers, TagLib::ID3v2::v4));
        TagLib::ID3v2::FrameFactory::instance()->setDefaultTextEncoding(TagLib::String::Latin1);
    }

    QJsonObject ShowV2() {
        const TCliResult result = RunCli({"show", "--json", Q(Path)});
        EXPECT_EQ(0, result.ExitCode) << result.Err.toStdString();
        return result.JsonLines().value(0).value("id3v2").toObject();
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    std::string Audio;
};

TEST_F(CliId3v2Test, ShowGivesTheTagOfAnotherTagger) {
    TagWithTagLib();
    const QJsonObject v2 = ShowV2();
    EXPECT_TRUE(v2.value("exists").toBool());
    EXPECT_EQ("2.4", v2.value("version").toString());
    EXPECT_GT(v2.value("size").toInt(), 1000);
    EXPECT_EQ(QString::fromUtf8("\xC3\x9C"
                                "ber"),
              v2.value("title").toString());
    EXPECT_EQ("Artist", v2.value("artist").toString());
    EXPECT_EQ("Album", v2.value("album").toString());
    EXPECT_EQ("7", v2.value("track").toString());
    EXPECT_EQ("1999", v2.value("year").toString());
    EXPECT_EQ("Jazz", v2.value("genre").toString());
    EXPECT_EQ("Plain comment", v2.value("comment").toString());
    EXPECT_EQ(QJsonArray({"0000 0000", "Plain comment"}), v2.value("comments").toArray());
    EXPECT_EQ("La la\nla", v2.value("lyrics").toString());
    EXPECT_EQ(1, v2.value("pictures").toInt());
    EXPECT_EQ(QJsonArray(), v2.value("unsupported").toArray());

    const TCliResult plain = RunCli({"show", Q(Path)});
    EXPECT_TRUE(plain.Out.contains("ID3v2: 2.4")) << plain.Out.toStdString();
    EXPECT_TRUE(plain.Out.contains(QString::fromUtf8("  Title: \xC3\x9C"
                                                     "ber")));
    EXPECT_TRUE(plain.Out.contains("  Comment: Plain comment"));
    // The window's order of pages: stream, ID3v2, ID3v1.
    EXPECT_LT(plain.Out.indexOf("ID3v2:"), plain.Out.indexOf("ID3v1:"));
}

TEST_F(CliId3v2Test, ShowWithoutATag) {
    const QJsonObject v2 = ShowV2();
    EXPECT_FALSE(v2.value("exists").toBool());
    EXPECT_EQ("", v2.value("version").toString());
    EXPECT_EQ(0, v2.value("size").toInt());
    EXPECT_TRUE(RunCli({"show", Q(Path)}).Out.contains("ID3v2: Tag Not Found"));
}

TEST_F(CliId3v2Test, SetV2ChangesTheGivenFieldsInPlaceKeepsTheVersionAndTagLibReadsThem) {
    TagWithTagLib();
    const QJsonArray framesBefore = ShowV2().value("frames").toArray();
    EXPECT_TRUE(framesBefore.contains("APIC") && framesBefore.contains("TDRC"));
    const std::string lyricsPath = Dir.File("lyrics.txt");
    WriteBytes(lyricsPath, "Neue Zeile \xE2\x99\xAA\nZweite");
    const TCliResult result =
        RunCli({"set-v2", Q(Path), "--title", QString::fromUtf8("\xE6\x9B\xB2"), "--year", "2020",
                "--comment", "Mine", "--lyrics-file", Q(lyricsPath), "--bpm", "128"});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();

    const QJsonObject v2 = ShowV2();
    EXPECT_EQ("2.4", v2.value("version").toString());
    // Each frame changed where it stood; the new one follows them.
    QJsonArray framesAfter = framesBefore;
    framesAfter.append("TBPM");
    EXPECT_EQ(framesAfter, v2.value("frames").toArray());
    EXPECT_EQ(QString::fromUtf8("\xE6\x9B\xB2"), v2.value("title").toString());
    EXPECT_EQ("Artist", v2.value("artist").toString());
    EXPECT_EQ("Mine", v2.value("comment").toString());
    EXPECT_EQ(QJsonArray({"0000 0000", "Mine"}), v2.value("comments").toArray());
    EXPECT_EQ(1, v2.value("pictures").toInt());

    TagLib::MPEG::File file(Path.c_str());
    ASSERT_TRUE(file.hasID3v2Tag());
    EXPECT_EQ("\xE6\x9B\xB2", file.ID3v2Tag()->title().to8Bit(true));
    EXPECT_EQ(2020u, file.ID3v2Tag()->year());
    EXPECT_EQ("128", file.ID3v2Tag()->frameListMap()["TBPM"].front()->toString().to8Bit());
    EXPECT_EQ("Mine", file.ID3v2Tag()->comment().to8Bit(true));
    const auto& lyrics = file.ID3v2Tag()->frameListMap()["USLT"];
    ASSERT_EQ(1u, lyrics.size());
    EXPECT_EQ("Neue Zeile \xE2\x99\xAA\nZweite", lyrics.front()->toString().to8Bit(true));
    EXPECT_EQ(1u, file.ID3v2Tag()->frameListMap()["APIC"].size());
}

TEST_F(CliId3v2Test, SetV2OnAnUntaggedFileThenRemoveV2GivesTheAudioBack) {
    ASSERT_EQ(0, RunCli({"set-v2", Q(Path), "--artist", "Someone", "--lyrics", "Words"}).ExitCode);
    EXPECT_EQ("Someone", ShowV2().value("artist").toString());
    EXPECT_EQ("Words", ShowV2().value("lyrics").toString());
    ASSERT_EQ(0, RunCli({"remove-v2", Q(Path)}).ExitCode);
    EXPECT_TRUE(Audio == ReadBytes(Path));
}

TEST_F(CliId3v2Test, FailuresNameTheFileAndUsageErrorsAreReported) {
    const TCliResult noTag = RunCli({"remove-v2", Q(Path)});
    EXPECT_EQ(1, noTag.ExitCode);
    EXPECT_TRUE(noTag.Err.contains("Can not remove ID3v2 tag from the file: " + Q(Path)));
    EXPECT_TRUE(Audio == ReadBytes(Path));

    const QString missing = Q(Dir.File("missing.mp3"));
    const TCliResult set = RunCli({"set-v2", missing, "--title", "x"});
    EXPECT_EQ(1, set.ExitCode);
    EXPECT_TRUE(set.Err.contains(missing));
    EXPECT_FALSE(FileExists(Dir.File("missing.mp3")));

    EXPECT_EQ(2, RunCli({"set-v2", Q(Path), "--lyrics", "a", "--lyrics-file", "f"}).ExitCode);
    EXPECT_EQ(2, RunCli({"set-v2"}).ExitCode);
    for (const char* bpm : {"-1", "65536", "12x", ""})
        EXPECT_EQ(2, RunCli({"set-v2", Q(Path), "--bpm", bpm}).ExitCode) << bpm;
    const TCliResult badLyrics = RunCli({"set-v2", Q(Path), "--lyrics-file", missing});
    EXPECT_EQ(1, badLyrics.ExitCode);
    EXPECT_TRUE(badLyrics.Err.contains(missing));
    EXPECT_TRUE(Audio == ReadBytes(Path));
}
