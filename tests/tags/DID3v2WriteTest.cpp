#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include "platform/FileSystem.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <sys/stat.h>
#include <utility>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

const std::string Audio = FakeAudio(6000, 3);

std::string Latin1(std::string_view text) {
    return TextBody(0, text);
}

struct TWrittenFrame {
    std::string Id;
    std::string Body;
    std::string Flags;
};

// The frames of a written 2.3 or 2.4 tag, read independently of the reader under test.
std::vector<TWrittenFrame> WrittenFrames(const std::string& file) {
    std::vector<TWrittenFrame> frames;
    const size_t end = 10 + (size_t{static_cast<uint8_t>(file[6])} << 21) +
                       (size_t{static_cast<uint8_t>(file[7])} << 14) +
                       (size_t{static_cast<uint8_t>(file[8])} << 7) + static_cast<uint8_t>(file[9]);
    const bool synchsafe = file[3] == 4;
    size_t pos = 10;
    while (pos + 10 <= end && file[pos] != 0) {
        const auto* b = reinterpret_cast<const uint8_t*>(file.data() + pos + 4);
        const size_t size =
            synchsafe ? (size_t{b[0]} << 21) | (size_t{b[1]} << 14) | (size_t{b[2]} << 7) | b[3]
                      : BigEndian32(b);
        frames.push_back(
            {file.substr(pos, 4), file.substr(pos + 10, size), file.substr(pos + 8, 2)});
        pos += 10 + size;
    }
    return frames;
}

std::vector<std::string> FrameIds(const std::string& file) {
    std::vector<std::string> ids;
    for (const auto& frame : WrittenFrames(file))
        ids.push_back(frame.Id);
    return ids;
}

int64_t TagEnd(const std::string& file) {
    return 10 + (int64_t{static_cast<uint8_t>(file[6])} << 21) +
           (int64_t{static_cast<uint8_t>(file[7])} << 14) +
           (int64_t{static_cast<uint8_t>(file[8])} << 7) + static_cast<uint8_t>(file[9]);
}

} // namespace

class DID3v2WriteTest : public ::testing::Test {
protected:
    std::string MakeFile(const std::string& bytes) {
        WriteBytes(Path, bytes);
        return Path;
    }
    // Reads the file into a fresh object, as the window does after every change.
    void Reread() { ASSERT_TRUE(Again.ReadFromFile(Path)); }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    TDID3v2 Tag;
    TDID3v2 Again;
};

TEST_F(DID3v2WriteTest, AFileWithoutATagGetsAPaddedTagInFrontOfEverything) {
    MakeFile(Audio);
    Tag.Title = "Title";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(TDID3v2::MaxTagSpace, TagEnd(file));
    EXPECT_TRUE(Audio == file.substr(TDID3v2::MaxTagSpace));
    EXPECT_EQ(std::string("ID3\x03\x00\x00", 6), file.substr(0, 6));
    const int frameBytes = 10 + 6; // TIT2 "Title"
    EXPECT_EQ(TDID3v2::MaxTagSpace - 10 - frameBytes, Tag.PaddingSize);
    Reread();
    EXPECT_EQ("Title", Again.Title);
    EXPECT_EQ(TDID3v2::MaxTagSpace, Again.TagSize);
}

TEST_F(DID3v2WriteTest, ATagWithRoomIsWrittenInPlaceAndTheFileKeepsItsLength) {
    const std::string old =
        TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Old")), 4096 - 10 - 14}.Build();
    ASSERT_EQ(4096u, old.size());
    MakeFile(old + Audio);
    Tag.Title = std::string(1200 - 10 - 11, 't'); // 1200 bytes of header and frames
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(2896, Tag.PaddingSize);
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(old.size() + Audio.size(), file.size());
    EXPECT_EQ(4096, TagEnd(file));
    EXPECT_TRUE(Audio == file.substr(4096));
}

TEST_F(DID3v2WriteTest, ATagOverTheSpaceLimitOrTooSmallIsRebuiltToTheStandardSize) {
    for (const size_t oldSize : {size_t{50000}, size_t{30}}) {
        MakeFile(TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Old")), oldSize - 10 - 14}.Build() +
                 Audio);
        Tag.Title = std::string(40, 'n');
        ASSERT_TRUE(Tag.SaveToFile(Path));
        const std::string file = ReadBytes(Path);
        EXPECT_EQ(TDID3v2::MaxTagSpace, TagEnd(file)) << oldSize;
        EXPECT_TRUE(Audio == file.substr(TDID3v2::MaxTagSpace)) << oldSize;
    }
}

