// Pictures: what an image's first bytes say, the picture frames' layout, and adding,
// replacing and removing pictures through a save (checked on the bytes and with TagLib).
#include "tags/Picture.h"
#include "tags/DID3v2.h"
#include "tags/ID3v2Frames.h"

#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

std::string LittleEndianBytes(uint32_t value, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string PngHeader(uint32_t width, uint32_t height) {
    return std::string("\x89PNG\r\n\x1A\n", 8) + BigEndianBytes(13) + "IHDR" +
           BigEndianBytes(width) + BigEndianBytes(height) + std::string("\x08\x06\0\0\0", 5) +
           "CRC!";
}

// A JPEG whose frame header stands behind an APP1 segment and a table, as in camera files.
std::string JpegHeader(uint16_t width, uint16_t height) {
    const std::string app1 = "Exif" + std::string(300, 'x');
    std::string jpeg = "\xFF\xD8\xFF\xE1";
    jpeg += static_cast<char>((app1.size() + 2) >> 8);
    jpeg += static_cast<char>((app1.size() + 2) & 0xFF);
    jpeg += app1;
    jpeg += std::string("\xFF\xDB\x00\x04\x00\x00", 6);
    jpeg += std::string("\xFF\xC2\x00\x11\x08", 5);
    jpeg += static_cast<char>(height >> 8);
    jpeg += static_cast<char>(height & 0xFF);
    jpeg += static_cast<char>(width >> 8);
    jpeg += static_cast<char>(width & 0xFF);
    return jpeg + std::string(12, '\x01');
}

std::string BmpHeader(int32_t width, int32_t height) {
    return "BM" + std::string(12, '\0') + LittleEndianBytes(40, 4) +
           LittleEndianBytes(static_cast<uint32_t>(width), 4) +
           LittleEndianBytes(static_cast<uint32_t>(height), 4) + std::string(20, '\0');
}

std::string WebpHeader(std::string_view chunk, std::string_view data) {
    return "RIFF" + LittleEndianBytes(100, 4) + "WEBP" + std::string(chunk) +
           LittleEndianBytes(static_cast<uint32_t>(data.size()), 4) + std::string(data);
}

struct TSniffCase {
    const char* Name;
    std::string Bytes;
    const char* Mime;
    int Width;
    int Height;
};

} // namespace

class SniffImageTest : public ::testing::TestWithParam<TSniffCase> {};

TEST_P(SniffImageTest, GivesTheMimeTypeAndThePixelSizeFromTheHeaderOnly) {
    const TImageHeader header = SniffImage(GetParam().Bytes);
    EXPECT_EQ(GetParam().Mime, header.Mime);
    EXPECT_EQ(GetParam().Width, header.Width);
    EXPECT_EQ(GetParam().Height, header.Height);
}

INSTANTIATE_TEST_SUITE_P(
    Images, SniffImageTest,
    ::testing::Values(
        TSniffCase{"Png", PngHeader(640, 480), "image/png", 640, 480},
        TSniffCase{"PngCutBeforeItsSize", PngHeader(640, 480).substr(0, 20), "image/png", 0, 0},
        TSniffCase{"JpegBehindExifAndTables", JpegHeader(1200, 900), "image/jpeg", 1200, 900},
        TSniffCase{"JpegWithoutFrameHeader", JpegHeader(1, 1).substr(0, 200), "image/jpeg", 0, 0},
        TSniffCase{"Gif", "GIF89a" + LittleEndianBytes(32, 2) + LittleEndianBytes(16, 2) + "..",
                   "image/gif", 32, 16},
        TSniffCase{"BmpTopDown", BmpHeader(300, -200), "image/bmp", 300, 200},
        TSniffCase{"WebpLossy",
                   WebpHeader("VP8 ", std::string("\0\0\0\x9D\x01\x2A", 6) +
                                          LittleEndianBytes(400, 2) + LittleEndianBytes(300, 2)),
                   "image/webp", 400, 300},
        TSniffCase{"WebpLossless",
                   WebpHeader("VP8L", "\x2F" + LittleEndianBytes((99u) | (49u << 14), 4)),
                   "image/webp", 100, 50},
        TSniffCase{"WebpExtended",
                   WebpHeader("VP8X", std::string(4, '\0') + LittleEndianBytes(1919, 3) +
                                          LittleEndianBytes(1079, 3)),
                   "image/webp", 1920, 1080},
        TSniffCase{"PngClaimingAZeroSize", PngHeader(0, 100), "image/png", 0, 0},
        TSniffCase{"TextIsNoImage", "Just some text, not a picture", "", 0, 0},
        TSniffCase{"EmptyIsNoImage", "", "", 0, 0}),
    [](const auto& test) { return std::string(test.param.Name); });

struct TFrameCase {
    const char* Name;
    std::string Body;
    bool V22;
    bool Valid;
    const char* Mime;
    int Type;
    const char* Description;
    const char* Image;
};

class PictureFrameTest : public ::testing::TestWithParam<TFrameCase> {};

