// The MPEG audio analyser on synthesised frames: the tables, the header decoding, the
// first-frame search, the VBR headers, the encoder tag and whole files.
#include "tags/MPEGaudio.h"

#include "platform/FileSystem.h"
#include "tests/testsupport/MpegBuilder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace cantorell;
using namespace cantorell::test;

namespace {

// A header of the given codes, decoded, for the functions that take a FrameHeaderInfo.
FrameHeaderInfo Decoded(const TMpegHeader& header) {
    FrameHeaderInfo frame;
    const std::string bytes = header.Build();
    DecodeFrameHeader(reinterpret_cast<const uint8_t*>(bytes.data()), frame);
    return frame;
}

TSearchBlock Block(const std::string& bytes) {
    TSearchBlock block{};
    std::copy_n(bytes.begin(), std::min(bytes.size(), block.size()), block.begin());
    return block;
}

struct TFound {
    FrameHeaderInfo Frame;
    VBRData Vbr;
};

TFound Search(const std::string& bytes) {
    TFound found;
    FindFirstFrame(Block(bytes), std::min<size_t>(bytes.size(), SearchBlockSize), found.Frame,
                   found.Vbr);
    return found;
}

// Junk without a sync byte, standing in for a tag, a picture or damaged data.
std::string Junk(size_t count) {
    return std::string(count, '\x11');
}

const TMpegHeader Mpeg1Layer3Joint128{};
const TMpegHeader Mpeg1Mono128{.Mode = 3};
const TMpegHeader Mpeg2Mono64{.Version = 2, .BitRateIndex = 8, .Mode = 3};
const TMpegHeader Mpeg2Stereo64{.Version = 2, .BitRateIndex = 8, .Mode = 0};

} // namespace

// --- Tables ----------------------------------------------------------------------------

struct TBitRateCase {
    uint8_t Version;
    uint8_t Layer;
    uint16_t Index;
    uint16_t KbitPerSecond;
};

class MPEGaudioBitRateTableTest : public ::testing::TestWithParam<TBitRateCase> {};

TEST_P(MPEGaudioBitRateTableTest, GivesTheStandardRate) {
    const auto& c = GetParam();
    EXPECT_EQ(c.KbitPerSecond, TableBitRate(c.Version, c.Layer, c.Index));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, MPEGaudioBitRateTableTest,
    ::testing::Values(
        // MPEG 1 Layer I, II, III
        TBitRateCase{3, 3, 1, 32}, TBitRateCase{3, 3, 9, 288}, TBitRateCase{3, 3, 14, 448},
        TBitRateCase{3, 2, 2, 48}, TBitRateCase{3, 2, 10, 192}, TBitRateCase{3, 2, 14, 384},
        TBitRateCase{3, 1, 1, 32}, TBitRateCase{3, 1, 2, 40}, TBitRateCase{3, 1, 9, 128},
        TBitRateCase{3, 1, 14, 320},
        // MPEG 2 and 2.5: one Layer I row, one row shared by Layers II and III
        TBitRateCase{2, 3, 9, 144}, TBitRateCase{2, 3, 14, 256}, TBitRateCase{0, 3, 11, 176},
        TBitRateCase{2, 2, 1, 8}, TBitRateCase{2, 1, 8, 64}, TBitRateCase{2, 1, 14, 160},
        TBitRateCase{0, 1, 1, 8}, TBitRateCase{0, 2, 13, 144},
        // free format, the invalid index and the reserved codes name no rate
        TBitRateCase{3, 1, 0, 0}, TBitRateCase{3, 1, 15, 0}, TBitRateCase{1, 1, 9, 0},
        TBitRateCase{3, 0, 9, 0}, TBitRateCase{2, 1, 15, 0}));

TEST(MPEGaudioSampleRateTableTest, GivesTheRatesOfEachVersion) {
    EXPECT_EQ(44100, TableSampleRate(3, 0));
    EXPECT_EQ(48000, TableSampleRate(3, 1));
    EXPECT_EQ(32000, TableSampleRate(3, 2));
    EXPECT_EQ(22050, TableSampleRate(2, 0));
    EXPECT_EQ(24000, TableSampleRate(2, 1));
    EXPECT_EQ(16000, TableSampleRate(2, 2));
    EXPECT_EQ(11025, TableSampleRate(0, 0));
    EXPECT_EQ(12000, TableSampleRate(0, 1));
    EXPECT_EQ(8000, TableSampleRate(0, 2));
    EXPECT_EQ(0, TableSampleRate(3, 3));
    EXPECT_EQ(0, TableSampleRate(1, 0));
}

struct TFrameLengthCase {
    const char* Name;
    TMpegHeader Header;
    uint16_t Length;
};

