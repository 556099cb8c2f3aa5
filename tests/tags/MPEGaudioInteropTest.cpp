// The analyser on real streams made by the lame encoder, checked against what the files were
// encoded as and against TagLib's audio properties of the same files.
#include "tags/MPEGaudio.h"

#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <mpegfile.h>
#include <mpegheader.h>
#include <mpegproperties.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

struct TEncoding {
    const char* Name;
    std::vector<std::string> LameArguments;
    int SampleRate;
    int Channels;
    const char* Version;
    const char* ChannelMode;
    bool Variable;
    // The constant rate asked of lame; 0 for variable streams.
    uint16_t KbitPerSecond;
    // How far TagLib's rate may lie from ours. TagLib averages the counts of any Xing or
    // "Info" header, which over a stream of one second is a few kbit/s off the nominal
    // rate of a constant stream; without such a header it takes the first frame's rate.
    int TagLibRateTolerance;
};

std::string TagLibVersion(TagLib::MPEG::Header::Version version) {
    switch (version) {
    case TagLib::MPEG::Header::Version1:
        return "MPEG 1";
    case TagLib::MPEG::Header::Version2:
        return "MPEG 2";
    case TagLib::MPEG::Header::Version2_5:
        return "MPEG 2.5";
    }
    return "?";
}

std::string TagLibLayer(int layer) {
    const char* names[] = {"?", "Layer I", "Layer II", "Layer III"};
    return layer >= 1 && layer <= 3 ? names[layer] : "?";
}

std::string TagLibChannelMode(TagLib::MPEG::Header::ChannelMode mode) {
    switch (mode) {
    case TagLib::MPEG::Header::Stereo:
        return "Stereo";
    case TagLib::MPEG::Header::JointStereo:
        return "Joint Stereo";
    case TagLib::MPEG::Header::DualChannel:
        return "Dual Channel";
    case TagLib::MPEG::Header::SingleChannel:
        return "Mono";
    }
    return "?";
}

} // namespace

class MPEGaudioInteropTest : public ::testing::TestWithParam<TEncoding> {
protected:
    void SetUp() override {
        const auto& e = GetParam();
        ASSERT_NO_FATAL_FAILURE(EncodeWithLame(
            Path, {e.LameArguments, e.SampleRate, e.Channels, e.Variable ? 3.0 : 1.0}));
    }

    TTempDir Dir;
    std::string Path = Dir.File("encoded.mp3");
};

TEST_P(MPEGaudioInteropTest, ReportsWhatTheStreamWasEncodedAsAndWhatTagLibReads) {
    const auto& e = GetParam();
    TMPEGaudio audio;
    ASSERT_TRUE(audio.ReadFromFile(Path));
    ASSERT_TRUE(audio.FrameHeader().Found);

    EXPECT_EQ(e.Version, audio.Version());
    EXPECT_EQ("Layer III", audio.Layer());
    EXPECT_EQ(e.ChannelMode, audio.ChannelMode());
    EXPECT_EQ(e.SampleRate, audio.SampleRate());
    EXPECT_EQ(e.Variable, audio.IsVBR());
    EXPECT_EQ(static_cast<int64_t>(ReadBytes(Path).size()), audio.FileLength());
    if (!e.Variable) {
        EXPECT_EQ(e.KbitPerSecond, audio.BitRate());
    }

    TagLib::MPEG::File file(Path.c_str(), true, TagLib::AudioProperties::Accurate);
    const auto* properties = file.audioProperties();
    ASSERT_NE(nullptr, properties);
    EXPECT_EQ(TagLibVersion(properties->version()), audio.Version());
    EXPECT_EQ(TagLibLayer(properties->layer()), audio.Layer());
    EXPECT_EQ(TagLibChannelMode(properties->channelMode()), audio.ChannelMode());
    EXPECT_EQ(properties->sampleRate(), audio.SampleRate());
    EXPECT_NEAR(properties->bitrate(), audio.BitRate(), e.TagLibRateTolerance);
}

TEST(MPEGaudioLameTest, FindsLamesNameInTheLastFramesOfAConstantStream) {
    TTempDir dir;
    const std::string path = dir.File("cbr.mp3");
    CopyStandardMp3(path);
    TMPEGaudio audio;
    ASSERT_TRUE(audio.ReadFromFile(path));
    EXPECT_FALSE(audio.IsVBR()) << "lame's Info header marks a constant stream";
    EXPECT_EQ(128, audio.BitRate());
    EXPECT_EQ("LAME3.10", audio.EncoderTag()) << "lame 3.100 fills spare bits with its name";
}

