#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include "platform/FileSystem.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

const std::string Audio = FakeAudio(2000, 7);

std::string Latin1(std::string_view text) {
    return TextBody(0, text);
}

} // namespace

// The decoders are pure functions over frame bodies.

struct TTextCase {
    const char* Name;
    std::string Body;
    std::string Text;
};

class DecodeFrameTextTest : public ::testing::TestWithParam<TTextCase> {};

TEST_P(DecodeFrameTextTest, GivesUtf8) {
    EXPECT_EQ(GetParam().Text, DecodeFrameText(GetParam().Body));
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeFrameTextTest,
    ::testing::Values(
        TTextCase{"Latin1IsConverted", TextBody(0, "Caf\xE9"), "Caf\xC3\xA9"},
        TTextCase{"Latin1IsTrimmed", TextBody(0, "  Song \r\n"), "Song"},
        TTextCase{"Utf16LittleEndianMark", TextBody(1, "\xFF\xFE" + Utf16LE("Hi")), "Hi"},
        TTextCase{"Utf16BigEndianMark", TextBody(1, "\xFE\xFF" + Utf16BE("Hi")), "Hi"},
        TTextCase{"Utf16WithoutMarkIsLittleEndian", TextBody(1, Utf16LE("Hi")), "Hi"},
        // U+01FF has 0xFF as its low byte: it is a character, not a mark.
        TTextCase{"Utf16UnitWithLowByteFFIsKept", TextBody(1, "\xFF\xFE\xFF\x01"), "\xC7\xBF"},
        TTextCase{"Utf16SurrogatePairsCombine",
                  TextBody(1, std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), "\xF0\x9F\x98\x80"},
        TTextCase{"Utf16LoneSurrogateIsReplaced", TextBody(1, std::string("\xFF\xFE\x3D\xD8", 4)),
                  "\xEF\xBF\xBD"},
        TTextCase{"Utf16OddByteIsIgnored", TextBody(1, "\xFF\xFE" + Utf16LE("Hi") + "x"), "Hi"},
        TTextCase{"Utf16BigEndianEncoding", TextBody(2, Utf16BE("Hi")), "Hi"},
        TTextCase{"Utf8", TextBody(3, "\xD0\x9C\xD1\x83"), "\xD0\x9C\xD1\x83"},
        TTextCase{"MalformedUtf8IsReplaced", TextBody(3, "a\xC3"), "a\xEF\xBF\xBD"},
        TTextCase{"ValuesAreJoinedWithSlash", TextBody(3, std::string("Rock\0Pop\0", 9)),
                  "Rock/Pop"},
        TTextCase{"Utf16ValuesEachWithMark",
                  TextBody(1, "\xFF\xFE" + Utf16LE("A") + std::string(2, '\0') + "\xFE\xFF" +
                                  Utf16BE("B")),
                  "A/B"},
        TTextCase{"UnknownEncodingGivesNothing", TextBody(4, "Hi"), ""},
        TTextCase{"EmptyBody", "", ""}),
    [](const auto& test) { return std::string(test.param.Name); });

class DecodeGenreTextTest : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(DecodeGenreTextTest, GivesTheGenreName) {
    EXPECT_EQ(GetParam().second, DecodeGenreText(Latin1(GetParam().first)));
}

INSTANTIATE_TEST_SUITE_P(References, DecodeGenreTextTest,
                         ::testing::Values(std::pair{"(17)", "Rock"}, std::pair{"17", "Rock"},
                                           std::pair{"(17)Rock", "Rock"},
                                           std::pair{"(17)Hard Rock", "Hard Rock"},
                                           std::pair{"Rock", "Rock"}, std::pair{"(17)(18)", "Rock"},
                                           std::pair{"(147)", "Synthpop"},
                                           std::pair{"(148)", "(148)"}, std::pair{"(RX)", "(RX)"},
                                           std::pair{"2 Step", "2 Step"}));

TEST(DecodeDescribedTest, SkipsALittleEndianDescriptionAtAnEvenOffset) {
    // Description "a" (61 00) then the terminator 00 00: the terminator is not found one byte
    // early inside the last character.
    const std::string body =
        DescribedBody(1, "eng", "\xFF\xFE" + Utf16LE("a"), "\xFF\xFE" + Utf16LE("Hi"));
    const TDescribedText text = DecodeDescribed(body, true);
    EXPECT_EQ("eng", text.Language);
    EXPECT_EQ("a", text.Description);
    EXPECT_EQ("Hi", text.Text);
}