class MPEGaudioFrameLengthTest : public ::testing::TestWithParam<TFrameLengthCase> {};

TEST_P(MPEGaudioFrameLengthTest, MatchesTheFrameSizeEncodersWrite) {
    EXPECT_EQ(GetParam().Length, FrameLength(Decoded(GetParam().Header)));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, MPEGaudioFrameLengthTest,
    ::testing::Values(
        TFrameLengthCase{"Mpeg1Layer3At128kAnd44k", {}, 417},
        TFrameLengthCase{"Mpeg1Layer3Padded", {.Padded = true}, 418},
        TFrameLengthCase{
            "Mpeg1Layer3At320kAnd48k", {.BitRateIndex = 14, .SampleRateIndex = 1}, 960},
        TFrameLengthCase{"Mpeg1Layer1PaddedByFourBytes",
                         {.Layer = 3, .BitRateIndex = 1, .SampleRateIndex = 1, .Padded = true},
                         36},
        TFrameLengthCase{"Mpeg1Layer2At384kAnd32k",
                         {.Layer = 2, .BitRateIndex = 14, .SampleRateIndex = 2},
                         1728},
        TFrameLengthCase{"Mpeg2Layer3At64kAnd22k", {.Version = 2, .BitRateIndex = 8}, 208},
        TFrameLengthCase{"Mpeg2Layer2At160kAnd16k",
                         {.Version = 2, .Layer = 2, .BitRateIndex = 14, .SampleRateIndex = 2},
                         1440},
        TFrameLengthCase{"Mpeg2Layer1At256kAnd16k",
                         {.Version = 2, .Layer = 3, .BitRateIndex = 14, .SampleRateIndex = 2},
                         384},
        TFrameLengthCase{
            "Mpeg25Layer3At8kAnd8k", {.Version = 0, .BitRateIndex = 1, .SampleRateIndex = 2}, 72}),
    [](const auto& test) { return std::string(test.param.Name); });

TEST(MPEGaudioVBRHeaderOffsetTest, SkipsTheSideInformationOfEachVersionAndChannelCount) {
    EXPECT_EQ(36, VBRHeaderOffset(Decoded(Mpeg1Layer3Joint128)));
    EXPECT_EQ(36, VBRHeaderOffset(Decoded({.Mode = 2})));
    EXPECT_EQ(21, VBRHeaderOffset(Decoded(Mpeg1Mono128)));
    EXPECT_EQ(21, VBRHeaderOffset(Decoded(Mpeg2Stereo64)));
    EXPECT_EQ(13, VBRHeaderOffset(Decoded(Mpeg2Mono64)));
    EXPECT_EQ(13, VBRHeaderOffset(Decoded({.Version = 0, .BitRateIndex = 1, .Mode = 3})));
}

// --- Header recognition and decoding ---------------------------------------------------

TEST(MPEGaudioHeaderTest, DecodesEveryFieldOfTheFourBytes) {
    // FF FB 92 64: MPEG 1 Layer III without CRC, 128 kbit/s, 44100 Hz, padded, joint
    // stereo with mode extension 2, original, no emphasis.
    const uint8_t bytes[] = {0xFF, 0xFB, 0x92, 0x64};
    ASSERT_TRUE(IsFrameHeader(bytes));
    FrameHeaderInfo frame;
    frame.Position = 77;
    DecodeFrameHeader(bytes, frame);
    EXPECT_EQ((std::array<uint8_t, 4>{0xFF, 0xFB, 0x92, 0x64}), frame.HeaderBytes);
    EXPECT_EQ(3, frame.VersionCode);
    EXPECT_EQ(1, frame.LayerCode);
    EXPECT_FALSE(frame.CRCProtected);
    EXPECT_EQ(9, frame.BitRateIndex);
    EXPECT_EQ(0, frame.SampleRateIndex);
    EXPECT_TRUE(frame.Padded);
    EXPECT_FALSE(frame.PrivateBit);
    EXPECT_EQ(1, frame.ModeCode);
    EXPECT_EQ(2, frame.ModeExtension);
    EXPECT_FALSE(frame.RightsFlag);
    EXPECT_TRUE(frame.OrigFlag);
    EXPECT_EQ(0, frame.EmphasisCode);
    EXPECT_EQ(77, frame.Position) << "decoding leaves the search's fields alone";
    EXPECT_FALSE(frame.Found);
}

