#include "platform/Registry.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

namespace cantorell {
namespace {

using test::TTempDir;

class Registry : public testing::Test {
protected:
    TTempDir Dir;
    TRegistry Service{Dir.Path()};
};

TEST_F(Registry, KeysAreFoldersPerRootMatchedWithoutRegardToCase) {
    ASSERT_TRUE(Service.OpenKey("\\SOFTWARE\\Options", true));
    EXPECT_EQ(Service.CurrentPath(), "SOFTWARE\\Options");
    EXPECT_TRUE(test::FileExists(Dir.Path() + "/HKEY_CURRENT_USER/SOFTWARE/Options") ||
                !test::FolderEntries(Dir.Path() + "/HKEY_CURRENT_USER/SOFTWARE").empty());
    ASSERT_TRUE(Service.OpenKey("\\software\\OPTIONS", false));
    EXPECT_EQ(Service.CurrentPath(), "SOFTWARE\\Options");
    EXPECT_FALSE(Service.OpenKey("\\a\\\\b", true));
    EXPECT_FALSE(Service.OpenKey("Missing", false));
    EXPECT_EQ(Service.CurrentPath(), "SOFTWARE\\Options");
    Service.SetRootKey(TRegistryRoot::rrLocalMachine);
    EXPECT_FALSE(Service.KeyExists("\\SOFTWARE\\Options"));
}

TEST_F(Registry, ValuesKeepTheirKindAndBytesAcrossInstances) {
    ASSERT_TRUE(Service.OpenKey("\\K", true));
    const std::string bytes("a\0b", 3);
    ASSERT_TRUE(Service.WriteValue("Bin", TRegValueKind::rvkBinary, bytes));
    ASSERT_TRUE(Service.WriteValue("Text", TRegValueKind::rvkString, std::string("x\0", 2)));
    ASSERT_TRUE(Service.WriteValue("bin", TRegValueKind::rvkExpandString, "replaced"));

    TRegistry other(Dir.Path());
    ASSERT_TRUE(other.OpenKey("\\k", false));
    TRegValueKind kind{};
    std::string data;
    ASSERT_TRUE(other.ReadValue("BIN", kind, data));
    EXPECT_EQ(kind, TRegValueKind::rvkExpandString);
    EXPECT_EQ(data, "replaced");
    std::vector<std::string> names;
    other.GetValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"Bin", "Text"}));
}

TEST_F(Registry, KeyNamesWithSlashesDotsAndPercentSurviveAsFolders) {
    for (const std::string name : {"a/b", ".values", "..", "100%", "%2F"})
        ASSERT_TRUE(Service.OpenKey("\\R\\" + name, true)) << name;
    ASSERT_TRUE(Service.OpenKey("\\R", false));
    std::vector<std::string> names;
    Service.GetKeyNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"%2F", "..", ".values", "100%", "a/b"}));
    ASSERT_TRUE(Service.WriteValue("v", TRegValueKind::rvkDword, std::string(4, '\0')));
    EXPECT_TRUE(Service.OpenKey("\\R\\.values", false));
}

TEST_F(Registry, DeleteKeyRemovesTheSubtreeAndRenameValueKeepsTakenNames) {
    ASSERT_TRUE(Service.OpenKey("\\A\\B\\C", true));
    ASSERT_TRUE(Service.WriteValue("v", TRegValueKind::rvkString, std::string("1\0", 2)));
    EXPECT_TRUE(Service.DeleteKey("\\A\\B"));
    EXPECT_EQ(Service.CurrentPath(), ""); // the current key was inside
    EXPECT_FALSE(Service.KeyExists("\\A\\B"));
    EXPECT_TRUE(Service.KeyExists("\\A"));
    EXPECT_FALSE(Service.DeleteKey("\\"));

    ASSERT_TRUE(Service.OpenKey("\\A", false));
    Service.WriteValue("one", TRegValueKind::rvkDword, std::string(4, '\1'));
    Service.WriteValue("two", TRegValueKind::rvkDword, std::string(4, '\2'));
    EXPECT_TRUE(Service.RenameValue("one", "TWO"));
    EXPECT_TRUE(Service.RenameValue("missing", "x"));
    EXPECT_TRUE(Service.RenameValue("one", "three"));
    std::vector<std::string> names;
    Service.GetValueNames(names);
    EXPECT_EQ(names, (std::vector<std::string>{"three", "two"}));
    EXPECT_TRUE(Service.DeleteValue("THREE"));
    EXPECT_FALSE(Service.DeleteValue("three"));
}

TEST_F(Registry, ADamagedValuesFileReadsAsAFailureNotACrash) {
    ASSERT_TRUE(Service.OpenKey("\\K", true));
    ASSERT_TRUE(Service.WriteValue("v", TRegValueKind::rvkString, "ok"));
    const std::string file = Dir.Path() + "/HKEY_CURRENT_USER/K/.values";
    std::string bytes = test::ReadBytes(file);
    bytes[4] = '\xFF'; // name length far beyond the file
    test::WriteBytes(file, bytes);
    TRegValueKind kind{};
    std::string data;
    EXPECT_FALSE(Service.ReadValue("v", kind, data));
    EXPECT_FALSE(Service.WriteValue("w", TRegValueKind::rvkString, "x"));
}

} // namespace
} // namespace cantorell
