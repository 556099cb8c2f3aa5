#include "tags/ID3v1.h"

#include "platform/FileSystem.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

const std::string Audio = FakeAudio(4000);

} // namespace

class ID3v1Test : public ::testing::Test {
protected:
    // Writes the audio followed by `tail` and returns the file's path.
    std::string MakeFile(const std::string& tail, const std::string& name = "song.mp3") {
        const std::string path = Dir.File(name);
        WriteBytes(path, Audio + tail);
        return path;
    }

    TTempDir Dir;
    TID3v1 Tag;
};

TEST(GenreNamesTest, HoldsTheWinampListInOrder) {
    EXPECT_EQ(148, GenreCount);
    EXPECT_EQ("Blues", GenreNames[0]);
    EXPECT_EQ("Rock", GenreNames[17]);
    EXPECT_EQ("Progessive Rock", GenreNames[92]);
    EXPECT_EQ("A capella", GenreNames[123]);
    EXPECT_EQ("Synthpop", GenreNames[147]);
}

TEST_F(ID3v1Test, NewObjectHoldsTheDefaults) {
    EXPECT_FALSE(Tag.Exists());
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
    EXPECT_EQ(0, Tag.Track());
    EXPECT_EQ(TID3v1::NoGenre, Tag.GenreID());
    EXPECT_EQ("", Tag.Genre());
}

TEST_F(ID3v1Test, ReadingAVersion11RecordGivesFieldsTrackAndGenre) {
    TId3v1Record record{"Title", "Artist", "Album", "1999", "Comment", 7, 17};
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
    EXPECT_TRUE(Tag.Exists());
    EXPECT_EQ(TID3v1::Version11, Tag.VersionID());
    EXPECT_EQ("Title", Tag.Title());
    EXPECT_EQ("Artist", Tag.Artist());
    EXPECT_EQ("Album", Tag.Album());
    EXPECT_EQ("1999", Tag.Year());
    EXPECT_EQ("Comment", Tag.Comment());
    EXPECT_EQ(7, Tag.Track());
    EXPECT_EQ(17, Tag.GenreID());
    EXPECT_EQ("Rock", Tag.Genre());
}

TEST_F(ID3v1Test, ReadingAVersion10RecordKeepsAThirtyByteComment) {
    const std::string comment(30, 'c');
    TId3v1Record record{"T", "", "", "", comment};
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
    EXPECT_EQ(comment, Tag.Comment());
    EXPECT_EQ(0, Tag.Track());
}

TEST_F(ID3v1Test, ZeroBytesAtTheEndOfTheCommentGiveVersion10WithoutThem) {
    TId3v1Record record{"T", "", "", "", "short"};
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
    EXPECT_EQ("short", Tag.Comment());
}

TEST_F(ID3v1Test, SpacePaddedFieldsAreTrimmedAndASpaceBeforeTheLastByteMeansVersion11) {
    // A space-padding writer: byte 125 is a space, byte 126 the track.
    TId3v1Record record{"Padded", "Artist", "", "2001", "Note"};
    record.Fill = ' ';
    std::string bytes = record.Build();
    bytes[126] = 9;
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(bytes)));
    EXPECT_EQ("Padded", Tag.Title());
    EXPECT_EQ("Note", Tag.Comment());
    EXPECT_EQ(TID3v1::Version11, Tag.VersionID());
    EXPECT_EQ(9, Tag.Track());

    bytes[126] = 0; // a space followed by a zero byte: version 1.1 with track 0
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(bytes)));
    EXPECT_EQ(TID3v1::Version11, Tag.VersionID());
    EXPECT_EQ(0, Tag.Track());

    bytes[126] = ' '; // two spaces: a plain version 1.0 comment
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(bytes)));
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
}

TEST_F(ID3v1Test, ACommentWithASpaceAsTwentyNinthByteIsCutToTwentyEightBytes) {
    TId3v1Record record{"", "", "", "", std::string(28, 'a') + " b"};
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
    EXPECT_EQ(TID3v1::Version11, Tag.VersionID());
    EXPECT_EQ(std::string(28, 'a'), Tag.Comment());
    EXPECT_EQ('b', Tag.Track());
}