TEST(DecodeDescribedTest, EmptyUtf16DescriptionWithItsOwnMark) {
    const std::string body = std::string("\x01"
                                         "eng\xFF\xFE\x00\x00\xFF\xFE\x48\x00\x69\x00",
                                         14);
    EXPECT_EQ("Hi", DecodeDescribedText(body, true));
}

TEST(DecodeDescribedTest, AStringWithoutAMarkTakesTheByteOrderOfTheOneBefore) {
    const std::string bigEndian = DescribedBody(1, "eng", "\xFE\xFF" + Utf16BE("d"), Utf16BE("Hi"));
    EXPECT_EQ("Hi", DecodeDescribedText(bigEndian, true));
    const std::string littleEndian =
        DescribedBody(1, "eng", "\xFF\xFE" + Utf16LE("d"), Utf16LE("Hi"));
    EXPECT_EQ("Hi", DecodeDescribedText(littleEndian, true));
    // The values of a 2.4 text frame likewise.
    EXPECT_EQ("A/B", DecodeFrameText(TextBody(1, "\xFE\xFF" + Utf16BE("A") + std::string(2, '\0') +
                                                     Utf16BE("B"))));
}

TEST(DecodeDescribedTest, ShortOrTerminatorlessBodies) {
    EXPECT_EQ("", DecodeDescribedText(std::string("\0en", 3), true));
    EXPECT_EQ("", DecodeDescribedText("", true));
    EXPECT_EQ("text", DecodeDescribedText(std::string("\0engtext", 8), true));
    const TDescribedText text = DecodeDescribed(DescribedBody(3, "deu", "iTunNORM", " 0000"), true);
    EXPECT_EQ("iTunNORM", text.Description);
    EXPECT_EQ("0000", text.Text);
}

TEST(DecodeUserURLTest, TheUrlIsLatin1WhateverTheDescriptionEncoding) {
    EXPECT_EQ("http://a.example/",
              DecodeUserURL(TextBody(1, "\xFF\xFE" + Utf16LE("d") + std::string(2, '\0') +
                                            "http://a.example/")));
    EXPECT_EQ("http://b/", DecodeUserURL(TextBody(0, std::string("\0http://b/", 10))));
    EXPECT_EQ("http://c/",
              DecodeUserURL(TextBody(1, std::string(2, '\0') + "\xFF\xFE" + Utf16LE("http://c/"))));
}

TEST(ParseFrameNumberTest, DecimalAndHexadecimalTexts) {
    EXPECT_EQ(120, ParseFrameNumber("120"));
    EXPECT_EQ(42, ParseFrameNumber(" 42\r\n"));
    EXPECT_EQ(-1, ParseFrameNumber("-1"));
    EXPECT_EQ(5, ParseFrameNumber("+5"));
    EXPECT_EQ(255, ParseFrameNumber("$FF"));
    EXPECT_EQ(26, ParseFrameNumber("x1A"));
    EXPECT_EQ(16, ParseFrameNumber("0x10"));
    EXPECT_EQ(0, ParseFrameNumber("abc"));
    EXPECT_EQ(0, ParseFrameNumber("1.5"));
    EXPECT_EQ(0, ParseFrameNumber(""));
    EXPECT_EQ(0, ParseFrameNumber("-"));
    EXPECT_EQ(0, ParseFrameNumber("99999999999"));
    EXPECT_EQ(0, ParseFrameNumber("--1"));
}

TEST(FrameIdTableTest, LooksIdentifiersUpInTheVersionColumn) {
    EXPECT_EQ(RowYear, FindFrameRow("TYE", 2));
    EXPECT_EQ(RowYear, FindFrameRow("TYER", 3));
    EXPECT_EQ(RowYear, FindFrameRow("TDRC", 4));
    EXPECT_EQ(-1, FindFrameRow("TYER", 4));
    EXPECT_EQ(-1, FindFrameRow("TRDA", 4));
    EXPECT_EQ(-1, FindFrameRow("----", 4));
    EXPECT_EQ(RowImages, FindFrameRow("PIC", 2));
    EXPECT_EQ(-1, FindFrameRow("tit2", 3));
    EXPECT_EQ(-1, FindFrameRow("TIT2", 5));
}

