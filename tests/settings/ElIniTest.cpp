#include "IniTestHelpers.h"

#include <gtest/gtest.h>

#include <array>

namespace cantorell {
namespace {

using test::CrLfLines;
using test::LoadText;
using test::StringOf;
using test::TypeOf;

// A store with \Options\Colors and \x\a, and the value \x\v.
class ElIniStore : public testing::Test {
protected:
    void SetUp() override {
        LoadText(Store, CrLfLines({"[Options\\Colors]", "Red=1", "[x\\a]", "[x]", "v=text"}));
    }
    TElIniFile Store;
};

TEST_F(ElIniStore, OpenKeyWalksAbsoluteAndRelativePaths) {
    EXPECT_TRUE(Store.OpenKey("", false));
    EXPECT_EQ(Store.CurrentKey(), "\\");
    ASSERT_TRUE(Store.OpenKey("\\x", false));
    ASSERT_TRUE(Store.OpenKey("a", false));
    EXPECT_EQ(Store.CurrentKey(), "\\x\\a");
    ASSERT_TRUE(Store.OpenKey("\\", false));
    EXPECT_EQ(Store.CurrentKey(), "\\");
    EXPECT_EQ(Store.CurrentEntry(), &Store.Root());
    ASSERT_TRUE(Store.OpenKey("Options\\", false));
    EXPECT_EQ(Store.CurrentKey(), "\\Options");
    // The same path in other letters is the current key: nothing happens.
    EXPECT_TRUE(Store.OpenKey("\\OPTIONS", false));
    EXPECT_EQ(Store.CurrentKey(), "\\Options");
    // A relative OPTIONS is looked for below \Options.
    EXPECT_FALSE(Store.OpenKey("OPTIONS", false));
    EXPECT_EQ(Store.CurrentKey(), "\\Options");
    ASSERT_TRUE(Store.OpenKey("colors", false));
    EXPECT_EQ(Store.CurrentKey(), "\\Options\\colors");
    EXPECT_EQ(Store.CurrentEntry()->Name(), "Colors");
}

TEST_F(ElIniStore, OpenKeyFailsOnEmptyComponentsAndOnMissingKeysWithoutCreation) {
    EXPECT_FALSE(Store.OpenKey("\\New\\\\B", false));
    EXPECT_FALSE(Store.KeyExists("\\New"));
    EXPECT_FALSE(Store.OpenKey("\\New\\\\B", true));
    EXPECT_TRUE(Store.KeyExists("\\New")); // created before the empty component
    EXPECT_FALSE(Store.KeyExists("\\New\\B"));
    EXPECT_EQ(Store.CurrentKey(), "\\");
    // A value is no key unless creation is allowed; then it becomes one and keeps its value.
    EXPECT_FALSE(Store.OpenKey("\\x\\v", false));
    ASSERT_TRUE(Store.OpenKey("\\x\\v", true));
    Store.OpenKey("\\", false);
    EXPECT_EQ(StringOf(Store, "\\x", "v"), "text");
    EXPECT_TRUE(Store.KeyExists("\\x\\v"));
}

TEST_F(ElIniStore, ReadsGiveTheDefaultWhenMissingAndConvertBetweenTypes) {
    Store.WriteString("\\T", "s", "007");
    Store.WriteString("\\T", "word", "abc");
    Store.WriteInteger("\\T", "i", 2);
    Store.WriteBool("\\T", "b", true);
    Store.WriteMultiString("\\T", "m", {"a", "b"});
    Store.SetValueType("\\T", "e", evtEightByte);

    std::string text;
    EXPECT_FALSE(Store.ReadString("\\T", "missing", "dflt", text));
    EXPECT_EQ(text, "dflt");
    EXPECT_FALSE(Store.ReadString("\\Missing", "s", "dflt", text));
    EXPECT_EQ(text, "dflt");
    EXPECT_TRUE(Store.ReadString("\\T", "b", "", text));
    EXPECT_EQ(text, "true");
    EXPECT_TRUE(Store.ReadString("\\T", "m", "", text));
    EXPECT_EQ(text, "a\r\nb\r\n");
    EXPECT_FALSE(Store.ReadString("\\T", "e", "dflt", text));
    EXPECT_EQ(text, "dflt");

    int32_t number = 0;
    EXPECT_FALSE(Store.ReadInteger("\\T", "s", -1, number));
    EXPECT_EQ(number, 7);
    EXPECT_FALSE(Store.ReadInteger("\\T", "word", -1, number));
    EXPECT_EQ(number, -1);
    EXPECT_FALSE(Store.ReadInteger("\\T", "b", -1, number));
    EXPECT_EQ(number, -1);

    bool flag = false;
    EXPECT_TRUE(Store.ReadBool("\\T", "i", false, flag));
    EXPECT_TRUE(flag);
    EXPECT_FALSE(Store.ReadBool("\\T", "s", true, flag));
    EXPECT_TRUE(flag);

    TStrings items{"untouched"};
    EXPECT_FALSE(Store.ReadMultiString("\\T", "s", items));
    EXPECT_EQ(items, TStrings{"untouched"});
    EXPECT_TRUE(Store.ReadMultiString("\\T", "m", items));
    EXPECT_EQ(items, (TStrings{"a", "b"}));
}

TEST_F(ElIniStore, ReadBinaryReportsTheNeededSizeWhenTheBufferIsTooSmall) {
    const std::array<char, 10> block{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    ASSERT_TRUE(Store.WriteBinary("\\B", "data", block.data(), 10));
    std::array<char, 4> small{'w', 'x', 'y', 'z'};
    int32_t size = 4;
    EXPECT_FALSE(Store.ReadBinary("\\B", "data", small.data(), size));
    EXPECT_EQ(size, 10);
    EXPECT_EQ(small, (std::array<char, 4>{'w', 'x', 'y', 'z'}));
    std::array<char, 12> big{};
    size = 12;
    EXPECT_TRUE(Store.ReadBinary("\\B", "data", big.data(), size));
    EXPECT_EQ(size, 10);
    EXPECT_EQ(std::string(big.data(), 10), std::string(block.data(), 10));
    EXPECT_FALSE(Store.WriteBinary("\\B", "bad", block.data(), -1));
}

TEST_F(ElIniStore, OperationsLeaveTheCurrentKeyAsTheyFoundIt) {
    ASSERT_TRUE(Store.OpenKey("\\x", false));
    const TElIniEntry* current = Store.CurrentEntry();
    std::string text;
    Store.WriteString("\\Elsewhere\\Deep", "n", "v");
    Store.ReadString("\\Options\\Colors", "Red", "", text);
    TStrings names;
    Store.GetKeyNames("\\Options", names);
    Store.KeyExists("\\Nowhere");
    Store.WriteString("a", "rel", "1"); // relative to \x
    EXPECT_EQ(Store.CurrentKey(), "\\x");
    EXPECT_EQ(Store.CurrentEntry(), current);
    EXPECT_EQ(StringOf(Store, "\\x\\a", "rel"), "1");
}

TEST_F(ElIniStore, AnEmptyNameUnderAKeyGivesTheKeyItsOwnValue) {
    ASSERT_TRUE(Store.WriteString("\\x\\a", "", "own"));
    EXPECT_EQ(StringOf(Store, "\\x", "a"), "own");
    const std::string text = Store.SaveToBytes();
    EXPECT_NE(text.find("[x]\r\na=own\r\nv=text\r\n"), std::string::npos);
    EXPECT_NE(text.find("[x\\a]\r\n"), std::string::npos);
}

TEST_F(ElIniStore, SimpleModeStoresOnlyTextsAndIntegers) {
    TElIniFile flat;
    flat.SetSimple(true);
    const char byte = 1;
    EXPECT_FALSE(flat.WriteBool("\\K", "b", true));
    EXPECT_FALSE(flat.WriteBinary("\\K", "d", &byte, 1));
    EXPECT_FALSE(flat.WriteMultiString("\\K", "m", {"a"}));
    EXPECT_TRUE(flat.WriteString("\\K\\L", "s", "t"));
    EXPECT_TRUE(flat.WriteInteger("\\K\\L", "i", 4));
    EXPECT_EQ(TypeOf(flat, "\\K\\L", "s"), evtString);
    EXPECT_EQ(TypeOf(flat, "\\K", "b"), -1);
    // The refused writes created nothing; the flat store holds the one key "K\L".
    EXPECT_EQ(flat.Root().ChildCount(), 1);
}

TEST_F(ElIniStore, GetNamesListKeysAndValuesSeparatelyAndCreateAMissingKey) {
    Store.WriteString("\\x", "", "own of x");
    Store.SetValueType("\\x", "unset", evtNone);
    TStrings keys{"kept"}, values;
    EXPECT_TRUE(Store.GetKeyNames("\\x", keys));
    EXPECT_TRUE(Store.GetValueNames("\\x", values));
    EXPECT_EQ(keys, (TStrings{"kept", "a"}));
    EXPECT_EQ(values, (TStrings{"v", "unset"}));
    TStrings none;
    EXPECT_TRUE(Store.GetKeyNames("\\Fresh", none));
    EXPECT_TRUE(none.empty());
    EXPECT_TRUE(Store.KeyExists("\\Fresh"));
    EXPECT_FALSE(Store.GetKeyNames("\\a\\\\b", none));
}

TEST_F(ElIniStore, DeleteRemovesValuesAndWholeKeysButNeverTheRoot) {
    EXPECT_FALSE(Store.Delete("\\", ""));
    EXPECT_FALSE(Store.Delete("\\x", "missing"));
    EXPECT_TRUE(Store.Delete("\\x", "v"));
    EXPECT_EQ(TypeOf(Store, "\\x", "v"), -1);
    EXPECT_TRUE(Store.Delete("\\Options", ""));
    EXPECT_FALSE(Store.KeyExists("\\Options"));
    EXPECT_FALSE(Store.KeyExists("\\Options\\Colors"));
    EXPECT_TRUE(Store.KeyExists("\\x\\a"));
}

TEST_F(ElIniStore, DeletingTheCurrentKeyOrAKeyAboveItMovesTheCurrentKeyToTheParent) {
    ASSERT_TRUE(Store.OpenKey("\\x\\a", false));
    ASSERT_TRUE(Store.Delete("", ""));
    EXPECT_EQ(Store.CurrentKey(), "\\x");
    EXPECT_TRUE(Store.OpenKey("a", true));
    ASSERT_TRUE(Store.Delete("\\x", ""));
    // The root again, spelled as the delimiter so that re-opening the recorded key works.
    EXPECT_EQ(Store.CurrentKey(), "\\");
    EXPECT_EQ(Store.CurrentEntry(), &Store.Root());
    ASSERT_TRUE(Store.WriteString("Later", "n", "1"));
    EXPECT_EQ(StringOf(Store, "\\Later", "n"), "1");
}

TEST_F(ElIniStore, ClearKeyEmptiesAKeyButNotTheRoot) {
    EXPECT_FALSE(Store.ClearKey("\\"));
    EXPECT_FALSE(Store.ClearKey(""));
    ASSERT_TRUE(Store.OpenKey("\\x\\a", false));
    EXPECT_TRUE(Store.ClearKey("\\x"));
    EXPECT_TRUE(Store.KeyExists("\\x"));
    EXPECT_EQ(Store.GetValueEntry("\\x", "")->ChildCount(), 0);
    // The current key was inside what was cleared: it is now the cleared key.
    EXPECT_EQ(Store.CurrentKey(), "\\x");
    EXPECT_TRUE(Store.KeyExists("\\Options\\Colors"));
}

TEST_F(ElIniStore, RenamesRefuseDelimitersAndTakenNamesAndFollowTheCurrentKey) {
    EXPECT_FALSE(Store.RenameKey("\\x", "y\\z"));
    EXPECT_FALSE(Store.RenameKey("\\x", "options"));
    EXPECT_FALSE(Store.RenameKey("\\", "root"));
    ASSERT_TRUE(Store.OpenKey("\\x\\a", false));
    ASSERT_TRUE(Store.RenameKey("\\x", "y"));
    EXPECT_EQ(Store.CurrentKey(), "\\y\\a");
    EXPECT_TRUE(Store.KeyExists("\\y\\a"));
    EXPECT_FALSE(Store.KeyExists("\\x"));

    Store.WriteString("\\y", "w", "2");
    EXPECT_FALSE(Store.RenameValue("\\y", "v", "W"));
    EXPECT_FALSE(Store.RenameValue("\\y", "v", "a\\b"));
    EXPECT_FALSE(Store.RenameValue("\\y", "missing", "q"));
    ASSERT_TRUE(Store.RenameValue("\\y", "v", "q"));
    EXPECT_EQ(StringOf(Store, "\\y", "q"), "text");
    EXPECT_EQ(TypeOf(Store, "\\y", "v"), -1);
}

TEST_F(ElIniStore, ModifiedIsSetByEveryChangeAndByLoadingASection) {
    EXPECT_TRUE(Store.Modified()); // the file's sections created keys
    TElIniFile fresh;
    EXPECT_FALSE(fresh.Modified());
    LoadText(fresh, "a=1\r\n");
    EXPECT_FALSE(fresh.Modified());
    fresh.KeyExists("\\Missing");
    EXPECT_FALSE(fresh.Modified());
    fresh.OpenKey("\\Made", true);
    EXPECT_TRUE(fresh.Modified());
}

TEST(ElIniSimpleSwitch, NestedKeysBecomeWholePathNamesAndBack) {
    TElIniFile store;
    store.WriteString("\\A\\B", "s", "text");
    store.WriteInteger("\\A", "i", 5);
    store.WriteBool("\\A", "b", true);
    store.SetSimple(true);
    EXPECT_TRUE(store.Simple());
    EXPECT_TRUE(store.KeyExists("\\A\\B"));
    TStrings keys;
    store.GetKeyNames("\\", keys);
    EXPECT_EQ(keys, (TStrings{"A", "A\\B"}));
    EXPECT_EQ(StringOf(store, "\\A\\B", "s"), "text");
    EXPECT_EQ(TypeOf(store, "\\A", "b"), evtBoolean);
    EXPECT_EQ(store.Path(), "");

    store.SetSimple(false);
    keys.clear();
    store.GetKeyNames("\\", keys);
    EXPECT_EQ(keys, TStrings{"A"});
    EXPECT_EQ(StringOf(store, "\\A\\B", "s"), "text");
    // Booleans pass through the flat form as digits and come back as integers.
    EXPECT_EQ(TypeOf(store, "\\A", "b"), evtInteger);
}

} // namespace
} // namespace cantorell
