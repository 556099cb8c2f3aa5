#include "platform/FileSystem.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <thread>
#include <unistd.h>

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

// The reads of showing a file, as the three readers make them, and ranges that cross the
// pin's blocks: each gives the file's own bytes, and a file of any size costs at most one
// kernel read for its head and one for its tail.
TEST_F(FileSystemTest, APinnedFileAnswersFromItsHeadAndTailBlocks) {
    struct TRange {
        int64_t Offset;
        int64_t Count;
    };
    for (const size_t length : {size_t{700}, size_t{200000}}) {
        SCOPED_TRACE(length);
        const std::string bytes = FakeAudio(length, 7);
        const auto size = static_cast<int64_t>(length);
        WriteBytes(Path, bytes);
        Fs.ResetFaults();
        const TReadPin pin(Fs, Path);
        auto file = Fs.Open(Path, TOpenMode::omReadOnly);
        ASSERT_TRUE(file);
        const std::vector<TRange> shown = {{0, 3458}, {91, 3458}, {size - 3586, 3586},
                                           {0, 10},   {10, 81},   {size - 128, 128}};
        for (const TRange& r : shown) {
            std::string got(static_cast<size_t>(r.Count), '\0');
            const int64_t expected = std::min(r.Count, size - std::max<int64_t>(r.Offset, 0));
            ASSERT_EQ(expected, file->ReadAt(std::max<int64_t>(r.Offset, 0), got.data(), r.Count));
            EXPECT_TRUE(got.substr(0, expected) ==
                        bytes.substr(std::max<int64_t>(r.Offset, 0), expected));
        }
        EXPECT_EQ(length < 20000 ? 1 : 2, Fs.CallCount(TFileOp::foDiskRead));
        // Across both blocks and the middle between them, and on past the end.
        std::string whole(length + 50, '\0');
        ASSERT_EQ(size, file->ReadAt(0, whole.data(), size + 50));
        EXPECT_TRUE(whole.substr(0, length) == bytes);
        EXPECT_EQ(length < 20000 ? 1 : 3, Fs.CallCount(TFileOp::foDiskRead));
    }
    // A small read between the blocks (the stream behind a large picture and the tag's
    // padding) serves the reads around it: the look behind the picture, and the padding.
    const TReadPin pin(Fs, Path);
    auto file = Fs.Open(Path, TOpenMode::omReadOnly);
    std::string peek(10, '\0');
    std::string on(1072, '\0');
    std::string stream(3458, '\0');
    Fs.ResetFaults();
    ASSERT_TRUE(file && file->ReadExactAt(101072, stream.data(), 3458) &&
                file->ReadExactAt(100000, peek.data(), 10) &&
                file->ReadExactAt(100000, on.data(), 1072));
    EXPECT_TRUE(on == ReadBytes(Path).substr(100000, 1072) && peek == on.substr(0, 10));
    EXPECT_TRUE(stream == ReadBytes(Path).substr(101072, 3458));
    EXPECT_EQ(1, Fs.CallCount(TFileOp::foDiskRead));
}

// A failed kernel read fails the read and is tried again by the next one; a file cut while
// pinned ends where it was cut, with no byte from before the cut beyond it.
TEST_F(FileSystemTest, APinnedFileReportsFailedAndShortReads) {
    const std::string bytes = FakeAudio(100000, 3);
    WriteBytes(Path, bytes);
    const TReadPin pin(Fs, Path);
    auto file = Fs.Open(Path, TOpenMode::omReadOnly);
    ASSERT_TRUE(file);
    char buffer[128];
    Fs.FailAt(TFileOp::foDiskRead, 1);
    EXPECT_EQ(-1, file->ReadAt(0, buffer, 10));
    ASSERT_TRUE(file->ReadExactAt(0, buffer, 10));
    EXPECT_EQ(bytes.substr(0, 10), std::string(buffer, 10));
    ASSERT_EQ(0, ::truncate(Path.c_str(), 50000));
    EXPECT_EQ(0, file->ReadAt(100000 - 128, buffer, 128));
    EXPECT_EQ(10, file->ReadAt(49990, buffer, 20));
}

// A save takes its lock before it reads what it keeps: from then on the file is read as it
// is, not from the blocks the pin read before another program changed it.
TEST_F(FileSystemTest, TakingASaveLockDropsThePinnedBlocks) {
    WriteBytes(Path, "old content");
    const TReadPin pin(Fs, Path);
    char buffer[3];
    ASSERT_TRUE(Fs.Open(Path, TOpenMode::omReadOnly)->ReadExactAt(0, buffer, 3));
    WriteBytes(Path, "new content");
    const auto lock = Fs.LockFile(Path);
    ASSERT_TRUE(lock);
    ASSERT_TRUE(Fs.Open(Path, TOpenMode::omReadOnly)->ReadExactAt(0, buffer, 3));
    EXPECT_EQ("new", std::string(buffer, 3));
}