// Reading whole tags from memory and from files.

class DID3v2ReadTest : public ::testing::Test {
protected:
    // Parses `tag` followed by the audio, as the start of a file of that size.
    void Read(const std::string& tag) {
        const std::string file = tag + Audio;
        ASSERT_TRUE(Tag.ReadFromBytes(file, static_cast<int64_t>(file.size())));
    }
    std::string MakeFile(const std::string& bytes, const std::string& name = "song.mp3") {
        const std::string path = Dir.File(name);
        WriteBytes(path, bytes);
        return path;
    }

    TTempDir Dir;
    TDID3v2 Tag;
};

TEST_F(DID3v2ReadTest, NewObjectIsReset) {
    EXPECT_FALSE(Tag.Exists);
    EXPECT_EQ(TDID3v2::MaxTagSpace, Tag.PaddingSize);
    EXPECT_EQ(0, Tag.Frames_Comments.Count());
}

TEST_F(DID3v2ReadTest, ReadsTheTextSlotsOfAVersion23Tag) {
    TId3v2Tag tag;
    tag.Frames = FrameV23("TIT2", Latin1("Title")) + FrameV23("TPE1", Latin1("Artist")) +
                 FrameV23("TALB", Latin1("Album")) + FrameV23("TRCK", Latin1("3/12")) +
                 FrameV23("TYER", Latin1("1999")) + FrameV23("TCON", Latin1("(17)Rock")) +
                 FrameV23("TCOM", Latin1("Composer")) + FrameV23("TRDA", Latin1("May 1st")) +
                 FrameV23("TBPM", Latin1("120")) +
                 FrameV23("WXXX", TextBody(0, std::string("\0http://x/", 10)));
    tag.Padding = 100;
    Read(tag.Build());
    EXPECT_TRUE(Tag.Exists);
    EXPECT_EQ(3, Tag.VersionID);
    EXPECT_EQ(static_cast<int32_t>(tag.Build().size()), Tag.TagSize);
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ("Artist", Tag.Artist);
    EXPECT_EQ("Album", Tag.Album);
    EXPECT_EQ("3/12", Tag.Track);
    EXPECT_EQ("1999", Tag.Year);
    EXPECT_EQ("Rock", Tag.Genre);
    EXPECT_EQ("Composer", Tag.Composer);
    EXPECT_EQ("May 1st", Tag.RecordingDates);
    EXPECT_EQ(120, Tag.BPM);
    EXPECT_EQ("http://x/", Tag.UserURL);
    EXPECT_EQ(0, Tag.Frames_Unsupport.Count());
}

TEST_F(DID3v2ReadTest, ALaterTextFrameReplacesAnEarlierOne) {
    Read(TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("First")) + FrameV23("TIT2", Latin1("Second"))}
             .Build());
    EXPECT_EQ("Second", Tag.Title);
}

TEST_F(DID3v2ReadTest, BpmTakesTheLowSixteenBits) {
    Read(TId3v2Tag{3, 0, FrameV23("TBPM", Latin1("-1"))}.Build());
    EXPECT_EQ(65535, Tag.BPM);
    Read(TId3v2Tag{3, 0, FrameV23("TBPM", Latin1("abc"))}.Build());
    EXPECT_EQ(0, Tag.BPM);
}

TEST_F(DID3v2ReadTest, CommentsAndLyricsKeepOrderLanguageAndDescription) {
    TId3v2Tag tag;
    tag.Frames = FrameV23("COMM", DescribedBody(0, "eng", "iTunNORM", " 00000A 0000B")) +
                 FrameV23("COMM", DescribedBody(1, "deu", "", "\xFF\xFE" + Utf16LE("Hallo"))) +
                 FrameV23("USLT", DescribedBody(0, "eng", "", "Line 1\nLine 2\n"));
    Read(tag.Build());
    ASSERT_EQ(2, Tag.Frames_Comments.Count());
    EXPECT_EQ("iTunNORM", Tag.Frames_Comments.Items(0).Description);
    EXPECT_EQ("00000A 0000B", Tag.GetComment(0));
    EXPECT_EQ("deu", Tag.Frames_Comments.Items(1).Language);
    EXPECT_EQ("", Tag.Frames_Comments.Items(1).Description);
    EXPECT_EQ("Hallo", Tag.GetComment(1));
    EXPECT_EQ("COMM", Tag.Frames_Comments.Items(1).FrameID);
    EXPECT_EQ(1, Tag.MainCommentIndex());
    EXPECT_EQ("Line 1\nLine 2", Tag.GetLyrics(0));
}