TEST_F(ID3v1Test, ZeroBytesInsideAFieldAreKept) {
    TId3v1Record record{.Title = std::string("ab\0cd", 5)};
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
    EXPECT_EQ(std::string("ab\0cd", 5), Tag.Title());
}

TEST_F(ID3v1Test, GenreBytesBeyondTheTableNameNoGenre) {
    for (const int genre : {147, 148, 255}) {
        TId3v1Record record{.Title = "x"};
        record.Genre = static_cast<uint8_t>(genre);
        ASSERT_TRUE(Tag.ReadFromFile(MakeFile(record.Build())));
        EXPECT_EQ(genre, Tag.GenreID());
        EXPECT_EQ(genre == 147 ? "Synthpop" : "", Tag.Genre()) << genre;
    }
}

TEST_F(ID3v1Test, AFileWithoutTheMagicReadsAsNoTag) {
    TId3v1Record record{.Title = "x"};
    std::string bytes = record.Build();
    bytes[0] = 't'; // the magic is case-sensitive
    Tag.SetTitle("stale");
    ASSERT_TRUE(Tag.ReadFromFile(MakeFile(bytes)));
    EXPECT_FALSE(Tag.Exists());
    EXPECT_EQ("", Tag.Title());
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
    EXPECT_EQ(TID3v1::NoGenre, Tag.GenreID());
}

TEST_F(ID3v1Test, FilesThatCannotHoldARecordFailEveryOperationAndStayUnchanged) {
    const std::string shortFile = Dir.File("short.mp3");
    WriteBytes(shortFile, std::string(127, 'x'));
    const std::string empty = Dir.File("empty.mp3");
    WriteBytes(empty, "");
    for (const std::string& path : {shortFile, empty, Dir.File("missing.mp3"), Dir.Path()}) {
        const std::string before = ReadBytes(path);
        Tag.SetTitle("x");
        EXPECT_FALSE(Tag.ReadFromFile(path)) << path;
        EXPECT_EQ("", Tag.Title());
        EXPECT_FALSE(Tag.SaveToFile(path)) << path;
        EXPECT_FALSE(Tag.RemoveFromFile(path)) << path;
        EXPECT_EQ(before, ReadBytes(path));
    }
    EXPECT_FALSE(FileExists(Dir.File("missing.mp3")));
}

TEST_F(ID3v1Test, SavingToAFileWithoutARecordAppendsIt) {
    const std::string path = MakeFile("");
    Tag.SetTitle("Title");
    Tag.SetArtist("Artist");
    Tag.SetYear("2024");
    Tag.SetComment("Hi");
    Tag.SetTrack(3);
    Tag.SetGenreID(8);
    ASSERT_TRUE(Tag.SaveToFile(path));
    TId3v1Record expected{"Title", "Artist", "", "2024", "Hi", 3, 8};
    EXPECT_EQ(Audio + expected.Build(), ReadBytes(path));
    EXPECT_FALSE(Tag.Exists()) << "saving changes no field";
}

TEST_F(ID3v1Test, SavingOverARecordReplacesItInPlace) {
    TId3v1Record old{"Old title", "Old artist", "Old album", "1980", "Old", 1, 2};
    const std::string path = MakeFile(old.Build());
    ASSERT_TRUE(Tag.ReadFromFile(path));
    Tag.SetTitle("New title");
    ASSERT_TRUE(Tag.SaveToFile(path));
    TId3v1Record expected = old;
    expected.Title = "New title";
    EXPECT_EQ(Audio + expected.Build(), ReadBytes(path));
}

TEST_F(ID3v1Test, SavingATrackOfZeroWithAShortCommentReadsBackAsVersion10) {
    const std::string path = MakeFile("");
    Tag.SetComment(std::string(28, 'c'));
    ASSERT_TRUE(Tag.SaveToFile(path));
    const std::string bytes = ReadBytes(path);
    EXPECT_EQ(0, bytes[bytes.size() - 3]);
    EXPECT_EQ(0, bytes[bytes.size() - 2]);
    ASSERT_TRUE(Tag.ReadFromFile(path));
    EXPECT_EQ(TID3v1::Version10, Tag.VersionID());
    EXPECT_EQ(0, Tag.Track());
    EXPECT_EQ(std::string(28, 'c'), Tag.Comment());
}

