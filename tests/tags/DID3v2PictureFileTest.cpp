// Pictures of tags read from files: they are named by their place in the file and loaded
// only when asked for, and a save writes back every picture it did not change byte for byte.
#include "tags/DID3v2.h"

#include "tests/support/Id3v2Builder.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
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
    WriteBytes(Path,
               TId3v2Tag{3, 0,
                         FrameV23("APIC",
                                  BigEndianBytes(static_cast<uint32_t>(ApicBody(image).size())) +
                                      ZlibCompress(ApicBody(image)),
                                  0, 0x80),
                         100}
                       .Build() +
                   Audio);
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
