// Published-property persistence: what the whole-object walk writes and where, loading it
// back, collections, the walk's name order, the 80-bit float layout and hand-edited values
// that an object must not take.
#include "settings/ElPropTools.h"

#include "settings/ElIni.h"
#include "tests/persist/PersistObjects.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

using namespace cantorell;
using namespace cantorell::test;

namespace {

class ElPropToolsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Store.OpenKey("\\Root", true)); }

    TStrings ValueNames(const std::string& key) {
        TStrings names;
        Store.GetValueNames(key, names);
        return names;
    }
    TStrings KeyNames(const std::string& key) {
        TStrings names;
        Store.GetKeyNames(key, names);
        return names;
    }
    int32_t Integer(const std::string& key, const std::string& name) {
        int32_t value = -12345;
        EXPECT_TRUE(Store.ReadInteger(key, name, -12345, value)) << key << " " << name;
        return value;
    }

    TElIniFile Store;
    TSampleObject Sample;
};

} // namespace

TEST_F(ElPropToolsTest, SaveObjectWritesSimpleValuesHereAndObjectsAsSubkeysInNameOrder) {
    Sample.setObjectName(QStringLiteral("Sample1"));
    Sample.Width = 300;
    Sample.Visible = true;
    Sample.Align = TSampleObject::alLeft;
    Sample.Anchors = TSampleObject::akLeft | TSampleObject::akRight;
    Sample.Caption = QStringLiteral("Grüße");
    Sample.Lines = {QStringLiteral("one"), QStringLiteral("two")};
    Sample.Ratio = 2.5;
    Sample.Font()->Size = 11;

    SaveObject(&Sample, Store);

    // Floats, 64-bit integers and read-only values are not written; "Name" is objectName.
    EXPECT_EQ(TStrings({"Align", "Anchors", "Caption", "Lines", "Name", "Small", "TabOrder", "Tag",
                        "Top", "TopMost", "Visible", "Width"}),
              ValueNames("\\Root"));
    EXPECT_EQ(300, Integer("\\Root", "Width"));
    EXPECT_EQ(1, Integer("\\Root", "Visible"));
    EXPECT_EQ(3, Integer("\\Root", "Align"));
    EXPECT_EQ(5, Integer("\\Root", "Anchors"));
    std::string text;
    EXPECT_TRUE(Store.ReadString("\\Root", "Caption", "", text));
    EXPECT_EQ("Grüße", text);
    EXPECT_TRUE(Store.ReadString("\\Root", "Name", "", text));
    EXPECT_EQ("Sample1", text);
    TStrings lines;
    EXPECT_TRUE(Store.ReadMultiString("\\Root", "Lines", lines));
    EXPECT_EQ(TStrings({"one", "two"}), lines);
    // The font is a subkey; the null object makes none; the empty collection makes its key.
    EXPECT_EQ(TStrings({"Font", "Items"}), KeyNames("\\Root"));
    EXPECT_EQ(11, Integer("\\Root\\Font", "Size"));
    EXPECT_TRUE(KeyNames("\\Root\\Items").empty());
    EXPECT_EQ("\\Root", Store.CurrentKey());
}

TEST_F(ElPropToolsTest, LoadObjectRestoresWhatSaveObjectWroteAndCreatesNothing) {
    Sample.Width = 300;
    Sample.Visible = true;
    Sample.Align = TSampleObject::alBottom;
    Sample.Anchors = TSampleObject::akTop;
    Sample.Small = -7;
    Sample.Caption = QStringLiteral("text");
    Sample.Lines = {QStringLiteral("a"), QString(), QStringLiteral("c")};
    Sample.Font()->Size = 14;
    SaveObject(&Sample, Store);

    TSampleObject copy;
    copy.Lines = {QStringLiteral("old")};
    LoadObject(&copy, Store);

    EXPECT_EQ(300, copy.Width);
    EXPECT_TRUE(copy.Visible);
    EXPECT_EQ(TSampleObject::alBottom, copy.Align);
    EXPECT_EQ(TSampleObject::SAnchors(TSampleObject::akTop), copy.Anchors);
    EXPECT_EQ(-7, copy.Small);
    EXPECT_EQ(QStringLiteral("text"), copy.Caption);
    EXPECT_EQ(Sample.Lines, copy.Lines);
    EXPECT_EQ(14, copy.Font()->Size);

    // A load from a key without values or subkeys changes nothing and adds no key.
    ASSERT_TRUE(Store.OpenKey("\\Empty", true));
    TSampleObject untouched;
    untouched.Lines = {QStringLiteral("keep")};
    LoadObject(&untouched, Store);
    EXPECT_EQ(QStringList({"keep"}), untouched.Lines);
    EXPECT_EQ(0, untouched.Width);
    EXPECT_TRUE(KeyNames("\\Empty").empty());
    EXPECT_EQ("\\Empty", Store.CurrentKey());
}