TEST_F(ID3v1Test, ATrackNumberTakesTheLastTwoBytesOfALongComment) {
    const std::string path = MakeFile("");
    Tag.SetComment("123456789012345678901234567890");
    Tag.SetTrack(5);
    ASSERT_TRUE(Tag.SaveToFile(path));
    TId3v1Record expected{"", "", "", "", "1234567890123456789012345678", 5};
    EXPECT_EQ(Audio + expected.Build(), ReadBytes(path));
    ASSERT_TRUE(Tag.ReadFromFile(path));
    EXPECT_EQ(TID3v1::Version11, Tag.VersionID());
    EXPECT_EQ("1234567890123456789012345678", Tag.Comment());
}

TEST_F(ID3v1Test, SettersTrimTrailingBlanksThenCutToTheFieldWidth) {
    Tag.SetTitle(std::string(40, 't'));
    EXPECT_EQ(std::string(30, 't'), Tag.Title());
    Tag.SetArtist("Artist   ");
    EXPECT_EQ("Artist", Tag.Artist());
    Tag.SetYear("19999");
    EXPECT_EQ("1999", Tag.Year());
    // Trimming comes first, so a cut right after a space keeps the space.
    Tag.SetAlbum(std::string(29, 'a') + " b");
    EXPECT_EQ(std::string(29, 'a') + " ", Tag.Album());
    // Only the first 255 bytes count: the rest cannot save trailing blanks from trimming.
    Tag.SetComment("note" + std::string(251, ' ') + "tail");
    EXPECT_EQ("note", Tag.Comment());
}

TEST_F(ID3v1Test, RemovingCutsTheRecordAndLeavesFilesWithoutOneAlone) {
    TId3v1Record record{.Title = "x"};
    const std::string tagged = MakeFile(record.Build(), "tagged.mp3");
    ASSERT_TRUE(Tag.RemoveFromFile(tagged));
    EXPECT_EQ(Audio, ReadBytes(tagged));
    ASSERT_TRUE(Tag.RemoveFromFile(tagged));
    EXPECT_EQ(Audio, ReadBytes(tagged));
}

TEST_F(ID3v1Test, AReadOnlyFileIsSavedAndKeepsItsOtherPermissionBits) {
    const std::string path = MakeFile("");
    TFileSystem::Default().SetPermissions(path, 0444);
    Tag.SetTitle("x");
    ASSERT_TRUE(Tag.SaveToFile(path));
    EXPECT_EQ(0444u, FileMode(path));
    TFileSystem::Default().SetPermissions(path, 0440);
    ASSERT_TRUE(Tag.RemoveFromFile(path));
    EXPECT_EQ(0440u, FileMode(path));
    EXPECT_EQ(Audio, ReadBytes(path));
}

// Saves hold the file's lock and check that the file is still what this object read.
TEST_F(ID3v1Test, ASaveFailsWhenTheFileChangedSinceItWasReadOrAnotherSaveHoldsIt) {
    const std::string path = MakeFile(TId3v1Record{"Old", "", "", "", "", 0, 1}.Build());
    ASSERT_TRUE(Tag.ReadFromFile(path));
    const std::string changed = Audio + "more audio" + TId3v1Record{"Other"}.Build();
    WriteBytes(path, changed);
    Tag.SetTitle("Mine");
    EXPECT_FALSE(Tag.SaveToFile(path));
    EXPECT_FALSE(Tag.RemoveFromFile(path));
    EXPECT_EQ("The file was changed by another program since it was read.", Tag.FailureNote());
    EXPECT_EQ(changed, ReadBytes(path));

    // Read again, it saves; its own save is no change to refuse the next one for.
    ASSERT_TRUE(Tag.ReadFromFile(path));
    ASSERT_TRUE(Tag.SaveToFile(path));
    Tag.SetTitle("Again");
    ASSERT_TRUE(Tag.SaveToFile(path));

    TFileSystem other;
    const auto lock = other.LockFile(path);
    ASSERT_TRUE(lock);
    TFileSystem waiting;
    waiting.LockTimeoutMs = 20;
    TID3v1 tag(waiting);
    EXPECT_FALSE(tag.SaveToFile(path));
    EXPECT_EQ("Another program is saving the file.", tag.FailureNote());
    ASSERT_TRUE(Tag.ReadFromFile(path));
    EXPECT_EQ("Again", Tag.Title());
}