// --- Special files --------------------------------------------------------------------------

enum class TNodeKind { nkFifo, nkFolder, nkDevice };

class FileSystemSpecialFileTest : public ::testing::TestWithParam<TNodeKind> {
protected:
    void SetUp() override {
        switch (GetParam()) {
        case TNodeKind::nkFifo:
            ASSERT_EQ(0, ::mkfifo(Node.c_str(), 0666));
            break;
        case TNodeKind::nkFolder:
            ASSERT_EQ(0, ::mkdir(Node.c_str(), 0777));
            break;
        case TNodeKind::nkDevice:
            if (::mknod(Node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) != 0) // /dev/null
                GTEST_SKIP() << "making a device node needs root";
            break;
        }
        ASSERT_EQ(0, ::symlink("x.mp3", Link.c_str()));
    }
    mode_t NodeType() {
        struct stat st {};
        ::lstat(Node.c_str(), &st);
        return st.st_mode & S_IFMT;
    }

    TTempDir Dir;
    TFileSystem Fs;
    std::string Node = Dir.File("x.mp3");
    std::string Link = Dir.File("link.mp3");
};

// A FIFO would make an open wait for a writer forever; each call must come back at once,
// refuse the node, and leave it what it is.
TEST_P(FileSystemSpecialFileTest, IsRefusedAtOnceAndLeftAsItIs) {
    const mode_t type = NodeType();
    for (const std::string& path : {Node, Link}) {
        EXPECT_FALSE(Fs.Open(path, TOpenMode::omReadOnly));
        EXPECT_FALSE(Fs.Open(path, TOpenMode::omReadWrite));
        EXPECT_FALSE(Fs.OpenForUpdate(path));
        EXPECT_FALSE(Fs.Exists(path));
        EXPECT_FALSE(Fs.LockFile(path));
        {
            const TReadPin pin(Fs, path);
            EXPECT_FALSE(Fs.Open(path, TOpenMode::omReadOnly));
        }
        EXPECT_FALSE(Fs.ReplaceContent(path, "new", {.CreateMissing = true}));
        EXPECT_EQ("It is not a regular file.", Fs.FailureNote());
        EXPECT_EQ(type, NodeType());
    }
    EXPECT_EQ(std::vector<std::string>({"link.mp3", "x.mp3"}), FolderEntries(Dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(Each, FileSystemSpecialFileTest,
                         ::testing::Values(TNodeKind::nkFifo, TNodeKind::nkFolder,
                                           TNodeKind::nkDevice));

// Opening a special file can act on it: a program waiting to write into a FIFO would be
// connected to us and then cut off, a device may arm or rewind itself. Reading refuses such
// a path without opening it.
TEST(FileSystemFifoTest, AWriterWaitingOnAFifoIsNeverConnectedByAReader) {
    const TTempDir dir;
    TFileSystem fs;
    const std::string path = dir.File("x.mp3");
    ASSERT_EQ(0, ::mkfifo(path.c_str(), 0666));
    std::atomic<bool> connected = false;
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY); // waits for a reader
        connected = true;
        if (fd >= 0)
            ::close(fd);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(fs.Open(path, TOpenMode::omReadOnly));
    { const TReadPin pin(fs, path); }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(connected);
    const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK); // lets the writer go
    writer.join();
    ::close(reader);
}

// --- Replacing a file -----------------------------------------------------------------------

class FileSystemReplaceTest : public FileSystemTest {
protected:
    std::string Xattr(const std::string& path, const char* name) {
        char value[256];
        const ssize_t n = ::getxattr(path.c_str(), name, value, sizeof value);
        return n < 0 ? std::string() : std::string(value, static_cast<size_t>(n));
    }
};

TEST_F(FileSystemReplaceTest, ASymbolicLinkIsFollowedAndKept) {
    ASSERT_EQ(0, ::mkdir(Dir.File("music").c_str(), 0755));
    const std::string target = Dir.File("music/song.mp3");
    WriteBytes(target, "old");
    // A relative link to a relative link.
    ASSERT_EQ(0, ::symlink("music/song.mp3", Dir.File("one").c_str()));
    ASSERT_EQ(0, ::symlink("one", Path.c_str()));
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new content"));
    EXPECT_EQ("new content", ReadBytes(target));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(Path.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(std::vector<std::string>({"file.bin", "music", "one"}), FolderEntries(Dir.Path()));
    EXPECT_EQ(std::vector<std::string>({"song.mp3"}), FolderEntries(Dir.File("music")));
}

TEST_F(FileSystemReplaceTest, AHardLinkedFileIsRewrittenInItsOwnInode) {
    WriteBytes(Path, "old content that is longer");
    ASSERT_EQ(0, ::link(Path.c_str(), Dir.File("second").c_str()));
    const uint64_t inode = InodeOf(Path);
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new"));
    EXPECT_EQ("new", ReadBytes(Path));
    EXPECT_EQ("new", ReadBytes(Dir.File("second")));
    EXPECT_EQ(inode, InodeOf(Path));
    EXPECT_EQ(std::vector<std::string>({"file.bin", "second"}), FolderEntries(Dir.Path()));
}

TEST_F(FileSystemReplaceTest, PlantedLinksAndBackupsBesideTheFileAreNotTouched) {
    const std::string victim = Dir.File("victim");
    WriteBytes(victim, "precious");
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::symlink(victim.c_str(), (Path + "~").c_str()));
    WriteBytes(Dir.File("backup.bin~"), "backup");
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new"));
    ASSERT_TRUE(Fs.ReplaceContent(Dir.File("backup.bin"), "made", {.CreateMissing = true}));
    EXPECT_EQ("new", ReadBytes(Path));
    EXPECT_EQ("precious", ReadBytes(victim));
    EXPECT_EQ("backup", ReadBytes(Dir.File("backup.bin~")));
    EXPECT_EQ(
        std::vector<std::string>({"backup.bin", "backup.bin~", "file.bin", "file.bin~", "victim"}),
        FolderEntries(Dir.Path()));
}

TEST_F(FileSystemReplaceTest, ModeAttributesAndAclsAreKeptAndAReadOnlyFileStaysReadOnly) {
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::chmod(Path.c_str(), 0440));
    const bool attributes = ::setxattr(Path.c_str(), "user.origin", "cd", 2, 0) == 0;
    const bool acl = std::system(("setfacl -m u:65534:r " + Path + " 2>/dev/null").c_str()) == 0;
    const std::string aclBytes = Xattr(Path, "system.posix_acl_access");
    const uint64_t inode = InodeOf(Path);
    const unsigned mode = FileMode(Path);
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new"));
    EXPECT_NE(inode, InodeOf(Path)) << "replaced by a rename";
    EXPECT_EQ(mode, FileMode(Path));
    EXPECT_EQ("new", ReadBytes(Path));
    if (attributes) {
        EXPECT_EQ("cd", Xattr(Path, "user.origin"));
    }
    if (acl) {
        EXPECT_FALSE(aclBytes.empty());
        EXPECT_EQ(aclBytes, Xattr(Path, "system.posix_acl_access"));
    }
}

