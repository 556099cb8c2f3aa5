// tagcantorell-cli end to end: show, set-v1 and remove-v1 on real MP3 files.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <id3v1tag.h>
#include <mpegfile.h>

using namespace cantorell::test;

class CliId3v1Test : public ::testing::Test {
protected:
    void SetUp() override { CopyStandardMp3(Path); }

    // Tags the file's ID3v1 record through TagLib, as another tagger would.
    void TagWithTagLib() {
        TagLib::MPEG::File file(Path.c_str());
        auto* tag = file.ID3v1Tag(true);
        tag->setTitle(TagLib::String("Ch\u00e2teau", TagLib::String::UTF8));
        tag->setArtist("Band");
        tag->setAlbum("LP");
        tag->setYear(1988);
        tag->setComment("Note");
        tag->setTrack(6);
        tag->setGenre("Blues");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v1, TagLib::File::StripOthers));
    }

    QJsonObject ShowV1() {
        const TCliResult result = RunCli({"show", "--json", Q(Path)});
        EXPECT_EQ(0, result.ExitCode) << result.Err.toStdString();
        const auto lines = result.JsonLines();
        EXPECT_EQ(1, lines.size());
        return lines.value(0).value("id3v1").toObject();
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

TEST_F(CliId3v1Test, ShowJsonGivesTheRecordOfAnotherTaggerInUtf8) {
    TagWithTagLib();
    const TCliResult result = RunCli({"show", "--json", Q(Path)});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const auto lines = result.JsonLines();
    ASSERT_EQ(1, lines.size());
    EXPECT_EQ(Q(Path), lines[0].value("file").toString());
    EXPECT_TRUE(lines[0].value("errors").toArray().isEmpty());
    const QJsonObject v1 = lines[0].value("id3v1").toObject();
    EXPECT_TRUE(v1.value("exists").toBool());
    EXPECT_EQ("1.1", v1.value("version").toString());
    EXPECT_EQ(QString::fromUtf8("Ch\u00e2teau"), v1.value("title").toString());
    EXPECT_EQ("Band", v1.value("artist").toString());
    EXPECT_EQ("LP", v1.value("album").toString());
    EXPECT_EQ("1988", v1.value("year").toString());
    EXPECT_EQ("Note", v1.value("comment").toString());
    EXPECT_EQ(6, v1.value("track").toInt());
    EXPECT_EQ(0, v1.value("genreId").toInt());
    EXPECT_EQ("Blues", v1.value("genre").toString());
}

TEST_F(CliId3v1Test, ShowPlainPrintsALabelledBlockPerFile) {
    TagWithTagLib();
    const std::string second = Dir.File("second.mp3");
    CopyStandardMp3(second);
    const TCliResult result = RunCli({"show", Q(Path), Q(second)});
    ASSERT_EQ(0, result.ExitCode);
    EXPECT_TRUE(result.Out.contains("File: " + Q(Path) + "\n"));
    EXPECT_TRUE(result.Out.contains("ID3v1: 1.1\n"));
    EXPECT_TRUE(result.Out.contains(QString::fromUtf8("  Title: Ch\u00e2teau\n")));
    EXPECT_TRUE(result.Out.contains("  Genre: Blues (0)\n"));
    EXPECT_TRUE(result.Out.contains("File: " + Q(second) + "\n"));
    EXPECT_TRUE(result.Out.contains("ID3v1: Tag Not Found\n"));
}

TEST_F(CliId3v1Test, SetV1ChangesOnlyTheGivenFieldsAndConvertsToLatin1) {
    TagWithTagLib();
    const TCliResult result =
        RunCli({"set-v1", Q(Path), "--title", QString::fromUtf8("Caf\u00e9 \u266b"), "--track", "9",
                "--genre", "synthpop"});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const QJsonObject v1 = ShowV1();
    EXPECT_EQ(QString::fromUtf8("Caf\u00e9 ?"), v1.value("title").toString());
    EXPECT_EQ("Band", v1.value("artist").toString());
    EXPECT_EQ(9, v1.value("track").toInt());
    EXPECT_EQ(147, v1.value("genreId").toInt());

    ASSERT_EQ(0, RunCli({"set-v1", Q(Path), "--genre", "255", "--track", "0"}).ExitCode);
    const QJsonObject cleared = ShowV1();
    EXPECT_EQ("", cleared.value("genre").toString());
    EXPECT_EQ("1.0", cleared.value("version").toString());

    TagLib::MPEG::File file(Path.c_str());
    EXPECT_EQ("Caf\u00e9 ?", file.ID3v1Tag()->title().to8Bit(true));
}

TEST_F(CliId3v1Test, SetV1OnAnUntaggedFileAppendsARecordAndRemoveV1TakesItAway) {
    const std::string audio = ReadBytes(Path);
    ASSERT_EQ(0, RunCli({"set-v1", Q(Path), "--artist", "Someone"}).ExitCode);
    EXPECT_EQ(audio.size() + 128, ReadBytes(Path).size());
    EXPECT_EQ("Someone", ShowV1().value("artist").toString());
    ASSERT_EQ(0, RunCli({"remove-v1", Q(Path)}).ExitCode);
    EXPECT_EQ(audio, ReadBytes(Path));
    ASSERT_EQ(0, RunCli({"remove-v1", Q(Path)}).ExitCode) << "nothing to remove is no failure";
}

TEST_F(CliId3v1Test, FilesThatCannotBeReadAreNamedAndGiveExitCode1) {
    const std::string empty = Dir.File("empty.mp3");
    WriteBytes(empty, "");
    for (const std::string& bad : {Dir.File("missing.mp3"), Dir.Path(), empty}) {
        const TCliResult show = RunCli({"show", "--json", Q(Path), Q(bad)});
        EXPECT_EQ(1, show.ExitCode) << bad;
        const QString message = "Can not read data from the file: " + Q(bad);
        EXPECT_TRUE(show.Err.contains(message)) << show.Err.toStdString();
        const auto lines = show.JsonLines();
        ASSERT_EQ(2, lines.size());
        EXPECT_TRUE(lines[0].value("errors").toArray().isEmpty());
        EXPECT_EQ(QJsonArray{message}, lines[1].value("errors").toArray());

        const TCliResult set = RunCli({"set-v1", Q(bad), "--title", "x"});
        EXPECT_EQ(1, set.ExitCode);
        EXPECT_EQ(message + "\n", set.Err);
        const TCliResult remove = RunCli({"remove-v1", Q(bad)});
        EXPECT_EQ(1, remove.ExitCode);
        EXPECT_EQ("Can not remove ID3v1 tag from the file: " + Q(bad) + "\n", remove.Err);
    }
    EXPECT_FALSE(FileExists(Dir.File("missing.mp3")));
    EXPECT_EQ("", ReadBytes(empty));
}

// The tool reads a track or genre text exactly as the window's boxes do.
TEST_F(CliId3v1Test, TrackAndGenreTextsFollowTheWindowsRules) {
    const std::pair<const char*, int> tracks[] = {{"$10", 16}, {"300", 44}, {"five", 0}, {"7", 7}};
    for (const auto& [text, track] : tracks) {
        ASSERT_EQ(0, RunCli({"set-v1", Q(Path), "--track", text, "--genre", "17"}).ExitCode);
        TagLib::MPEG::File file(Path.c_str());
        EXPECT_EQ(static_cast<unsigned>(track), file.ID3v1Tag()->track()) << text;
        EXPECT_EQ("Rock", file.ID3v1Tag()->genre().to8Bit()) << text;
    }
}

TEST_F(CliId3v1Test, UsageErrorsGiveExitCode2AndLeaveTheFileAlone) {
    const std::string before = ReadBytes(Path);
    EXPECT_EQ(2, RunCli({}).ExitCode);
    EXPECT_EQ(2, RunCli({"frobnicate", Q(Path)}).ExitCode);
    EXPECT_EQ(2, RunCli({"show"}).ExitCode);
    EXPECT_EQ(2, RunCli({"show", "--bogus", Q(Path)}).ExitCode);
    EXPECT_EQ(2, RunCli({"set-v1", Q(Path), "--genre", "Not a genre"}).ExitCode);
    EXPECT_EQ(2, RunCli({"set-v1", "--title", "x"}).ExitCode);
    EXPECT_EQ(2, RunCli({"remove-v1", Q(Path), Q(Path)}).ExitCode);
    EXPECT_EQ(before, ReadBytes(Path));
    const TCliResult help = RunCli({"--help"});
    EXPECT_EQ(0, help.ExitCode);
    EXPECT_TRUE(help.Out.contains("set-v1"));
}