TEST_P(PictureFrameTest, SplitsTheBodyIntoItsFields) {
    TPictureFrame frame;
    ASSERT_EQ(GetParam().Valid, ParsePictureFrame(GetParam().Body, GetParam().V22, frame));
    if (!GetParam().Valid)
        return;
    EXPECT_EQ(GetParam().Mime, frame.Mime);
    EXPECT_EQ(GetParam().Type, frame.Type);
    EXPECT_EQ(GetParam().Description, frame.Description);
    EXPECT_EQ(GetParam().Image, GetParam().Body.substr(frame.DataOffset));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, PictureFrameTest,
    ::testing::Values(
        TFrameCase{"ApicLatin1",
                   std::string("\0image/png\0\x04"
                               "Back\0DATA",
                               21),
                   false, true, "image/png", 4, "Back", "DATA"},
        // A UTF-16 description ends on a 16-bit boundary: "a" is 61 00 before 00 00.
        TFrameCase{"ApicUtf16", std::string("\x01image/jpeg\0\x03\xFF\xFE\x61\0\0\0DATA", 23),
                   false, true, "image/jpeg", 3, "a", "DATA"},
        TFrameCase{"Pic22", std::string("\0JPG\x03sleeve\0DATA", 16), true, true, "image/jpeg", 3,
                   "sleeve", "DATA"},
        TFrameCase{"EmptyImageIsStillAFrame", std::string("\0image/gif\0\x00\0", 13), false, true,
                   "image/gif", 0, "", ""},
        TFrameCase{"NoMimeTerminator", std::string("\0image/png", 10), false, false, "", 0, "", ""},
        TFrameCase{"NoDescriptionTerminator",
                   std::string("\0image/png\0\x03"
                               "desc",
                               16),
                   false, false, "", 0, "", ""}),
    [](const auto& test) { return std::string(test.param.Name); });

namespace {

const std::string Audio = FakeAudio(5000, 7);
const std::string FrontImage = PngHeader(500, 500) + FakeAudio(20000, 1);
const std::string BackImage = JpegHeader(300, 300) + FakeAudio(8000, 2);
const std::string NewImage = PngHeader(800, 600) + FakeAudio(30000, 3);

std::string ApicBody(std::string_view mime, uint8_t type, std::string_view image) {
    return std::string(1, '\0') + std::string(mime) + '\0' + static_cast<char>(type) + '\0' +
           std::string(image);
}

std::string Frame(uint8_t version, std::string_view id, std::string_view body) {
    return version == 4 ? FrameV24(id, body) : FrameV23(id, body);
}

// The bodies of the pictures in a tag written by us, in order (frame sizes read by
// version, independently of the reader under test).
std::vector<std::string> PictureBodies(const std::string& file) {
    std::vector<std::string> bodies;
    const size_t end = 10 + (size_t{static_cast<uint8_t>(file[6])} << 21) +
                       (size_t{static_cast<uint8_t>(file[7])} << 14) +
                       (size_t{static_cast<uint8_t>(file[8])} << 7) + static_cast<uint8_t>(file[9]);
    size_t pos = 10;
    while (pos + 10 <= end && file[pos] != 0) {
        const auto* b = reinterpret_cast<const uint8_t*>(file.data() + pos + 4);
        const size_t size =
            file[3] == 4 ? (size_t{b[0]} << 21) | (size_t{b[1]} << 14) | (size_t{b[2]} << 7) | b[3]
                         : BigEndian32(b);
        if (file.compare(pos, 4, "APIC") == 0)
            bodies.push_back(file.substr(pos + 10, size));
        pos += 10 + size;
    }
    return bodies;
}

} // namespace

