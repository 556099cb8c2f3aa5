// Pictures of tags read from files: they are named by their place in the file and loaded
// only when asked for, and a save writes back every picture it did not change byte for byte.
#include "tags/DID3v2.h"

#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>

#include <algorithm>
#include <string>
#include <unistd.h>
#include <vector>

using namespace cantorell;
using namespace cantorell::test;

namespace {

const std::string Audio = FakeAudio(6000, 7);

// A JPEG-looking image: the start of a JPEG, then `size` bytes of noise.
std::string Image(size_t size, uint8_t seed) {
    return std::string("\xFF\xD8\xFF\xE0", 4) + FakeAudio(size, seed);
}

// An "APIC" body: Latin-1, MIME type, front cover, description "d", the image.
std::string ApicBody(const std::string& image) {
    return std::string("\0image/jpeg\0\x03"
                       "d\0",
                       15) +
           image;
}

// A compressed "APIC" frame (2.3): the body's size, then the body as a zlib stream.
std::string CompressedApic(const std::string& image) {
    const std::string body = ApicBody(image);
    return FrameV23("APIC", BigEndianBytes(static_cast<uint32_t>(body.size())) + ZlibCompress(body),
                    0, 0x80);
}

// The image of the first picture TagLib reads from the file; empty when it finds none.
std::string TagLibPicture(const std::string& path) {
    TagLib::MPEG::File file(path.c_str(), false);
    if (!file.ID3v2Tag())
        return {};
    const auto& frames = file.ID3v2Tag()->frameListMap()["APIC"];
    const auto* picture =
        frames.isEmpty() ? nullptr
                         : dynamic_cast<const TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
    return picture ? std::string(picture->picture().data(), picture->picture().size())
                   : std::string();
}

std::string Latin1(std::string_view text) {
    return TextBody(0, text);
}

} // namespace

class DID3v2PictureFileTest : public ::testing::Test {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    TDID3v2 Tag;
};

TEST_F(DID3v2PictureFileTest, APictureLoadsFromItsReferenceUntilTheFileChanges) {
    const std::string image = Image(300000, 1);
    WriteBytes(
        Path,
        TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("T")) + FrameV23("APIC", ApicBody(image)), 100}
                .Build() +
            Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    const TDID3v2::TPictureRef ref = Tag.PictureRef(0);
    EXPECT_FALSE(ref.Bytes);
    std::string loaded;
    ASSERT_TRUE(TDID3v2::LoadPicture(ref, loaded));
    EXPECT_TRUE(loaded == image);
    ASSERT_TRUE(Tag.PictureData(0, loaded));
    EXPECT_TRUE(loaded == image);

    // Another program rewrites the file: the reference no longer holds the picture.
    WriteBytes(Path, ReadBytes(Path) + "more");
    EXPECT_FALSE(TDID3v2::LoadPicture(ref, loaded));
    EXPECT_EQ("", loaded);
    EXPECT_FALSE(TDID3v2::LoadPicture(TDID3v2::TPictureRef{}, loaded));
}

TEST_F(DID3v2PictureFileTest, PicturesThatAreNotStoredAsReadAreLoadedFromMemory) {
    const std::string image = Image(5000, 2);
    // A compressed picture, and one added after the read.
    WriteBytes(Path, TId3v2Tag{3, 0, CompressedApic(image), 100}.Build() + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.AddPicture(4, "back", Image(100, 3)));
    for (const auto& [item, expected] :
         std::vector<std::pair<int, std::string>>{{0, image}, {1, Image(100, 3)}}) {
        const TDID3v2::TPictureRef ref = Tag.PictureRef(item);
        ASSERT_TRUE(ref.Bytes) << item;
        std::string loaded;
        ASSERT_TRUE(TDID3v2::LoadPicture(ref, loaded));
        EXPECT_TRUE(loaded == expected) << item;
    }
}

// How a save is made to write the tag: in the old tag's space (padding to spare), or
// through a new file (no padding, and a longer title).
enum class TWay { wInPlace, wInPlaceMoved, wRebuild };

struct TKeepCase {
    const char* Name;
    uint8_t Version;
    bool PictureFirst;
    TWay Way;
};