TEST_F(DID3v2WriteTest, ContentLargerThanTheStandardSizeHasNoPadding) {
    MakeFile(Audio);
    Tag.SetComment(std::string(45000 - 10 - 15, 'c'), 0);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(45000, TagEnd(file));
    EXPECT_TRUE(Audio == file.substr(45000));
    EXPECT_LT(Tag.PaddingSize, 0);
}

TEST_F(DID3v2WriteTest, TheSpaceOfAVersion24TagWithFooterIsReused) {
    const std::string old = TId3v2Tag{4, 0x10, FrameV24("TIT2", Latin1("Old")), 500}.Build();
    MakeFile(old + Audio);
    Tag.Title = "New";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(old.size() + Audio.size(), file.size());
    EXPECT_EQ(0, file[5]); // no footer flag
    EXPECT_EQ(static_cast<int64_t>(old.size()), TagEnd(file));
    EXPECT_TRUE(Audio == file.substr(old.size()));
}

TEST_F(DID3v2WriteTest, ABeatsPerMinuteFrameIsWrittenOnlyForANumberAboveZero) {
    MakeFile(Audio);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_TRUE(WrittenFrames(ReadBytes(Path)).empty());
    Tag.BPM = 97;
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ("TBPM", frames[0].Id);
    EXPECT_EQ(Latin1("97"), frames[0].Body);
}

TEST_F(DID3v2WriteTest, EveryFieldIsWrittenInTableOrderAndReadBack) {
    MakeFile(Audio);
    Tag.Album = "Album", Tag.Artist = "Artist", Tag.Title = "Title", Tag.Track = "1/2";
    Tag.Year = "2001", Tag.Genre = "Rock", Tag.Lyricist = "Lyricist", Tag.EncodedBy = "Enc";
    Tag.Languages = "eng", Tag.RightsNotice = "(c)", Tag.Composer = "Composer";
    Tag.UserURL = "http://x/", Tag.OrigLyricist = "OL", Tag.OrigArtist = "OA";
    Tag.OrigAlbum = "OAl", Tag.ContentGroup = "CG", Tag.Subtitle = "Sub";
    Tag.RecordingDates = "RD", Tag.Band = "Band", Tag.Conductor = "Cond";
    Tag.ModifiedBy = "Mod", Tag.BPM = 128;
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::vector<std::string> expected = {
        "TALB", "TPE1", "TIT2", "TRCK", "TYER", "TCON", "TEXT", "TENC", "TLAN", "TCOP", "TCOM",
        "WXXX", "TOLY", "TOPE", "TOAL", "TIT1", "TIT3", "TRDA", "TPE2", "TPE3", "TPE4", "TBPM"};
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(expected, FrameIds(file));
    EXPECT_EQ(std::string("\0\0http://x/", 11), WrittenFrames(file)[11].Body);
    Reread();
    EXPECT_EQ("Album", Again.Album);
    EXPECT_EQ("http://x/", Again.UserURL);
    EXPECT_EQ("Mod", Again.ModifiedBy);
    EXPECT_EQ("RD", Again.RecordingDates);
    EXPECT_EQ(128, Again.BPM);
}

TEST_F(DID3v2WriteTest, TextsBeyondLatin1AreWrittenAsUtf16AndNothingIsLost) {
    MakeFile(Audio);
    Tag.Title = "\xD0\x9C\xD1\x83\xD0\xB7\xD1\x8B\xD0\xBA\xD0\xB0 \xF0\x9F\x8E\xB5"; // "Музыка 🎵"
    Tag.Artist = "Bj\xC3\xB6rk";                                                     // Latin-1
    Tag.UserURL = "http://\xE4\xBE\x8B/";
    Tag.SetComment("\xE6\x97\xA5\xE6\x9C\xAC", 0);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(4u, frames.size());
    EXPECT_EQ("\x01\xFF\xFE", frames[1].Body.substr(0, 3)); // TIT2 after TPE1
    EXPECT_EQ(std::string("\0Bj\xF6rk", 6), frames[0].Body);
    // Every UTF-16 string has its byte-order mark, the empty description too.
    EXPECT_EQ(std::string("\x01"
                          "eng\xFF\xFE\0\0\xFF\xFE\xE5\x65\x2C\x67",
                          14),
              frames[3].Body);
    Reread();
    EXPECT_EQ(Tag.Title, Again.Title);
    EXPECT_EQ(Tag.Artist, Again.Artist);
    EXPECT_EQ("http://%E4%BE%8B/", Again.UserURL);
    EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC", Again.GetComment(0));
}