// While the new content is written, other users must not read a private file's copy.
TEST_F(FileSystemReplaceTest, TheNewFileIsPrivateWhileItIsWritten) {
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::chmod(Path.c_str(), 0644));
    std::string seen;
    unsigned mode = 0;
    ASSERT_TRUE(Fs.ReplaceContent(Path, [&](TFile& out) {
        for (const std::string& name : FolderEntries(Dir.Path())) {
            if (name != "file.bin") {
                seen = name;
                mode = FileMode(Dir.File(name));
            }
        }
        return out.WriteAt(0, "new", 3);
    }));
    EXPECT_TRUE(seen.starts_with(".file.bin.tcsave-")) << seen;
    EXPECT_EQ(0600u, mode);
    EXPECT_EQ(0644u, FileMode(Path));
    EXPECT_EQ("new", ReadBytes(Path));
}

TEST_F(FileSystemReplaceTest, ANewFileGetsTheUsualModeAndAMissingOneIsNotCreatedUnlessAsked) {
    EXPECT_FALSE(Fs.ReplaceContent(Path, "x"));
    EXPECT_FALSE(FileExists(Path));
    const mode_t mask = ::umask(027);
    const bool made = Fs.ReplaceContent(Path, "x", {.CreateMissing = true});
    ::umask(mask);
    ASSERT_TRUE(made);
    EXPECT_EQ(0640u, FileMode(Path));
}

