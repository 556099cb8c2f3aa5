// tagcantorell-cli on the files a real Linux system holds: names that are not UTF-8, FIFOs and
// devices given as files, tag texts that carry terminal controls, and many saves of one
// file at once.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include "tags/DID3v2.h"

#include <gtest/gtest.h>

#include <QJsonArray>

#include <chrono>
#include <memory>
#include <set>
#include <sys/stat.h>

using namespace cantorell;
using namespace cantorell::test;

class CliFilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        CopyStandardMp3(Path);
        Audio = ReadBytes(Path);
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    std::string Audio;
};

// Texts of a hostile tag: a terminal title and a screen clear, and a CR that would print a
// forged "Title:" line over the real one.
TEST_F(CliFilesTest, PlainShowEscapesControlCharactersAndJsonKeepsTheTexts) {
    const std::string title = "A\x1b]0;owned\x07"
                              "B";
    const std::string artist = "x\r  Title: forged";
    const std::string comment = "one\ntwo\x1b[2J";
    WriteBytes(Path, TId3v2Tag{3, 0,
                               FrameV23("TIT2", TextBody(3, title)) +
                                   FrameV23("TPE1", TextBody(3, artist)) +
                                   FrameV23("COMM", DescribedBody(3, "eng", "", comment)),
                               100}
                             .Build() +
                         Audio + TId3v1Record{"\x1b[2Jv1", "\x9b"}.Build());

    const TCliBytesResult plain = RunCliBytes({"show", Path});
    EXPECT_EQ(0, plain.ExitCode) << plain.Err;
    EXPECT_EQ(std::string::npos, plain.Out.find_first_of("\x1b\r\x07")) << plain.Out;
    EXPECT_NE(std::string::npos, plain.Out.find("  Title: A\\e]0;owned\\x07B\n"));
    EXPECT_NE(std::string::npos, plain.Out.find("  Artist: x\\r  Title: forged\n"));
    EXPECT_NE(std::string::npos, plain.Out.find("  Comment: one\n    two\\e[2J\n"));
    EXPECT_NE(std::string::npos, plain.Out.find("  Title: \\e[2Jv1\n"));
    EXPECT_NE(std::string::npos, plain.Out.find("  Artist: \\x9B\n")) << "a C1 control";

    const QJsonObject json = RunCli({"show", "--json", Q(Path)}).JsonLines().value(0);
    EXPECT_EQ(QString::fromStdString(title), json["id3v2"]["title"].toString());
    EXPECT_EQ(QString::fromStdString(artist), json["id3v2"]["artist"].toString());
}

TEST_F(CliFilesTest, AFileNameThatIsNotUtf8WorksAndIsNamedAsGiven) {
    const std::string name = Dir.File("caf\xe9 \x01.mp3");
    ASSERT_EQ(0, ::rename(Path.c_str(), name.c_str()));
    const TCliBytesResult set = RunCliBytes({"set-v2", name, "--title", "Latin-1 name"});
    ASSERT_EQ(0, set.ExitCode) << set.Err;
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(name));
    EXPECT_EQ("Latin-1 name", tag.Title);
    EXPECT_EQ(0, RunCliBytes({"set-v1", name, "--title", "v1"}).ExitCode);

    const TCliBytesResult plain = RunCliBytes({"show", name});
    EXPECT_EQ(0, plain.ExitCode) << plain.Err;
    EXPECT_NE(std::string::npos, plain.Out.find("File: " + Dir.Path() + "/caf\\xE9 \\x01.mp3\n"))
        << plain.Out;
    const TCliBytesResult json = RunCliBytes({"show", "--json", name});
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(json.Out));
    ASSERT_TRUE(document.isObject()) << json.Out;
    EXPECT_EQ(Q(Dir.Path()) + QStringLiteral("/caf\uFFFD \x01.mp3"), document["file"].toString());

    const TCliBytesResult missing = RunCliBytes({"remove-v2", name + "x"});
    EXPECT_EQ(1, missing.ExitCode);
    EXPECT_EQ("Can not remove ID3v2 tag from the file: " + Dir.Path() + "/caf\\xE9 \\x01.mp3x\n",
              missing.Err);
}

TEST_F(CliFilesTest, ATagOfTooManyFramesIsShownInPartAndTheRestIsReported) {
    std::string frames;
    for (int i = 0; i < TDID3v2::MaxFrames + 3; ++i)
        frames += FrameV23("XYZ1", "a");
    WriteBytes(Path, TId3v2Tag{3, 0, frames, 0}.Build() + Audio);
    const TCliResult result = RunCli({"show", "--json", Q(Path)});
    EXPECT_EQ(1, result.ExitCode);
    const QJsonObject json = result.JsonLines().value(0);
    EXPECT_EQ(TDID3v2::MaxFrames, json["id3v2"]["unsupported"].toArray().size());
    EXPECT_EQ(QJsonArray({"Only the first 16384 frames of the ID3v2 tag were read; 3 more are "
                          "not shown: " +
                          Q(Path)}),
              json["errors"].toArray());
    const TCliResult set = RunCli({"set-v2", Q(Path), "--title", "x"});
    EXPECT_EQ(1, set.ExitCode);
    EXPECT_TRUE(set.Err.contains("a save would lose them")) << set.Err.toStdString();
}