TEST_F(DID3v2ReadTest, ADescribedCommentIsNeverTheMainOneAndATypedCommentIsAdded) {
    Read(TId3v2Tag{3, 0,
                   FrameV23("COMM", DescribedBody(0, "eng", "a", "1")) +
                       FrameV23("COMM", DescribedBody(0, "eng", "b", "2"))}
             .Build());
    EXPECT_EQ("", Tag.GetComment(Tag.MainCommentIndex()));
    EXPECT_EQ(2, Tag.SetComment("typed", Tag.MainCommentIndex()));
    EXPECT_EQ("1", Tag.GetComment(0));
    EXPECT_EQ("2", Tag.GetComment(1));
    EXPECT_EQ("", Tag.Frames_Comments.Items(2).Description);
    Read(TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("x"))}.Build());
    EXPECT_EQ(0, Tag.SetComment("typed", Tag.MainCommentIndex()));
}

TEST_F(DID3v2ReadTest, UnknownFramesAreKeptRawWithIdentifierAndFlags) {
    const std::string body("\x01\x02\x00\xFF", 4);
    Read(TId3v2Tag{3, 0, FrameV23("PRIV", body, 0x40, 0x00) + FrameV23("APIC", "picture")}.Build());
    ASSERT_EQ(1, Tag.Frames_Unsupport.Count());
    const TFrameItem& item = Tag.Frames_Unsupport.Items(0);
    EXPECT_EQ("PRIV", item.FrameID);
    EXPECT_EQ("PRIV", item.Description);
    EXPECT_EQ(0x0040, item.FrameFlags);
    EXPECT_EQ(4, item.FrameSize);
    EXPECT_EQ(body, item.Data);
    ASSERT_EQ(1, Tag.Frames_Images.Count());
    EXPECT_EQ("picture", Tag.Frames_Images.Items(0).Data);
}

TEST_F(DID3v2ReadTest, TextInEveryKnownEncodingFillsItsSlotAndOnlyUnknownOnesAreKept) {
    Read(TId3v2Tag{4, 0,
                   FrameV24("TIT2", TextBody(3, "T\xC3\xADtulo")) +
                       FrameV24("TPE1", TextBody(2, Utf16BE("Artist"))) +
                       FrameV24("TALB", TextBody(7, "Album"))}
             .Build());
    EXPECT_EQ("T\xC3\xADtulo", Tag.Title);
    EXPECT_EQ("Artist", Tag.Artist);
    EXPECT_EQ("", Tag.Album);
    ASSERT_EQ(1, Tag.Frames_Unsupport.Count());
    EXPECT_EQ("TALB", Tag.Frames_Unsupport.Items(0).FrameID);
}

TEST_F(DID3v2ReadTest, Version24ValuesAreJoined) {
    Read(TId3v2Tag{4, 0, FrameV24("TPE1", TextBody(3, std::string("A\0B", 3)))}.Build());
    EXPECT_EQ("A/B", Tag.Artist);
}

TEST_F(DID3v2ReadTest, Version24SizesAreSynchsafe) {
    const std::string body = Latin1(std::string(199, 'x'));
    const std::string frame = "TIT2" + std::string("\x00\x00\x01\x48\x00\x00", 6) + body;
    Read(TId3v2Tag{4, 0, frame + FrameV24("TPE1", Latin1("After")), 10}.Build());
    EXPECT_EQ(std::string(199, 'x'), Tag.Title);
    EXPECT_EQ("After", Tag.Artist);
}

TEST_F(DID3v2ReadTest, APlainSizeInAVersion24TagIsTakenWhenOnlyItLandsOnAFrame) {
    // 200 bytes as a plain number is 00 00 00 C8, whose synchsafe reading (73 bytes) ends
    // inside the body.
    const std::string body = Latin1(std::string(199, 'x'));
    const std::string frame = "TIT2" + BigEndianBytes(200) + std::string(2, '\0') + body;
    Read(TId3v2Tag{4, 0, frame + FrameV24("TPE1", Latin1("After")), 10}.Build());
    EXPECT_EQ(std::string(199, 'x'), Tag.Title);
    EXPECT_EQ("After", Tag.Artist);
}