TEST_F(FileSystemReplaceTest, CopiesLeftByAKilledSaveAreRemovedAndOthersAreNot) {
    WriteBytes(Path, "old");
    const pid_t gone = ::fork();
    if (gone == 0)
        ::_exit(0);
    ::waitpid(gone, nullptr, 0);
    const std::string stale = Dir.File(".file.bin.tcsave-" + std::to_string(gone) + "-1");
    const std::string inUse = Dir.File(".file.bin.tcsave-1-1"); // init never dies
    const std::string other = Dir.File(".other.tcsave-" + std::to_string(gone) + "-1");
    for (const std::string& path : {stale, inUse, other})
        WriteBytes(path, "partial");
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new"));
    EXPECT_FALSE(FileExists(stale));
    EXPECT_TRUE(FileExists(inUse));
    EXPECT_TRUE(FileExists(other));
}

// Root can give any owner: the file is replaced and keeps its owner, group and set-id bits.
// Another user cannot: the file is then written in place, keeping everything.
TEST_F(FileSystemReplaceTest, AFileOfAnotherOwnerKeepsItsOwner) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make files of other owners";
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::chown(Path.c_str(), NobodyId, NobodyId));
    ASSERT_EQ(0, ::chmod(Path.c_str(), 06755));
    ASSERT_TRUE(Fs.ReplaceContent(Path, "by root"));
    struct stat st {};
    ASSERT_EQ(0, ::stat(Path.c_str(), &st));
    EXPECT_EQ(NobodyId, st.st_uid);
    EXPECT_EQ(NobodyId, st.st_gid);
    EXPECT_EQ(06755u, st.st_mode & 07777);

    ASSERT_EQ(0, ::chown(Path.c_str(), 0, 0));
    ASSERT_EQ(0, ::chmod(Path.c_str(), 0666));
    ASSERT_EQ(0, ::chmod(Dir.Path().c_str(), 0777));
    const uint64_t inode = InodeOf(Path);
    EXPECT_EQ(1, RunAsUser(NobodyId, [&] {
                  TFileSystem fs;
                  return fs.ReplaceContent(Path, "by nobody") ? 1 : 0;
              }));
    EXPECT_EQ("by nobody", ReadBytes(Path));
    EXPECT_EQ(inode, InodeOf(Path));
    ASSERT_EQ(0, ::stat(Path.c_str(), &st));
    EXPECT_EQ(0u, st.st_uid);
    EXPECT_EQ(std::vector<std::string>({"file.bin"}), FolderEntries(Dir.Path()));
}

// In a folder the user may not write, the complete copy is made in the user's cache folder.
TEST_F(FileSystemReplaceTest, AFileInAReadOnlyFolderIsWrittenInPlaceThroughTheCacheFolder) {
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::chmod(Path.c_str(), 0666));
    ASSERT_EQ(0, ::mkdir(Dir.File("cache").c_str(), 0700));
    ASSERT_EQ(0, ::chmod(Dir.File("cache").c_str(), 0777));
    ::setenv("XDG_CACHE_HOME", Dir.File("cache").c_str(), 1);
    auto save = [&] {
        TFileSystem fs;
        return fs.ReplaceContent(Path, "new") ? 1 : 0;
    };
    int saved;
    if (::geteuid() == 0) {
        ASSERT_EQ(0, ::chmod(Dir.Path().c_str(), 0755));
        saved = RunAsUser(NobodyId, save);
    } else {
        ASSERT_EQ(0, ::chmod(Dir.Path().c_str(), 0555));
        saved = save();
        ::chmod(Dir.Path().c_str(), 0700);
    }
    ::unsetenv("XDG_CACHE_HOME");
    EXPECT_EQ(1, saved);
    EXPECT_EQ("new", ReadBytes(Path));
    EXPECT_EQ(std::vector<std::string>({"cache", "file.bin"}), FolderEntries(Dir.Path()));
    EXPECT_EQ(std::vector<std::string>({"tagcantorell"}), FolderEntries(Dir.File("cache")));
    EXPECT_TRUE(FolderEntries(Dir.File("cache/tagcantorell")).empty());
}

// Every step of both ways fails in turn. A failure leaves the original as it was and
// nothing beside it; a failure after the rename still counts as a save; a failure while
// writing in place keeps the complete new file and names it.
class FileSystemReplaceFaultTest : public ::testing::TestWithParam<bool> {};

