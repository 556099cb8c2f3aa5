// Form persistence on a real window on the offscreen platform: what a first run writes,
// what a restore does with good, missing and bad values, the normal bounds of a maximised
// window, the property list and its byte form, TopMost and Flipped.
#include "settings/ElFrmPers.h"

#include "settings/ElIni.h"
#include "tests/persist/PersistObjects.h"
#include "tests/testsupport/WindowPropsBytes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

using namespace cantorell;
using namespace cantorell::test;

namespace {

// The real window operations, counting the always-on-top calls.
class TCountingPlacement : public TWindowPlacement {
public:
    void SetTopMost(QWidget& form, bool topMost) override {
        ++TopMostCalls;
        TWindowPlacement::SetTopMost(form, topMost);
    }
    int TopMostCalls = 0;
};

TElMTreeItem* AddEntry(TElMTree& tree, TElMTreeItem* parent, uint8_t kind, bool storeAll,
                       const std::string& name) {
    return tree.AddItem(parent, new TElPropData{kind, storeAll, name});
}

class ElFrmPersTest : public ::testing::Test {
protected:
    void SetUp() override {
        Form->setObjectName(QStringLiteral("FormTest"));
        auto* layout = new QVBoxLayout(Form.get());
        Edit = new QLineEdit(Form.get());
        Edit->setObjectName(QStringLiteral("Edit1"));
        layout->addWidget(Edit);
        Pane = new TSampleObject(Form.get());
        Pane->setObjectName(QStringLiteral("Pane1"));
        Pane->Width = 150;
        Pane->Caption = QStringLiteral("pane");
        // Positions and sizes are the client area's.
        Form->setGeometry(QRect(QPoint(100, 120), Form->size()));
        Form->resize(400, 300);
        Persist = new TElFormPersist(Form.get(), Placement);
        Persist->SetStorage(&Store);
        // Pane1: Width and Caption; a component that is not on the form; Pane1 again.
        TElMTree& list = Persist->PropList();
        TElMTreeItem* pane = AddEntry(list, nullptr, TElPropData::pdkObject, false, "Pane1");
        AddEntry(list, pane, TElPropData::pdkProperty, true, "Width");
        AddEntry(list, pane, TElPropData::pdkProperty, true, "Caption");
        TElMTreeItem* missing = AddEntry(list, nullptr, TElPropData::pdkObject, false, "Gone");
        AddEntry(list, missing, TElPropData::pdkProperty, true, "Width");
        TElMTreeItem* again = AddEntry(list, nullptr, TElPropData::pdkObject, false, "Pane1");
        AddEntry(list, again, TElPropData::pdkProperty, true, "Tag");
    }

    void EnableProperties() {
        Persist->SetPersistOptions(Persist->PersistOptions() | TElFormPersist::epoProperties);
    }

    int32_t Integer(const std::string& key, const std::string& name) {
        int32_t value = -12345;
        EXPECT_TRUE(Store.ReadInteger(key, name, -12345, value)) << key << " " << name;
        return value;
    }
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

    TElIniFile Store;
    TCountingPlacement Placement;
    std::unique_ptr<QWidget> Form = std::make_unique<QWidget>();
    QLineEdit* Edit = nullptr;
    TSampleObject* Pane = nullptr;
    TElFormPersist* Persist = nullptr; // a child of Form
};

} // namespace

