#include "IniTestHelpers.h"
#include "platform/FileSystem.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

namespace cantorell {
namespace {

using test::CrLfLines;
using test::ReadBytes;
using test::StringOf;
using test::TTempDir;
using test::WriteBytes;

const std::string kWarning = ";Automatically generated file. DO NOT MODIFY!!!\r\n";

class ElIniFile : public testing::Test {
protected:
    TTempDir Dir;
    std::string Path = Dir.File("VizErir.ini");
};

TEST_F(ElIniFile, SaveWritesTheTextFormAndLoadReadsItBack) {
    {
        TElIniFile store;
        store.SetPath(Path);
        store.WriteInteger("\\", "Count", 3);
        store.WriteString("\\Window", "Title", "Main");
        EXPECT_TRUE(store.Save());
        EXPECT_FALSE(store.Modified());
    }
    EXPECT_EQ(ReadBytes(Path), kWarning + CrLfLines({"Count=3", "", "[Window]", "Title=Main"}));
    TElIniFile reread;
    reread.SetPath(Path);
    EXPECT_TRUE(reread.Load());
    EXPECT_EQ(StringOf(reread, "\\Window", "Title"), "Main");
    EXPECT_EQ(reread.CurrentKey(), "\\");
}

TEST_F(ElIniFile, EventsFireAroundLoadAndSaveAlsoWhenTheyFail) {
    TElIniFile store;
    std::string log;
    store.OnBeforeLoad = [&](TElIniFile&) { log += "<load "; };
    store.OnAfterLoad = [&](TElIniFile&) { log += "load> "; };
    store.OnBeforeSave = [&](TElIniFile&) { log += "<save "; };
    store.OnAfterSave = [&](TElIniFile&) { log += "save> "; };
    EXPECT_FALSE(store.Save()); // no path
    store.SetPath(Dir.File("missing.ini"));
    try {
        store.Load();
        FAIL() << "loading a missing file must throw";
    } catch (const EElFileError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find(Dir.File("missing.ini")), std::string::npos) << message;
        EXPECT_NE(message.find("No such file or directory"), std::string::npos) << message;
    }
    store.SetPath(Dir.File("no-such-folder/options.ini"));
    EXPECT_THROW(store.Save(), EElFileError);
    EXPECT_EQ(log, "<save save> <load load> <save save> ");
}

TEST_F(ElIniFile, LoadingAMissingFileLeavesAnEmptyTree) {
    TElIniFile store;
    store.WriteString("\\Old", "v", "1");
    store.SetPath(Dir.File("missing.ini"));
    EXPECT_THROW(store.Load(), EElFileError);
    EXPECT_EQ(store.Root().ChildCount(), 0);
    EXPECT_EQ(store.CurrentKey(), "\\");
}

TEST_F(ElIniFile, AFailedSaveLeavesTheOldFileIntactAndReportsTheError) {
    WriteBytes(Path, kWarning + "old=1\r\n");
    ::chmod(Path.c_str(), 0640);
    for (TFileOp op : {TFileOp::foOpen, TFileOp::foWrite, TFileOp::foFlush, TFileOp::foReplace}) {
        TFileSystem fs;
        TElIniFile store(fs);
        store.SetPath(Path);
        store.WriteString("\\", "new", "2");
        bool afterSave = false;
        store.OnAfterSave = [&](TElIniFile&) { afterSave = true; };
        fs.FailAt(op, 1);
        EXPECT_THROW(store.Save(), EElFileError) << static_cast<int>(op);
        EXPECT_TRUE(afterSave);
        EXPECT_TRUE(store.Modified());
        EXPECT_EQ(ReadBytes(Path), kWarning + "old=1\r\n");
        EXPECT_EQ(std::vector<std::string>({"VizErir.ini"}), test::FolderEntries(Dir.Path()));
        store.SetLazyWrite(false); // keep the destructor from saving
    }
    // A successful save keeps the file's permission bits.
    TElIniFile store;
    store.SetPath(Path);
    store.WriteString("\\", "new", "2");
    EXPECT_TRUE(store.Save());
    EXPECT_EQ(test::FileMode(Path) & 0777, 0640u);
    EXPECT_EQ(ReadBytes(Path), kWarning + "new=2\r\n");
}

TEST_F(ElIniFile, SavingThroughASymbolicLinkReplacesTheTargetAndKeepsTheLink) {
    const std::string target = Dir.File("real.ini");
    WriteBytes(target, "");
    std::filesystem::create_symlink(target, Path);
    TElIniFile store;
    store.SetPath(Path);
    store.WriteString("\\", "a", "b");
    ASSERT_TRUE(store.Save());
    EXPECT_TRUE(std::filesystem::is_symlink(Path));
    EXPECT_EQ(ReadBytes(target), kWarning + "a=b\r\n");
}

// A FIFO would hang the load, and a link to a device would have the device replaced by a
// regular file at the save: the store reads and replaces regular files only.
TEST_F(ElIniFile, AnOptionsFileThatIsNoRegularFileIsNeitherReadNorReplaced) {
    ASSERT_EQ(0, ::mkfifo(Path.c_str(), 0600));
    ASSERT_EQ(0, ::symlink("/dev/null", Dir.File("device.ini").c_str()));
    ASSERT_EQ(0, ::mkdir(Dir.File("folder.ini").c_str(), 0700));
    for (const std::string& path : {Path, Dir.File("device.ini"), Dir.File("folder.ini")}) {
        TElIniFile store;
        store.SetPath(path);
        EXPECT_THROW(store.Load(), EElFileError) << path;
        store.WriteString("\\", "a", "b");
        try {
            store.Save();
            ADD_FAILURE() << path << " was saved";
        } catch (const EElFileError& error) {
            EXPECT_NE(std::string(error.what()).find(path), std::string::npos);
            EXPECT_NE(std::string(error.what()).find("not a regular file"), std::string::npos);
        }
        store.SetLazyWrite(false);
    }
    struct stat st {};
    EXPECT_TRUE(::stat(Path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    EXPECT_TRUE(::stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
    EXPECT_EQ(std::vector<std::string>({"VizErir.ini", "device.ini", "folder.ini"}),
              test::FolderEntries(Dir.Path()));
}

TEST_F(ElIniFile, WithoutLazyWriteEveryWriteRewritesTheFile) {
    TElIniFile store;
    store.SetPath(Path);
    store.SetLazyWrite(false);
    store.WriteString("\\", "a", "1");
    EXPECT_EQ(ReadBytes(Path), kWarning + "a=1\r\n");
    store.WriteInteger("\\K", "b", 2);
    EXPECT_EQ(ReadBytes(Path), kWarning + CrLfLines({"a=1", "", "[K]", "b=2"}));
    // Deleting does not save; clearing does.
    store.Delete("\\", "a");
    EXPECT_EQ(ReadBytes(Path), kWarning + CrLfLines({"a=1", "", "[K]", "b=2"}));
    store.ClearKey("\\K");
    EXPECT_EQ(ReadBytes(Path), kWarning + CrLfLines({"", "[K]"}));
}

TEST_F(ElIniFile, TheDestructorSavesUnsavedChangesOnlyWithLazyWrite) {
    {
        TElIniFile store;
        store.SetPath(Path);
        store.WriteString("\\", "a", "1");
    }
    EXPECT_EQ(ReadBytes(Path), kWarning + "a=1\r\n");
    {
        TElIniFile store;
        store.SetPath(Path);
        store.Load(); // no section: not modified, so nothing is written at the end
        std::filesystem::remove(Path);
    }
    EXPECT_FALSE(test::FileExists(Path));
    {
        // A destructor that cannot save swallows the error.
        TElIniFile store;
        store.SetPath(Dir.File("no-such-folder/x.ini"));
        store.WriteString("\\", "a", "1");
    }
}

TEST_F(ElIniFile, LoadedReadsTheFileWhenAPathIsSetAndIgnoresFailures) {
    WriteBytes(Path, "a=1\r\n");
    TElIniFile store;
    store.SetPath(Path);
    store.Loaded();
    EXPECT_EQ(StringOf(store, "\\", "a"), "1");
    TElIniFile missing;
    missing.SetPath(Dir.File("missing.ini"));
    EXPECT_NO_THROW(missing.Loaded());
}

TEST_F(ElIniFile, ChangingTheDelimiterSavesAndKeepsTheCurrentKeyUsable) {
    TElIniFile store;
    store.SetPath(Path);
    store.WriteString("\\A\\B", "v", "1");
    ASSERT_TRUE(store.OpenKey("\\A\\B", false));
    store.SetLazyWrite(false);
    store.SetDelimiter('/');
    EXPECT_EQ(store.CurrentKey(), "/A/B");
    EXPECT_EQ(ReadBytes(Path), kWarning + CrLfLines({"", "[A]", "", "[A/B]", "v=1"}));
    EXPECT_TRUE(store.WriteString("", "w", "2"));
    EXPECT_EQ(StringOf(store, "/A/B", "w"), "2");
}

TEST_F(ElIniFile, SwitchingSimpleConvertsInMemoryAndWritesNoFile) {
    // A temporary folder of this test's own, so that a stray temporary file would show.
    const std::string temporary = Dir.File("tmp");
    std::filesystem::create_directory(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    TElIniFile store;
    store.SetPath(Path);
    int saves = 0;
    store.OnAfterSave = [&](TElIniFile&) { ++saves; };
    store.WriteString("\\A\\B", "v", "1");
    store.SetSimple(true);
    EXPECT_EQ(saves, 0);
    EXPECT_EQ(store.Path(), Path);
    EXPECT_FALSE(test::FileExists(Path));
    EXPECT_TRUE(test::FolderEntries(temporary).empty());
    std::string value;
    EXPECT_TRUE(store.ReadString("\\A\\B", "v", "", value));
    EXPECT_EQ(value, "1");
    ::unsetenv("TMPDIR");
    store.OnAfterSave = nullptr;
    store.SetLazyWrite(false);
}

} // namespace
} // namespace cantorell
