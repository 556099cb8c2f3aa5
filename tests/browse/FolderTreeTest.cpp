#include "browse/FolderTree.h"

#include "FakeShell.h"

#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

// Failure messages show texts as text.
void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace cantorell {
namespace {

using test::TFakeShell;
using TFindMode = TFolderTree::TFindMode;
using TRefreshMode = TFolderTree::TRefreshMode;

// A folder created, removed or renamed is noticed through inotify and applied on a later turn
// of the event loop; this is how long a test waits for it at most.
constexpr int NoticeTimeoutMs = 5000;

QStringList ChildTexts(const QTreeWidgetItem* node) {
    QStringList texts;
    for (int i = 0; node && i < node->childCount(); ++i)
        texts << node->child(i)->text(0);
    return texts;
}

QTreeWidgetItem* Child(const QTreeWidgetItem* node, const QString& text) {
    for (int i = 0; node && i < node->childCount(); ++i) {
        if (node->child(i)->text(0) == text)
            return node->child(i);
    }
    return nullptr;
}

std::string NodePath(const QTreeWidgetItem* node) {
    const TFolderNode* data = TFolderTree::NodeData(node);
    return data ? data->Path : std::string("<none>");
}

class FolderTree : public ::testing::Test {
protected:
    void Activate(TFolderTree::SFolderOption options = {}) {
        Tree = std::make_unique<TFolderTree>(nullptr, Shell);
        Tree->SetFolderOptions(options);
        Tree->SetActive(true);
    }
    QTreeWidgetItem* Desktop() const { return Tree->topLevelItem(0); }
    QTreeWidgetItem* Computer() const { return Tree->FindSpecialNode(TNodeKind::nkComputer); }
    QTreeWidgetItem* Home() const { return Child(Desktop(), "Home"); }
    // The node of a folder of the temporary tree, read on the way as needed.
    QTreeWidgetItem* Expanded(const std::string& relative) {
        QTreeWidgetItem* node = Tree->FindNodeByPath(Shell.Path(relative), TFindMode::fmNoExpand);
        if (!node)
            node = Tree->FindNodeByPath(Shell.Path(relative));
        EXPECT_EQ(NodePath(node), Shell.Path(relative));
        Tree->expandItem(node);
        return node;
    }
    bool WasRead(const std::string& relative) const {
        return std::count(Shell.Read.begin(), Shell.Read.end(), Shell.Path(relative)) > 0;
    }

    TFakeShell Shell;
    std::unique_ptr<TFolderTree> Tree;
};

// --- building and lazy filling -------------------------------------------------------------

TEST_F(FolderTree, ActivatingShowsTheDesktopWithComputerHomeAndTheDesktopsFolders) {
    Shell.MakeFolders({"Desktop/projects", "Desktop/Albums"});
    Activate();

    ASSERT_EQ(Tree->topLevelItemCount(), 1);
    EXPECT_EQ(Desktop()->text(0), "Desktop");
    EXPECT_EQ(TFolderTree::NodeData(Desktop())->Kind, TNodeKind::nkDesktop);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Home", "Albums", "projects"}));
    EXPECT_TRUE(Desktop()->isExpanded());
    // The Computer node opens at start with the volumes in mount order, not sorted.
    EXPECT_TRUE(Computer()->isExpanded());
    EXPECT_EQ(ChildTexts(Computer()), QStringList({"File System", "USB"}));
    EXPECT_EQ(NodePath(Home()), Shell.Home);
}

TEST_F(FolderTree, NothingBelowAnUnexpandedFolderIsRead) {
    Shell.MakeFolders({"home/Music/Jazz/Live", "Desktop/inbox/sub", "usb/Podcasts"});
    Activate();

    EXPECT_EQ(Shell.Read, std::vector<std::string>({Shell.Desktop}));
    QTreeWidgetItem* inbox = Child(Desktop(), "inbox");
    ASSERT_TRUE(inbox);
    EXPECT_EQ(inbox->childCount(), 0);
    // Unread folders still offer to expand.
    EXPECT_EQ(inbox->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    Tree->expandItem(Home());
    EXPECT_TRUE(WasRead("home"));
    EXPECT_FALSE(WasRead("home/Music"));
    EXPECT_FALSE(WasRead("usb"));
    EXPECT_EQ(ChildTexts(Home()), QStringList({"Music"}));
}

TEST_F(FolderTree, ChangeReportsTheSelectedNodeAndNoneWhenTheSelectionIsTakenAway) {
    Shell.MakeFolders({"Desktop/a"});
    Activate();
    QSignalSpy changes(Tree.get(), &TFolderTree::Change);
    QTreeWidgetItem* a = Child(Desktop(), "a");
    Tree->setCurrentItem(a);
    ASSERT_EQ(changes.count(), 1);
    EXPECT_EQ(changes.last().at(0).value<QTreeWidgetItem*>(), a);

    a->setSelected(false);
    ASSERT_EQ(changes.count(), 2);
    EXPECT_EQ(changes.last().at(0).value<QTreeWidgetItem*>(), nullptr);
    EXPECT_EQ(Tree->GetSelectedPath(), "");
}

TEST_F(FolderTree, DeactivatingEmptiesTheTreeAndActivatingRebuildsIt) {
    Shell.MakeFolders({"Desktop/a"});
    Activate();
    QSignalSpy changes(Tree.get(), &TFolderTree::Change);
    Tree->setCurrentItem(Child(Desktop(), "a"));

    Tree->SetActive(false);
    EXPECT_FALSE(Tree->Active());
    EXPECT_EQ(Tree->topLevelItemCount(), 0);
    EXPECT_EQ(Tree->GetSelectedPath(), "");
    ASSERT_GE(changes.count(), 2);
    EXPECT_EQ(changes.last().at(0).value<QTreeWidgetItem*>(), nullptr);

    Tree->SetActive(true);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Home", "a"}));
}

// --- filling -------------------------------------------------------------------------------

TEST_F(FolderTree, SubfoldersAreSortedByTextWithoutRegardToCase) {
    Shell.MakeFolders({"home/list/b", "home/list/A", "home/list/c", "home/list/B"});
    Activate();
    // On Linux "b" and "B" are two folders; they sit together, capitals first.
    EXPECT_EQ(ChildTexts(Expanded("home/list")), QStringList({"A", "B", "b", "c"}));
}

TEST_F(FolderTree, LinksToFoldersAreListedButHiddenFoldersAndFilesAreNot) {
    Shell.MakeFolders({"home/.config", "home/.cache/sub", "home/Music", "elsewhere"});
    QFile(QString::fromStdString(Shell.Path("home/notes.txt"))).open(QIODevice::WriteOnly);
    ASSERT_EQ(::symlink(Shell.Path("elsewhere").c_str(), Shell.Path("home/linked").c_str()), 0);
    ASSERT_EQ(::symlink(Shell.Path("missing").c_str(), Shell.Path("home/dangling").c_str()), 0);
    Activate();
    EXPECT_EQ(ChildTexts(Expanded("home")), QStringList({"linked", "Music"}));
    EXPECT_EQ(nullptr, Tree->FindNodeByPath(Shell.Path("home/.cache/sub"), TFindMode::fmNoExpand));
}

TEST_F(FolderTree, WithoutADesktopFolderTheDesktopShowsTheHomeFoldersVisibleFoldersOnce) {
    Shell.MakeFolders({"home/Music", "home/.cache"});
    Shell.Desktop = Shell.Home;
    Activate();
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Music"}));
    EXPECT_EQ(NodePath(Tree->FindNodeByPath(Shell.Path("home/Music"))), Shell.Path("home/Music"));
}

TEST_F(FolderTree, ALongFolderNameScrollsSidewaysInsteadOfBeingCut) {
    Shell.MakeFolders({"Desktop/" + std::string(200, 'x')});
    Activate();
    Tree->resize(150, 200);
    Tree->show();
    QApplication::processEvents();
    EXPECT_GT(Tree->horizontalScrollBar()->maximum(), 0);
}

TEST_F(FolderTree, ExpandingAnEmptyFolderRemovesItsButtonAndDoesNotExpand) {
    Shell.MakeFolders({"home/empty"});
    QFile(QString::fromStdString(Shell.Path("home/empty/song.mp3"))).open(QIODevice::WriteOnly);
    Activate();
    QTreeWidgetItem* empty = Child(Expanded("home"), "empty");

    Tree->expandItem(empty);
    EXPECT_FALSE(empty->isExpanded());
    EXPECT_EQ(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);
    // It is still a folder the user can select and list.
    Tree->setCurrentItem(empty);
    EXPECT_EQ(Tree->GetSelectedPath(), Shell.Path("home/empty"));
}

TEST_F(FolderTree, AFolderThatCannotBeReadKeepsItsButtonAndDoesNotExpand) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not stop the superuser";
    Shell.MakeFolders({"home/locked/inside"});
    ASSERT_EQ(::chmod(Shell.Path("home/locked").c_str(), 0), 0);
    Activate();
    QTreeWidgetItem* locked = Child(Expanded("home"), "locked");

    Tree->expandItem(locked);
    EXPECT_FALSE(locked->isExpanded());
    EXPECT_EQ(locked->childCount(), 0);
    EXPECT_EQ(locked->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    ::chmod(Shell.Path("home/locked").c_str(), 0755);

    // Once readable, the same button opens it.
    Tree->expandItem(locked);
    EXPECT_TRUE(locked->isExpanded());
    EXPECT_EQ(ChildTexts(locked), QStringList({"inside"}));
}

TEST_F(FolderTree, AFolderGoneBeforeItIsExpandedKeepsItsButtonAndDoesNotExpand) {
    Shell.MakeFolders({"home/gone", "home/notafolder"});
    Activate();
    QTreeWidgetItem* home = Expanded("home");
    QTreeWidgetItem* gone = Child(home, "gone");
    QTreeWidgetItem* notAFolder = Child(home, "notafolder");
    ASSERT_TRUE(QDir(QString::fromStdString(Shell.Path("home/gone"))).removeRecursively());
    ASSERT_TRUE(QDir().rmdir(QString::fromStdString(Shell.Path("home/notafolder"))));
    QFile(QString::fromStdString(Shell.Path("home/notafolder"))).open(QIODevice::WriteOnly);

    for (QTreeWidgetItem* node : {gone, notAFolder}) {
        Tree->expandItem(node);
        EXPECT_FALSE(node->isExpanded());
        EXPECT_EQ(node->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    }
}

TEST_F(FolderTree, AFolderWithFiveThousandSubfoldersShowsThemAllInOrder) {
    std::vector<std::string> folders;
    for (int i = 0; i < 5000; ++i)
        folders.push_back("home/big/" + std::string(i % 2 ? "Disc " : "disc ") +
                          std::to_string(10000 + i));
    Shell.MakeFolders(folders);
    Activate();

    QTreeWidgetItem* big = Expanded("home/big");
    ASSERT_EQ(big->childCount(), 5000);
    EXPECT_EQ(big->child(0)->text(0), "disc 10000");
    EXPECT_EQ(big->child(4999)->text(0), "Disc 14999");
    const QStringList texts = ChildTexts(big);
    EXPECT_TRUE(std::is_sorted(texts.begin(), texts.end(), [](const QString& a, const QString& b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    }));
    // None of the 5,000 was read to find out whether it has subfolders.
    EXPECT_FALSE(WasRead("home/big/disc 10000"));
}

TEST_F(FolderTree, TheAsteriskKeyOpensOneLevelInsteadOfTheWholeDisk) {
    Shell.MakeFolders({"home/a/b/c"});
    Activate();
    Tree->setCurrentItem(Home());
    QTest::keyClick(Tree.get(), Qt::Key_Asterisk);

    EXPECT_TRUE(Home()->isExpanded());
    EXPECT_EQ(ChildTexts(Home()), QStringList({"a"}));
    EXPECT_FALSE(WasRead("home/a"));
}

// --- paths ---------------------------------------------------------------------------------

TEST_F(FolderTree, GetSelectedPathReportsFoldersAndNothingForTheOtherNodes) {
    Shell.MakeFolders({"home/Music", "home/.local/share/Trash/files/old", "nas/share"});
    Shell.FakeVolumes.push_back({Shell.Path("nas"), "nas", true});
    Activate(TFolderTree::foRecycleBin | TFolderTree::foNetworkNeighborhood);
    QTreeWidgetItem* network = Tree->FindSpecialNode(TNodeKind::nkNetwork);
    Tree->expandItem(network);
    ASSERT_EQ(network->childCount(), 1);

    EXPECT_EQ(Tree->GetSelectedPath(), "") << "nothing selected";
    const std::vector<std::pair<QTreeWidgetItem*, std::string>> cases = {
        {Desktop(), Shell.Desktop},
        {Computer(), ""},
        {Tree->FindSpecialNode(TNodeKind::nkRecycleBin), ""},
        {network, ""},
        {network->child(0), Shell.Path("nas")},
        {Home(), Shell.Home},
        {Child(Computer(), "File System"), Shell.Path("root")},
        {Child(Expanded("home"), "Music"), Shell.Path("home/Music")},
    };
    QSignalSpy changes(Tree.get(), &TFolderTree::Change);
    for (const auto& [node, path] : cases) {
        ASSERT_TRUE(node);
        Tree->setCurrentItem(node);
        EXPECT_EQ(changes.last().at(0).value<QTreeWidgetItem*>(), node);
        EXPECT_EQ(Tree->GetSelectedPath(), path) << node->text(0).toStdString();
    }
    EXPECT_EQ(TFolderTree::NodeData(network->child(0))->Kind, TNodeKind::nkNetworkItem);
}

TEST_F(FolderTree, FindNodeByPathReadsFoldersOnTheWayOnlyWhenAllowed) {
    Shell.MakeFolders({"home/Music/Jazz/Live"});
    Activate();
    const std::string live = Shell.Path("home/Music/Jazz/Live");

    EXPECT_EQ(Tree->FindNodeByPath(live, TFindMode::fmNoExpand), nullptr);
    EXPECT_FALSE(WasRead("home/Music"));

    QTreeWidgetItem* found = Tree->FindNodeByPath(live, TFindMode::fmExpand);
    EXPECT_EQ(NodePath(found), live);
    EXPECT_EQ(found->parent()->parent()->parent(), Home());
    // Reading on the way does not open the folders on screen.
    EXPECT_FALSE(Home()->isExpanded());
    EXPECT_EQ(Tree->FindNodeByPath(live, TFindMode::fmNoExpand), found);
}

TEST_F(FolderTree, FindNodeByPathForAMissingFolderGivesNoneOrTheDeepestFolderFound) {
    Shell.MakeFolders({"home/Music/Jazz"});
    Activate();
    const std::string missing = Shell.Path("home/Music/Jazz/Missing/Deeper");

    EXPECT_EQ(NodePath(Tree->FindNodeByPath(missing, TFindMode::fmExpand)),
              Shell.Path("home/Music/Jazz"));
    EXPECT_EQ(Tree->FindNodeByPath(missing, TFindMode::fmNoExpand), nullptr);
}

TEST_F(FolderTree, FindNodeByPathStartsAtTheDeepestNodeThatHoldsThePath) {
    Shell.MakeFolders({"home/Music", "usb/Podcasts", "root/etc", "Desktop/Inbox"});
    Activate();

    EXPECT_EQ(Tree->FindNodeByPath(Shell.Path("home/Music"))->parent(), Home());
    EXPECT_EQ(Tree->FindNodeByPath(Shell.Path("usb/Podcasts"))->parent(), Child(Computer(), "USB"));
    EXPECT_EQ(Tree->FindNodeByPath(Shell.Path("root/etc"))->parent(),
              Child(Computer(), "File System"));
    EXPECT_EQ(Tree->FindNodeByPath(Shell.Desktop), Desktop());
    EXPECT_EQ(Tree->FindNodeByPath(Shell.Path("Desktop/Inbox"))->parent(), Desktop());
    EXPECT_EQ(Tree->FindNodeByPath(Shell.Path("usb")), Child(Computer(), "USB"));
}

TEST_F(FolderTree, FindNodeByPathComparesCaseAndCleansThePath) {
    Shell.MakeFolders({"home/music", "home/Music/Rock"});
    Activate();

    EXPECT_EQ(NodePath(Tree->FindNodeByPath(Shell.Path("home/music"))), Shell.Path("home/music"));
    EXPECT_EQ(NodePath(Tree->FindNodeByPath(Shell.Path("home/Music"))), Shell.Path("home/Music"));
    EXPECT_EQ(NodePath(Tree->FindNodeByPath(Shell.Path("home/Music/Rock/"))),
              Shell.Path("home/Music/Rock"));
    EXPECT_EQ(NodePath(Tree->FindNodeByPath(Shell.Path("home/./music/../Music//Rock"))),
              Shell.Path("home/Music/Rock"));
    EXPECT_EQ(Tree->FindNodeByPath("", TFindMode::fmExpand), nullptr);
    EXPECT_EQ(Tree->FindNodeByPath("home/Music", TFindMode::fmExpand), nullptr);
    // Outside every node the tree holds there is nothing to find.
    EXPECT_EQ(Tree->FindNodeByPath("/", TFindMode::fmExpand), nullptr);
}

TEST_F(FolderTree, FindNodeByPathOnAnInactiveTreeFindsNothing) {
    TFolderTree tree(nullptr, Shell);
    EXPECT_EQ(tree.FindNodeByPath(Shell.Home), nullptr);
    EXPECT_EQ(tree.GetSelectedPath(), "");
}

// --- display mode and options --------------------------------------------------------------

TEST_F(FolderTree, DisplayModeMapsEveryTextAndKeepsTheNames) {
    Shell.MakeFolders({"home/Música/Live"});
    Activate();
    QTreeWidgetItem* music = Child(Expanded("home"), "Música");
    ASSERT_TRUE(music);

    Tree->SetDisplayMode(TFolderTree::dmUppercase);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"COMPUTER", "HOME"}));
    EXPECT_EQ(music->text(0), "MÚSICA");
    EXPECT_EQ(TFolderTree::NodeData(music)->Name, "Música");
    // Folders read later follow the mode too.
    Tree->expandItem(music);
    EXPECT_EQ(ChildTexts(music), QStringList({"LIVE"}));

    Tree->SetDisplayMode(TFolderTree::dmLowercase);
    EXPECT_EQ(Desktop()->text(0), "desktop");
    Tree->SetDisplayMode(TFolderTree::dmAsis);
    EXPECT_EQ(music->text(0), "Música");
    EXPECT_EQ(Child(music, "Live")->text(0), "Live");
}

TEST_F(FolderTree, PropertiesCanBeSetByName) {
    // Stored settings reach the tree through its properties.
    Activate();
    ASSERT_TRUE(Tree->setProperty("DisplayMode", QVariant::fromValue(TFolderTree::dmUppercase)));
    EXPECT_EQ(Tree->DisplayMode(), TFolderTree::dmUppercase);
    ASSERT_TRUE(Tree->setProperty("FolderOptions", QVariant::fromValue(TFolderTree::SFolderOption(
                                                       TFolderTree::foRecycleBin))));
    EXPECT_NE(Tree->FindSpecialNode(TNodeKind::nkRecycleBin), nullptr);
    ASSERT_TRUE(Tree->setProperty("Active", false));
    EXPECT_EQ(Tree->topLevelItemCount(), 0);
}

TEST_F(FolderTree, TrashAndNetworkNodesFollowTheFolderOptions) {
    Shell.MakeFolders({"Desktop/Zeta"});
    Activate();
    EXPECT_EQ(Tree->FindSpecialNode(TNodeKind::nkRecycleBin), nullptr);
    EXPECT_EQ(Tree->FindSpecialNode(TNodeKind::nkNetwork), nullptr);

    Tree->SetFolderOptions(TFolderTree::foRecycleBin | TFolderTree::foNetworkNeighborhood);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Home", "Zeta", "Trash", "Network"}));

    Tree->SetFolderOptions(TFolderTree::foNetworkNeighborhood);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Home", "Zeta", "Network"}));

    Tree->SetFolderOptions({});
    Tree->SetFolderOptions(TFolderTree::foRecycleBin | TFolderTree::foVirtualFirst);
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Trash", "Computer", "Home", "Zeta"}));
}

TEST_F(FolderTree, TrashListsTrashedFoldersAndNetworkOnlyNetworkShares) {
    Shell.MakeFolders({"home/.local/share/Trash/files/Old Album", "nas"});
    Shell.FakeVolumes.push_back({Shell.Path("nas"), "Shared Music", true});
    Activate(TFolderTree::foRecycleBin | TFolderTree::foNetworkNeighborhood);

    QTreeWidgetItem* trash = Tree->FindSpecialNode(TNodeKind::nkRecycleBin);
    Tree->expandItem(trash);
    EXPECT_EQ(ChildTexts(trash), QStringList({"Old Album"}));
    QTreeWidgetItem* network = Tree->FindSpecialNode(TNodeKind::nkNetwork);
    Tree->expandItem(network);
    EXPECT_EQ(ChildTexts(network), QStringList({"Shared Music"}));
}

TEST_F(FolderTree, ATrashThatWasNeverUsedHasNoButton) {
    Activate(TFolderTree::foRecycleBin);
    EXPECT_EQ(Tree->FindSpecialNode(TNodeKind::nkRecycleBin)->childIndicatorPolicy(),
              QTreeWidgetItem::DontShowIndicator);
}

// --- changes on disk -----------------------------------------------------------------------

class FolderTreeWatch : public FolderTree {
protected:
    // Runs a change on disk and waits until the tree has applied what it noticed.
    template <typename Change> void ChangeOnDisk(Change change) {
        QSignalSpy applied(Tree.get(), &TFolderTree::ChangesApplied);
        change();
        ASSERT_TRUE(applied.wait(NoticeTimeoutMs)) << "no change was noticed";
    }
    bool MakeFolder(const std::string& relative) {
        return QDir().mkdir(QString::fromStdString(Shell.Path(relative)));
    }
};

TEST_F(FolderTreeWatch, AFolderCreatedOnDiskAppearsInSortedPlaceAndNothingElseMoves) {
    Shell.MakeFolders({"home/Music/a/deep", "home/Music/c"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");
    QTreeWidgetItem* a = Child(music, "a");
    Tree->expandItem(a);
    Tree->setCurrentItem(Child(a, "deep"));

    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/Music/B")); });
    EXPECT_EQ(ChildTexts(music), QStringList({"a", "B", "c"}));
    EXPECT_TRUE(music->isExpanded());
    // The open subfolder and the selection are untouched.
    EXPECT_EQ(Child(music, "a"), a);
    EXPECT_TRUE(a->isExpanded());
    EXPECT_EQ(Tree->GetSelectedPath(), Shell.Path("home/Music/a/deep"));
}

TEST_F(FolderTreeWatch, AFolderRemovedOnDiskVanishesAndTheSelectionMovesToItsParent) {
    Shell.MakeFolders({"home/Music/a", "home/Music/b/inner"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");
    QTreeWidgetItem* b = Child(music, "b");
    Tree->expandItem(b);
    Tree->setCurrentItem(Child(b, "inner"));
    QSignalSpy changes(Tree.get(), &TFolderTree::Change);

    ChangeOnDisk([&] {
        EXPECT_TRUE(QDir(QString::fromStdString(Shell.Path("home/Music/b"))).removeRecursively());
    });
    EXPECT_EQ(ChildTexts(music), QStringList({"a"}));
    EXPECT_EQ(Tree->currentItem(), music);
    EXPECT_EQ(Tree->GetSelectedPath(), Shell.Path("home/Music"));
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().at(0).value<QTreeWidgetItem*>(), music);
}

TEST_F(FolderTreeWatch, AFolderRenamedOnDiskIsShownUnderItsNewName) {
    Shell.MakeFolders({"home/Music/Draft/inside", "home/Music/Other"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");

    ChangeOnDisk([&] {
        EXPECT_EQ(::rename(Shell.Path("home/Music/Draft").c_str(),
                           Shell.Path("home/Music/Final").c_str()),
                  0);
    });
    EXPECT_EQ(ChildTexts(music), QStringList({"Final", "Other"}));
    QTreeWidgetItem* renamed = Child(music, "Final");
    EXPECT_EQ(NodePath(renamed), Shell.Path("home/Music/Final"));
    Tree->expandItem(renamed);
    EXPECT_EQ(ChildTexts(renamed), QStringList({"inside"}));
}

TEST_F(FolderTreeWatch, FilesChangingInAFolderLeaveItsNodesAsTheyAre) {
    Shell.MakeFolders({"home/Music/a/b"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");
    QTreeWidgetItem* a = Child(music, "a");
    Tree->expandItem(a);

    ChangeOnDisk([&] {
        QFile file(QString::fromStdString(Shell.Path("home/Music/song.mp3")));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    });
    EXPECT_EQ(Child(music, "a"), a);
    EXPECT_TRUE(a->isExpanded());
    EXPECT_EQ(ChildTexts(a), QStringList({"b"}));
}

TEST_F(FolderTreeWatch, ChangesBelowAFolderThatWasNeverExpandedChangeNothing) {
    Shell.MakeFolders({"home/Closed/x", "home/Open"});
    Activate();
    QTreeWidgetItem* home = Expanded("home");
    QTreeWidgetItem* open = Child(home, "Open");
    Tree->expandItem(open);

    // The change in the closed folder is not watched; the one in the open folder is, and
    // arrives after it.
    ChangeOnDisk([&] {
        EXPECT_TRUE(MakeFolder("home/Closed/new"));
        EXPECT_TRUE(QDir().rmdir(QString::fromStdString(Shell.Path("home/Closed/x"))));
        EXPECT_TRUE(MakeFolder("home/Open/new"));
    });
    EXPECT_EQ(Child(home, "Closed")->childCount(), 0);
    EXPECT_EQ(ChildTexts(open), QStringList({"new"}));
}

TEST_F(FolderTreeWatch, AnEmptyFolderGetsItsButtonBackWhenASubfolderAppears) {
    Shell.MakeFolders({"home/empty"});
    Activate();
    QTreeWidgetItem* empty = Child(Expanded("home"), "empty");
    Tree->expandItem(empty);
    ASSERT_EQ(empty->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/empty/first")); });
    EXPECT_EQ(empty->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(ChildTexts(empty), QStringList({"first"}));
}

TEST_F(FolderTreeWatch, WithoutADesktopFolderAFolderMadeAtHomeAppearsBelowTheDesktop) {
    Shell.Desktop = Shell.Home;
    Activate();
    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/Added")); });
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Added"}));
    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/.hidden")); });
    EXPECT_EQ(ChildTexts(Desktop()), QStringList({"Computer", "Added"}));
}

TEST_F(FolderTreeWatch, AnOpenFolderTreeDeletedOnDiskGoesWithoutTrace) {
    Shell.MakeFolders({"home/Music/a/b/c"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");
    Tree->expandItem(Child(music, "a"));
    Tree->expandItem(Child(Child(music, "a"), "b"));
    Tree->setCurrentItem(Child(Child(Child(music, "a"), "b"), "c"));

    ChangeOnDisk([&] {
        EXPECT_TRUE(QDir(QString::fromStdString(Shell.Path("home/Music"))).removeRecursively());
    });
    EXPECT_EQ(Child(Home(), "Music"), nullptr);
    EXPECT_EQ(Tree->currentItem(), Home());

    // A folder of the same name made afterwards is a new, unread folder.
    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/Music")); });
    ASSERT_NE(Child(Home(), "Music"), nullptr);
    EXPECT_EQ(Child(Home(), "Music")->childCount(), 0);
}

TEST_F(FolderTreeWatch, AFolderDeletedAndMadeAgainAtOnceIsStillFollowed) {
    Shell.MakeFolders({"home/Music/old"});
    Activate();
    QTreeWidgetItem* music = Expanded("home/Music");

    ChangeOnDisk([&] {
        EXPECT_TRUE(QDir(QString::fromStdString(Shell.Path("home/Music"))).removeRecursively());
        EXPECT_TRUE(MakeFolder("home/Music"));
    });
    music = Child(Home(), "Music");
    ASSERT_NE(music, nullptr);
    Tree->expandItem(music);
    ASSERT_EQ(music->childCount(), 0);

    ChangeOnDisk([&] { EXPECT_TRUE(MakeFolder("home/Music/new")); });
    EXPECT_EQ(ChildTexts(music), QStringList({"new"}));
}

// --- volumes -------------------------------------------------------------------------------

TEST_F(FolderTree, MountedVolumesAppearAndUnmountedOnesVanish) {
    Shell.MakeFolders({"usb/Podcasts", "card"});
    Activate();
    QTreeWidgetItem* usb = Child(Computer(), "USB");
    Tree->expandItem(usb);
    Tree->setCurrentItem(Child(usb, "Podcasts"));

    Shell.FakeVolumes.erase(Shell.FakeVolumes.begin() + 1);
    Shell.FakeVolumes.push_back({Shell.Path("card"), "CARD", false});
    Tree->RefreshDrives();
    EXPECT_EQ(ChildTexts(Computer()), QStringList({"File System", "CARD"}));
    EXPECT_EQ(Tree->currentItem(), Computer());
    EXPECT_EQ(Tree->GetSelectedPath(), "");
}

TEST_F(FolderTree, AFolderSomethingIsMountedOnIsReadAgain) {
    Shell.MakeFolders({"home/point/covered", "home/other/kept"});
    Activate();
    QTreeWidgetItem* point = Expanded("home/point");
    QTreeWidgetItem* other = Expanded("home/other");
    ASSERT_EQ(ChildTexts(point), QStringList({"covered"}));

    Shell.ExtraMountPoints.push_back(Shell.Path("home/point"));
    Tree->RefreshDrives();
    EXPECT_EQ(point->childCount(), 0);
    EXPECT_FALSE(point->isExpanded());
    EXPECT_EQ(point->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    EXPECT_TRUE(other->isExpanded());
    EXPECT_EQ(ChildTexts(other), QStringList({"kept"}));

    // Unmounting uncovers the folder again; it is read anew as well.
    Tree->expandItem(point);
    Shell.ExtraMountPoints.clear();
    Tree->RefreshDrives();
    EXPECT_EQ(point->childCount(), 0);
}

TEST_F(FolderTree, RefreshDriveNodeResetsAVolumeWhenItsNameChangedOrWhenForced) {
    Shell.MakeFolders({"usb/Podcasts"});
    Activate();
    QTreeWidgetItem* usb = Child(Computer(), "USB");
    Tree->expandItem(usb);
    ASSERT_EQ(usb->childCount(), 1);

    Tree->RefreshDriveNode(Shell.Path("usb"), TRefreshMode::rmIfRenamed);
    EXPECT_EQ(usb->childCount(), 1) << "same medium, nothing to do";
    EXPECT_TRUE(usb->isExpanded());

    Tree->setCurrentItem(Child(usb, "Podcasts"));
    Tree->RefreshDriveNode(Shell.Path("usb"), TRefreshMode::rmForce);
    EXPECT_EQ(usb->childCount(), 0);
    EXPECT_EQ(Tree->currentItem(), usb);
    EXPECT_FALSE(usb->isExpanded());
    EXPECT_EQ(usb->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);

    Tree->SetDisplayMode(TFolderTree::dmUppercase);
    Shell.FakeVolumes[1].DisplayName = "Holiday";
    Tree->RefreshDriveNode(Shell.Path("usb"), TRefreshMode::rmIfRenamed);
    EXPECT_EQ(usb->text(0), "HOLIDAY");
    Tree->SetDisplayMode(TFolderTree::dmAsis);
    EXPECT_EQ(usb->text(0), "Holiday");
    Tree->expandItem(usb);
    EXPECT_EQ(ChildTexts(usb), QStringList({"Podcasts"}));

    Tree->RefreshDriveNode(Shell.Path("nothing mounted here"), TRefreshMode::rmForce);
    EXPECT_EQ(ChildTexts(Computer()), QStringList({"File System", "Holiday"}));
}

class FolderTreeClicks : public FolderTree {
protected:
    void DoubleClick(QTreeWidgetItem* node) {
        Tree->resize(400, 600);
        Tree->show();
        Tree->scrollToItem(node);
        Tree->setCurrentItem(node);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(Tree.get()));
        const QPoint at = Tree->visualItemRect(node).center();
        // A real double click is a press, a release and then the double-click event.
        QTest::mousePress(Tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseRelease(Tree->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(Tree->viewport(), Qt::LeftButton, {}, at);
    }
};

TEST_F(FolderTreeClicks, DoubleClickingAFolderThatVanishedUnnoticedRemovesIt) {
    Shell.MakeFolders({"home/a", "home/b"});
    Activate();
    QTreeWidgetItem* home = Expanded("home");
    Shell.Vanished.insert(Shell.Path("home/b"));

    DoubleClick(Child(home, "b"));
    EXPECT_EQ(ChildTexts(home), QStringList({"a"}));
    EXPECT_EQ(Tree->currentItem(), home);
}

TEST_F(FolderTreeClicks, DoubleClickingAVolumeOffersToReadItAgain) {
    Activate();
    QTreeWidgetItem* usb = Child(Computer(), "USB");
    Tree->expandItem(usb);
    ASSERT_EQ(usb->childIndicatorPolicy(), QTreeWidgetItem::DontShowIndicator);

    Shell.MakeFolders({"usb/NewlyCopied"});
    DoubleClick(usb);
    EXPECT_TRUE(usb->isExpanded());
    EXPECT_EQ(ChildTexts(usb), QStringList({"NewlyCopied"}));
}

// --- this machine --------------------------------------------------------------------------

TEST(FolderTreeOnThisMachine, ShowsTheDesktopComputerWithTheRootFirstAndHome) {
    // Reads only the real desktop folder and the mount table; nothing is expanded further.
    TFolderTree tree;
    tree.SetActive(true);
    QTreeWidgetItem* desktop = tree.topLevelItem(0);
    ASSERT_NE(desktop, nullptr);
    EXPECT_EQ(tree.GetNodePath(desktop), TShell::Default().DesktopPath());
    QTreeWidgetItem* computer = Child(desktop, "Computer");
    ASSERT_NE(computer, nullptr);
    ASSERT_GE(computer->childCount(), 1);
    EXPECT_EQ(computer->child(0)->text(0), "File System");
    EXPECT_EQ(tree.GetNodePath(computer->child(0)), "/");
    // A Home node only when the desktop is a folder of its own.
    const bool ownDesktop = TShell::Default().DesktopPath() != QDir::homePath().toStdString();
    EXPECT_EQ(ownDesktop ? QDir::homePath().toStdString() : std::string(),
              tree.GetNodePath(Child(desktop, "Home")));
}

// --- session -------------------------------------------------------------------------------

TEST_F(FolderTree, TheSessionMayEndUnlessTheHandlerSaysNo) {
    Activate();
    EXPECT_TRUE(Tree->QueryEndSession());

    TFolderTree* sender = nullptr;
    Tree->OnEndSessionQuery = [&](TFolderTree* from, bool& canEnd) {
        sender = from;
        canEnd = false;
    };
    EXPECT_FALSE(Tree->QueryEndSession());
    EXPECT_EQ(sender, Tree.get());
}

} // namespace
} // namespace cantorell
