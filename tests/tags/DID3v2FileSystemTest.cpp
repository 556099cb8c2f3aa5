// ID3v2 saves on the files a real Linux system holds: reached through a symbolic link,
// with a second hard link, owned by another user, with extended attributes and ACLs, next
// to a planted link, or changed by another program between the read and the save. The
// files are tagged and read back by mutagen's mid3v2, a program independent of ours.
#include "tags/DID3v2.h"

#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

// What mid3v2 lists of a file's tag ("TIT2=..." lines).
std::string Mid3v2List(const std::string& path) {
    std::string out;
    if (FILE* pipe = ::popen(("mid3v2 -l '" + path + "' 2>&1").c_str(), "r")) {
        char buffer[4096];
        while (const size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            out.append(buffer, n);
        ::pclose(pipe);
    }
    return out;
}

} // namespace

class DID3v2FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        CopyStandardMp3(Real);
        Audio = ReadBytes(Real);
        ASSERT_EQ(0, RunProgram({"mid3v2", "--song", "Old title", "--artist", "Artist", Real}));
        ASSERT_NE(std::string::npos, Mid3v2List(Real).find("TIT2=Old title"));
    }

    // Reads the file through `name`, sets a title (and, for a rebuild, lyrics larger than
    // the tag's space) and saves through the same name.
    bool Save(const std::string& name, const std::string& title, bool rebuild) {
        TDID3v2 tag;
        if (!tag.ReadFromFile(name))
            return false;
        tag.Title = title;
        if (rebuild)
            tag.SetLyrics(std::string(60000, 'l'), 0);
        return tag.SaveToFile(name);
    }

    // The new title is in the file, mutagen reads it, and the audio is unchanged.
    void ExpectSaved(const std::string& name, const std::string& title) {
        EXPECT_NE(std::string::npos, Mid3v2List(name).find("TIT2=" + title)) << Mid3v2List(name);
        EXPECT_NE(std::string::npos, Mid3v2List(name).find("TPE1=Artist"));
        TDID3v2 tag;
        ASSERT_TRUE(tag.ReadFromFile(name));
        const std::string bytes = ReadBytes(name);
        EXPECT_TRUE(bytes.substr(static_cast<size_t>(tag.TagSize)) == Audio) << "audio changed";
    }

    TTempDir Dir;
    std::string Real = Dir.File("song.mp3");
    std::string Audio;
};

class DID3v2LinkTest : public DID3v2FileSystemTest, public ::testing::WithParamInterface<bool> {};