TEST(MPEGaudioHeaderTest, DecodesTheFlagsOfTheOtherBitValues) {
    // FF F2 1D 8F: MPEG 2 Layer III with CRC, index 1, 16000 Hz, unpadded, private bit,
    // dual channel, copyright, original, emphasis 3.
    const uint8_t bytes[] = {0xFF, 0xF2, 0x19, 0x8F};
    ASSERT_TRUE(IsFrameHeader(bytes));
    FrameHeaderInfo frame;
    DecodeFrameHeader(bytes, frame);
    EXPECT_EQ(2, frame.VersionCode);
    EXPECT_TRUE(frame.CRCProtected);
    EXPECT_EQ(2, frame.SampleRateIndex);
    EXPECT_FALSE(frame.Padded);
    EXPECT_TRUE(frame.PrivateBit);
    EXPECT_EQ(2, frame.ModeCode);
    EXPECT_TRUE(frame.RightsFlag);
    EXPECT_EQ(3, frame.EmphasisCode);
}

TEST(MPEGaudioHeaderTest, RejectsHeadersWithAnyReservedOrUnusableCode) {
    const std::string good = Mpeg1Layer3Joint128.Build();
    ASSERT_TRUE(IsFrameHeader(reinterpret_cast<const uint8_t*>(good.data())));
    const std::pair<const char*, std::array<uint8_t, 4>> bad[] = {
        {"first sync byte", {0xFE, 0xFB, 0x90, 0x64}},
        {"sync bits of byte 1", {0xFF, 0xDB, 0x90, 0x64}},
        {"reserved version", {0xFF, 0xEB, 0x90, 0x64}},
        {"reserved layer", {0xFF, 0xF9, 0x90, 0x64}},
        {"free format", {0xFF, 0xFB, 0x00, 0x64}},
        {"bit-rate index 15", {0xFF, 0xFB, 0xF0, 0x64}},
        {"sample-rate index 3", {0xFF, 0xFB, 0x9C, 0x64}},
        {"reserved emphasis", {0xFF, 0xFB, 0x90, 0x66}},
    };
    for (const auto& [what, bytes] : bad)
        EXPECT_FALSE(IsFrameHeader(bytes.data())) << what;
}

// --- First-frame search ----------------------------------------------------------------

TEST(MPEGaudioFindFirstFrameTest, ConfirmsAFrameByTheHeaderOneFrameLengthLater) {
    const auto found = Search(Junk(100) + MpegFrames(Mpeg1Layer3Joint128, 417, 3));
    ASSERT_TRUE(found.Frame.Found);
    EXPECT_EQ(100, found.Frame.Position);
    EXPECT_EQ(417, found.Frame.Size);
    EXPECT_FALSE(found.Frame.ZeroSideInfo);
    EXPECT_FALSE(found.Vbr.Found);
}

TEST(MPEGaudioFindFirstFrameTest, SkipsAFalseSyncThatNoSecondHeaderFollows) {
    std::string bytes = Junk(600) + MpegFrames(Mpeg1Layer3Joint128, 417, 3);
    PutAt(bytes, 10, Mpeg1Layer3Joint128.Build()); // 417 bytes later there is only junk
    const auto found = Search(bytes);
    ASSERT_TRUE(found.Frame.Found);
    EXPECT_EQ(600, found.Frame.Position);
}

TEST(MPEGaudioFindFirstFrameTest, AcceptsASecondHeaderOfAnotherFormat) {
    const std::string bytes =
        MpegFrame(Mpeg1Layer3Joint128, 417) + MpegFrame(Mpeg2Mono64, 208) + Junk(100);
    const auto found = Search(bytes);
    ASSERT_TRUE(found.Frame.Found);
    EXPECT_EQ(3, found.Frame.VersionCode) << "the first frame is the one described";
}

TEST(MPEGaudioFindFirstFrameTest, SearchesTheFirst1730PositionsOnly) {
    const auto atLast = Search(Junk(1729) + MpegFrames(Mpeg1Layer3Joint128, 417, 2));
    ASSERT_TRUE(atLast.Frame.Found);
    EXPECT_EQ(1729, atLast.Frame.Position);
    EXPECT_FALSE(Search(Junk(1730) + MpegFrames(Mpeg1Layer3Joint128, 417, 2)).Frame.Found);
}

TEST(MPEGaudioFindFirstFrameTest, DoesNotConfirmByBytesBeyondTheBytesRead) {
    // The second header is in the block, but only as a leftover: the read delivered 417
    // bytes.
    const std::string bytes = MpegFrames(Mpeg1Layer3Joint128, 417, 2);
    FrameHeaderInfo frame;
    VBRData vbr;
    vbr.Found = true;
    FindFirstFrame(Block(bytes), 417, frame, vbr);
    EXPECT_FALSE(frame.Found);
    EXPECT_EQ(0, frame.VersionCode) << "an unconfirmed candidate leaves no codes behind";
    EXPECT_TRUE(vbr.Found) << "the VBR data is written only for a confirmed frame";
    FindFirstFrame(Block(bytes), 421, frame, vbr);
    EXPECT_TRUE(frame.Found);
}