// Each case runs on a 2.3 and a 2.4 tag that hold a front cover and a back cover.
class PictureSaveTest : public ::testing::TestWithParam<uint8_t> {
protected:
    void SetUp() override {
        const uint8_t v = GetParam();
        WriteBytes(Path, TId3v2Tag{v, 0,
                                   Frame(v, "TIT2", TextBody(0, "Song")) +
                                       Frame(v, "APIC", ApicBody("image/png", 3, FrontImage)) +
                                       Frame(v, "APIC", ApicBody("image/jpeg", 4, BackImage))}
                                 .Build() +
                             Audio);
        ASSERT_TRUE(Tag.ReadFromFile(Path));
    }
    std::vector<std::string> SavedPictures() {
        EXPECT_TRUE(Tag.SaveToFile(Path));
        const std::string file = ReadBytes(Path);
        EXPECT_TRUE(file.ends_with(Audio));
        return PictureBodies(file);
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    TDID3v2 Tag;
};

TEST_P(PictureSaveTest, ListsThePicturesFromTheirFramesAndHeaders) {
    const auto pictures = Tag.Pictures();
    ASSERT_EQ(2u, pictures.size());
    EXPECT_EQ(3, pictures[0].Type);
    EXPECT_EQ("image/png", pictures[0].Mime);
    EXPECT_EQ(static_cast<int64_t>(FrontImage.size()), pictures[0].Bytes);
    EXPECT_EQ(500, pictures[0].Width);
    EXPECT_EQ(4, pictures[1].Type);
    EXPECT_EQ(300, pictures[1].Height);
    std::string image;
    ASSERT_TRUE(Tag.PictureData(pictures[1].Item, image));
    EXPECT_TRUE(BackImage == image);
    EXPECT_EQ(0, Tag.MainPicture());
}

TEST_P(PictureSaveTest, AnAddedPictureIsAnApicInTheVersionsEncodingAndTheOthersStayAsRead) {
    const std::string description = "\xC3\xA9t\xC3\xA9 \xE2\x99\xAB"; // "été ♫"
    ASSERT_TRUE(Tag.AddPicture(18, description, NewImage));
    const auto bodies = SavedPictures();
    ASSERT_EQ(3u, bodies.size());
    EXPECT_TRUE(ApicBody("image/png", 3, FrontImage) == bodies[0]);
    EXPECT_TRUE(ApicBody("image/jpeg", 4, BackImage) == bodies[1]);
    // 2.4 has UTF-8; 2.3 takes UTF-16 with a byte-order mark for what ISO-8859-1 lacks.
    const std::string text = GetParam() == 4
                                 ? "\x03" + description + '\0'
                                 : "\x01" + std::string("\xFF\xFE\xE9\0t\0\xE9\0 \0k&\0\0", 14);
    const std::string expected =
        text.substr(0, 1) + "image/png" + '\0' + '\x12' + text.substr(1) + NewImage;
    EXPECT_TRUE(expected == bodies[2]);
}

TEST_P(PictureSaveTest, SetPictureReplacesThePictureOfItsTypeInItsPlace) {
    ASSERT_TRUE(Tag.AddPicture(3, "second front", FrontImage)); // a duplicate to be dropped
    ASSERT_TRUE(Tag.SetPicture(3, "", NewImage));
    const auto bodies = SavedPictures();
    ASSERT_EQ(2u, bodies.size());
    EXPECT_TRUE(ApicBody("image/png", 3, NewImage) == bodies[0]);
    EXPECT_TRUE(ApicBody("image/jpeg", 4, BackImage) == bodies[1]);
}

TEST_P(PictureSaveTest, RemovedPicturesAreLeftOutAndNoImageIsRefused) {
    EXPECT_FALSE(Tag.SetPicture(3, "", "<html>not an image</html>"));
    Tag.RemovePicture(0);
    auto bodies = SavedPictures();
    ASSERT_EQ(1u, bodies.size());
    EXPECT_TRUE(ApicBody("image/jpeg", 4, BackImage) == bodies[0]);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    Tag.RemovePictures();
    EXPECT_TRUE(Tag.Pictures().empty());
    EXPECT_TRUE(SavedPictures().empty());
}

TEST_P(PictureSaveTest, TagLibReadsTheAddedPictureByteForByteWithItsTypeAndMime) {
    ASSERT_TRUE(Tag.SetPicture(4, "Rear", NewImage));
    ASSERT_TRUE(Tag.SaveToFile(Path));
    TagLib::MPEG::File file(Path.c_str());
    ASSERT_TRUE(file.hasID3v2Tag());
    const auto& frames = file.ID3v2Tag()->frameListMap()["APIC"];
    ASSERT_EQ(2u, frames.size());
    auto* back = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.back());
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(TagLib::ID3v2::AttachedPictureFrame::BackCover, back->type());
    EXPECT_EQ("image/png", back->mimeType().to8Bit());
    EXPECT_EQ("Rear", back->description().to8Bit());
    EXPECT_TRUE(NewImage == std::string(back->picture().data(), back->picture().size()));
}

INSTANTIATE_TEST_SUITE_P(Versions, PictureSaveTest, ::testing::Values(3, 4),
                         [](const auto& test) { return "V2" + std::to_string(test.param); });

TEST(PictureV22Test, APicShowsItsFormatAsMimeAndIsSavedAsAnApic) {
    TTempDir dir;
    const std::string path = dir.File("old.mp3");
    const std::string pic = std::string("\0PNG\x04sleeve\0", 12) + FrontImage;
    WriteBytes(path, TId3v2Tag{2, 0, FrameV22("PIC", pic)}.Build() + Audio);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(path));
    const auto pictures = tag.Pictures();
    ASSERT_EQ(1u, pictures.size());
    EXPECT_EQ("image/png", pictures[0].Mime);
    EXPECT_EQ(4, pictures[0].Type);
    EXPECT_EQ("sleeve", pictures[0].Description);
    EXPECT_EQ(500, pictures[0].Width);
    // The only picture is shown although it is no front cover.
    EXPECT_EQ(0, tag.MainPicture());
    ASSERT_TRUE(tag.SaveToFile(path));
    const auto bodies = PictureBodies(ReadBytes(path));
    ASSERT_EQ(1u, bodies.size());
    EXPECT_TRUE(std::string("\0image/png\0\x04sleeve\0", 19) + FrontImage == bodies[0]);
}
