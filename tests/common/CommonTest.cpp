// The rules the window and the command-line tool share: how a track or genre text becomes a
// tag byte, and how a failure's reason is worded.
#include "app/Common.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

using namespace cantorell;

namespace {

struct TTrackCase {
    const char* Text;
    int Track;
};

class ParseTrackTest : public ::testing::TestWithParam<TTrackCase> {};

TEST_P(ParseTrackTest, GivesTheTrackByte) {
    EXPECT_EQ(GetParam().Track, ParseTrack(QString::fromLatin1(GetParam().Text)));
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseTrackTest,
                         ::testing::Values(TTrackCase{"12", 12}, TTrackCase{" 12", 12},
                                           TTrackCase{"12 ", 0}, TTrackCase{"abc", 0},
                                           TTrackCase{"0", 0}, TTrackCase{"-5", 0},
                                           TTrackCase{"$0A", 10}, TTrackCase{"0x1F", 31},
                                           TTrackCase{"x10", 16}, TTrackCase{"255", 255},
                                           TTrackCase{"256", 0}, TTrackCase{"300", 44},
                                           TTrackCase{"", 0}, TTrackCase{"+7", 7},
                                           TTrackCase{"99999999999", 0}, TTrackCase{"$", 0}));

struct TGenreCase {
    const char* Text;
    bool Valid;
    int Genre;
};

class ParseGenreTest : public ::testing::TestWithParam<TGenreCase> {};

TEST_P(ParseGenreTest, GivesTheGenreByteOrRefuses) {
    uint8_t genre = 99;
    EXPECT_EQ(GetParam().Valid, ParseGenre(QString::fromLatin1(GetParam().Text), genre));
    EXPECT_EQ(GetParam().Genre, genre);
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseGenreTest,
                         ::testing::Values(TGenreCase{"", true, 255}, TGenreCase{"  ", true, 255},
                                           TGenreCase{"Rock", true, 17},
                                           TGenreCase{" hard rock ", true, 79},
                                           TGenreCase{"17", true, 17}, TGenreCase{"255", true, 255},
                                           TGenreCase{"256", false, 99},
                                           TGenreCase{"-1", false, 99},
                                           TGenreCase{"Chiptune", false, 99}));

TEST(FailureReasonTest, NamesAVanishedFileOrAFolderBeforeTheCallsErrorNumber) {
    test::TTempDir dir;
    EXPECT_EQ(QString::fromLocal8Bit(std::strerror(ENOENT)),
              FailureReason(QString::fromStdString(dir.File("missing")), EACCES));
    EXPECT_EQ("Not a regular file", FailureReason(QString::fromStdString(dir.Path()), 0));
    test::WriteBytes(dir.File("file"), "x");
    EXPECT_EQ(QString::fromLocal8Bit(std::strerror(EACCES)),
              FailureReason(QString::fromStdString(dir.File("file")), EACCES));
    EXPECT_EQ("", FailureReason(QString::fromStdString(dir.File("file")), 0));
}

TEST(SaveChangesQuestionTest, NamesTheFile) {
    EXPECT_EQ("Save the changes to /music/a b.mp3?", SaveChangesQuestion("/music/a b.mp3"));
}

} // namespace