TEST(MPEGaudioFindFirstFrameTest, DoesNotReadPastTheBlockForALongFrame) {
    // MPEG 2.5 Layer II at 160 kbit/s and 8000 Hz is 2880 bytes long: from position 1000 its
    // successor would lie beyond the block's end.
    const TMpegHeader longFrame{.Version = 0, .Layer = 2, .BitRateIndex = 14, .SampleRateIndex = 2};
    ASSERT_EQ(2880, FrameLength(Decoded(longFrame)));
    const auto found = Search(Junk(1000) + MpegFrame(longFrame, 2458));
    EXPECT_FALSE(found.Frame.Found);
}

// --- VBR headers -----------------------------------------------------------------------

TEST(MPEGaudioVBRHeaderTest, FindsXingBehindTheSideInformationOfEachFrameKind) {
    const struct {
        const char* Name;
        TMpegHeader Header;
        size_t Length;
        size_t Offset;
    } cases[] = {
        {"MPEG 1 joint stereo", Mpeg1Layer3Joint128, 417, 36},
        {"MPEG 1 mono", Mpeg1Mono128, 417, 21},
        {"MPEG 2 stereo", Mpeg2Stereo64, 208, 21},
        {"MPEG 2 mono", Mpeg2Mono64, 208, 13},
    };
    for (const auto& c : cases) {
        const TXingHeader xing{.Frames = 1000, .Bytes = 417960, .Quality = 0x1234};
        const std::string bytes = VbrFrame(c.Header, c.Length, c.Offset, xing.Build()) +
                                  MpegFrames(c.Header, c.Length, 2);
        const auto found = Search(bytes);
        ASSERT_TRUE(found.Frame.Found) << c.Name;
        EXPECT_TRUE(found.Frame.ZeroSideInfo) << c.Name;
        ASSERT_TRUE(found.Vbr.Found) << c.Name;
        EXPECT_EQ((std::array<char, 4>{'X', 'i', 'n', 'g'}), found.Vbr.Signature) << c.Name;
        EXPECT_EQ(1000, found.Vbr.FrameCount) << c.Name;
        EXPECT_EQ(417960, found.Vbr.ByteCount) << c.Name;
        EXPECT_EQ(0x34, found.Vbr.Quality) << c.Name;
        EXPECT_EQ("LAME3.97", found.Vbr.EncoderText) << c.Name;
    }
}

TEST(MPEGaudioVBRHeaderTest, IgnoresXingAtTheOffsetOfAnotherFrameKind) {
    const TXingHeader xing{.Frames = 10, .Bytes = 4170};
    const auto found =
        Search(VbrFrame(Mpeg1Mono128, 417, 36, xing.Build()) + MpegFrames(Mpeg1Mono128, 417, 2));
    ASSERT_TRUE(found.Frame.Found);
    EXPECT_FALSE(found.Vbr.Found);
}

TEST(MPEGaudioVBRHeaderTest, TakesTheCountsWhereTheXingFlagsPlaceThem) {
    // Without a frame count the byte count directly follows the flags.
    const TXingHeader bytesOnly{.Flags = 0x02, .Bytes = 50000, .Encoder = ""};
    TSearchBlock block = Block(bytesOnly.Build());
    const VBRData vbr = ReadVBRHeader(block, 0);
    ASSERT_TRUE(vbr.Found);
    EXPECT_EQ(0, vbr.FrameCount);
    EXPECT_EQ(50000, vbr.ByteCount);
    EXPECT_EQ(0, vbr.Quality);
}

TEST(MPEGaudioVBRHeaderTest, ReadsVBRIAt36BytesIntoAnMpeg1Frame) {
    const TVbriHeader vbri{.Quality = 80, .Bytes = 123456, .Frames = 300};
    const auto found = Search(VbrFrame(Mpeg1Layer3Joint128, 417, 36, vbri.Build()) +
                              MpegFrames(Mpeg1Layer3Joint128, 417, 2));
    ASSERT_TRUE(found.Vbr.Found);
    EXPECT_EQ((std::array<char, 4>{'V', 'B', 'R', 'I'}), found.Vbr.Signature);
    EXPECT_EQ(80, found.Vbr.Quality);
    EXPECT_EQ(123456, found.Vbr.ByteCount);
    EXPECT_EQ(300, found.Vbr.FrameCount);
    EXPECT_TRUE(found.Vbr.EncoderText.empty());
}

TEST(MPEGaudioVBRHeaderTest, FindsVBRIAt36BytesIntoAFrameOfAnyVersion) {
    const TVbriHeader vbri{.Bytes = 20800, .Frames = 100};
    for (const TMpegHeader& header : {Mpeg2Stereo64, Mpeg2Mono64}) {
        const auto found =
            Search(VbrFrame(header, 208, 36, vbri.Build()) + MpegFrames(header, 208, 2));
        ASSERT_TRUE(found.Frame.Found);
        EXPECT_TRUE(found.Vbr.Found);
        EXPECT_EQ(20800, found.Vbr.ByteCount);
    }
}

