// Showing a file: the stream analysis, the ID3v2 reader and the ID3v1 reader one after
// another under one read pin, as the window and the command-line tool do.
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"

#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/MpegBuilder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

struct TShown {
    std::string Mode;
    std::string Title;
    std::string V1Title;
    bool operator==(const TShown&) const = default;
};

// A small file as encoders write it: a 2.3 tag, 50 KB of frames, an ID3v1 record.
std::string SmallFile(const std::string& title, uint8_t mode) {
    const std::string tag =
        TId3v2Tag{.Frames = FrameV23("TIT2", TextBody(0, title)), .Padding = 64}.Build();
    return tag + MpegFrames(TMpegHeader{.Mode = mode}, 417, 120) +
           TId3v1Record{.Title = title}.Build();
}

} // namespace

class ShowFileTest : public ::testing::Test {
protected:
    TShown Show() {
        const TReadPin pin(Fs, Path);
        TMPEGaudio audio(Fs);
        TDID3v2 v2(Fs);
        TID3v1 v1(Fs);
        EXPECT_TRUE(audio.ReadFromFile(Path) && v2.ReadFromFile(Path) && v1.ReadFromFile(Path));
        return {audio.ChannelMode(), v2.Title, v1.Title()};
    }

    TTempDir Dir;
    TFileSystem Fs;
    std::string Path = Dir.File("song.mp3");
};

TEST_F(ShowFileTest, ASmallFileIsOpenedOnceAndReadWithTwoKernelReads) {
    WriteBytes(Path, SmallFile("Song", 1));
    EXPECT_EQ((TShown{"Joint Stereo", "Song", "Song"}), Show());
    EXPECT_EQ(2, Fs.CallCount(TFileOp::foDiskRead)) << "one block at the head, one at the tail";
}

// Rewritten in place with the same size between two shows: the second sees only new bytes.
TEST_F(ShowFileTest, AFileRewrittenBetweenTwoShowsIsReadAfresh) {
    WriteBytes(Path, SmallFile("Song", 1));
    EXPECT_EQ((TShown{"Joint Stereo", "Song", "Song"}), Show());
    WriteBytes(Path, SmallFile("Tune", 3));
    EXPECT_EQ((TShown{"Mono", "Tune", "Tune"}), Show());
}