TEST_P(FileSystemReplaceFaultTest, EveryStepFailsCleanly) {
    const bool hardLinked = GetParam();
    const std::string original = FakeAudio(100000, 1);
    const std::string replacement = FakeAudio(150000, 2);
    std::array<int, static_cast<size_t>(TFileOp::foCount)> counts{};
    {
        TTempDir dir;
        WriteBytes(dir.File("song.mp3"), original);
        if (hardLinked) {
            ASSERT_EQ(0, ::link(dir.File("song.mp3").c_str(), dir.File("other.mp3").c_str()));
        }
        TFileSystem fs;
        ASSERT_TRUE(fs.ReplaceContent(dir.File("song.mp3"), replacement));
        for (size_t op = 0; op < counts.size(); ++op)
            counts[op] = fs.CallCount(static_cast<TFileOp>(op));
    }
    int failures = 0;
    for (size_t op = 0; op < counts.size(); ++op) {
        for (int nth = 1; nth <= counts[op]; ++nth) {
            SCOPED_TRACE("op " + std::to_string(op) + " call " + std::to_string(nth));
            TTempDir dir;
            const std::string path = dir.File("song.mp3");
            WriteBytes(path, original);
            ASSERT_EQ(0, ::chmod(path.c_str(), 0640));
            std::vector<std::string> entries = {"song.mp3"};
            if (hardLinked) {
                ASSERT_EQ(0, ::link(path.c_str(), dir.File("other.mp3").c_str()));
                entries = {"other.mp3", "song.mp3"};
            }
            TFileSystem fs;
            fs.FailAt(static_cast<TFileOp>(op), nth);
            const bool saved = fs.ReplaceContent(path, replacement);
            const std::string now = ReadBytes(path);
            const std::string note = fs.FailureNote();
            if (saved) {
                EXPECT_TRUE(now == replacement);
            } else if (!note.empty()) {
                // "A complete copy of the new file is kept in "<path>"."
                const size_t open = note.find('"');
                const std::string copy = note.substr(open + 1, note.rfind('"') - open - 1);
                EXPECT_TRUE(ReadBytes(copy) == replacement) << note;
                ASSERT_EQ(0, ::unlink(copy.c_str()));
            } else {
                ++failures;
                EXPECT_TRUE(now == original) << "the original changed";
            }
            EXPECT_EQ(0640u, FileMode(path));
            EXPECT_EQ(entries, FolderEntries(dir.Path()));
        }
    }
    EXPECT_GT(failures, 3);
}

INSTANTIATE_TEST_SUITE_P(RenameAndInPlace, FileSystemReplaceFaultTest, ::testing::Bool());

// --- Locks and stamps -----------------------------------------------------------------------

TEST_F(FileSystemTest, ALockNestsWithinOneFileSystemAndKeepsOthersOut) {
    WriteBytes(Path, "old");
    TFileSystem other;
    other.LockTimeoutMs = 50;
    auto outer = Fs.LockFile(Path);
    ASSERT_TRUE(outer);
    {
        auto inner = Fs.LockFile(Path);
        ASSERT_TRUE(inner);
    }
    EXPECT_FALSE(other.LockFile(Path));
    EXPECT_EQ("Another program is saving the file.", other.FailureNote());
    // A replacement takes the lock with it: the new file is just as locked.
    ASSERT_TRUE(Fs.ReplaceContent(Path, "new"));
    EXPECT_FALSE(other.LockFile(Path));
    outer.reset();
    EXPECT_TRUE(other.LockFile(Path));
}

TEST_F(FileSystemTest, AStampChangesWithTheContentAndTheFile) {
    WriteBytes(Path, "one");
    TFileStamp first, again;
    ASSERT_TRUE(Fs.Stamp(Path, first));
    ASSERT_TRUE(Fs.Stamp(Path, again));
    EXPECT_EQ(first, again);
    auto file = Fs.Open(Path, TOpenMode::omReadOnly);
    ASSERT_TRUE(file);
    EXPECT_EQ(first, file->Stamp());
    ASSERT_TRUE(Fs.ReplaceContent(Path, "two"));
    ASSERT_TRUE(Fs.Stamp(Path, again));
    EXPECT_NE(first, again);
    EXPECT_FALSE(Fs.Stamp(Dir.File("missing"), again));
}

TEST_F(FileSystemTest, AnUpdateOfAReadOnlyFileKeepsItsBits) {
    WriteBytes(Path, "old");
    ASSERT_EQ(0, ::chmod(Path.c_str(), 0444));
    auto file = Fs.OpenForUpdate(Path);
    ASSERT_TRUE(file);
    EXPECT_EQ(0444u, FileMode(Path));
    ASSERT_TRUE(file->WriteAt(0, "new", 3));
    ASSERT_TRUE(file->Close());
    EXPECT_EQ("new", ReadBytes(Path));
    EXPECT_EQ(0444u, FileMode(Path));
}