TEST(MPEGaudioVBRHeaderTest, TheModeOfAFrameWithAVbrHeaderComesFromTheFrameAfterIt) {
    // Encoders may write the header frame in another mode (and, for Info, another rate)
    // than the audio frames that follow.
    const TMpegHeader headerFrame{.BitRateIndex = 9, .Mode = 0}; // stereo, 128 kbit/s
    const TMpegHeader audio{.BitRateIndex = 11, .Mode = 1};      // joint stereo, 192
    const TXingHeader xing{.Frames = 10, .Bytes = 4170};
    const TXingHeader info{.Signature = "Info", .Frames = 10, .Bytes = 6270};
    const TVbriHeader vbri{.Bytes = 4170, .Frames = 10};
    const struct {
        const char* Name;
        std::string Header;
        bool Vbr;
        uint16_t BitRateIndex;
    } cases[] = {{"Xing", xing.Build(), true, 9},
                 {"Info", info.Build(), false, 11},
                 {"VBRI", vbri.Build(), true, 9}};
    for (const auto& c : cases) {
        const auto found =
            Search(VbrFrame(headerFrame, 417, 36, c.Header) + MpegFrames(audio, 627, 2));
        ASSERT_TRUE(found.Frame.Found) << c.Name;
        EXPECT_EQ(c.Vbr, found.Vbr.Found) << c.Name;
        EXPECT_EQ(1, found.Frame.ModeCode) << c.Name;
        EXPECT_EQ(c.BitRateIndex, found.Frame.BitRateIndex) << c.Name;
    }
    // A frame without such a header keeps its own mode.
    const auto plain = Search(MpegFrame(headerFrame, 417) + MpegFrames(audio, 627, 2));
    ASSERT_TRUE(plain.Frame.Found);
    EXPECT_EQ(0, plain.Frame.ModeCode);
}

TEST(MPEGaudioVBRHeaderTest, TakesLamesInfoHeaderAsAConstantRate) {
    const TXingHeader info{.Signature = "Info", .Frames = 40, .Bytes = 16680};
    const auto found = Search(VbrFrame(Mpeg1Layer3Joint128, 417, 36, info.Build()) +
                              MpegFrames(Mpeg1Layer3Joint128, 417, 2));
    ASSERT_TRUE(found.Frame.Found);
    EXPECT_FALSE(found.Vbr.Found);
}

// --- Encoder tag -----------------------------------------------------------------------

TEST(MPEGaudioEncoderTagTest, FindsLameWithItsVersionNearTheEnd) {
    TSearchBlock block = Block(Junk(SearchBlockSize));
    const std::string lame = "LAME3.97";
    std::copy(lame.begin(), lame.end(), block.end() - 300);
    EXPECT_EQ("LAME3.97", FindEncoderTag(block, 2085));
    EXPECT_EQ("", FindEncoderTag(block, 291)) << "the tag lies one position beyond the search";
    EXPECT_EQ("LAME3.97", FindEncoderTag(block, 292));
}

TEST(MPEGaudioEncoderTagTest, TakesTheLastTagAndGogoAlone) {
    TSearchBlock block = Block(Junk(SearchBlockSize));
    const std::string earlier = "LAME3.90";
    const std::string later = "GOGO2.39";
    std::copy(earlier.begin(), earlier.end(), block.end() - 200);
    std::copy(later.begin(), later.end(), block.end() - 100);
    EXPECT_EQ("GOGO", FindEncoderTag(block, 1000));
}

TEST(MPEGaudioEncoderTagTest, StopsAtTheBlocksStartWhateverTheLengthAsked) {
    TSearchBlock block = Block("LAME3.99" + Junk(SearchBlockSize - 8));
    EXPECT_EQ("LAME3.99", FindEncoderTag(block, 65535));
}

// --- Whole files -----------------------------------------------------------------------

class MPEGaudioFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        WriteBytes(Path, bytes);
        return Path;
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    TMPEGaudio Audio;
};

