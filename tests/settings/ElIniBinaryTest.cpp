#include "IniTestHelpers.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace cantorell {
namespace {

using test::StringOf;
using test::TypeOf;

// Builders for the binary form's records, lengths written as sums of their parts.
std::string Int32(int32_t value) {
    std::string bytes;
    for (int i = 0; i < 4; ++i)
        bytes += static_cast<char>((static_cast<uint32_t>(value) >> (8 * i)) & 0xFF);
    return bytes;
}
std::string Text(const std::string& text) {
    return Int32(static_cast<int32_t>(text.size())) + text;
}
std::string KeyRecord(const std::string& path) {
    return std::string(1, '\1') + Text(path);
}
std::string ValueRecord(const std::string& name, int type, const std::string& payload) {
    return std::string(1, '\0') + Text(name) + std::string(1, static_cast<char>(type)) +
           Int32(static_cast<int32_t>(payload.size())) + payload;
}

void LoadBinary(TElIniFile& store, const std::string& bytes) {
    store.SetBinaryMode(true);
    store.LoadFromBytes(bytes, "test.bin");
}

TEST(ElIniBinary, WritesRecordsKeyByKeyLeavingOutUnsetValues) {
    TElIniFile store;
    store.SetBinaryMode(true);
    store.WriteInteger("\\", "Count", 3);
    store.SetValueType("\\", "unset", evtNone);
    store.WriteBool("\\Window", "Visible", true);
    store.WriteString("\\Window", "Title", "Main");
    store.WriteMultiString("\\Window\\Parts", "Items", {"a", ""});
    const char block[] = {0x0A, static_cast<char>(0xFF)};
    store.WriteBinary("\\Window\\Parts", "Data", block, 2);
    store.SetValueType("\\Window\\Parts", "E", evtEightByte);
    const std::string expected =
        KeyRecord("") + ValueRecord("Count", 2, Int32(3)) + KeyRecord("Window") +
        ValueRecord("Visible", 1, "\1") + ValueRecord("Title", 3, Text("Main")) +
        KeyRecord("Window\\Parts") + ValueRecord("Items", 4, Text("a") + Text("")) +
        ValueRecord("Data", 5, Int32(2) + "\x0A\xFF") + ValueRecord("E", 6, std::string(8, '\0'));
    EXPECT_EQ(store.SaveToBytes(), expected);

    TElIniFile reread;
    LoadBinary(reread, expected);
    EXPECT_EQ(reread.SaveToBytes(), expected);
    TStrings items;
    ASSERT_TRUE(reread.ReadMultiString("\\Window\\Parts", "Items", items));
    EXPECT_EQ(items, (TStrings{"a", ""}));
}

TEST(ElIniBinary, AnEmptyRootRecordIsAnEmptyTree) {
    TElIniFile store;
    LoadBinary(store, KeyRecord(""));
    EXPECT_EQ(store.Root().ChildCount(), 0);
    EXPECT_EQ(store.SaveToBytes(), std::string("\1\0\0\0\0", 5));
}

TEST(ElIniBinary, RoundTripsEveryTypeAndTextsWithAnyByte) {
    TElIniFile store;
    store.SetBinaryMode(true);
    const std::string odd("line\r\nzero\0end;=\"[x]", 20);
    store.WriteString("\\K", "text", odd);
    store.WriteString("\\K", "#3", "nameless");
    store.WriteString("\\K", "", "own value of K");
    store.WriteInteger("\\K", "min", INT32_MIN);
    store.WriteBinary("\\K", "bytes", odd.data(), static_cast<int32_t>(odd.size()));
    TElIniFile reread;
    LoadBinary(reread, store.SaveToBytes());
    EXPECT_EQ(StringOf(reread, "\\K", "text"), odd);
    EXPECT_EQ(StringOf(reread, "\\K", "#3"), "nameless");
    EXPECT_EQ(StringOf(reread, "\\K", ""), "own value of K");
    EXPECT_EQ(StringOf(reread, "\\K", "min"), "-2147483648");
    EXPECT_EQ(reread.SaveToBytes(), store.SaveToBytes());
}

TEST(ElIniBinary, LaterRecordsReplaceValuesButListsAppend) {
    TElIniFile store;
    LoadBinary(store, KeyRecord("") + ValueRecord("v", 2, Int32(1)) +
                          ValueRecord("V", 3, Text("two")) + ValueRecord("L", 4, Text("a")) +
                          ValueRecord("l", 4, Text("b") + Text("c")) +
                          ValueRecord("flag", 1, "\x7F"));
    EXPECT_EQ(StringOf(store, "\\", "v"), "two");
    TStrings items;
    ASSERT_TRUE(store.ReadMultiString("\\", "L", items));
    EXPECT_EQ(items, (TStrings{"a", "b", "c"}));
    bool flag = false;
    EXPECT_TRUE(store.ReadBool("\\", "flag", false, flag));
    EXPECT_TRUE(flag);
}

// Records naming a value already read go to that value, in a scanned key and in one with a
// name index alike, also when a damaged record stops the reading right after them.
class ElIniBinaryNamesakes : public testing::TestWithParam<int> {};

TEST_P(ElIniBinaryNamesakes, GoToTheFirstValueOfTheirNameInRecordOrder) {
    std::string bytes = KeyRecord("S");
    for (int i = 0; i < GetParam(); ++i)
        bytes += ValueRecord("f" + std::to_string(i), 2, Int32(i));
    bytes += ValueRecord("a", 2, Int32(1)) + ValueRecord("L", 4, Text("x")) +
             ValueRecord(" A ", 3, Text("two")) + ValueRecord("l", 4, Text("y")) +
             KeyRecord("S\\Sub") + KeyRecord("s") + ValueRecord("L", 4, Text("z")) +
             ValueRecord("b", 2, Int32(2)) + ValueRecord("B", 2, Int32(3)) +
             ValueRecord("c", 2, Int32(4)).substr(0, 8);
    TElIniFile store;
    EXPECT_THROW(LoadBinary(store, bytes), EElFileError);
    EXPECT_EQ(StringOf(store, "\\S", "a"), "two");
    EXPECT_EQ(StringOf(store, "\\S", "b"), "3");
    TStrings items;
    ASSERT_TRUE(store.ReadMultiString("\\S", "L", items));
    EXPECT_EQ(items, (TStrings{"x", "y", "z"}));
    // The values and the key Sub, each once.
    EXPECT_EQ(store.GetValueEntry("\\", "S")->ChildCount(), GetParam() + 4);
}

INSTANTIATE_TEST_SUITE_P(ScannedAndIndexed, ElIniBinaryNamesakes, testing::Values(0, 40));

TEST(ElIniBinary, KeyPathsGetALeadingDelimiterAndBadOnesSkipOnlyTheirOwnValues) {
    TElIniFile store;
    LoadBinary(store, KeyRecord("") + KeyRecord("\\Options") + ValueRecord("a", 2, Int32(1)) +
                          KeyRecord("A\\\\B") + ValueRecord("lost", 2, Int32(2)) +
                          KeyRecord("Next") + ValueRecord("b", 2, Int32(3)));
    EXPECT_EQ(StringOf(store, "\\Options", "a"), "1");
    EXPECT_TRUE(store.KeyExists("\\A"));
    EXPECT_FALSE(store.KeyExists("\\A\\B"));
    EXPECT_EQ(TypeOf(store, "\\A", "lost"), -1);
    EXPECT_EQ(TypeOf(store, "\\", "lost"), -1);
    EXPECT_EQ(StringOf(store, "\\Next", "b"), "3");
}

TEST(ElIniBinary, DamagedFilesFailNamingTheFileAndKeepWhatCameBefore) {
    const std::string good = KeyRecord("") + ValueRecord("a", 2, Int32(1));
    const std::string cases[] = {
        good + ValueRecord("b", 2, Int32(2)).substr(0, 8),          // ends inside the record
        good + ValueRecord("b", 5, Int32(1000) + "xy"),             // block longer than record
        good + ValueRecord("b", 2, "\1"),                           // integer payload too short
        good + std::string(1, '\0') + Text("b") + "\2" + Int32(-1), // negative payload length
        good + ValueRecord("b", 3, "") + std::string(1, '\0') + Text("c") + "\2" +
            Int32(0x7FFFFFFF) + "abc", // payload length beyond the file
    };
    for (const std::string& bytes : cases) {
        TElIniFile store;
        try {
            LoadBinary(store, bytes);
            ADD_FAILURE() << "a damaged file must not load silently";
        } catch (const EElFileError& error) {
            EXPECT_NE(std::string(error.what()).find("test.bin"), std::string::npos);
        }
        EXPECT_EQ(StringOf(store, "\\", "a"), "1");
    }
}

TEST(ElIniBinary, TextsWithImpossibleLengthsAreNotReadAndReadingGoesOn) {
    TElIniFile store;
    // A string value whose inner length is negative, a list whose second item runs past
    // its payload, and an unknown type: none of them stops the file.
    LoadBinary(store, KeyRecord("") + ValueRecord("s", 3, Int32(-5)) +
                          ValueRecord("l", 4, Text("a") + Int32(99) + "bc") +
                          ValueRecord("u", 9, "whatever") + ValueRecord("n", 2, Int32(4)));
    EXPECT_EQ(TypeOf(store, "\\", "s"), evtString);
    EXPECT_EQ(StringOf(store, "\\", "s"), "");
    TStrings items;
    ASSERT_TRUE(store.ReadMultiString("\\", "l", items));
    EXPECT_EQ(items, TStrings{"a"});
    EXPECT_EQ(TypeOf(store, "\\", "u"), -1);
    EXPECT_EQ(StringOf(store, "\\", "n"), "4");
}

TEST(ElIniBinary, FuzzFindingANamelessValueWalkedIntoAsAKeyKeepsItsSubtree) {
    // A nameless root value that a later key record walks into became a key with an empty
    // name, which was written as the root's path and lost on the next load.
    const std::string input =
        test::ReadBytes(std::string(CANTORELL_REGRESSIONS) + "/binary-nameless-key.bin");
    TElIniFile store;
    EXPECT_THROW(LoadBinary(store, input), EElFileError);
    const std::string saved = store.SaveToBytes();
    TElIniFile reread;
    LoadBinary(reread, saved);
    EXPECT_EQ(reread.SaveToBytes(), saved);

    TElIniFile direct;
    LoadBinary(direct, KeyRecord("") + ValueRecord("", 1, "\1") + KeyRecord("\x01") +
                           ValueRecord("inner", 2, Int32(5)));
    TElIniFile again;
    LoadBinary(again, direct.SaveToBytes());
    EXPECT_EQ(StringOf(again, "\\\x01", "inner"), "5");
}

TEST(ElIniBinary, FuzzFindingAKeyWithItsOwnValueMovesAheadOfItsSiblingsOnceAndNoMore) {
    // The key's value record comes among the parent's values, before the key records, so
    // the first reload creates it earlier; nothing is lost and the second round is stable.
    TElIniFile store;
    LoadBinary(store, KeyRecord("") + KeyRecord("First") + KeyRecord("Second") + KeyRecord("") +
                          ValueRecord("second", 2, Int32(7)));
    TStrings keys;
    store.GetKeyNames("\\", keys);
    EXPECT_EQ(keys, (TStrings{"First", "Second"}));
    TElIniFile reread;
    LoadBinary(reread, store.SaveToBytes());
    keys.clear();
    reread.GetKeyNames("\\", keys);
    EXPECT_EQ(keys, (TStrings{"Second", "First"}));
    EXPECT_EQ(StringOf(reread, "\\Second", ""), "7");
    TElIniFile third;
    LoadBinary(third, reread.SaveToBytes());
    EXPECT_EQ(third.SaveToBytes(), reread.SaveToBytes());

    const std::string input = test::ReadBytes(std::string(CANTORELL_REGRESSIONS) +
                                              "/binary-key-with-own-value-order.bin");
    TElIniFile found;
    EXPECT_THROW(LoadBinary(found, input), EElFileError);
    TElIniFile once;
    LoadBinary(once, found.SaveToBytes());
    TElIniFile twice;
    LoadBinary(twice, once.SaveToBytes());
    EXPECT_EQ(twice.SaveToBytes(), once.SaveToBytes());
    EXPECT_EQ(once.SaveToBytes().size(), found.SaveToBytes().size());
}

} // namespace
} // namespace cantorell