class DID3v2PictureKeepTest : public ::testing::TestWithParam<TKeepCase> {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

// The picture's frame after a save of another field is the frame as read, byte for byte,
// and the read took only its first bytes.
TEST_P(DID3v2PictureKeepTest, AnUntouchedPictureIsWrittenBackByteForByte) {
    const TKeepCase& c = GetParam();
    const auto frame = c.Version == 4 ? FrameV24 : FrameV23;
    const std::string picture = ApicBody(Image(400000, 5));
    const std::string title = frame("TIT2", Latin1("Old"), 0, 0);
    const std::string frames = c.PictureFirst ? frame("APIC", picture, 0, 0) + title
                                              : title + frame("APIC", picture, 0, 0);
    const size_t padding = c.Way == TWay::wRebuild ? 0 : 1000;
    WriteBytes(Path, TId3v2Tag{c.Version, 0, frames, padding}.Build() + Audio);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    ASSERT_EQ(1, tag.Frames_Images.Count());
    EXPECT_LT(tag.Frames_Images.Items(0).Data.size(), picture.size());
    tag.Title = c.Way == TWay::wInPlace ? "New" : "A longer title";
    ASSERT_TRUE(tag.SaveToFile(Path));
    const std::string file = ReadBytes(Path);
    const std::vector<TRawFrame> written = RawFrames(file);
    const auto apic = std::find_if(written.begin(), written.end(),
                                   [](const TRawFrame& f) { return f.Id == "APIC"; });
    ASSERT_NE(written.end(), apic);
    EXPECT_TRUE(apic->Body == picture);
    EXPECT_TRUE(file.ends_with(Audio));
    EXPECT_TRUE(TagLibPicture(Path) == Image(400000, 5));
    // A second save without a read copies the picture from where the first one put it.
    tag.Artist = "Artist";
    ASSERT_TRUE(tag.SaveToFile(Path));
    TDID3v2 again;
    ASSERT_TRUE(again.ReadFromFile(Path));
    std::string image;
    ASSERT_TRUE(again.PictureData(0, image));
    EXPECT_TRUE(image == Image(400000, 5));
    EXPECT_EQ("Artist", again.Artist);
}

INSTANTIATE_TEST_SUITE_P(
    EachLayout, DID3v2PictureKeepTest,
    ::testing::Values(TKeepCase{"V23InPlace", 3, true, TWay::wInPlace},
                      TKeepCase{"V23InPlaceMoved", 3, false, TWay::wInPlaceMoved},
                      TKeepCase{"V23Rebuild", 3, false, TWay::wRebuild},
                      TKeepCase{"V24InPlace", 4, false, TWay::wInPlace},
                      TKeepCase{"V24InPlaceMoved", 4, false, TWay::wInPlaceMoved},
                      TKeepCase{"V24Rebuild", 4, true, TWay::wRebuild}),
    [](const auto& test) { return std::string(test.param.Name); });

namespace {

enum class TChange { cReplace, cRemove, cAdd };

struct TChangeCase {
    const char* Name;
    TChange Change;
    std::vector<std::string> Expected; // the images after the save, in tag order
};

} // namespace

class DID3v2PictureChangeTest : public ::testing::TestWithParam<TChangeCase> {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

TEST_P(DID3v2PictureChangeTest, ChangedPicturesAreSavedBesideThePassedOverOnes) {
    WriteBytes(Path, TId3v2Tag{3, 0,
                               FrameV23("APIC", ApicBody(Image(300000, 1))) +
                                   FrameV23("TIT2", Latin1("T")) +
                                   FrameV23("APIC", ApicBody(Image(200000, 2))),
                               100}
                             .Build() +
                         Audio);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    switch (GetParam().Change) {
    case TChange::cReplace:
        ASSERT_TRUE(tag.ReplacePicture(0, 3, "new", Image(1000, 3)));
        break;
    case TChange::cRemove:
        tag.RemovePicture(0);
        break;
    case TChange::cAdd:
        ASSERT_TRUE(tag.AddPicture(4, "added", Image(1000, 3)));
        break;
    }
    ASSERT_TRUE(tag.SaveToFile(Path));
    TDID3v2 again;
    ASSERT_TRUE(again.ReadFromFile(Path));
    std::vector<std::string> images;
    for (const TDID3v2::TPictureInfo& picture : again.Pictures()) {
        std::string image;
        EXPECT_TRUE(again.PictureData(picture.Item, image));
        EXPECT_EQ(static_cast<int64_t>(image.size()), picture.Bytes);
        images.push_back(image);
    }
    EXPECT_TRUE(images == GetParam().Expected);
    EXPECT_TRUE(ReadBytes(Path).ends_with(Audio));
}

INSTANTIATE_TEST_SUITE_P(
    EachChange, DID3v2PictureChangeTest,
    ::testing::Values(
        TChangeCase{"Replace", TChange::cReplace, {Image(1000, 3), Image(200000, 2)}},
        TChangeCase{"Remove", TChange::cRemove, {Image(200000, 2)}},
        TChangeCase{"Add", TChange::cAdd, {Image(300000, 1), Image(200000, 2), Image(1000, 3)}}),
    [](const auto& test) { return std::string(test.param.Name); });

namespace {

// Unsynchronisation as a writer applies it: a zero byte after every FF.
std::string Unsynchronise(std::string_view bytes) {
    std::string out;
    for (const char c : bytes) {
        out += c;
        if (c == '\xFF')
            out += '\0';
    }
    return out;
}

struct TLayoutCase {
    const char* Name;
    std::string Tag; // the whole tag; its picture is Image(200000, 6)
};

const std::string LayoutImage = Image(200000, 6);

} // namespace

class DID3v2PictureLayoutTest : public ::testing::TestWithParam<TLayoutCase> {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
};

// Pictures that cannot be passed over are read whole, shown, and kept by a save.
TEST_P(DID3v2PictureLayoutTest, APictureReadWholeIsShownAndKept) {
    WriteBytes(Path, GetParam().Tag + Audio);
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Path));
    std::string image;
    ASSERT_TRUE(tag.PictureData(0, image));
    EXPECT_TRUE(image == LayoutImage);
    ASSERT_EQ(1u, tag.Pictures().size());
    EXPECT_EQ(static_cast<int64_t>(LayoutImage.size()), tag.Pictures()[0].Bytes);
    ASSERT_TRUE(TDID3v2::LoadPicture(tag.PictureRef(0), image));
    EXPECT_TRUE(image == LayoutImage);
    tag.Title = "Edited";
    ASSERT_TRUE(tag.SaveToFile(Path));
    TDID3v2 again;
    ASSERT_TRUE(again.ReadFromFile(Path));
    ASSERT_TRUE(again.PictureData(0, image));
    EXPECT_TRUE(image == LayoutImage);
    EXPECT_EQ("Edited", again.Title);
}