TEST_F(MPEGaudioFileTest, ReadsAConstantRateStreamBehindAnID3v2Tag) {
    const std::string file = Id3v2Tag(4096) + MpegFrames(Mpeg1Layer3Joint128, 417, 20);
    ASSERT_TRUE(Audio.ReadFromFile(Write(file)));
    EXPECT_EQ(static_cast<int64_t>(file.size()), Audio.FileLength());
    EXPECT_EQ(4096, Audio.ID3v2Size());
    EXPECT_TRUE(Audio.FrameHeader().Found);
    EXPECT_EQ(0, Audio.FrameHeader().Position);
    EXPECT_EQ(417, Audio.FrameHeader().Size);
    EXPECT_EQ("MPEG 1", Audio.Version());
    EXPECT_EQ("Layer III", Audio.Layer());
    EXPECT_EQ("Joint Stereo", Audio.ChannelMode());
    EXPECT_FALSE(Audio.IsVBR());
    EXPECT_EQ(128, Audio.BitRate());
    EXPECT_EQ(44100, Audio.SampleRate());
    EXPECT_EQ("", Audio.EncoderTag());
}

TEST_F(MPEGaudioFileTest, MeasuresAPaddedFirstFrameWithItsPaddingByte) {
    TMpegHeader padded = Mpeg1Layer3Joint128;
    padded.Padded = true;
    ASSERT_TRUE(Audio.ReadFromFile(
        Write(Id3v2Tag(4096) + MpegFrame(padded, 418) + MpegFrames(Mpeg1Layer3Joint128, 417, 20))));
    EXPECT_EQ(418, Audio.FrameHeader().Size);
    EXPECT_EQ(128, Audio.BitRate());
}

TEST_F(MPEGaudioFileTest, AveragesTheRateOfAVariableStreamFromItsXingCounts) {
    // 41796 bytes in 100 frames: 417.96 bytes a frame, 127.99 kbit/s.
    const TXingHeader xing{.Frames = 100, .Bytes = 41796};
    ASSERT_TRUE(Audio.ReadFromFile(Write(VbrFrame(Mpeg1Layer3Joint128, 417, 36, xing.Build()) +
                                         MpegFrames(Mpeg1Layer3Joint128, 417, 20))));
    EXPECT_TRUE(Audio.IsVBR());
    EXPECT_EQ(128, Audio.BitRate());
    EXPECT_EQ("", Audio.EncoderTag()) << "the end is not searched when a VBR header was found";
}

TEST_F(MPEGaudioFileTest, RoundsAnAverageHalfwayBetweenRatesToTheEvenOne) {
    // At 48000 Hz a frame of n bytes lasts for n / 3 kbit/s: 385.5 bytes give 128.5,
    // 388.5 give 129.5.
    const TMpegHeader at48k{.SampleRateIndex = 1};
    const auto rateFor = [&](uint32_t frames, uint32_t bytes) {
        const TXingHeader xing{.Frames = frames, .Bytes = bytes};
        EXPECT_TRUE(Audio.ReadFromFile(
            Write(VbrFrame(at48k, 384, 36, xing.Build()) + MpegFrames(at48k, 384, 10))));
        return Audio.BitRate();
    };
    EXPECT_EQ(128, rateFor(2, 771));
    EXPECT_EQ(130, rateFor(2, 777));
}

TEST_F(MPEGaudioFileTest, SubtractsThePaddingOfThePaddedFirstFrameFromTheAverage) {
    TMpegHeader padded = Mpeg1Layer3Joint128;
    padded.Padded = true;
    // 420 bytes a frame, less the padding byte: 419, 128.3 kbit/s (129 without it).
    const TXingHeader xing{.Frames = 100, .Bytes = 42000};
    ASSERT_TRUE(Audio.ReadFromFile(
        Write(VbrFrame(padded, 418, 36, xing.Build()) + MpegFrames(Mpeg1Layer3Joint128, 417, 5))));
    EXPECT_EQ(128, Audio.BitRate());
}

TEST_F(MPEGaudioFileTest, FallsBackToTheFrameRateWhenTheVBRHeaderHasNoUsableCounts) {
    const TXingHeader noCounts{.Flags = 0x0C};
    ASSERT_TRUE(Audio.ReadFromFile(Write(VbrFrame(Mpeg1Layer3Joint128, 417, 36, noCounts.Build()) +
                                         MpegFrames(Mpeg1Layer3Joint128, 417, 5))));
    EXPECT_TRUE(Audio.IsVBR());
    EXPECT_EQ(128, Audio.BitRate());

    // A byte count with its top bit set reads as negative.
    const TXingHeader negative{.Frames = 100, .Bytes = 0x80000000u};
    ASSERT_TRUE(Audio.ReadFromFile(Write(VbrFrame(Mpeg1Layer3Joint128, 417, 36, negative.Build()) +
                                         MpegFrames(Mpeg1Layer3Joint128, 417, 5))));
    EXPECT_EQ(128, Audio.BitRate());
}