// A FIFO would block every open until a writer came; a device would be read forever.
TEST_F(CliFilesTest, FifosAndDevicesAreRefusedAtOnce) {
    const std::string fifo = Dir.File("x.mp3");
    ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
    const auto start = std::chrono::steady_clock::now();
    const TCliResult show = RunCli({"show", Q(fifo)});
    EXPECT_EQ(1, show.ExitCode);
    EXPECT_TRUE(show.Out.contains("Error: Can not read data from the file: " + Q(fifo)));
    EXPECT_EQ(1, RunCli({"set-v2", Q(fifo), "--title", "x"}).ExitCode);
    EXPECT_EQ(1, RunCli({"set-v1", Q(fifo), "--title", "x"}).ExitCode);
    EXPECT_EQ(1, RunCli({"remove-v2", Q(fifo)}).ExitCode);
    for (const char* lyrics : {"/dev/zero", "/dev/null"}) {
        const TCliResult result = RunCli({"set-v2", Q(Path), "--lyrics-file", lyrics});
        EXPECT_EQ(1, result.ExitCode);
        EXPECT_TRUE(result.Err.startsWith("Can not read data from the file: " + QString(lyrics)));
    }
    const TCliResult fromFifo = RunCli({"set-v2", Q(Path), "--lyrics-file", Q(fifo)});
    EXPECT_EQ(1, fromFifo.ExitCode);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_EQ(Audio, ReadBytes(Path));
}

TEST_F(CliFilesTest, ALyricsFileIsReadUpTo16MegabytesAndRefusedBeyond) {
    const std::string lyrics = Dir.File("lyrics.txt");
    WriteBytes(lyrics, std::string(16 * 1024 * 1024 + 1, 'l'));
    const TCliResult large = RunCli({"set-v2", Q(Path), "--lyrics-file", Q(lyrics)});
    EXPECT_EQ(1, large.ExitCode);
    EXPECT_TRUE(large.Err.contains("A lyrics file is at most 16 MB.")) << large.Err.toStdString();
    EXPECT_EQ(Audio, ReadBytes(Path));
    WriteBytes(lyrics, "Line one\nLine two");
    ASSERT_EQ(0, RunCli({"set-v2", Q(Path), "--lyrics-file", Q(lyrics)}).ExitCode);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    EXPECT_EQ("Line one\nLine two", tag.GetLyrics(0));
}

// Twenty saves of one file at once, from separate processes, some rebuilding the file and
// some writing in place: each waits for the one before, every one succeeds, and the file
// ends with one of the tags in front of the untouched audio.
TEST_F(CliFilesTest, TwentyConcurrentSavesLeaveOneWholeTagAndTheAudio) {
    constexpr int Saves = 20;
    std::vector<std::unique_ptr<QProcess>> processes;
    std::set<std::string> titles;
    for (int i = 0; i < Saves; ++i) {
        const std::string title = "Title " + std::to_string(i);
        titles.insert(title);
        auto process = std::make_unique<QProcess>();
        // Lyrics of 30 KB fit the padded tag of an earlier save; 50 KB make a rebuild.
        process->start(QStringLiteral(CANTORELL_CLI_PATH),
                       {"set-v2", Q(Path), "--title", Q(title), "--lyrics",
                        QString(i % 2 ? 30000 : 50000, QLatin1Char('a' + i))});
        processes.push_back(std::move(process));
    }
    for (auto& process : processes) {
        ASSERT_TRUE(process->waitForFinished(60000));
        EXPECT_EQ(0, process->exitCode()) << process->readAllStandardError().toStdString();
    }
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    EXPECT_TRUE(titles.count(tag.Title)) << tag.Title;
    const int index = std::stoi(tag.Title.substr(6));
    EXPECT_EQ(std::string(index % 2 ? 30000 : 50000, static_cast<char>('a' + index)),
              tag.GetLyrics(0));
    const std::string file = ReadBytes(Path);
    ASSERT_GT(file.size(), static_cast<size_t>(tag.TagSize));
    EXPECT_TRUE(file.substr(static_cast<size_t>(tag.TagSize)) == Audio) << "the audio changed";
    EXPECT_EQ(std::vector<std::string>({"song.mp3"}), FolderEntries(Dir.Path()));
}
