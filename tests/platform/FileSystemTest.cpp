#include "platform/FileSystem.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

using namespace cantorell;
using namespace cantorell::test;

class FileSystemTest : public ::testing::Test {
protected:
    TTempDir Dir;
    TFileSystem Fs;
    std::string Path = Dir.File("file.bin");
};

TEST_F(FileSystemTest, ReadingPastTheEndStopsAtTheEndOfTheFile) {
    WriteBytes(Path, "0123456789");
    auto file = Fs.Open(Path, TOpenMode::omReadOnly);
    ASSERT_TRUE(file);
    char buffer[8] = {};
    EXPECT_EQ(4, file->ReadAt(6, buffer, 8));
    EXPECT_EQ("6789", std::string(buffer, 4));
    EXPECT_FALSE(file->ReadExactAt(6, buffer, 8));
    EXPECT_EQ(0, file->ReadAt(10, buffer, 8));
    EXPECT_EQ(-1, file->ReadAt(-1, buffer, 1));
}

TEST_F(FileSystemTest, ReadWriteOpeningNeverCreatesAFile) {
    EXPECT_FALSE(Fs.Open(Path, TOpenMode::omReadWrite));
    EXPECT_FALSE(FileExists(Path));
    EXPECT_FALSE(Fs.Open(Dir.Path(), TOpenMode::omReadOnly)) << "a folder is not a file";
    EXPECT_FALSE(Fs.Exists(Dir.Path()));
}

TEST_F(FileSystemTest, WriteTruncateAndSizeChangeTheFile) {
    auto file = Fs.Open(Path, TOpenMode::omCreate);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->WriteAt(0, "abcdef", 6));
    ASSERT_TRUE(file->WriteAt(8, "XY", 2));
    int64_t size = 0;
    ASSERT_TRUE(file->Size(size));
    EXPECT_EQ(10, size);
    ASSERT_TRUE(file->Truncate(4));
    ASSERT_TRUE(file->Flush());
    ASSERT_TRUE(file->Close());
    EXPECT_EQ("abcd", ReadBytes(Path));
}

TEST_F(FileSystemTest, MakeWritableAddsOwnerWriteAndKeepsTheOtherBits) {
    WriteBytes(Path, "x");
    ASSERT_TRUE(Fs.SetPermissions(Path, 0454));
    ASSERT_TRUE(Fs.MakeWritable(Path));
    EXPECT_EQ(0654u, FileMode(Path));
    unsigned mode = 0;
    ASSERT_TRUE(Fs.Permissions(Path, mode));
    EXPECT_EQ(0654u, mode);
    EXPECT_FALSE(Fs.MakeWritable(Dir.File("missing")));
}

TEST_F(FileSystemTest, ReplaceMovesAFileOverAnotherAndRemoveDeletesIt) {
    WriteBytes(Path, "old");
    WriteBytes(Path + "~", "new");
    ASSERT_TRUE(Fs.Replace(Path + "~", Path));
    EXPECT_EQ("new", ReadBytes(Path));
    EXPECT_FALSE(FileExists(Path + "~"));
    ASSERT_TRUE(Fs.Remove(Path));
    EXPECT_FALSE(Fs.Exists(Path));
    EXPECT_FALSE(Fs.Remove(Path));
}

TEST_F(FileSystemTest, CopyFromCopiesARangeBetweenFiles) {
    const std::string audio = FakeAudio(3 * 1024 * 1024 + 17);
    WriteBytes(Path, audio);
    auto source = Fs.Open(Path, TOpenMode::omReadOnly);
    auto target = Fs.Open(Dir.File("copy"), TOpenMode::omCreate);
    ASSERT_TRUE(source && target);
    ASSERT_TRUE(target->WriteAt(0, "HEAD", 4));
    ASSERT_TRUE(target->CopyFrom(*source, 100, 4, static_cast<int64_t>(audio.size()) - 100));
    ASSERT_TRUE(target->Close());
    EXPECT_EQ("HEAD" + audio.substr(100), ReadBytes(Dir.File("copy")));
}

TEST_F(FileSystemTest, AnInjectedFailureHitsOnlyTheNthCallOfItsKind) {
    WriteBytes(Path, "0123456789");
    Fs.FailAt(TFileOp::foRead, 2);
    auto file = Fs.Open(Path, TOpenMode::omReadOnly);
    ASSERT_TRUE(file);
    char buffer[4];
    EXPECT_TRUE(file->ReadExactAt(0, buffer, 4));
    EXPECT_FALSE(file->ReadExactAt(0, buffer, 4));
    EXPECT_TRUE(file->ReadExactAt(0, buffer, 4));
    EXPECT_EQ(3, Fs.CallCount(TFileOp::foRead));

    Fs.ResetFaults();
    Fs.FailAt(TFileOp::foOpen, 1);
    EXPECT_FALSE(Fs.Open(Path, TOpenMode::omReadOnly));
    EXPECT_TRUE(Fs.Open(Path, TOpenMode::omReadOnly));

    Fs.FailAt(TFileOp::foReplace, 1);
    WriteBytes(Path + "~", "new");
    EXPECT_FALSE(Fs.Replace(Path + "~", Path));
    EXPECT_EQ("0123456789", ReadBytes(Path));
}