TEST_F(MPEGaudioFileTest, FindsTheEncoderTagInTheLastFramesBeforeAnID3v1Record) {
    std::string audio = MpegFrames(Mpeg1Layer3Joint128, 417, 20);
    PutAt(audio, audio.size() - 50, "LAME3.97");
    std::string record(128, '\0');
    PutAt(record, 0, "TAG");
    PutAt(record, 97, "LAME9.99"); // a comment that only looks like a tag
    ASSERT_TRUE(Audio.ReadFromFile(Write(audio + record)));
    EXPECT_EQ("LAME3.97", Audio.EncoderTag());
    EXPECT_EQ(static_cast<int64_t>(audio.size() + 128), Audio.FileLength());

    ASSERT_TRUE(Audio.ReadFromFile(Write(audio)));
    EXPECT_EQ("LAME3.97", Audio.EncoderTag());
}

TEST_F(MPEGaudioFileTest, AnalysesAStreamShorterThanTheEndBlock) {
    const std::string audio = MpegFrames(Mpeg1Layer3Joint128, 417, 4) + Junk(332);
    ASSERT_EQ(2000u, audio.size());
    std::string tagged = audio;
    PutAt(tagged, 1900, "LAME3.98");
    ASSERT_TRUE(Audio.ReadFromFile(Write(tagged)));
    EXPECT_EQ(2000, Audio.FileLength());
    EXPECT_EQ("MPEG 1", Audio.Version());
    EXPECT_EQ("LAME3.98", Audio.EncoderTag()) << "the short end block is searched from its end";

    std::string record(128, '\0');
    PutAt(record, 0, "TAG");
    ASSERT_TRUE(Audio.ReadFromFile(Write(tagged + record)));
    EXPECT_EQ(2128, Audio.FileLength());
    EXPECT_EQ("LAME3.98", Audio.EncoderTag());
}

TEST_F(MPEGaudioFileTest, TriesTheMiddleOfTheAudioWhenTheStartHoldsNoFrame) {
    const std::string file = Id3v2Tag(1000) + Junk(5000) + MpegFrames(Mpeg1Mono128, 417, 20);
    ASSERT_TRUE(Audio.ReadFromFile(Write(file)));
    EXPECT_EQ("MPEG 1", Audio.Version());
    EXPECT_EQ("Mono", Audio.ChannelMode());
    EXPECT_EQ(static_cast<int64_t>(file.size()), Audio.FileLength());
}

TEST_F(MPEGaudioFileTest, TakesTheMiddleOfTheAudioNotOfTheBytesAfterTheTag) {
    // A large tag whose picture happens to hold two header-like patterns one frame apart,
    // just behind half the audio's length into the file; the audio starts with junk.
    std::string tag = Id3v2Tag(20000);
    PutAt(tag, 5300, MpegFrames(Mpeg2Mono64, 208, 2));
    const std::string audio = Junk(4000) + MpegFrames(Mpeg1Layer3Joint128, 417, 15);
    ASSERT_TRUE(Audio.ReadFromFile(Write(tag + audio)));
    EXPECT_EQ("MPEG 1", Audio.Version());
    EXPECT_EQ("Joint Stereo", Audio.ChannelMode());
}

TEST_F(MPEGaudioFileTest, NeverConfirmsAFrameByBytesLeftFromAnEarlierBlock) {
    // 5000 bytes without a tag: the start block (3458 bytes) has no frame, the middle block
    // from 2500 holds at 3500 a long frame whose successor would lie at 5228, past the
    // file's end; block position 2728, where it would be looked for, still held a header
    // of the start block.
    const TMpegHeader longFrame{.Layer = 2, .BitRateIndex = 14, .SampleRateIndex = 2};
    std::string file = Junk(5000);
    PutAt(file, 2728, longFrame.Build());
    PutAt(file, 3500, longFrame.Build());
    ASSERT_TRUE(Audio.ReadFromFile(Write(file)));
    EXPECT_FALSE(Audio.FrameHeader().Found);
    EXPECT_EQ(0, Audio.FileLength());
}

TEST_F(MPEGaudioFileTest, ReportsATextFileAsSuccessWithNothingFound) {
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "Just a line of plain text, no audio at all.\n";
    ASSERT_TRUE(Audio.ReadFromFile(Write(text)));
    EXPECT_EQ(0, Audio.FileLength());
    EXPECT_EQ("MPEG ?", Audio.Version());
    EXPECT_EQ("Layer ?", Audio.Layer());
    EXPECT_EQ("Unknown", Audio.ChannelMode());
    EXPECT_EQ(0, Audio.BitRate());
    EXPECT_EQ(0, Audio.SampleRate());
    EXPECT_FALSE(Audio.IsVBR());

    ASSERT_TRUE(Audio.ReadFromFile(Write("")));
    EXPECT_EQ(0, Audio.FileLength());
}