TEST_F(DID3v2WriteTest, ACommentFrameOfTenCharacters) {
    MakeFile(Audio);
    Tag.SetComment("0123456789", 0);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(1u, frames.size());
    EXPECT_EQ("COMM", frames[0].Id);
    EXPECT_EQ(std::string("\0eng\0", 5) + "0123456789", frames[0].Body);
}

TEST_F(DID3v2WriteTest, CommentsKeepLanguageAndDescriptionSoTechnicalOnesStayApart) {
    const std::string lyrics =
        DescribedBody(1, "deu", "\xFF\xFE" + Utf16LE("v"), "\xFF\xFE" + Utf16LE("Text"));
    MakeFile(TId3v2Tag{3, 0,
                       FrameV23("COMM", DescribedBody(0, "eng", "iTunNORM", " 0000A")) +
                           FrameV23("COMM", DescribedBody(0, "fra", "", "Bonjour")) +
                           FrameV23("USLT", lyrics)}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.SetComment("Changed", Tag.MainCommentIndex());
    ASSERT_TRUE(Tag.SaveToFile(Path));
    Reread();
    ASSERT_EQ(2, Again.Frames_Comments.Count());
    EXPECT_EQ("iTunNORM", Again.Frames_Comments.Items(0).Description);
    EXPECT_EQ("0000A", Again.GetComment(0));
    EXPECT_EQ("fra", Again.Frames_Comments.Items(1).Language);
    EXPECT_EQ("Changed", Again.GetComment(1));
    ASSERT_EQ(1, Again.Frames_Lyrics.Count());
    EXPECT_EQ("deu", Again.Frames_Lyrics.Items(0).Language);
    EXPECT_EQ("v", Again.Frames_Lyrics.Items(0).Description);
    EXPECT_EQ("Text", Again.GetLyrics(0));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(DescribedBody(0, "eng", "iTunNORM", " 0000A"), frames[0].Body);
    EXPECT_EQ(std::string("\0fra\0Changed", 12), frames[1].Body);
    EXPECT_EQ(lyrics, frames[2].Body);
}

TEST_F(DID3v2WriteTest, EmptiedItemsAreNotWritten) {
    MakeFile(TId3v2Tag{3, 0,
                       FrameV23("COMM", DescribedBody(0, "eng", "", "one")) +
                           FrameV23("COMM", DescribedBody(0, "eng", "x", "two"))}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.SetComment("", 0);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    Reread();
    ASSERT_EQ(1, Again.Frames_Comments.Count());
    EXPECT_EQ("two", Again.GetComment(0));
}

TEST_F(DID3v2WriteTest, PicturesAndUnknownFramesSurviveWithTheirFlags) {
    const std::string picture = std::string("\0image/png\0\x03\0", 13) + FakeAudio(3000, 9);
    const std::string priv = std::string("owner\0", 6) + "\x01\x02";
    MakeFile(TId3v2Tag{3, 0, FrameV23("APIC", picture) + FrameV23("PRIV", priv, 0x40, 0)}.Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ("APIC", frames[0].Id);
    EXPECT_EQ(picture, frames[0].Body);
    EXPECT_EQ("PRIV", frames[1].Id);
    EXPECT_EQ(priv, frames[1].Body);
    EXPECT_EQ(std::string("\x40\0", 2), frames[1].Flags);
    EXPECT_TRUE(Audio == ReadBytes(Path).substr(static_cast<size_t>(TagEnd(ReadBytes(Path)))));
}

TEST_F(DID3v2WriteTest, AVersion22TagIsWrittenWithVersion23FramesAndAConvertedPicture) {
    const std::string image = "\x89PNG-data";
    MakeFile(TId3v2Tag{2, 0,
                       FrameV22("TT2", Latin1("Title")) +
                           FrameV22("COM", DescribedBody(0, "eng", "", "Comment")) +
                           FrameV22("PIC", std::string("\0PNG\x03"
                                                       "desc\0",
                                                       10) +
                                               image) +
                           FrameV22("PIC", std::string("\0JPG\x00\0", 6) + "jpeg") +
                           FrameV22("TPA", Latin1("1/2")) + FrameV22("CRM", "secret") +
                           FrameV22("XYZ", "unknown")}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(3, file[3]);
    const std::vector<std::string> expected = {"TIT2", "COMM", "APIC", "APIC", "TPOS"};
    EXPECT_EQ(expected, FrameIds(file));
    const auto frames = WrittenFrames(file);
    EXPECT_EQ(std::string("\0image/png\0\x03"
                          "desc\0",
                          17) +
                  image,
              frames[2].Body);
    EXPECT_EQ(std::string("\0image/jpeg\0\x00\0", 14) + "jpeg", frames[3].Body);
    Reread();
    EXPECT_EQ("Title", Again.Title);
    EXPECT_EQ("Comment", Again.GetComment(0));
    EXPECT_TRUE(Audio == file.substr(static_cast<size_t>(TagEnd(file))));
}

TEST_F(DID3v2WriteTest, OtherFramesWithTheIdentifierOfAChangedSlotAreLeftOut) {
    // An earlier duplicate "TYER" and a "TIT2" with an unknown encoding, kept as they were
    // until their slot changes.
    MakeFile(TId3v2Tag{3, 0,
                       FrameV23("TYER", Latin1("1980")) +
                           FrameV23("TIT2", TextBody(9, "Old title")) +
                           FrameV23("TYER", Latin1("1990"))}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_EQ("1990", Tag.Year);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(std::vector<std::string>({"TYER", "TIT2", "TYER"}), FrameIds(ReadBytes(Path)));
    Tag.Year = "2010";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(std::vector<std::string>({"TIT2", "TYER"}), FrameIds(ReadBytes(Path)));
    Reread();
    EXPECT_EQ("2010", Again.Year);

    // Once the title is set, the kept one is no longer written.
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.Title = "New title";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(std::vector<std::string>({"TYER", "TIT2"}), FrameIds(ReadBytes(Path)));
    Reread();
    EXPECT_EQ("New title", Again.Title);
}

TEST_F(DID3v2WriteTest, AVersion24TagTakesNewTextsInUtf8WithSynchsafeSizes) {
    const std::string old = TId3v2Tag{4, 0, FrameV24("TALB", Latin1("Album")), 2000}.Build();
    MakeFile(old + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    std::string title;
    for (int i = 0; i < 100; ++i)
        title += "\xD0\x96"; // 200 bytes of UTF-8: a size above 127
    Tag.Title = title;
    Tag.SetComment("\xE2\x82\xAC", -1);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(old.size() + Audio.size(), file.size()) << "written in place";
    EXPECT_EQ(4, file[3]);
    const auto frames = WrittenFrames(file);
    ASSERT_EQ(3u, frames.size());
    EXPECT_EQ(Latin1("Album"), frames[0].Body);
    EXPECT_EQ(TextBody(3, title), frames[1].Body);
    EXPECT_EQ(std::string("\x03"
                          "eng\0\xE2\x82\xAC",
                          8),
              frames[2].Body);
    Reread();
    EXPECT_EQ(title, Again.Title);
    EXPECT_EQ("\xE2\x82\xAC", Again.GetComment(0));
}

TEST_F(DID3v2WriteTest, ATagWideUnsynchronisedVersion24TagMarksEachFrameItKeeps) {
    const std::string body = Latin1("\xFF\x00\xE0 title");
    MakeFile(TId3v2Tag{4, 0x80, FrameV24("TIT2", body) + FrameV24("TALB", Latin1("Album")), 100}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.Album = "Changed";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(0, file[5]);
    const auto frames = WrittenFrames(file);
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(body, frames[0].Body);
    EXPECT_EQ(std::string("\0\x02", 2), frames[0].Flags);
    Reread();
    EXPECT_EQ(Tag.Title, Again.Title);
    EXPECT_EQ("Changed", Again.Album);
}

TEST_F(DID3v2WriteTest, ALargeTagThatFitsIsRewrittenInPlaceAndUnchangedBytesAreNotWritten) {
    const std::string picture = std::string("\0image/png\0\x03\0", 13) + FakeAudio(100000, 4);
    const std::string old =
        TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Old")) + FrameV23("APIC", picture), 1000}.Build();
    MakeFile(old + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_TRUE(old + Audio == ReadBytes(Path)) << "a save without edits changed the file";
    Tag.Title = "New";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(old.size() + Audio.size(), file.size());
    EXPECT_EQ(picture, WrittenFrames(file)[1].Body);
}

TEST_F(DID3v2WriteTest, ChangingTheUserUrlKeepsTheOtherLinks) {
    MakeFile(TId3v2Tag{3, 0,
                       FrameV23("WXXX", Latin1(std::string("shop\0http://b/", 14))) +
                           FrameV23("WXXX", Latin1(std::string("\0http://a/", 10)))}
                 .Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_EQ("http://a/", Tag.UserURL);
    Tag.UserURL = "http://c/";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const auto frames = WrittenFrames(ReadBytes(Path));
    ASSERT_EQ(2u, frames.size());
    EXPECT_EQ(Latin1(std::string("shop\0http://b/", 14)), frames[0].Body);
    EXPECT_EQ(Latin1(std::string("\0http://c/", 10)), frames[1].Body);
}

TEST_F(DID3v2WriteTest, RemovingTakesEveryTagStackedAtTheStart) {
    const std::string first = TId3v2Tag{4, 0, FrameV24("TIT2", Latin1("New")), 50}.Build();
    const std::string second = TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Old")), 50}.Build();
    MakeFile(first + second + Audio);
    ASSERT_TRUE(Tag.RemoveFromFile(Path));
    EXPECT_TRUE(Audio == ReadBytes(Path));
}

TEST_F(DID3v2WriteTest, Version24ValuesSurviveAsOneSlashSeparatedText) {
    MakeFile(TId3v2Tag{4, 0, FrameV24("TPE1", TextBody(3, std::string("A\0B", 3)))}.Build() +
             Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    Reread();
    EXPECT_EQ("A/B", Again.Artist);
}

TEST_F(DID3v2WriteTest, NumericGenresSurviveASave) {
    MakeFile(TId3v2Tag{3, 0, FrameV23("TCON", Latin1("(17)"))}.Build() + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    Reread();
    EXPECT_EQ("Rock", Again.Genre);
}

TEST_F(DID3v2WriteTest, AudioBytesBehindABrokenFrameNeverEnterTheTag) {
    const std::string frames = FrameV23("TIT2", Latin1("Title")) + "PRIV" + BigEndianBytes(5000) +
                               std::string(2, '\0') + std::string(10, 'p');
    MakeFile(TId3v2Tag{3, 0, frames}.Build() + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    EXPECT_EQ(std::vector<std::string>({"TIT2"}), FrameIds(file));
    EXPECT_TRUE(Audio == file.substr(static_cast<size_t>(TagEnd(file))));
}

TEST_F(DID3v2WriteTest, SavingTwiceWritesTheSameTag) {
    MakeFile(Audio);
    Tag.Title = "Same";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    const std::string first = ReadBytes(Path);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_TRUE(first == ReadBytes(Path));
}

TEST_F(DID3v2WriteTest, AReadOnlyFileIsSavedAndKeepsItsOtherPermissionBits) {
    MakeFile(Audio);
    ASSERT_EQ(0, chmod(Path.c_str(), 0444));
    Tag.Title = "Title";
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(0444u, FileMode(Path) & 07777);
    ASSERT_EQ(0, chmod(Path.c_str(), 0440));
    Tag.Title = "Again"; // in place now
    ASSERT_TRUE(Tag.SaveToFile(Path));
    EXPECT_EQ(0440u, FileMode(Path) & 07777);
    Reread();
    EXPECT_EQ("Again", Again.Title);
}

// A hostile tag of countless tiny frames: the first MaxFrames are read, the rest counted,
// and a save, which would lose the rest, is refused; a removal still works.
TEST_F(DID3v2WriteTest, ATagOfTooManyFramesIsReadUpToTheCapAndNotSaved) {
    std::string frames;
    for (int i = 0; i < TDID3v2::MaxFrames + 7; ++i)
        frames += FrameV23("XYZ1", "a");
    MakeFile(TId3v2Tag{3, 0, frames, 0}.Build() + Audio);
    const std::string before = ReadBytes(Path);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_EQ(TDID3v2::MaxFrames, Tag.Frames_Unsupport.Count());
    EXPECT_EQ(7, Tag.FramesIgnored);
    Tag.Title = "New";
    EXPECT_FALSE(Tag.SaveToFile(Path));
    EXPECT_NE(std::string::npos, Tag.FailureNote().find("a save would lose them"));
    EXPECT_TRUE(before == ReadBytes(Path));
    ASSERT_TRUE(Tag.RemoveFromFile(Path));
    EXPECT_TRUE(Audio == ReadBytes(Path));
}

TEST_F(DID3v2WriteTest, MissingAndTinyFilesAreNotSaved) {
    EXPECT_FALSE(Tag.SaveToFile(Dir.File("missing.mp3")));
    EXPECT_FALSE(FileExists(Dir.File("missing.mp3")));
    MakeFile("ID3");
    EXPECT_FALSE(Tag.SaveToFile(Path));
    EXPECT_EQ("ID3", ReadBytes(Path));
    EXPECT_FALSE(FileExists(Path + "~"));
}

TEST_F(DID3v2WriteTest, RemovingCutsTheTagOff) {
    const std::string tag = TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("T")), 100}.Build();
    MakeFile(tag + Audio);
    ASSERT_TRUE(Tag.RemoveFromFile(Path));
    EXPECT_TRUE(Audio == ReadBytes(Path));
    // A file without a tag is left alone and reported.
    EXPECT_FALSE(Tag.RemoveFromFile(Path));
    EXPECT_TRUE(Audio == ReadBytes(Path));
    // A file that held only the tag becomes empty.
    MakeFile(tag);
    ASSERT_TRUE(Tag.RemoveFromFile(Path));
    EXPECT_EQ("", ReadBytes(Path));
    EXPECT_FALSE(Tag.RemoveFromFile(Dir.File("missing.mp3")));
    EXPECT_EQ(std::vector<std::string>({"song.mp3"}), FolderEntries(Dir.Path()));
}

// Every step of every way a save or a removal touches the file fails in turn, the way a
// full disk, a lost permission or a failing drive would: a failed save leaves the original
// byte-identical with its permission bits and nothing beside it; a step that fails after
// the new file took the original's place (the folder's flush) still counts as a save.

enum class TSaveWay {
    swRebuild,
    swInPlace,
    swRemove,
    swRebuildHardLinked,
    // A tag with a picture that the read passes over and the save copies from the file.
    swRebuildPicture,
    swInPlacePicture
};

struct TSaveCase {
    const char* Name;
    TSaveWay Way;
};

class DID3v2FaultTest : public ::testing::TestWithParam<TSaveCase> {
protected:
    std::string Original() const {
        // 50,000 bytes of tag are beyond the size reused in place; 1,000 are not.
        const TSaveWay way = GetParam().Way;
        const size_t padding =
            way == TSaveWay::swInPlace || way == TSaveWay::swInPlacePicture ? 1000 : 50000;
        const std::string picture =
            way == TSaveWay::swRebuildPicture || way == TSaveWay::swInPlacePicture
                ? FrameV23("APIC", std::string("\0image/png\0\x03\0", 13) + FakeAudio(200000, 4))
                : std::string();
        return TId3v2Tag{3, 0, picture + FrameV23("TIT2", Latin1("Old")), padding}.Build() + Audio;
    }

    // Makes the file in a fresh folder and saves or removes; the file's bytes are returned.
    bool Run(TTempDir& dir, TFileSystem& fs) const {
        const std::string path = dir.File("song.mp3");
        WriteBytes(path, Original());
        ::chmod(path.c_str(), 0444);
        if (GetParam().Way == TSaveWay::swRebuildHardLinked)
            ::link(path.c_str(), dir.File("link.mp3").c_str());
        TDID3v2 tag(fs);
        if ((GetParam().Way == TSaveWay::swRebuildPicture ||
             GetParam().Way == TSaveWay::swInPlacePicture) &&
            !tag.ReadFromFile(path))
            return false;
        if (GetParam().Way == TSaveWay::swRemove)
            return tag.RemoveFromFile(path);
        tag.Title = "New";
        return tag.SaveToFile(path);
    }
};

TEST_P(DID3v2FaultTest, EveryStepFailsWithTheOriginalIntactAndNothingLeftBehind) {
    TTempDir reference;
    TFileSystem counting;
    ASSERT_TRUE(Run(reference, counting));
    const std::string saved = ReadBytes(reference.File("song.mp3"));
    ASSERT_NE(Original(), saved);
    const std::vector<std::string> entries = FolderEntries(reference.Path());

    int failures = 0;
    for (int op = 0; op < static_cast<int>(TFileOp::foCount); ++op) {
        for (int nth = 1; nth <= counting.CallCount(static_cast<TFileOp>(op)); ++nth) {
            SCOPED_TRACE("op " + std::to_string(op) + ", call " + std::to_string(nth));
            TTempDir dir;
            TFileSystem fs;
            fs.FailAt(static_cast<TFileOp>(op), nth);
            const bool ok = Run(dir, fs);
            const std::string now = ReadBytes(dir.File("song.mp3"));
            const std::string note = fs.FailureNote();
            if (ok) {
                EXPECT_TRUE(now == saved);
            } else if (note.starts_with("A complete copy")) {
                // Written into the linked file itself: the whole new file is kept and named.
                const size_t open = note.find('"');
                const std::string copy = note.substr(open + 1, note.rfind('"') - open - 1);
                EXPECT_TRUE(ReadBytes(copy) == saved);
                ::unlink(copy.c_str());
            } else {
                ++failures;
                EXPECT_TRUE(now == Original()) << "the original changed";
            }
            EXPECT_EQ(0444u, FileMode(dir.File("song.mp3")));
            EXPECT_EQ(entries, FolderEntries(dir.Path()));
        }
    }
    EXPECT_GT(failures, 5);
}

INSTANTIATE_TEST_SUITE_P(EachWay, DID3v2FaultTest,
                         ::testing::Values(TSaveCase{"Rebuild", TSaveWay::swRebuild},
                                           TSaveCase{"InPlace", TSaveWay::swInPlace},
                                           TSaveCase{"Remove", TSaveWay::swRemove},
                                           TSaveCase{"RebuildHardLinked",
                                                     TSaveWay::swRebuildHardLinked},
                                           TSaveCase{"RebuildPicture", TSaveWay::swRebuildPicture},
                                           TSaveCase{"InPlacePicture", TSaveWay::swInPlacePicture}),
                         [](const auto& test) { return std::string(test.param.Name); });

TEST_F(DID3v2WriteTest, ABeatsPerMinuteTextThatIsNoWholeNumberSurvivesASaveUntilChanged) {
    MakeFile(TId3v2Tag{3, 0, FrameV23("TBPM", Latin1("120.5")), 100}.Build() + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_EQ(0, Tag.BPM);
    Tag.Title = "Edited";
    Tag.BPM = 0;
    ASSERT_TRUE(Tag.SaveToFile(Path));
    auto frames = WrittenFrames(ReadBytes(Path));
    auto bpm = std::find_if(frames.begin(), frames.end(),
                            [](const TWrittenFrame& frame) { return frame.Id == "TBPM"; });
    ASSERT_NE(frames.end(), bpm);
    EXPECT_EQ(Latin1("120.5"), bpm->Body);

    // A number the user sets replaces the text.
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.BPM = 98;
    ASSERT_TRUE(Tag.SaveToFile(Path));
    Reread();
    EXPECT_EQ(98, Again.BPM);
    frames = WrittenFrames(ReadBytes(Path));
    bpm = std::find_if(frames.begin(), frames.end(),
                       [](const TWrittenFrame& frame) { return frame.Id == "TBPM"; });
    ASSERT_NE(frames.end(), bpm);
    EXPECT_EQ(Latin1("98"), bpm->Body);
}