// Fault injection: whatever single call fails, the file keeps its old bytes and its
// permission bits (a read-only file is written through a temporary write bit).
enum class TScenario { scSaveOverRecord, scSaveAppending, scRemove };

class ID3v1FailureTest : public ::testing::TestWithParam<std::tuple<TScenario, TFileOp, int>> {
protected:
    TTempDir Dir;
    TFileSystem Fs;
};

TEST_P(ID3v1FailureTest, AFailedCallLeavesTheFileAsItWas) {
    const auto [scenario, op, nth] = GetParam();
    TId3v1Record old{"Old", "Artist", "", "", "", 4, 3};
    const std::string path = Dir.File("song.mp3");
    const bool tagged = scenario != TScenario::scSaveAppending;
    const std::string before = Audio + (tagged ? old.Build() : std::string());
    WriteBytes(path, before);
    ASSERT_EQ(0, ::chmod(path.c_str(), 0444));

    TID3v1 tag(Fs);
    tag.SetTitle("New");
    Fs.FailAt(op, nth);
    if (scenario == TScenario::scRemove)
        EXPECT_FALSE(tag.RemoveFromFile(path));
    else
        EXPECT_FALSE(tag.SaveToFile(path));
    EXPECT_EQ(before, ReadBytes(path));
    EXPECT_EQ(0444u, FileMode(path));
}

std::string
FailureTestName(const ::testing::TestParamInfo<std::tuple<TScenario, TFileOp, int>>& info) {
    static const char* const scenarios[] = {"SaveOverRecord", "SaveAppending", "Remove"};
    static const char* const ops[] = {"Open",     "Size",    "Read",   "Write",  "Copy",
                                      "Truncate", "Flush",   "Close",  "Make",   "Permissions",
                                      "SetMode",  "Replace", "Remove", "Exists", "Lock"};
    const auto [scenario, op, nth] = info.param;
    return std::string(scenarios[static_cast<int>(scenario)]) + "Failing" +
           ops[static_cast<int>(op)] + std::to_string(nth);
}

INSTANTIATE_TEST_SUITE_P(
    EachCall, ID3v1FailureTest,
    ::testing::Values(std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foLock, 1),
                      std::make_tuple(TScenario::scSaveAppending, TFileOp::foLock, 1),
                      std::make_tuple(TScenario::scRemove, TFileOp::foLock, 1),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foOpen, 1),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foOpen, 2),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foRead, 1),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foRead, 2),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foSize, 2),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foWrite, 1),
                      std::make_tuple(TScenario::scSaveOverRecord, TFileOp::foFlush, 1),
                      std::make_tuple(TScenario::scSaveAppending, TFileOp::foOpen, 2),
                      std::make_tuple(TScenario::scSaveAppending, TFileOp::foWrite, 1),
                      std::make_tuple(TScenario::scSaveAppending, TFileOp::foFlush, 1),
                      std::make_tuple(TScenario::scRemove, TFileOp::foOpen, 2),
                      std::make_tuple(TScenario::scRemove, TFileOp::foRead, 2),
                      std::make_tuple(TScenario::scRemove, TFileOp::foSize, 2),
                      std::make_tuple(TScenario::scRemove, TFileOp::foTruncate, 1),
                      std::make_tuple(TScenario::scRemove, TFileOp::foFlush, 1)),
    FailureTestName);

TEST(ID3v1SaveTest, ASuccessfulSaveEqualsRemovingThenAppending) {
    TTempDir dir;
    TId3v1Record old{"Old", "Artist", "Album", "1977", "Comment", 2, 40};
    const std::string a = dir.File("a.mp3");
    const std::string b = dir.File("b.mp3");
    WriteBytes(a, Audio + old.Build());
    WriteBytes(b, Audio + old.Build());
    TID3v1 tag;
    ASSERT_TRUE(tag.ReadFromFile(a));
    tag.SetComment("A new comment of thirty bytes!");
    ASSERT_TRUE(tag.SaveToFile(a));
    ASSERT_TRUE(tag.RemoveFromFile(b));
    ASSERT_TRUE(tag.SaveToFile(b));
    EXPECT_EQ(ReadBytes(b), ReadBytes(a));
    EXPECT_EQ(Audio.size() + 128, ReadBytes(a).size());
}