TEST_F(ElPropToolsTest, ACollectionLoadsOnlyIntoTheItemsItHas) {
    for (int i = 0; i < 12; ++i) {
        auto* item = static_cast<TItemObject*>(Sample.Items()->Add());
        item->Width = 10 * i;
        item->Caption = QString::number(i);
    }
    SaveObject(&Sample, Store);
    TStrings expected;
    for (int i = 0; i < 12; ++i)
        expected.push_back("Item" + std::to_string(i));
    EXPECT_EQ(expected, KeyNames("\\Root\\Items"));
    EXPECT_EQ(110, Integer("\\Root\\Items\\Item11", "Width"));

    TSampleObject three;
    for (int i = 0; i < 3; ++i)
        three.Items()->Add();
    LoadObject(&three, Store);

    ASSERT_EQ(3, three.Items()->Count());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(10 * i, three.Item(i)->Width);
        EXPECT_EQ(QString::number(i), three.Item(i)->Caption);
    }
    EXPECT_EQ(expected, KeyNames("\\Root\\Items")); // Item3 .. Item11 stay in the store
    EXPECT_EQ("\\Root", Store.CurrentKey());
}

TEST_F(ElPropToolsTest, TheCollectionOperationsWorkOnTheirOwnKeyAndKeepTheCurrentKey) {
    TElCollection items([](QObject* p) { return new TItemObject(p); });
    static_cast<TItemObject*>(items.Add())->Width = 5;
    SaveCollection(&items, "Columns", Store);
    EXPECT_EQ(5, Integer("\\Root\\Columns\\Item0", "Width"));

    TElCollection loaded([](QObject* p) { return new TItemObject(p); });
    loaded.Add();
    LoadCollection(&loaded, "Columns", Store);
    EXPECT_EQ(5, static_cast<TItemObject*>(loaded.Item(0))->Width);
    LoadCollection(&loaded, "Missing", Store);
    EXPECT_FALSE(Store.KeyExists("\\Root\\Missing"));
    EXPECT_EQ("\\Root", Store.CurrentKey());
}

TEST_F(ElPropToolsTest, HandEditedValuesThatThePropertyCannotTakeLeaveItUnchanged) {
    Sample.setObjectName(QStringLiteral("Keep"));
    Sample.Visible = true;
    Sample.Align = TSampleObject::alTop;
    Sample.Anchors = TSampleObject::akTop;
    Sample.Small = 3;
    Sample.Width = 77;
    Store.WriteInteger("", "Visible", 7);
    Store.WriteInteger("", "Align", 9);
    Store.WriteInteger("", "Anchors", 0x40);
    Store.WriteInteger("", "Small", 70000);
    Store.WriteString("", "Width", "wide");
    Store.WriteString("", "Name", "1 not a name");
    Store.WriteInteger("", "Computed", 5);

    LoadObject(&Sample, Store);

    EXPECT_EQ(QStringLiteral("Keep"), Sample.objectName());
    EXPECT_TRUE(Sample.Visible);
    EXPECT_EQ(TSampleObject::alTop, Sample.Align);
    EXPECT_EQ(TSampleObject::SAnchors(TSampleObject::akTop), Sample.Anchors);
    EXPECT_EQ(3, Sample.Small);
    EXPECT_EQ(77, Sample.Width);
    EXPECT_EQ(42, Sample.Computed());
}

TEST_F(ElPropToolsTest, AnObjectThatRefersBackToOneBeingWalkedIsNotWalkedAgain) {
    TLoopObject loop;
    SaveObject(&loop, Store);
    EXPECT_EQ(TStrings({"Child"}), KeyNames("\\Root"));
    EXPECT_TRUE(KeyNames("\\Root\\Child").empty()); // Child's Back is the parent: skipped
    LoadObject(&loop, Store);
    EXPECT_EQ("\\Root", Store.CurrentKey());
}

TEST(PropNameOrderTest, FoldsLettersAndPutsAPrefixFirst) {
    EXPECT_TRUE(PropNameLess("Top", "TopMost"));
    EXPECT_FALSE(PropNameLess("TopMost", "Top"));
    EXPECT_TRUE(PropNameLess("Visible", "Width"));
    EXPECT_TRUE(PropNameLess("Width", "WindowState"));
    EXPECT_TRUE(PropNameLess("TabOrder", "Tag"));
    EXPECT_TRUE(PropNameLess("Tag", "Top"));
    EXPECT_TRUE(PropNameLess("autoSave", "DefFont"));
    EXPECT_FALSE(PropNameLess("Name", "name"));
    // Clearing bit 0x20 moves digits below the letters: "1" (0x31) becomes 0x11.
    EXPECT_TRUE(PropNameLess("A1", "AB"));
    EXPECT_TRUE(PropNameLess("Aa", "A_")); // 'a' folds to 0x41, '_' stays 0x5F
}

