#include "IniTestHelpers.h"

#include <gtest/gtest.h>

namespace cantorell {
namespace {

using test::CrLfLines;
using test::LoadText;
using test::StringOf;
using test::TypeOf;

// One value line in section [S] and what it reads as.
struct TLineCase {
    std::string Line;
    std::string Name; // looked up in \S
    int Type;
    std::string Text; // ReadString of the value ("<none>" when it gives the default)
};

void PrintTo(const TLineCase& c, std::ostream* os) {
    *os << '"' << c.Line << '"';
}

class ElIniValueLine : public testing::TestWithParam<TLineCase> {};

TEST_P(ElIniValueLine, ReadsAsTheTypeItsTextSays) {
    const TLineCase& c = GetParam();
    TElIniFile store;
    LoadText(store, "[S]\r\n" + c.Line + "\r\n");
    EXPECT_EQ(TypeOf(store, "\\S", c.Name), c.Type);
    EXPECT_EQ(StringOf(store, "\\S", c.Name), c.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Grammar, ElIniValueLine,
    testing::Values(
        TLineCase{"Name=a;b", "Name", evtString, "a"},
        TLineCase{"Name=\"a;b\"", "Name", evtString, "\"a;b\""},
        TLineCase{"Name = v", "Name", evtString, " v"},
        TLineCase{"Key=Value=More", "Key", evtString, "Value=More"},
        TLineCase{"Flag=TRUE", "Flag", evtBoolean, "true"},
        TLineCase{"Flag=fAlSe", "Flag", evtBoolean, "false"},
        TLineCase{"N=12", "N", evtInteger, "12"}, TLineCase{"N=-5", "N", evtInteger, "-5"},
        TLineCase{"N=-2147483648", "N", evtInteger, "-2147483648"},
        TLineCase{"N=2147483648", "N", evtString, "2147483648"},
        TLineCase{"N=007", "N", evtString, "007"}, TLineCase{"N=+5", "N", evtString, "+5"},
        TLineCase{"N= 5", "N", evtString, " 5"}, TLineCase{"N=$1F", "N", evtString, "$1F"},
        TLineCase{"N=-0", "N", evtString, "-0"}, TLineCase{"E=0.0", "E", evtEightByte, "<none>"},
        TLineCase{"E=1.5", "E", evtString, "1.5"},
        TLineCase{"B=454C 3 01 AB FF ", "B", evtBinary, "454C 3 01 AB FF "},
        TLineCase{"B=454C 3 1 ab $ff", "B", evtBinary, "454C 3 01 AB FF "},
        // A stated length beyond the byte tokens present gets only the bytes present.
        TLineCase{"B=454C 7FFFFFFF 01 02", "B", evtBinary, "454C 2 01 02 "},
        TLineCase{"B=454C zz 01", "B", evtBinary, "454C 0 "},
        TLineCase{"B=454C 2 xx 05 ", "B", evtBinary, "454C 2 00 05 "},
        TLineCase{"Empty=", "Empty", evtString, ""},
        TLineCase{"Tricky\"=\"=x", "Tricky\"=\"", evtString, "x"}));

TEST(ElIniText, CommentsAreWholeLinesOrTheRestOfALineOutsideQuotes) {
    TElIniFile store;
    LoadText(store, CrLfLines({";Automatically generated file. DO NOT MODIFY!!!", ";x=1", "  ;x",
                               "a=1;2"}));
    // Line 3 does not begin with the comment string: a nameless value of two blanks.
    EXPECT_EQ(StringOf(store, "\\", "#3"), "  ");
    EXPECT_EQ(TypeOf(store, "\\", "x"), -1);
    EXPECT_EQ(StringOf(store, "\\", "a"), "1");
    TStrings names;
    store.GetValueNames("\\", names);
    EXPECT_EQ(names, (TStrings{"#3", "a"}));
}

TEST(ElIniText, AMultiCharacterOrEmptyCommentStringIsHonoured) {
    TElIniFile store;
    store.SetComment("//");
    LoadText(store, CrLfLines({"// note", "a=b;c//d", ";kept"}));
    EXPECT_EQ(StringOf(store, "\\", "a"), "b;c");
    EXPECT_EQ(StringOf(store, "\\", "#3"), ";kept");

    TElIniFile noComment;
    noComment.SetComment("");
    LoadText(noComment, CrLfLines({"a=b;c"}));
    EXPECT_EQ(StringOf(noComment, "\\", "a"), "b;c");
}

TEST(ElIniText, NamelessValuesAreNamedAfterTheirLineCountingEveryLine) {
    TElIniFile store;
    LoadText(store, "first\n\n[S]\r\n;c\rsecond\r\nthird");
    EXPECT_EQ(StringOf(store, "\\", "#1"), "first");
    EXPECT_EQ(StringOf(store, "\\S", "#5"), "second");
    EXPECT_EQ(StringOf(store, "\\S", "#6"), "third");
}

TEST(ElIniText, AZeroByteEndsTheFile) {
    TElIniFile store;
    LoadText(store, std::string("a=1\r\nb=2", 8) + std::string(1, '\0') + "\r\nc=3\r\n");
    EXPECT_EQ(StringOf(store, "\\", "b"), "2");
    EXPECT_EQ(TypeOf(store, "\\", "c"), -1);
}

TEST(ElIniText, ListIndexesMakeListsInLineOrderAndAPlainLineReplacesThem) {
    TElIniFile store;
    LoadText(store,
             CrLfLines({"[S]", "L[0]=a", "L[5]=b", "M[1]=x", "M[ 0x10]=y", "M[-1]=z", "L[x]=c"}));
    EXPECT_EQ(StringOf(store, "\\S", "L"), "c");
    // -1 is no index: M becomes the plain value z.
    EXPECT_EQ(StringOf(store, "\\S", "M"), "z");

    TElIniFile lists;
    LoadText(lists, CrLfLines({"[S]", "L[0]=a", "L[5]=b", "L[2]=c"}));
    TStrings items;
    ASSERT_TRUE(lists.ReadMultiString("\\S", "L", items));
    EXPECT_EQ(items, (TStrings{"a", "b", "c"}));
}

TEST(ElIniText, ANameEndingInABracketWithoutOpeningGivesTheSectionKeyItsValue) {
    TElIniFile store;
    LoadText(store, CrLfLines({"[A]", "x]=5", "[B]", "=7"}));
    int32_t value = 0;
    EXPECT_TRUE(store.ReadInteger("\\A", "", 0, value));
    EXPECT_EQ(value, 5);
    EXPECT_TRUE(store.ReadInteger("\\B", "", 0, value));
    EXPECT_EQ(value, 7);
    // At the root an empty name addresses nothing: the line is dropped.
    TElIniFile root;
    LoadText(root, "=7\r\n");
    EXPECT_EQ(root.Root().ChildCount(), 0);
}

TEST(ElIniText, SectionPathsAreOpenedFromTheRootAndBadOnesSkipTheirLines) {
    TElIniFile store;
    LoadText(store,
             CrLfLines({"[Options\\Colors]", "a=1", "[A\\]", "b=2", "[\\Options]", "lost=1",
                        "[A\\\\B]", "lost=2", "[Options]", "c=3", "[", "d=4", "[Half", "e=5"}));
    EXPECT_EQ(StringOf(store, "\\Options\\Colors", "a"), "1");
    EXPECT_EQ(StringOf(store, "\\A", "b"), "2");
    EXPECT_EQ(StringOf(store, "\\Options", "c"), "3");
    EXPECT_EQ(StringOf(store, "\\", "d"), "4");
    EXPECT_EQ(StringOf(store, "\\Half", "e"), "5");
    EXPECT_FALSE(store.KeyExists("\\A\\B"));
    EXPECT_EQ(TypeOf(store, "\\A", "lost"), -1);
    EXPECT_EQ(TypeOf(store, "\\Options", "lost"), -1);
    EXPECT_EQ(TypeOf(store, "\\", "lost"), -1);
}

TEST(ElIniText, NamesMatchTrimmedAndCaseBlindKeepingTheFirstSpelling) {
    TElIniFile store;
    LoadText(store, CrLfLines({"[Sec]", " Width =1", "WIDTH=2", "[SEC]", "width=3"}));
    EXPECT_EQ(StringOf(store, "\\sec", "width"), "3");
    TStrings keys, values;
    store.GetKeyNames("\\", keys);
    store.GetValueNames("\\Sec", values);
    EXPECT_EQ(keys, TStrings{"Sec"});
    EXPECT_EQ(values, TStrings{" Width "});
}

TEST(ElIniText, WritesTheWorkedExampleByteForByte) {
    TElIniFile store;
    ASSERT_TRUE(store.WriteInteger("\\", "Count", 3));
    ASSERT_TRUE(store.WriteBool("\\Window", "Visible", false));
    ASSERT_TRUE(store.WriteString("\\Window", "Title", "Main"));
    const char data[] = {0x0A, static_cast<char>(0xFF)};
    ASSERT_TRUE(store.WriteBinary("\\Window\\Parts", "Data", data, 2));
    ASSERT_TRUE(store.WriteMultiString("\\Window\\Parts", "Items", {"first", "second"}));
    const std::string expected =
        CrLfLines({";Automatically generated file. DO NOT MODIFY!!!", "Count=3", "", "[Window]",
                   "Visible=false", "Title=Main", "", "[Window\\Parts]", "Data=454C 2 0A FF ",
                   "Items[0]=first", "Items[1]=second"});
    EXPECT_EQ(store.SaveToBytes(), expected);

    TElIniFile reread;
    LoadText(reread, expected);
    EXPECT_EQ(reread.SaveToBytes(), expected);
}

TEST(ElIniText, WritesEveryTypeAndKeysThatAreAlsoValues) {
    TElIniFile store;
    LoadText(store, CrLfLines({"[A]", "Sub=v", "E=0.0", "Name = v", "bare", "[A\\Sub]", "x=1",
                               "[Empty]"}));
    store.WriteMultiString("\\A", "NoItems", {});
    store.SetValueType("\\A", "Unset", evtString);
    store.SetValueType("\\A", "None", evtNone);
    EXPECT_EQ(store.SaveToBytes(), CrLfLines({";Automatically generated file. DO NOT MODIFY!!!", "",
                                              "[A]", "Sub=v", "E=0.0", "Name = v", "bare",
                                              "Unset=", "", "[A\\Sub]", "x=1", "", "[Empty]"}));
}

TEST(ElIniText, TextsWithLineBreaksAreWrittenUnchangedAndReadBackAsLines) {
    TElIniFile store;
    store.WriteString("\\", "a", "one\r\n");
    store.WriteString("\\", "b", "two\nthree");
    const std::string text = store.SaveToBytes();
    EXPECT_EQ(text, CrLfLines({";Automatically generated file. DO NOT MODIFY!!!", "a=one",
                               "b=two\nthree"}));
    TElIniFile reread;
    LoadText(reread, text);
    EXPECT_EQ(StringOf(reread, "\\", "b"), "two");
    EXPECT_EQ(StringOf(reread, "\\", "#4"), "three");
}

TEST(ElIniText, WarningLineAloneIsAnEmptyTreeAndAnEmptyTreeIsTheWarningLine) {
    TElIniFile store;
    LoadText(store, ";Automatically generated file. DO NOT MODIFY!!!\r\n");
    EXPECT_EQ(store.Root().ChildCount(), 0);
    EXPECT_EQ(store.SaveToBytes(), ";Automatically generated file. DO NOT MODIFY!!!\r\n");
    store.SetWarningMessage("");
    EXPECT_EQ(store.SaveToBytes(), "");
}

TEST(ElIniText, WithoutCommentStringTheWarningLineGrowsByOneCopyPerRound) {
    TElIniFile store;
    store.SetComment("");
    std::string text = store.SaveToBytes();
    for (int round = 0; round < 2; ++round) {
        LoadText(store, text);
        text = store.SaveToBytes();
    }
    const std::string line = "Automatically generated file. DO NOT MODIFY!!!\r\n";
    EXPECT_EQ(text, line + line + line);
}

TEST(ElIniText, SimpleModeKeepsSectionPathsWholeAndWritesBooleansAsDigits) {
    TElIniFile store;
    store.SetSimple(true);
    LoadText(store, CrLfLines({"[A\\B]", "x=1", "[A\\\\B]", "y=true"}));
    EXPECT_EQ(StringOf(store, "\\A\\B", "x"), "1");
    EXPECT_EQ(TypeOf(store, "\\A\\\\B", "y"), evtBoolean);
    EXPECT_FALSE(store.KeyExists("\\A"));
    EXPECT_EQ(store.SaveToBytes(), CrLfLines({";Automatically generated file. DO NOT MODIFY!!!", "",
                                              "[A\\B]", "x=1", "", "[A\\\\B]", "y=1"}));
}

// Small keys are scanned, large ones use a name index: both must keep "first match wins".
class ElIniDuplicateNames : public testing::TestWithParam<int> {};

TEST_P(ElIniDuplicateNames, ResolveToTheFirstChildEvenAfterItIsRemovedOrRenamed) {
    std::string text = "[S]\r\na=1\r\n";
    for (int i = 0; i < GetParam(); ++i)
        text += "filler" + std::to_string(i) + "=x\r\n";
    TElIniFile store;
    LoadText(store, text);
    // A second child of the same normal name, as a key made through its own spelling.
    TElIniEntry* section = store.GetValueEntry("\\S", "");
    ASSERT_NE(section, nullptr);
    TElIniEntry* second = section->AddChild(" A ", false);
    second->ValueType = evtInteger;
    second->IntValue = 2;
    EXPECT_EQ(StringOf(store, "\\S", "A"), "1");
    ASSERT_TRUE(store.Delete("\\S", "a"));
    EXPECT_EQ(StringOf(store, "\\S", "a"), "2");
    ASSERT_TRUE(store.RenameValue("\\S", "a", "b"));
    EXPECT_EQ(TypeOf(store, "\\S", "a"), -1);
    EXPECT_EQ(StringOf(store, "\\S", "b"), "2");
    // A child renamed to the name of a later one becomes the first match.
    ASSERT_TRUE(store.WriteString("\\S", "c", "later"));
    section->Child(0)->Rename("C");
    EXPECT_EQ(section->FindChild("c"), section->Child(0));
    ASSERT_TRUE(store.Delete("\\S", "c"));
    EXPECT_EQ(StringOf(store, "\\S", "c"), "later");
}

INSTANTIATE_TEST_SUITE_P(ScannedAndIndexed, ElIniDuplicateNames, testing::Values(0, 40));

// Lines naming a value already read go to that value, whether the key is scanned while it
// is read or gets a name index (which settles such lines when the key is left or looked
// into): a plain line replaces, a list item adds to a list, across reopened sections too.
class ElIniLoadedNamesakes : public testing::TestWithParam<int> {};

TEST_P(ElIniLoadedNamesakes, GoToTheFirstValueOfTheirNameInLineOrder) {
    std::string text = "[S]\r\n";
    TStrings names;
    for (int i = 0; i < GetParam(); ++i) {
        names.push_back("f" + std::to_string(i));
        text += names.back() + "=x\r\n";
    }
    text += CrLfLines({"a=1", "L[0]=x", " A =2", "b[0]=p", "L[1]=y", "b=plain", "[S\\Sub]", "s=1",
                       "[T]", "t=1", "[s]", "c[0]=1", "L[2]=z", "a[0]=q", "C[1]=2"});
    TElIniFile store;
    LoadText(store, text);
    names.insert(names.end(), {"a", "L", "b", "c"});
    TStrings values, a, list, c;
    ASSERT_TRUE(store.GetValueNames("\\S", values));
    EXPECT_EQ(values, names);
    ASSERT_TRUE(store.ReadMultiString("\\S", "a", a));
    ASSERT_TRUE(store.ReadMultiString("\\S", "l", list));
    ASSERT_TRUE(store.ReadMultiString("\\S", "c", c));
    EXPECT_EQ(a, TStrings{"q"});
    EXPECT_EQ(list, (TStrings{"x", "y", "z"}));
    EXPECT_EQ(c, (TStrings{"1", "2"}));
    EXPECT_EQ(StringOf(store, "\\S", "B"), "plain");
    EXPECT_EQ(StringOf(store, "\\S\\Sub", "s"), "1");
    EXPECT_EQ(StringOf(store, "\\T", "t"), "1");
}

INSTANTIATE_TEST_SUITE_P(ScannedAndIndexed, ElIniLoadedNamesakes, testing::Values(0, 40));

TEST(ElIniText, RemovingManyValuesOfALargeKeyLeavesEveryOtherOneFindable) {
    TElIniFile store;
    for (int i = 0; i < 3000; ++i)
        ASSERT_TRUE(store.WriteInteger("\\Big", "v" + std::to_string(i), i));
    for (int i = 0; i < 3000; i += 3)
        ASSERT_TRUE(store.Delete("\\Big", "V" + std::to_string(i)));
    for (int i = 0; i < 3000; ++i) {
        int32_t value = -1;
        EXPECT_EQ(store.ReadInteger("\\Big", "v" + std::to_string(i), -1, value), i % 3 != 0);
        EXPECT_EQ(value, i % 3 != 0 ? i : -1);
    }
    // A removed name can be written again, and is then found once.
    ASSERT_TRUE(store.WriteInteger("\\Big", "v0", 7));
    TStrings names;
    ASSERT_TRUE(store.GetValueNames("\\Big", names));
    EXPECT_EQ(names.size(), 2001u);
    EXPECT_EQ(TypeOf(store, "\\Big", "v0"), evtInteger);
}

TEST(ElIniText, AKeyWithManyValuesLoadsAndFindsEachOne) {
    std::string text = "[Big]\r\n";
    for (int i = 0; i < 20000; ++i)
        text += "v" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    TElIniFile store;
    LoadText(store, text);
    int32_t value = 0;
    EXPECT_TRUE(store.ReadInteger("\\Big", "V19999", 0, value));
    EXPECT_EQ(value, 19999);
    EXPECT_EQ(store.GetValueEntry("\\", "Big")->ChildCount(), 20000);
}

TEST(ElIniText, KeyPathsDeeperThanTheLimitAreRefused) {
    std::string path = "a";
    for (int i = 1; i < TElIniFile::MaxKeyDepth + 5; ++i)
        path += "\\a";
    TElIniFile store;
    LoadText(store, "[" + path + "]\r\nx=1\r\n[ok]\r\ny=2\r\n");
    EXPECT_EQ(StringOf(store, "\\ok", "y"), "2");
    EXPECT_NE(store.SaveToBytes().find("y=2"), std::string::npos);
    EXPECT_FALSE(store.OpenKey("\\" + path, true));
    EXPECT_FALSE(store.OpenKey("\\" + std::string(TElIniFile::MaxKeyPathLength, 'k'), true));
    EXPECT_TRUE(store.OpenKey("\\" + std::string(TElIniFile::MaxKeyPathLength - 1, 'k'), true));
}

// Every key is written as a section with its whole path, so a file of deeply nested keys
// could make the next save hundreds of times larger than itself. Whatever the file, the
// written form stays within a small multiple of it.
struct THostileText {
    const char* Name;
    std::string Text;
};

// By name: printed as raw bytes, the padding after the name would be read uninitialised.
void PrintTo(const THostileText& c, std::ostream* os) {
    *os << c.Name;
}

class ElIniHostileText : public testing::TestWithParam<THostileText> {};

TEST_P(ElIniHostileText, IsWrittenBackWithinASmallMultipleOfItsSize) {
    const std::string& text = GetParam().Text;
    TElIniFile store;
    LoadText(store, text);
    EXPECT_LE(store.SaveToBytes().size(), 5 * text.size() + 128 * 1024);
}

THostileText Nested(const char* name, size_t lines, const std::string& first, int depth) {
    std::string text;
    for (size_t line = 0; line < lines; ++line) {
        text += "[" + first + std::to_string(line);
        for (int level = 1; level < depth; ++level)
            text += "\\k";
        text += "]\r\nv=1\r\n";
    }
    return {name, text};
}

INSTANTIATE_TEST_SUITE_P(Shapes, ElIniHostileText,
                         testing::Values(Nested("DeepShortNames", 250, "a",
                                                TElIniFile::MaxKeyDepth),
                                         Nested("LongFirstName", 120, std::string(3800, 'n'), 99),
                                         Nested("ManyShallowKeys", 20000, "key", 3)),
                         [](const auto& test) { return std::string(test.param.Name); });

} // namespace
} // namespace cantorell
