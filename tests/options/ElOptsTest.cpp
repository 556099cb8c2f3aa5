// The application options: the values a first run writes, loading them back, the section
// rule, hand-edited values, and a store of its own on a file.
#include "app/MyOptions.h"

#include "settings/ElIni.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

class ElOptsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Options.SetStorage(&Store);
        Options.SetStorageType(TElOptions::eosElIni);
    }

    TStrings RootValues() {
        TStrings names;
        Store.GetValueNames("\\", names);
        return names;
    }

    TElIniFile Store;
    TMyOptions Options;
};

} // namespace

TEST_F(ElOptsTest, AFirstSaveWritesTheSixteenValuesAtTheRootInNameOrder) {
    Options.Save();

    EXPECT_EQ(
        TStrings({"AutoSave", "DefFont", "DefFontColor", "DefFontSize", "IniName", "IniSection",
                  "LastFile", "MinimizeOnClose", "MinimizeOnEsc", "Name", "ReopenFile",
                  "StorageType", "TabPosition", "Tag", "ToTray", "UseTreeFilter"}),
        RootValues());
    EXPECT_EQ("AutoSave=0\r\nDefFont=Verdana\r\nDefFontColor=clWindowText\r\nDefFontSize=10\r\n"
              "IniName=\r\nIniSection=\r\nLastFile=\r\nMinimizeOnClose=1\r\nMinimizeOnEsc=1\r\n"
              "Name=\r\nReopenFile=0\r\nStorageType=2\r\nTabPosition=0\r\nTag=0\r\nToTray=0\r\n"
              "UseTreeFilter=1\r\n",
              Store.SaveToBytes().substr(Store.SaveToBytes().find("AutoSave")));
    EXPECT_EQ("\\", Store.CurrentKey());
}

TEST_F(ElOptsTest, LoadReadsStoredValuesAndKeepsTheOthers) {
    Store.WriteInteger("\\", "MinimizeOnEsc", 0);
    Store.WriteString("\\", "LastFile", "/music/a.mp3");
    Store.WriteInteger("\\", "TabPosition", 3);

    Options.Load();

    EXPECT_FALSE(Options.MinimizeOnEsc);
    EXPECT_EQ(QStringLiteral("/music/a.mp3"), Options.LastFile);
    EXPECT_EQ(3, Options.TabPosition);
    EXPECT_TRUE(Options.MinimizeOnClose);
    EXPECT_EQ(QStringLiteral("Verdana"), Options.DefFont);

    Options.Save();
    int32_t value = -1;
    EXPECT_TRUE(Store.ReadInteger("\\", "MinimizeOnEsc", -1, value));
    EXPECT_EQ(0, value);
}

TEST_F(ElOptsTest, AStoredSectionChangesTheKeyOfTheNextSaveNotOfTheLoadThatReadIt) {
    Store.WriteString("\\", "IniSection", "Options");
    Store.WriteInteger("\\", "TabPosition", 1);
    Store.WriteInteger("\\Options", "TabPosition", 2);

    Options.Load();
    EXPECT_EQ(QStringLiteral("Options"), Options.IniSection());
    EXPECT_EQ(1, Options.TabPosition);

    Options.TabPosition = 5;
    Options.Save();
    int32_t value = 0;
    EXPECT_TRUE(Store.ReadInteger("\\Options", "TabPosition", 0, value));
    EXPECT_EQ(5, value);
    EXPECT_TRUE(Store.ReadInteger("\\", "TabPosition", 0, value));
    EXPECT_EQ(1, value);
}

TEST_F(ElOptsTest, HandEditedValuesThatCannotBeTakenAreIgnored) {
    Store.WriteInteger("\\", "StorageType", 9);
    Store.WriteString("\\", "Name", "not a name!");
    Store.WriteInteger("\\", "ReopenFile", 7);
    Store.WriteString("\\", "DefFontSize", "large");

    Options.Load();

    EXPECT_EQ(TElOptions::eosElIni, Options.StorageType());
    EXPECT_TRUE(Options.objectName().isEmpty());
    EXPECT_FALSE(Options.ReopenFile);
    EXPECT_EQ(10, Options.DefFontSize);
}

TEST_F(ElOptsTest, TheBaseClassStartsInTheRegistryModeWithTheSectionOptions) {
    TElOptions base;
    EXPECT_EQ(TElOptions::eosRegistry, base.StorageType());
    EXPECT_EQ(QStringLiteral("Options"), base.IniSection());
    EXPECT_FALSE(base.AutoSave());
    // The registry and plain-ini modes are not provided: nothing is read or written.
    base.SetStorage(&Store);
    base.Save();
    EXPECT_TRUE(RootValues().empty());
    EXPECT_FALSE(Store.KeyExists("\\Options"));
}

TEST(ElOptsFileTest, WithoutAStoreTheOptionsFileKeepsItsOtherContent) {
    TTempDir dir;
    const std::string path = dir.File("options.ini");
    {
        TElIniFile file;
        file.SetPath(path);
        file.WriteInteger("\\FormMain", "Width", 640);
        ASSERT_TRUE(file.Save());
    }
    {
        TMyOptions options;
        options.SetStorageType(TElOptions::eosElIni);
        options.SetIniName(QString::fromStdString(path));
        options.TabPosition = 4;
        options.Save();
    }
    TMyOptions loaded;
    loaded.SetStorageType(TElOptions::eosElIni);
    loaded.SetIniName(QString::fromStdString(path));
    loaded.Load();
    EXPECT_EQ(4, loaded.TabPosition);

    TElIniFile file;
    file.SetPath(path);
    ASSERT_TRUE(file.Load());
    int32_t width = 0;
    EXPECT_TRUE(file.ReadInteger("\\FormMain", "Width", 0, width));
    EXPECT_EQ(640, width);
}

TEST(ElOptsFileTest, AutoSaveSavesWhenTheOptionsGo) {
    TElIniFile store;
    {
        TMyOptions options;
        options.SetStorage(&store);
        options.SetStorageType(TElOptions::eosElIni);
        options.SetAutoSave(true);
        options.LastFile = QStringLiteral("x.mp3");
    }
    std::string last;
    EXPECT_TRUE(store.ReadString("\\", "LastFile", "", last));
    EXPECT_EQ("x.mp3", last);
}