TEST_F(ElFrmPersTest, AFirstShowCreatesTheKeysAndTheHideWritesTheWindowAndTheListedValues) {
    EnableProperties();
    Form->show();
    EXPECT_EQ(QPoint(100, 120), Form->geometry().topLeft());
    EXPECT_EQ(QSize(400, 300), Form->size());
    EXPECT_TRUE(Store.KeyExists("\\FormTest"));
    EXPECT_EQ(TStrings({"Pane1"}), KeyNames("\\FormTest")); // "Gone" is skipped
    EXPECT_TRUE(ValueNames("\\FormTest").empty());
    EXPECT_TRUE(ValueNames("\\FormTest\\Pane1").empty());

    Form->setGeometry(QRect(QPoint(130, 140), Form->size()));
    Pane->Width = 175;
    Pane->Tag = 9;
    Form->hide();

    EXPECT_EQ(TStrings({"State", "Topmost", "Width", "Height", "Left", "Top"}),
              ValueNames("\\FormTest"));
    EXPECT_EQ(0, Integer("\\FormTest", "State"));
    bool topMost = true;
    EXPECT_TRUE(Store.ReadBool("\\FormTest", "Topmost", true, topMost));
    EXPECT_FALSE(topMost);
    EXPECT_EQ(400, Integer("\\FormTest", "Width"));
    EXPECT_EQ(300, Integer("\\FormTest", "Height"));
    EXPECT_EQ(130, Integer("\\FormTest", "Left"));
    EXPECT_EQ(140, Integer("\\FormTest", "Top"));
    // Both entries for Pane1 write into the same key; the later entry is still processed.
    EXPECT_EQ(TStrings({"Width", "Caption", "Tag"}), ValueNames("\\FormTest\\Pane1"));
    EXPECT_EQ(175, Integer("\\FormTest\\Pane1", "Width"));
    EXPECT_EQ(9, Integer("\\FormTest\\Pane1", "Tag"));
    EXPECT_EQ("\\", Store.CurrentKey());
}

TEST_F(ElFrmPersTest, AShowRestoresSizePositionAndListedProperties) {
    EnableProperties();
    Store.WriteInteger("\\FormTest", "Width", 520);
    Store.WriteInteger("\\FormTest", "Height", 410);
    Store.WriteInteger("\\FormTest", "Left", 33);
    Store.WriteInteger("\\FormTest", "Top", 44);
    Store.WriteInteger("\\FormTest\\Pane1", "Width", 222);
    Store.WriteString("\\FormTest\\Pane1", "Caption", "restored");
    int restored = 0;
    Persist->OnRestore = [&restored](TElFormPersist&) { ++restored; };

    Form->show();

    EXPECT_EQ(QSize(520, 410), Form->size());
    EXPECT_EQ(QPoint(33, 44), Form->geometry().topLeft());
    EXPECT_EQ(222, Pane->Width);
    EXPECT_EQ(QStringLiteral("restored"), Pane->Caption);
    EXPECT_EQ(1, restored);
}

TEST_F(ElFrmPersTest, IncompleteOrNegativeValuesLeaveSizeAndPositionAlone) {
    Store.WriteInteger("\\FormTest", "Width", -1);
    Store.WriteInteger("\\FormTest", "Height", 350);
    Store.WriteInteger("\\FormTest", "Left", 5);
    Store.WriteString("\\FormTest", "State", "garbage");

    Form->show();

    EXPECT_EQ(QSize(400, 300), Form->size());
    EXPECT_EQ(QPoint(100, 120), Form->geometry().topLeft());
    EXPECT_FALSE(Form->isMaximized());
}

TEST_F(ElFrmPersTest, AStoredStateMaximisesOnlyWhenItsLowByteIsTwo) {
    for (const int state : {2, 0x102}) {
        auto form = std::make_unique<QWidget>();
        form->setObjectName(QStringLiteral("FormTest"));
        auto* persist = new TElFormPersist(form.get());
        persist->SetStorage(&Store);
        Store.WriteInteger("\\FormTest", "State", state);
        form->show();
        QApplication::processEvents();
        EXPECT_TRUE(form->isMaximized()) << state;
    }
    for (const int state : {0, 3, 7, 0x203}) {
        auto form = std::make_unique<QWidget>();
        form->setObjectName(QStringLiteral("FormTest"));
        auto* persist = new TElFormPersist(form.get());
        persist->SetStorage(&Store);
        Store.WriteInteger("\\FormTest", "State", state);
        form->show();
        QApplication::processEvents();
        EXPECT_FALSE(form->isMaximized()) << state;
        EXPECT_FALSE(form->isMinimized()) << state;
    }
}