INSTANTIATE_TEST_SUITE_P(
    EachLayout, DID3v2PictureLayoutTest,
    ::testing::Values(
        TLayoutCase{"Version22Pic",
                    TId3v2Tag{2, 0,
                              FrameV22("TT2", Latin1("T")) +
                                  FrameV22("PIC", std::string("\0JPG\x03\0", 6) + LayoutImage),
                              100}
                        .Build()},
        TLayoutCase{"Compressed", TId3v2Tag{3, 0, CompressedApic(LayoutImage), 100}.Build()},
        TLayoutCase{"UnsynchronisedTag",
                    TId3v2Tag{3, 0x80,
                              Unsynchronise(FrameV23("TIT2", Latin1("T")) +
                                            FrameV23("APIC", ApicBody(LayoutImage))),
                              100}
                        .Build()},
        TLayoutCase{"UnsynchronisedVersion24Tag",
                    TId3v2Tag{4, 0x80, FrameV24("APIC", Unsynchronise(ApicBody(LayoutImage))), 100}
                        .Build()}),
    [](const auto& test) { return std::string(test.param.Name); });

TEST_F(DID3v2PictureFileTest, APictureCutShortIsNotShownAndAFileCutAfterTheReadIsNotSaved) {
    const std::string picture = FrameV23("APIC", ApicBody(Image(300000, 1)));
    const std::string whole = TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("T")) + picture, 100}.Build();
    // The tag claims more than the file holds: no frame of it is taken.
    WriteBytes(Path, whole.substr(0, 200000));
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_TRUE(Tag.Pictures().empty());
    // The picture frame claims more than its tag: the walk stops in front of it.
    const std::string cut =
        TId3v2Tag{3, 0, FrameV23("TIT2", Latin1("T")) + picture.substr(0, 200000), 0}.Build();
    WriteBytes(Path, cut + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    EXPECT_EQ("T", Tag.Title);
    EXPECT_TRUE(Tag.Pictures().empty());
    // The file loses its end after the read: the picture cannot be had, and a save would
    // lose it.
    WriteBytes(Path, whole + Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_EQ(0, ::truncate(Path.c_str(), 100000));
    std::string image;
    EXPECT_FALSE(Tag.PictureData(0, image));
    Tag.Title = "New";
    EXPECT_FALSE(Tag.SaveToFile(Path));
    EXPECT_EQ(100000u, ReadBytes(Path).size());
}

TEST_F(DID3v2PictureFileTest, APassedOverPictureSurvivesASaveIntoAnotherFileAndARemoval) {
    const std::string image = Image(300000, 1);
    WriteBytes(Path, TId3v2Tag{3, 0, FrameV23("APIC", ApicBody(image)), 100}.Build() + Audio);
    const std::string other = Dir.File("other.mp3");
    WriteBytes(other, Audio);
    ASSERT_TRUE(Tag.ReadFromFile(Path));
    ASSERT_TRUE(Tag.SaveToFile(other));
    ASSERT_TRUE(Tag.RemoveFromFile(Path));
    EXPECT_TRUE(ReadBytes(Path) == Audio);
    ASSERT_TRUE(Tag.SaveToFile(Path));
    for (const std::string& path : {other, Path}) {
        TDID3v2 again;
        ASSERT_TRUE(again.ReadFromFile(path));
        std::string loaded;
        ASSERT_TRUE(again.PictureData(0, loaded));
        EXPECT_TRUE(loaded == image) << path;
    }
}