TEST_P(DID3v2LinkTest, ASaveThroughASymbolicLinkChangesTheTargetAndKeepsTheLink) {
    const std::string link = Dir.File("link.mp3");
    ASSERT_EQ(0, ::symlink("song.mp3", link.c_str()));
    ASSERT_TRUE(Save(link, "Via link", GetParam()));
    struct stat st {};
    ASSERT_EQ(0, ::lstat(link.c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ExpectSaved(Real, "Via link");
    EXPECT_EQ(std::vector<std::string>({"link.mp3", "song.mp3"}), FolderEntries(Dir.Path()));
}

TEST_P(DID3v2LinkTest, ASaveOfAHardLinkedFileIsSeenByBothNamesInTheSameInode) {
    const std::string second = Dir.File("second.mp3");
    ASSERT_EQ(0, ::link(Real.c_str(), second.c_str()));
    const uint64_t inode = InodeOf(Real);
    ASSERT_TRUE(Save(second, "Both names", GetParam()));
    EXPECT_EQ(inode, InodeOf(Real));
    EXPECT_EQ(inode, InodeOf(second));
    ExpectSaved(Real, "Both names");
    EXPECT_EQ(std::vector<std::string>({"second.mp3", "song.mp3"}), FolderEntries(Dir.Path()));
}

INSTANTIATE_TEST_SUITE_P(RebuildAndInPlace, DID3v2LinkTest, ::testing::Bool(),
                         [](const auto& test) {
                             return std::string(test.param ? "Rebuild" : "InPlace");
                         });

TEST_F(DID3v2FileSystemTest, APlantedLinkAndABackupBesideTheFileAreLeftAlone) {
    const std::string victim = Dir.File("victim");
    WriteBytes(victim, "precious");
    ASSERT_EQ(0, ::symlink(victim.c_str(), (Real + "~").c_str()));
    WriteBytes(Dir.File("other.mp3~"), "backup");
    ASSERT_TRUE(Save(Real, "Planted", true));
    ExpectSaved(Real, "Planted");
    EXPECT_EQ("precious", ReadBytes(victim));
    EXPECT_EQ("backup", ReadBytes(Dir.File("other.mp3~")));
    EXPECT_EQ(std::vector<std::string>({"other.mp3~", "song.mp3", "song.mp3~", "victim"}),
              FolderEntries(Dir.Path()));
}

TEST_F(DID3v2FileSystemTest, ARebuildKeepsOwnerModeAttributesAndAcl) {
    ASSERT_EQ(0, ::chmod(Real.c_str(), 0640));
    const bool owned = ::geteuid() == 0 && ::chown(Real.c_str(), NobodyId, NobodyId) == 0;
    const bool attribute = ::setxattr(Real.c_str(), "user.rating", "5", 1, 0) == 0;
    const bool acl = std::system(("setfacl -m u:65534:rw " + Real + " 2>/dev/null").c_str()) == 0;
    struct stat before {};
    ASSERT_EQ(0, ::stat(Real.c_str(), &before));
    char aclBefore[256];
    const ssize_t aclSize =
        ::getxattr(Real.c_str(), "system.posix_acl_access", aclBefore, sizeof aclBefore);

    ASSERT_TRUE(Save(Real, "Kept", true));
    ExpectSaved(Real, "Kept");
    struct stat after {};
    ASSERT_EQ(0, ::stat(Real.c_str(), &after));
    EXPECT_EQ(before.st_mode, after.st_mode);
    EXPECT_EQ(before.st_uid, after.st_uid);
    EXPECT_EQ(before.st_gid, after.st_gid);
    if (owned) {
        EXPECT_EQ(NobodyId, after.st_uid);
    }
    if (attribute) {
        char value[8] = {};
        EXPECT_EQ(1, ::getxattr(Real.c_str(), "user.rating", value, sizeof value));
        EXPECT_EQ('5', value[0]);
    }
    if (acl) {
        char aclAfter[256];
        ASSERT_GT(aclSize, 0);
        ASSERT_EQ(aclSize,
                  ::getxattr(Real.c_str(), "system.posix_acl_access", aclAfter, sizeof aclAfter));
        EXPECT_EQ(0, std::memcmp(aclBefore, aclAfter, static_cast<size_t>(aclSize)));
    }
}

// Another user can write the file but cannot give a new file its owner: the save goes into
// the file itself, and the owner stays.
TEST_F(DID3v2FileSystemTest, AFileOfAnotherOwnerIsSavedInPlaceAndKeepsItsOwner) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to make a file of another owner";
    ASSERT_EQ(0, ::chmod(Real.c_str(), 0666));
    ASSERT_EQ(0, ::chmod(Dir.Path().c_str(), 0777));
    const uint64_t inode = InodeOf(Real);
    EXPECT_EQ(1, RunAsUser(NobodyId, [&] { return Save(Real, "By nobody", true) ? 1 : 0; }));
    EXPECT_EQ(inode, InodeOf(Real));
    struct stat st {};
    ASSERT_EQ(0, ::stat(Real.c_str(), &st));
    EXPECT_EQ(0u, st.st_uid);
    ExpectSaved(Real, "By nobody");
    EXPECT_EQ(std::vector<std::string>({"song.mp3"}), FolderEntries(Dir.Path()));
}

TEST_F(DID3v2FileSystemTest, ASaveRefusesAFileAnotherProgramChangedSinceTheRead) {
    TDID3v2 tag;
    ASSERT_TRUE(tag.ReadFromFile(Real));
    ASSERT_EQ(0, RunProgram({"mid3v2", "--song", "Changed elsewhere", Real}));
    const std::string changed = ReadBytes(Real);
    tag.Title = "Mine";
    EXPECT_FALSE(tag.SaveToFile(Real));
    EXPECT_FALSE(tag.RemoveFromFile(Real));
    EXPECT_EQ("The file was changed by another program since it was read.", tag.FailureNote());
    EXPECT_TRUE(changed == ReadBytes(Real));
    ASSERT_TRUE(tag.ReadFromFile(Real));
    tag.Title = "Mine";
    ASSERT_TRUE(tag.SaveToFile(Real));
    ExpectSaved(Real, "Mine");
}