TEST_F(ElFrmPersTest, AMaximisedWindowSavesTheBoundsItHadBeforeItWasMaximised) {
    Form->show();
    Form->setGeometry(QRect(QPoint(60, 70), Form->size()));
    Form->resize(333, 222);
    QApplication::processEvents();
    Form->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(Form->isMaximized());
    ASSERT_NE(QSize(333, 222), Form->size());

    Form->hide();

    EXPECT_EQ(2, Integer("\\FormTest", "State"));
    EXPECT_EQ(333, Integer("\\FormTest", "Width"));
    EXPECT_EQ(222, Integer("\\FormTest", "Height"));
    EXPECT_EQ(60, Integer("\\FormTest", "Left"));
    EXPECT_EQ(70, Integer("\\FormTest", "Top"));
    EXPECT_EQ(QRect(60, 70, 333, 222), Persist->NormalBounds());
}

TEST_F(ElFrmPersTest, WithoutThePropertiesOptionNothingBelowTheFormKeyIsWrittenOrRead) {
    Store.WriteInteger("\\FormTest\\Pane1", "Width", 99);
    Form->show();
    EXPECT_EQ(150, Pane->Width);
    Form->hide();
    EXPECT_EQ(TStrings({"Width"}), ValueNames("\\FormTest\\Pane1"));
    EXPECT_EQ(99, Integer("\\FormTest\\Pane1", "Width"));
}

TEST_F(ElFrmPersTest, CollectionItemsAndWholeObjectsFollowTheList) {
    EnableProperties();
    Persist->PropList().Clear();
    for (int i = 0; i < 3; ++i)
        static_cast<TItemObject*>(Pane->Items()->Add())->Width = 10 + i;
    TElMTree& list = Persist->PropList();
    TElMTreeItem* pane = AddEntry(list, nullptr, TElPropData::pdkObject, false, "Pane1");
    TElMTreeItem* item = AddEntry(list, pane, TElPropData::pdkCollectionItem, false, "Items<1>");
    AddEntry(list, item, TElPropData::pdkProperty, true, "Width");
    AddEntry(list, pane, TElPropData::pdkCollectionItem, false, "Items<7>"); // no such item
    AddEntry(list, pane, TElPropData::pdkCollectionItem, false, "Items<x>"); // no index
    AddEntry(list, pane, TElPropData::pdkObject, true, "Font");              // every property
    Pane->Font()->Size = 13;

    Form->show();
    Form->hide();

    EXPECT_EQ(TStrings({"Items<1>"}), KeyNames("\\FormTest\\Pane1"));
    EXPECT_EQ(11, Integer("\\FormTest\\Pane1\\Items<1>", "Width"));
    // StoreAll writes the font's properties into the pane's own key.
    EXPECT_EQ(13, Integer("\\FormTest\\Pane1", "Size"));
}

TEST_F(ElFrmPersTest, ThePropertyListHasItsByteFormAndADamagedFormKeepsWhatWasRead) {
    Persist->PropList().Clear();
    const QByteArray stored = WindowPropsToStore();
    ASSERT_EQ(82, stored.size());
    Persist->SetPropsToStore(stored);
    EXPECT_EQ(stored, Persist->PropsToStore());
    EXPECT_EQ(4, Persist->PropList().Count());

    TElFormPersist other(Form.get());
    other.SetPropsToStore(stored.left(50)); // ends inside the second entry's name
    EXPECT_EQ(2, other.PropList().Count());
    other.SetPropsToStore(QByteArray::fromHex("01000000"
                                              "0000"
                                              "ffffff7f"));
    EXPECT_EQ(2, other.PropList().Count()); // a 2 GB name is refused before any allocation
}