TEST_F(DID3v2ReadTest, AVersion22TagUsesItsOwnIdentifiers) {
    TId3v2Tag tag{2, 0,
                  FrameV22("TT2", Latin1("Title")) + FrameV22("TYE", Latin1("1987")) +
                      FrameV22("COM", DescribedBody(0, "eng", "", "Comment")) +
                      FrameV22("PIC", std::string("\0JPG\x03\0data", 10)) +
                      FrameV22("TCP", Latin1("1"))};
    Read(tag.Build());
    EXPECT_EQ(2, Tag.VersionID);
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ("1987", Tag.Year);
    EXPECT_EQ("Comment", Tag.GetComment(0));
    EXPECT_EQ("COM", Tag.Frames_Comments.Items(0).FrameID);
    EXPECT_EQ(0, Tag.Frames_Comments.Items(0).FrameFlags);
    ASSERT_EQ(1, Tag.Frames_Images.Count());
    ASSERT_EQ(1, Tag.Frames_Unsupport.Count());
    EXPECT_EQ("TCP", Tag.Frames_Unsupport.Items(0).FrameID);
}

TEST_F(DID3v2ReadTest, ExtendedHeadersAreSkipped) {
    // 2.3: a size of 6 that excludes its own 4 bytes (flags 2, padding size 4).
    const std::string v23 = BigEndianBytes(6) + std::string(6, '\0');
    Read(TId3v2Tag{3, 0x40, v23 + FrameV23("TIT2", Latin1("Three"))}.Build());
    EXPECT_EQ("Three", Tag.Title);
    // 2.4: a synchsafe size of 6 that includes itself.
    const std::string v24 = SynchsafeBytes(6) + std::string("\x01\x00", 2);
    Read(TId3v2Tag{4, 0x40, v24 + FrameV24("TIT2", Latin1("Four"))}.Build());
    EXPECT_EQ("Four", Tag.Title);
}

TEST_F(DID3v2ReadTest, UnsynchronisationIsUndone) {
    // 2.3: over the whole tag. The body FF E0 was stored as FF 00 E0.
    const std::string frame = FrameV23("PRIV", "\xFF\xE0");
    std::string stored = frame.substr(0, 10) + std::string("\xFF\x00\xE0", 3);
    stored.replace(4, 4, BigEndianBytes(2)); // the size counts the bytes after undoing it
    Read(TId3v2Tag{3, 0x80, stored}.Build());
    ASSERT_EQ(1, Tag.Frames_Unsupport.Count());
    EXPECT_EQ("\xFF\xE0", Tag.Frames_Unsupport.Items(0).Data);
    // 2.4: per frame, after a data-length indicator.
    Read(TId3v2Tag{4, 0,
                   FrameV24("PRIV", SynchsafeBytes(2) + std::string("\xFF\x00\xE0", 3), 0, 0x03)}
             .Build());
    ASSERT_EQ(1, Tag.Frames_Unsupport.Count());
    EXPECT_EQ("\xFF\xE0", Tag.Frames_Unsupport.Items(0).Data);
}