INSTANTIATE_TEST_SUITE_P(
    Lame, MPEGaudioInteropTest,
    ::testing::Values(
        TEncoding{"Cbr32Mono44k",
                  {"-b", "32", "-m", "m", "-t", "--resample", "44.1"},
                  44100,
                  1,
                  "MPEG 1",
                  "Mono",
                  false,
                  32,
                  0},
        TEncoding{"Cbr128Joint44k",
                  {"-b", "128", "-m", "j", "-t"},
                  44100,
                  2,
                  "MPEG 1",
                  "Joint Stereo",
                  false,
                  128,
                  0},
        TEncoding{"Cbr128JointWithInfoHeader44k",
                  {"-b", "128", "-m", "j"},
                  44100,
                  2,
                  "MPEG 1",
                  "Joint Stereo",
                  false,
                  128,
                  4},
        TEncoding{"Cbr320Stereo48k",
                  {"-b", "320", "-m", "s", "-t"},
                  48000,
                  2,
                  "MPEG 1",
                  "Stereo",
                  false,
                  320,
                  0},
        TEncoding{"Cbr96Stereo32k",
                  {"-b", "96", "-m", "s", "-t"},
                  32000,
                  2,
                  "MPEG 1",
                  "Stereo",
                  false,
                  96,
                  0},
        TEncoding{"Cbr64Mpeg2At22k",
                  {"-b", "64", "-m", "j", "-t"},
                  22050,
                  2,
                  "MPEG 2",
                  "Joint Stereo",
                  false,
                  64,
                  0},
        TEncoding{"Cbr48Mpeg2At24k",
                  {"-b", "48", "-m", "s", "-t", "--resample", "24"},
                  24000,
                  2,
                  "MPEG 2",
                  "Stereo",
                  false,
                  48,
                  0},
        TEncoding{"Cbr32Mpeg2MonoAt16k",
                  {"-b", "32", "-m", "m", "-t"},
                  16000,
                  1,
                  "MPEG 2",
                  "Mono",
                  false,
                  32,
                  0},
        TEncoding{"Cbr24Mpeg25At11k",
                  {"-b", "24", "-m", "m", "-t"},
                  11025,
                  1,
                  "MPEG 2.5",
                  "Mono",
                  false,
                  24,
                  0},
        TEncoding{"Cbr32Mpeg25At12k",
                  {"-b", "32", "-m", "j", "-t"},
                  12000,
                  2,
                  "MPEG 2.5",
                  "Joint Stereo",
                  false,
                  32,
                  0},
        TEncoding{"Cbr8Mpeg25At8k",
                  {"-b", "8", "-m", "m", "-t"},
                  8000,
                  1,
                  "MPEG 2.5",
                  "Mono",
                  false,
                  8,
                  0},
        TEncoding{"VbrV2Joint44k",
                  {"-V", "2", "-m", "j"},
                  44100,
                  2,
                  "MPEG 1",
                  "Joint Stereo",
                  true,
                  0,
                  1},
        TEncoding{"VbrV5Mono48k", {"-V", "5", "-m", "m"}, 48000, 1, "MPEG 1", "Mono", true, 0, 1},
        TEncoding{
            "VbrV6Mpeg2At22k", {"-V", "6", "-m", "s"}, 22050, 2, "MPEG 2", "Stereo", true, 0, 1},
        TEncoding{
            "VbrV8Mpeg25At8k", {"-V", "8", "-m", "m"}, 8000, 1, "MPEG 2.5", "Mono", true, 0, 1},
        // lame puts the Xing header of a CRC-protected stream where it puts any other.
        TEncoding{"VbrV4WithCrcJoint44k",
                  {"-V", "4", "-m", "j", "-p"},
                  44100,
                  2,
                  "MPEG 1",
                  "Joint Stereo",
                  true,
                  0,
                  1},
        TEncoding{"Abr160Joint44k",
                  {"--abr", "160", "-m", "j"},
                  44100,
                  2,
                  "MPEG 1",
                  "Joint Stereo",
                  true,
                  0,
                  1}),
    [](const auto& test) { return std::string(test.param.Name); });
