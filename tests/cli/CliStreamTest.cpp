// tagcantorell-cli end to end: the stream section of show on real and synthesised files.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/MpegBuilder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>

using namespace cantorell::test;

class CliStreamTest : public ::testing::Test {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

TEST_F(CliStreamTest, ShowJsonDescribesAConstantRateStream) {
    CopyStandardMp3(Path);
    const TCliResult result = RunCli({"show", "--json", Q(Path)});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const auto lines = result.JsonLines();
    ASSERT_EQ(1, lines.size());
    const QJsonObject stream = lines[0].value("stream").toObject();
    EXPECT_EQ(static_cast<qint64>(ReadBytes(Path).size()), stream.value("fileSize").toInteger());
    EXPECT_EQ("MPEG 1", stream.value("version").toString());
    EXPECT_EQ("Layer III", stream.value("layer").toString());
    EXPECT_EQ("Joint Stereo", stream.value("channelMode").toString());
    EXPECT_FALSE(stream.value("vbr").toBool(true));
    EXPECT_EQ(128, stream.value("bitRate").toInt());
    EXPECT_EQ(44100, stream.value("sampleRate").toInt());
    EXPECT_EQ("LAME3.10", stream.value("encoderTag").toString());
}

TEST_F(CliStreamTest, ShowPrintsTheWindowsFiveLinesBeforeTheTags) {
    EncodeWithLame(Path, {{"-V", "4", "-m", "m"}, 22050, 1, 2.0});
    const TCliResult result = RunCli({"show", Q(Path)});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const QStringList lines = result.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ("File: " + Q(Path), lines[0]);
    EXPECT_EQ("File size: " + QString::number(ReadBytes(Path).size()), lines[1]);
    EXPECT_EQ("MPEG type: MPEG 2 Layer III", lines[2]);
    EXPECT_EQ("Channel mode: Mono", lines[3]);
    EXPECT_TRUE(lines[4].startsWith("VBR ") && lines[4].endsWith(" kbit/s"))
        << lines[4].toStdString();
    EXPECT_EQ("Sample Rate: 22050 hz", lines[5]);
    EXPECT_TRUE(lines[6].startsWith("ID3v2")) << "the tag sections follow";
}

TEST_F(CliStreamTest, AFileWithoutAudioShowsItsRealSizeAndANullStream) {
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += "not audio at all\n";
    WriteBytes(Path, text);
    const TCliResult result = RunCli({"show", Q(Path)});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const QStringList lines = result.Out.split('\n', Qt::SkipEmptyParts);
    ASSERT_GE(lines.size(), 3);
    EXPECT_EQ("File size: " + QString::number(text.size()), lines[1]);
    EXPECT_EQ("No MPEG audio found", lines[2]);
    EXPECT_TRUE(lines[3].startsWith("ID3v2")) << "the tag sections follow";

    const TCliResult json = RunCli({"show", "--json", Q(Path)});
    ASSERT_EQ(0, json.ExitCode);
    ASSERT_EQ(1, json.JsonLines().size());
    EXPECT_TRUE(json.JsonLines()[0].value("stream").isNull());
}

TEST_F(CliStreamTest, NamesAnUnreadableFileOnceAndStillShowsTheOtherSections) {
    // A folder is no file the analyser can read.
    const TCliResult result = RunCli({"show", "--json", Q(Dir.Path())});
    EXPECT_EQ(1, result.ExitCode);
    const QString message = "Can not read data from the file: " + Q(Dir.Path());
    EXPECT_EQ(message + '\n', result.Err);
    const auto lines = result.JsonLines();
    ASSERT_EQ(1, lines.size());
    EXPECT_TRUE(lines[0].value("stream").isNull());
    EXPECT_EQ(QJsonArray{message}, lines[0].value("errors").toArray());
    EXPECT_TRUE(lines[0].value("id3v1").isObject());
}

TEST_F(CliStreamTest, PrintsNoStreamLinesForAnUnreadableFile) {
    const QString missing = Q(Dir.File("missing.mp3"));
    const TCliResult result = RunCli({"show", missing});
    EXPECT_EQ(1, result.ExitCode);
    EXPECT_FALSE(result.Out.contains("File size:"));
    EXPECT_TRUE(result.Out.contains("Error: Can not read data from the file: " + missing));
}

TEST_F(CliStreamTest, ReportsEachFileOfAListOnItsOwnLine) {
    const std::string second = Dir.File("b.mp3");
    CopyStandardMp3(Path);
    WriteBytes(second,
               MpegFrames(TMpegHeader{.Version = 2, .BitRateIndex = 8, .Mode = 3}, 208, 30));
    const TCliResult result = RunCli({"show", "--json", Q(Path), Q(second)});
    ASSERT_EQ(0, result.ExitCode) << result.Err.toStdString();
    const auto lines = result.JsonLines();
    ASSERT_EQ(2, lines.size());
    EXPECT_EQ("MPEG 1", lines[0].value("stream").toObject().value("version").toString());
    const QJsonObject stream = lines[1].value("stream").toObject();
    EXPECT_EQ("MPEG 2", stream.value("version").toString());
    EXPECT_EQ("Mono", stream.value("channelMode").toString());
    EXPECT_EQ(64, stream.value("bitRate").toInt());
    EXPECT_EQ(22050, stream.value("sampleRate").toInt());
}