TEST_F(ElFrmPersTest, TopMostMakesAPlatformCallOnlyWhenItChanges) {
    Form->show();
    const int before = Placement.TopMostCalls;
    Persist->SetTopMost(false);
    EXPECT_EQ(before, Placement.TopMostCalls);
    Persist->SetTopMost(true);
    EXPECT_EQ(before + 1, Placement.TopMostCalls);
    EXPECT_TRUE(Form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(Form->isVisible()); // changing the flag does not hide the window

    Form->hide();
    bool topMost = false;
    EXPECT_TRUE(Store.ReadBool("\\FormTest", "Topmost", false, topMost));
    EXPECT_TRUE(topMost);
}

TEST_F(ElFrmPersTest, AStoredTopmostIsAppliedOnShow) {
    Store.WriteBool("\\FormTest", "Topmost", true);
    Form->show();
    EXPECT_TRUE(Persist->TopMost());
    EXPECT_TRUE(Form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST_F(ElFrmPersTest, FlippingAndUnflippingReturnsTheWindowToItsHeight) {
    Form->show();
    const int height = Form->height();
    Persist->SetFlipped(true);
    EXPECT_LT(Form->height(), height);
    Form->resize(Form->width(), height + 100); // a rolled-up window cannot be enlarged
    EXPECT_LT(Form->height(), height);
    Persist->SetFlipped(false);
    EXPECT_EQ(height, Form->height());
}

TEST_F(ElFrmPersTest, MinMaxInfoSetsTheWindowsSizeLimits) {
    Persist->MinMaxInfo()->SetMinTrackX(200);
    Persist->MinMaxInfo()->SetMaxTrackY(500);
    EXPECT_EQ(200, Form->minimumWidth());
    EXPECT_EQ(500, Form->maximumHeight());
    Form->resize(100, 900);
    EXPECT_EQ(QSize(200, 500), Form->size());
}

TEST_F(ElFrmPersTest, EachMinMaxValueIsAPropertyThatReadsAndWritesItsIndex) {
    TElMinMaxInfo& info = *Persist->MinMaxInfo();
    const char* names[] = {"MaxPosX",   "MaxPosY",   "MaxSizeX",  "MaxSizeY",
                           "MaxTrackX", "MaxTrackY", "MinTrackX", "MinTrackY"};
    for (int i = 0; i < TElMinMaxInfo::miCount; ++i) {
        SCOPED_TRACE(names[i]);
        ASSERT_TRUE(info.setProperty(names[i], 10 + i));
        EXPECT_EQ(10 + i, info.Value(static_cast<TElMinMaxInfo::TIndex>(i)));
        EXPECT_EQ(10 + i, info.property(names[i]).toInt());
    }
}

TEST_F(ElFrmPersTest, TheActiveControlIsSavedAndRestoredByName) {
    Persist->SetPersistOptions(Persist->PersistOptions() | TElFormPersist::epoActiveControl);
    Form->show();
    QApplication::setActiveWindow(Form.get());
    Edit->setFocus();
    Form->hide();
    std::string name;
    EXPECT_TRUE(Store.ReadString("\\FormTest", "Active control", "", name));
    EXPECT_EQ("Edit1", name);
}

TEST_F(ElFrmPersTest, WithoutAStoreOrWhileInactiveNothingIsWritten) {
    Persist->SetStorage(nullptr);
    Form->show();
    Form->hide();
    Persist->SetStorage(&Store);
    Persist->SetActive(false);
    Form->show();
    Form->hide();
    EXPECT_FALSE(Store.KeyExists("\\FormTest"));
}

TEST_F(ElFrmPersTest, EveryLiveComponentIsInTheList) {
    const auto& list = TElFormPersist::FormPersistList();
    EXPECT_NE(list.end(), std::find(list.begin(), list.end(), Persist));
    Form.reset();
    EXPECT_EQ(list.end(), std::find(list.begin(), list.end(), Persist));
}