TEST_F(FileSystemTest, AnInjectedWriteFailureLeavesHalfTheBytesLikeAFullDisk) {
    WriteBytes(Path, "");
    Fs.FailAt(TFileOp::foWrite, 1);
    auto file = Fs.Open(Path, TOpenMode::omReadWrite);
    ASSERT_TRUE(file);
    EXPECT_FALSE(file->WriteAt(0, "abcdefgh", 8));
    file->Close();
    EXPECT_EQ("abcd", ReadBytes(Path));
}

TEST_F(FileSystemTest, InjectedFlushAndCopyFailuresAreReported) {
    WriteBytes(Path, "abc");
    Fs.FailAt(TFileOp::foFlush, 1);
    Fs.FailAt(TFileOp::foCopy, 1);
    auto source = Fs.Open(Path, TOpenMode::omReadOnly);
    auto target = Fs.Open(Dir.File("copy"), TOpenMode::omCreate);
    ASSERT_TRUE(source && target);
    EXPECT_FALSE(target->CopyFrom(*source, 0, 0, 3));
    EXPECT_FALSE(target->Flush());
    EXPECT_TRUE(target->CopyFrom(*source, 0, 0, 3));
    EXPECT_TRUE(target->Flush());
}

TEST_F(FileSystemTest, APinnedPathSharesOneOpenFileUntilSomethingIsWritten) {
    WriteBytes(Path, "old content");
    {
        const TReadPin pin(Fs, Path);
        // Replaced behind the pin's back: the pinned reads still see the file they opened.
        WriteBytes(Dir.File("new"), "new content");
        ASSERT_EQ(0, std::rename(Dir.File("new").c_str(), Path.c_str()));
        for (int i = 0; i < 3; ++i) {
            auto file = Fs.Open(Path, TOpenMode::omReadOnly);
            ASSERT_TRUE(file);
            char buffer[3];
            ASSERT_TRUE(file->ReadExactAt(0, buffer, 3));
            EXPECT_EQ("old", std::string(buffer, 3));
            int64_t size = 0;
            ASSERT_TRUE(file->Size(size));
            EXPECT_EQ(11, size);
            EXPECT_TRUE(file->Close());
        }
        // Any change through the file system drops the pin.
        ASSERT_TRUE(Fs.MakeWritable(Path));
        auto file = Fs.Open(Path, TOpenMode::omReadOnly);
        char buffer[3];
        ASSERT_TRUE(file && file->ReadExactAt(0, buffer, 3));
        EXPECT_EQ("new", std::string(buffer, 3));
    }
    EXPECT_EQ(4, Fs.CallCount(TFileOp::foOpen)) << "shared opens still count, for injection";
}

TEST_F(FileSystemTest, AReaderKeepsItsSharedFileWhenThePinIsDropped) {
    WriteBytes(Path, "audio bytes");
    const TReadPin pin(Fs, Path);
    auto source = Fs.Open(Path, TOpenMode::omReadOnly);
    ASSERT_TRUE(source);
    // Creating the temporary file of a rebuild drops the pin while the source is open.
    auto target = Fs.Open(Dir.File("copy~"), TOpenMode::omCreate);
    ASSERT_TRUE(target);
    ASSERT_TRUE(target->CopyFrom(*source, 0, 0, 11));
    ASSERT_TRUE(target->Close());
    EXPECT_EQ("audio bytes", ReadBytes(Dir.File("copy~")));
    EXPECT_TRUE(source->Close());
}

TEST_F(FileSystemTest, OnlyThePinnedPathIsShared) {
    WriteBytes(Path, "one");
    WriteBytes(Dir.File("other"), "two");
    const TReadPin pin(Fs, Path);
    auto other = Fs.Open(Dir.File("other"), TOpenMode::omReadOnly);
    char buffer[3];
    ASSERT_TRUE(other && other->ReadExactAt(0, buffer, 3));
    EXPECT_EQ("two", std::string(buffer, 3));
    const TReadPin missing(Fs, Dir.File("missing"));
    EXPECT_FALSE(Fs.Open(Dir.File("missing"), TOpenMode::omReadOnly));
}