TEST_F(DID3v2ReadTest, CompressedFramesAreInflatedAndOnesThatCannotBeReadAreKeptAsStored) {
    const std::string title = Latin1("Zipped title");
    const std::string comment = DescribedBody(0, "eng", "", "Zipped comment");
    // 2.3: the decompressed size, then the zlib stream. 2.4: a data-length indicator.
    const std::string zipped23 =
        BigEndianBytes(static_cast<uint32_t>(title.size())) + ZlibCompress(title);
    const std::string bomb = std::string(17 * 1024 * 1024, 'x'); // inflates beyond 16 MB
    Read(TId3v2Tag{
        3, 0,
        FrameV23("TIT2", zipped23, 0, 0x80) +
            FrameV23("COMM",
                     BigEndianBytes(static_cast<uint32_t>(comment.size())) + ZlibCompress(comment),
                     0, 0x80) +
            FrameV23("TPE1", Latin1("secret"), 0, 0x40) +
            FrameV23("TALB", BigEndianBytes(6) + "nozlib", 0, 0x80) +
            FrameV23("PRIV", BigEndianBytes(0) + ZlibCompress(bomb), 0, 0x80)}
             .Build());
    EXPECT_EQ("Zipped title", Tag.Title);
    EXPECT_EQ("Zipped comment", Tag.GetComment(0));
    EXPECT_EQ("", Tag.Artist);
    EXPECT_EQ("", Tag.Album);
    ASSERT_EQ(3, Tag.Frames_Unsupport.Count());
    EXPECT_EQ("TPE1", Tag.Frames_Unsupport.Items(0).FrameID);
    EXPECT_EQ(Latin1("secret"), Tag.Frames_Unsupport.Items(0).Data);
    EXPECT_EQ(BigEndianBytes(6) + "nozlib", Tag.Frames_Unsupport.Items(1).Data);
    EXPECT_EQ("PRIV", Tag.Frames_Unsupport.Items(2).FrameID);

    Read(TId3v2Tag{
        4, 0,
        FrameV24("TIT2", SynchsafeBytes(static_cast<uint32_t>(title.size())) + ZlibCompress(title),
                 0, 0x09) +
            FrameV24("TPE1", Latin1("secret"), 0, 0x04)}
             .Build());
    EXPECT_EQ("Zipped title", Tag.Title);
    EXPECT_EQ("", Tag.Artist);
    EXPECT_EQ(1, Tag.Frames_Unsupport.Count());
}

TEST_F(DID3v2ReadTest, AHeaderWithAnIdentifierOfOtherCharactersEndsTheWalk) {
    // Found by fuzzing: such a frame, written back, made a save's 2.4 frame sizes ambiguous.
    Read(TId3v2Tag{4, 0,
                   FrameV24("TIT2", Latin1("Title")) + FrameV24("KgH\x80", "junk") +
                       FrameV24("TPE1", Latin1("Artist"))}
             .Build());
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ("", Tag.Artist);
    EXPECT_EQ(std::vector<std::string>({"TIT2"}), Tag.FrameIDs());
}

TEST_F(DID3v2ReadTest, AGroupSymbolIsNotTakenAsPartOfTheBody) {
    // The writer sets no flags, so a body kept with its group byte would be read wrongly.
    Read(TId3v2Tag{3, 0, FrameV23("TIT2", "\x07" + Latin1("Grouped"), 0, 0x20)}.Build());
    EXPECT_EQ("Grouped", Tag.Title);
    Read(TId3v2Tag{4, 0, FrameV24("TIT2", "\x07" + SynchsafeBytes(8) + Latin1("Grouped"), 0, 0x41)}
             .Build());
    EXPECT_EQ("Grouped", Tag.Title);
}

TEST_F(DID3v2ReadTest, AFrameReachingPastTheTagEndsTheWalk) {
    // The second frame claims 100 bytes, but the tag ends 20 bytes after its header.
    const std::string frames = FrameV23("TIT2", Latin1("Title")) + "TPE1" + BigEndianBytes(100) +
                               std::string(2, '\0') + std::string(20, 'a');
    Read(TId3v2Tag{3, 0, frames}.Build());
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ("", Tag.Artist);
    EXPECT_EQ(0, Tag.Frames_Unsupport.Count());
}

TEST_F(DID3v2ReadTest, AZeroSizedFrameIsSkipped) {
    Read(TId3v2Tag{3, 0, FrameV23("TIT2", "") + FrameV23("TPE1", Latin1("Artist"))}.Build());
    EXPECT_EQ("Artist", Tag.Artist);
}

TEST_F(DID3v2ReadTest, ATagLargerThanTheFileHasNoSizeAndNoFrames) {
    std::string tag = TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Title"))}.Build();
    tag.replace(6, 4, SynchsafeBytes(1000000));
    Read(tag);
    EXPECT_TRUE(Tag.Exists);
    EXPECT_EQ(0, Tag.TagSize);
    EXPECT_EQ("", Tag.Title);
}

TEST_F(DID3v2ReadTest, AFooterAddsTenBytesAndIsNotAFrame) {
    const std::string frames = FrameV24("TIT2", Latin1("Title"));
    Read(TId3v2Tag{4, 0x10, frames}.Build());
    EXPECT_EQ(static_cast<int32_t>(10 + frames.size() + 10), Tag.TagSize);
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ(0, Tag.Frames_Unsupport.Count());
}