TEST(ExtendedFloatTest, KnownValuesHaveTheX87Layout) {
    const TExtended one = DoubleToExtended(1.0);
    EXPECT_EQ((TExtended{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x3F}), one);
    const TExtended minusTwo = DoubleToExtended(-2.0);
    EXPECT_EQ((TExtended{0, 0, 0, 0, 0, 0, 0, 0x80, 0x00, 0xC0}), minusTwo);
    EXPECT_EQ((TExtended{}), DoubleToExtended(0.0));
    const TExtended infinity = DoubleToExtended(std::numeric_limits<double>::infinity());
    EXPECT_EQ((TExtended{0, 0, 0, 0, 0, 0, 0, 0x80, 0xFF, 0x7F}), infinity);
    // 10.0 = 1.25 * 2^3: significand A0 00 .. 00, exponent 16386.
    EXPECT_EQ((TExtended{0, 0, 0, 0, 0, 0, 0, 0xA0, 0x02, 0x40}), DoubleToExtended(10.0));
}

TEST(ExtendedFloatTest, EveryKindOfDoubleRoundTripsBitForBit) {
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.5,
                             3.141592653589793,
                             1e300,
                             -1e-300,
                             std::numeric_limits<double>::max(),
                             std::numeric_limits<double>::min(),
                             std::numeric_limits<double>::denorm_min(),
                             -4.9406564584124654e-320,
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity()};
    for (const double value : values) {
        const double back = ExtendedToDouble(DoubleToExtended(value));
        EXPECT_EQ(std::bit_cast<uint64_t>(value), std::bit_cast<uint64_t>(back)) << value;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(std::bit_cast<uint64_t>(nan),
              std::bit_cast<uint64_t>(ExtendedToDouble(DoubleToExtended(nan))));
}

TEST(ExtendedFloatTest, ValuesBeyondADoublesRangeBecomeInfinityOrZero) {
    // 2^16000 and 2^-16000 fit the extended format only.
    const TExtended huge{0, 0, 0, 0, 0, 0, 0, 0x80, 0x7F, 0x7E};
    EXPECT_EQ(std::numeric_limits<double>::infinity(), ExtendedToDouble(huge));
    const TExtended tiny{0, 0, 0, 0, 0, 0, 0, 0x80, 0x7F, 0x81};
    const double zero = ExtendedToDouble(tiny);
    EXPECT_EQ(0.0, zero);
    EXPECT_TRUE(std::signbit(zero));
    // A significand without its integer bit (an "unnormal") still reads by its value.
    const TExtended half{0, 0, 0, 0, 0, 0, 0, 0x40, 0xFF, 0x3F};
    EXPECT_EQ(0.5, ExtendedToDouble(half));
}

TEST_F(ElPropToolsTest, TheFloatOperationsStoreTenBytesAndIgnoreAnyOtherLength) {
    Sample.Ratio = -0.1;
    const auto ratio = FindProperty(Sample, QStringLiteral("Ratio"));
    ASSERT_TRUE(ratio);
    EXPECT_EQ(TPropKind::pkFloat, ratio->Kind);
    SaveFloatProperty(&Sample, *ratio, Store);
    uint8_t bytes[16];
    int32_t size = sizeof bytes;
    EXPECT_TRUE(Store.ReadBinary("", "Ratio", bytes, size));
    EXPECT_EQ(10, size);

    TSampleObject copy;
    LoadFloatProperty(&copy, *ratio, Store);
    EXPECT_EQ(std::bit_cast<uint64_t>(-0.1), std::bit_cast<uint64_t>(copy.Ratio));

    Store.WriteBinary("", "Ratio", bytes, 9);
    copy.Ratio = 7;
    LoadFloatProperty(&copy, *ratio, Store);
    EXPECT_EQ(7.0, copy.Ratio);
}

TEST(FindPropertyTest, FindsByExactNameThenIgnoringCaseAndMapsNameToObjectName) {
    TSampleObject sample;
    sample.setObjectName(QStringLiteral("S"));
    const auto name = FindProperty(sample, QStringLiteral("Name"));
    ASSERT_TRUE(name);
    EXPECT_STREQ("objectName", name->Meta.name());
    EXPECT_EQ(TPropKind::pkString, name->Kind);
    const auto width = FindProperty(sample, QStringLiteral("WIDTH"));
    ASSERT_TRUE(width);
    EXPECT_STREQ("Width", width->Meta.name());
    EXPECT_EQ(TPropKind::pkOther, FindProperty(sample, QStringLiteral("Big"))->Kind);
    EXPECT_EQ(TPropKind::pkSet, FindProperty(sample, QStringLiteral("Anchors"))->Kind);
    EXPECT_EQ(TPropKind::pkEnumeration, FindProperty(sample, QStringLiteral("Visible"))->Kind);
    EXPECT_FALSE(FindProperty(sample, QStringLiteral("Missing")));
}

TEST(ComponentNameTest, AcceptsIdentifiersAndTheEmptyName) {
    EXPECT_TRUE(IsValidComponentName(QString()));
    EXPECT_TRUE(IsValidComponentName(QStringLiteral("FormMain")));
    EXPECT_TRUE(IsValidComponentName(QStringLiteral("_x1")));
    EXPECT_FALSE(IsValidComponentName(QStringLiteral("1x")));
    EXPECT_FALSE(IsValidComponentName(QStringLiteral("a b")));
    EXPECT_FALSE(IsValidComponentName(QStringLiteral("Näme")));
}