TEST_F(MPEGaudioFileTest, StartsEveryReadFromTheResetState) {
    ASSERT_TRUE(Audio.ReadFromFile(Write(MpegFrames(Mpeg1Layer3Joint128, 417, 20))));
    ASSERT_EQ("MPEG 1", Audio.Version());
    EXPECT_FALSE(Audio.ReadFromFile(Dir.File("missing.mp3")));
    EXPECT_EQ(0, Audio.FileLength());
    EXPECT_EQ("MPEG ?", Audio.Version());
    EXPECT_EQ("Unknown", Audio.ChannelMode());
    EXPECT_EQ(0, Audio.SampleRate());
}

TEST_F(MPEGaudioFileTest, ReportsAFolderAsUnreadable) {
    EXPECT_FALSE(Audio.ReadFromFile(Dir.Path()));
    EXPECT_EQ("MPEG ?", Audio.Version());
}

TEST_F(MPEGaudioFileTest, HandlesFilesBeyondFourGibibytes) {
    // A sparse file: the frames at its start, a hole, and an encoder tag at its end.
    const int64_t length = (int64_t{5} << 30) + 123;
    WriteBytes(Path, MpegFrames(Mpeg1Layer3Joint128, 417, 10));
    std::filesystem::resize_file(Path, static_cast<uintmax_t>(length));
    {
        std::fstream out(Path, std::ios::in | std::ios::out | std::ios::binary);
        out.seekp(length - 100);
        out.write("LAME3.99", 8);
    }
    ASSERT_TRUE(Audio.ReadFromFile(Path));
    EXPECT_EQ(length, Audio.FileLength());
    EXPECT_EQ("LAME3.99", Audio.EncoderTag());
}

TEST(MPEGaudioID3v1Test, RecognisesTheRecordByItsMagic) {
    TTempDir dir;
    const std::string path = dir.File("a.mp3");
    std::string record(128, '\0');
    PutAt(record, 0, "TAG");
    WriteBytes(path, Junk(500) + record);
    EXPECT_TRUE(HasID3v1Tag(path));
    WriteBytes(path, Junk(628));
    EXPECT_FALSE(HasID3v1Tag(path));
    WriteBytes(path, "TAG" + Junk(100));
    EXPECT_FALSE(HasID3v1Tag(path)) << "shorter than a record";
    EXPECT_FALSE(HasID3v1Tag(dir.File("missing.mp3")));
}

// --- File access -----------------------------------------------------------------------

class MPEGaudioFileAccessTest : public MPEGaudioFileTest {
protected:
    TFileSystem Fs;
    TMPEGaudio Counted{Fs};
};

TEST_F(MPEGaudioFileAccessTest, OpensTheFileOnceAndReadsAtMostThreeBlocks) {
    // The worst case: a tag, no frame at the start, a frame in the middle, no VBR header.
    Write(Id3v2Tag(1000) + Junk(5000) + MpegFrames(Mpeg1Layer3Joint128, 417, 40) +
          std::string("TAG") + Junk(125));
    ASSERT_TRUE(Counted.ReadFromFile(Path));
    ASSERT_TRUE(Counted.FrameHeader().Found);
    EXPECT_EQ(1, Fs.CallCount(TFileOp::foOpen));
    EXPECT_EQ(4, Fs.CallCount(TFileOp::foRead)) << "tag header, audio start, middle and end";

    // Without a tag the first read is the start of the audio.
    Fs.ResetFaults();
    Write(MpegFrames(Mpeg1Layer3Joint128, 417, 40));
    ASSERT_TRUE(Counted.ReadFromFile(Path));
    EXPECT_EQ(2, Fs.CallCount(TFileOp::foRead));
}

TEST_F(MPEGaudioFileAccessTest, ReportsAFailedOpenWithEveryFieldReset) {
    Write(MpegFrames(Mpeg1Layer3Joint128, 417, 20));
    Fs.FailAt(TFileOp::foOpen, 1);
    EXPECT_FALSE(Counted.ReadFromFile(Path));
    EXPECT_EQ(0, Counted.FileLength());
    EXPECT_EQ("MPEG ?", Counted.Version());
}

TEST_F(MPEGaudioFileAccessTest, ReportsAFailedReadOfTheEndButKeepsTheFrame) {
    const std::string file = MpegFrames(Mpeg1Layer3Joint128, 417, 20);
    Write(file);
    Fs.FailAt(TFileOp::foRead, 2);
    EXPECT_FALSE(Counted.ReadFromFile(Path));
    EXPECT_EQ("MPEG 1", Counted.Version());
    EXPECT_EQ(static_cast<int64_t>(file.size()), Counted.FileLength());

    Fs.ResetFaults();
    Fs.FailAt(TFileOp::foRead, 1);
    EXPECT_FALSE(Counted.ReadFromFile(Path));
    EXPECT_EQ(0, Counted.FileLength()) << "no frame was found, so nothing is kept";
}
