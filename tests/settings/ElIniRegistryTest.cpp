#include "IniTestHelpers.h"
#include "platform/Registry.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <array>

namespace cantorell {
namespace {

using test::StringOf;

// A store in registry mode on a service in a temporary folder.
class ElIniRegistry : public testing::Test {
protected:
    void SetUp() override {
        Store.SetRegistryFolder(Dir.Path());
        Store.SetUseRegistry(true);
    }
    // The service as another program would see it.
    TRegistry Service() const { return TRegistry(Dir.Path()); }

    test::TTempDir Dir;
    TElIniFile Store;
};

TEST_F(ElIniRegistry, SwitchingOnWithoutPathUsesSoftwareUnderTheCurrentUser) {
    EXPECT_TRUE(Store.UseRegistry());
    EXPECT_EQ(Store.Path(), "\\SOFTWARE");
    EXPECT_EQ(Store.RegRoot(), rrtHKEY_CURRENT_USER);
    ASSERT_TRUE(Store.OpenKey("\\Options", true));
    EXPECT_EQ(Store.CurrentKey(), "\\Options");
    ASSERT_TRUE(Store.WriteInteger("", "Width", 640));
    TRegistry service(Dir.Path());
    ASSERT_TRUE(service.OpenKey("\\SOFTWARE\\Options", false));
    TRegValueKind kind{};
    std::string data;
    ASSERT_TRUE(service.ReadValue("Width", kind, data));
    EXPECT_EQ(kind, TRegValueKind::rvkDword);
    EXPECT_EQ(data, std::string("\x80\x02\0\0", 4));
}

TEST_F(ElIniRegistry, OpenKeyOfAMissingKeyFailsAndKeepsThePreviousKey) {
    ASSERT_TRUE(Store.OpenKey("\\A", true));
    EXPECT_FALSE(Store.OpenKey("\\Missing", false));
    EXPECT_EQ(Store.CurrentKey(), "\\A");
    ASSERT_TRUE(Store.OpenKey("B\\", true));
    EXPECT_EQ(Store.CurrentKey(), "\\A\\B");
    ASSERT_TRUE(Store.OpenKey("\\", false));
    EXPECT_EQ(Store.CurrentKey(), "\\");
}

TEST_F(ElIniRegistry, ReadsConvertByKindAndWritesUseTheRegistryKinds) {
    ASSERT_TRUE(Store.WriteString("\\K", "s", "text"));
    ASSERT_TRUE(Store.WriteInteger("\\K", "i", 5));
    ASSERT_TRUE(Store.WriteBool("\\K", "b", true));
    ASSERT_TRUE(Store.WriteMultiString("\\K", "m", {"a", "b"}));
    const std::array<char, 3> block{1, static_cast<char>(0xAB), static_cast<char>(0xFF)};
    ASSERT_TRUE(Store.WriteBinary("\\K", "d", block.data(), 3));

    EXPECT_EQ(StringOf(Store, "\\K", "s"), "text");
    EXPECT_EQ(StringOf(Store, "\\K", "i"), "5");
    EXPECT_EQ(StringOf(Store, "\\K", "m"), "a\r\nb\r\n");
    EXPECT_EQ(StringOf(Store, "\\K", "d"), "454C 3 01 AB FF ");
    int32_t number = 0;
    EXPECT_FALSE(Store.ReadInteger("\\K", "s", 9, number));
    EXPECT_EQ(number, 9);
    bool flag = false;
    EXPECT_TRUE(Store.ReadBool("\\K", "b", false, flag));
    EXPECT_TRUE(flag);
    TStrings items;
    EXPECT_TRUE(Store.ReadMultiString("\\K", "m", items));
    EXPECT_EQ(items, (TStrings{"a", "b"}));
    std::array<char, 2> small{};
    int32_t size = 2;
    EXPECT_FALSE(Store.ReadBinary("\\K", "d", small.data(), size));
    EXPECT_EQ(size, 3);
    EXPECT_FALSE(Store.ReadInteger("\\Missing", "i", 1, number));
    EXPECT_EQ(Store.CurrentKey(), "\\");
    EXPECT_FALSE(Store.KeyExists("\\Missing"));

    TRegistry service = Service();
    ASSERT_TRUE(service.OpenKey("\\SOFTWARE\\K", false));
    TRegValueKind kind{};
    std::string data;
    ASSERT_TRUE(service.ReadValue("m", kind, data));
    EXPECT_EQ(kind, TRegValueKind::rvkMultiString);
    EXPECT_EQ(data, std::string("a\0b\0\0", 5));
    ASSERT_TRUE(service.ReadValue("s", kind, data));
    EXPECT_EQ(data, std::string("text\0", 5));
}

TEST_F(ElIniRegistry, ValueNamesLeaveOutNamesOfSubkeys) {
    Store.WriteString("\\K", "X", "value");
    Store.WriteString("\\K", "Y", "value");
    Store.OpenKey("\\K\\x", true);
    Store.OpenKey("\\", false);
    TStrings values{"replaced"}, keys;
    ASSERT_TRUE(Store.GetValueNames("\\K", values));
    ASSERT_TRUE(Store.GetKeyNames("\\K", keys));
    EXPECT_EQ(values, TStrings{"Y"});
    EXPECT_EQ(keys, TStrings{"x"});
}

TEST_F(ElIniRegistry, DeleteAndClearKeyWorkOnTheServiceButNeverOnTheBaseKey) {
    Store.WriteString("\\A\\B", "v", "1");
    Store.WriteString("\\A", "B", "same name as the key");
    Store.WriteString("\\A", "keep", "1");
    EXPECT_FALSE(Store.Delete("\\", ""));
    EXPECT_FALSE(Store.ClearKey("\\"));
    ASSERT_TRUE(Store.OpenKey("\\A\\B", false));
    EXPECT_TRUE(Store.Delete("\\A\\B", ""));
    EXPECT_EQ(Store.CurrentKey(), "\\A");
    EXPECT_FALSE(Store.KeyExists("\\A\\B"));
    std::string text;
    EXPECT_FALSE(Store.ReadString("\\A", "B", "", text));
    EXPECT_TRUE(Store.ReadString("\\A", "keep", "", text));
    EXPECT_TRUE(Store.Delete("\\A", "keep"));
    EXPECT_FALSE(Store.Delete("\\A", "keep"));

    Store.WriteString("\\C\\D", "v", "1");
    Store.WriteString("\\C", "w", "1");
    ASSERT_TRUE(Store.ClearKey("\\C"));
    TStrings names;
    Store.GetKeyNames("\\C", names);
    EXPECT_TRUE(names.empty());
    Store.GetValueNames("\\C", names);
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(Store.KeyExists("\\C"));
}

TEST_F(ElIniRegistry, TreeOperationsRaiseAndLoadAndSaveReturnFalse) {
    EXPECT_THROW(Store.RenameKey("\\A", "B"), EElIniError);
    try {
        Store.CreateValue("\\A", "v");
        FAIL();
    } catch (const EElIniError& error) {
        EXPECT_STREQ(error.what(), "CreateValue method is not available when using registry.");
    }
    EXPECT_THROW(Store.GetValueEntry("\\A", "v"), EElIniError);
    EXPECT_THROW(Store.SetValueType("\\A", "v", evtString), EElIniError);
    try {
        Store.SetDelimiter('/');
        FAIL();
    } catch (const EElIniError& error) {
        EXPECT_STREQ(error.what(), "Changing delimiter is not available when using registry.");
    }
    std::string log;
    Store.OnBeforeLoad = [&](TElIniFile&) { log += "L"; };
    Store.OnBeforeSave = [&](TElIniFile&) { log += "<"; };
    Store.OnAfterSave = [&](TElIniFile&) { log += ">"; };
    EXPECT_FALSE(Store.Load());
    EXPECT_FALSE(Store.Save());
    EXPECT_EQ(log, "<>");
    Store.SetSimple(true);
    EXPECT_FALSE(Store.Simple());
}

TEST_F(ElIniRegistry, RenameValueCopiesKindAndDataAndIgnoresTakenNames) {
    Store.WriteInteger("\\K", "old", 3);
    Store.WriteInteger("\\K", "taken", 4);
    EXPECT_TRUE(Store.RenameValue("\\K", "old", "taken"));
    EXPECT_TRUE(Store.RenameValue("\\K", "old", "new"));
    EXPECT_FALSE(Store.RenameValue("\\Missing", "old", "new"));
    int32_t number = 0;
    EXPECT_TRUE(Store.ReadInteger("\\K", "new", 0, number));
    EXPECT_EQ(number, 3);
    EXPECT_FALSE(Store.ReadInteger("\\K", "old", 0, number));
}

TEST_F(ElIniRegistry, PathAndRootChoosesWhereValuesGo) {
    Store.SetPath("Vendor\\App\\");
    EXPECT_EQ(Store.Path(), "\\Vendor\\App");
    Store.WriteString("\\", "v", "1");
    Store.SetRegRoot(rrtHKEY_LOCAL_MACHINE);
    EXPECT_EQ(Store.RegRoot(), rrtHKEY_LOCAL_MACHINE);
    Store.WriteString("\\", "v", "2");
    Store.SetRegRoot(rrtUnknown);
    EXPECT_EQ(Store.RegRoot(), rrtHKEY_LOCAL_MACHINE);

    TRegistry service = Service();
    TRegValueKind kind{};
    std::string data;
    ASSERT_TRUE(service.OpenKey("\\Vendor\\App", false));
    ASSERT_TRUE(service.ReadValue("v", kind, data));
    EXPECT_EQ(data, std::string("1\0", 2));
    service.SetRootKey(TRegistryRoot::rrLocalMachine);
    ASSERT_TRUE(service.OpenKey("\\Vendor\\App", false));
    ASSERT_TRUE(service.ReadValue("v", kind, data));
    EXPECT_EQ(data, std::string("2\0", 2));
}

TEST_F(ElIniRegistry, SwitchingOffKeepsTheInMemoryTreeAndGivesTheFileModeItsPathBack) {
    Store.SetUseRegistry(false);
    // The base key "\\SOFTWARE" was the registry's Path; a save must not create a file of
    // that name in the working folder.
    EXPECT_EQ(Store.Path(), "");
    Store.SetPath(Dir.File("options.ini"));
    Store.SetUseRegistry(true);
    Store.SetPath("\\Elsewhere");
    EXPECT_EQ(Store.Path(), "\\Elsewhere");
    Store.SetUseRegistry(false);
    EXPECT_EQ(Store.Path(), Dir.File("options.ini"));
    Store.SetPath("");
    Store.WriteString("\\Mem", "v", "tree");
    Store.SetUseRegistry(true);
    std::string text;
    EXPECT_FALSE(Store.ReadString("\\Mem", "v", "", text));
    Store.SetUseRegistry(false);
    EXPECT_EQ(StringOf(Store, "\\Mem", "v"), "tree");
    EXPECT_EQ(Store.CurrentKey(), "\\");
}

} // namespace
} // namespace cantorell