TEST_F(DID3v2ReadTest, OtherVersionsExistWithoutFrames) {
    Read(TId3v2Tag{5, 0, FrameV23("TIT2", Latin1("Title"))}.Build());
    EXPECT_TRUE(Tag.Exists);
    EXPECT_EQ(5, Tag.VersionID);
    EXPECT_EQ("", Tag.Title);
}

TEST_F(DID3v2ReadTest, ReadingAFileResetsEverythingFirst) {
    const std::string tagged =
        MakeFile(TId3v2Tag{3, 0,
                           FrameV23("TIT2", Latin1("Title")) +
                               FrameV23("COMM", DescribedBody(0, "eng", "", "c"))}
                         .Build() +
                     Audio,
                 "tagged.mp3");
    ASSERT_TRUE(Tag.ReadFromFile(tagged));
    EXPECT_EQ("Title", Tag.Title);
    EXPECT_EQ(tagged, Tag.FileName);

    const std::string plain = MakeFile(Audio, "plain.mp3");
    ASSERT_TRUE(Tag.ReadFromFile(plain));
    EXPECT_FALSE(Tag.Exists);
    EXPECT_EQ("", Tag.Title);
    EXPECT_EQ(0, Tag.Frames_Comments.Count());

    ASSERT_TRUE(Tag.ReadFromFile(tagged));
    EXPECT_FALSE(Tag.ReadFromFile(MakeFile("ID3\x03\0\0\0\0", "short.mp3")));
    EXPECT_FALSE(Tag.Exists);
    EXPECT_EQ("", Tag.Title);
    EXPECT_FALSE(Tag.ReadFromFile(Dir.File("missing.mp3")));
    EXPECT_EQ(Dir.File("missing.mp3"), Tag.FileName);
}

TEST_F(DID3v2ReadTest, AFailedTagReadShowsTheTagWithoutFrames) {
    const std::string path =
        MakeFile(TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Title"))}.Build() + Audio);
    TFileSystem fs;
    TDID3v2 tag(fs);
    fs.FailAt(TFileOp::foRead, 2); // the header read succeeds, the tag read fails
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_TRUE(tag.Exists);
    EXPECT_EQ("", tag.Title);
}

TEST_F(DID3v2ReadTest, ATagIsReadWithOneReadAfterTheHeader) {
    const std::string path =
        MakeFile(TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("Title")), 5000}.Build() + Audio);
    TFileSystem fs;
    TDID3v2 tag(fs);
    ASSERT_TRUE(tag.ReadFromFile(path));
    EXPECT_EQ("Title", tag.Title);
    EXPECT_EQ(2, fs.CallCount(TFileOp::foRead));
}

// The frame collections.

TEST(TFrameLibTest, ItemsKnowTheirIndexAndClearEmptiesTheCollection) {
    TFrameLib frames;
    TFrameItem& first = frames.Add();
    first.Data = "one";
    TFrameItem& second = frames.Add();
    EXPECT_EQ(0, first.Index());
    EXPECT_EQ(1, second.Index());
    EXPECT_EQ("one", frames.Items(0).Data); // an earlier reference stays valid
    EXPECT_EQ(0, second.FrameSize);
    EXPECT_EQ("", second.Language);
    frames.Clear();
    EXPECT_EQ(0, frames.Count());
}

TEST(TDID3v2CollectionsTest, GetAndSetCommentsAndLyricsByIndex) {
    TDID3v2 tag;
    EXPECT_EQ("", tag.GetComment(0));
    EXPECT_EQ("", tag.GetComment(-1));
    EXPECT_EQ(0, tag.SetLyrics("first", 0));
    EXPECT_EQ(1, tag.SetLyrics("second", 0 + 1));
    EXPECT_EQ(2, tag.SetLyrics("third", 5));
    EXPECT_EQ("third", tag.GetLyrics(2));
    EXPECT_EQ("", tag.GetLyrics(3));
    EXPECT_EQ(0, tag.SetComment("a", 0));
    EXPECT_EQ(1, tag.SetComment("b", -1));
    EXPECT_EQ(0, tag.SetComment("c", 0));
    EXPECT_EQ("c", tag.GetComment(0));
    EXPECT_EQ("b", tag.GetComment(1));
    EXPECT_EQ("", tag.Frames_Comments.Items(1).FrameID);
    tag.ResetFields();
    EXPECT_EQ(0, tag.Frames_Comments.Count());
    EXPECT_EQ(0, tag.Frames_Lyrics.Count());
}
