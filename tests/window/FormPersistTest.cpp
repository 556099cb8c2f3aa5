// The window's settings end to end: "VizErir.ini" written by a first run, the window
// brought back as it was by the next start, a hand-edited file with bad values, and a
// file that cannot be written at exit.
#include "app/FileListBox.h"
#include "app/MyOptions.h"
#include "app/SplitGroupBox.h"
#include "app/main.h"
#include "browse/FolderTree.h"
#include "settings/ElFrmPers.h"
#include "settings/ElIni.h"
#include "tests/testsupport/TestFiles.h"
#include "tests/testsupport/WindowPropsBytes.h"
#include "tests/window/MessageSeam.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QSplitter>

#include <filesystem>
#include <memory>

using namespace cantorell;
using namespace cantorell::test;

namespace {

class FormPersistTest : public ::testing::Test {
protected:
    std::unique_ptr<TFormMain> Start() {
        auto form = std::make_unique<TFormMain>(&Seam, nullptr, QString::fromStdString(Dir.Path()));
        form->show();
        QApplication::processEvents();
        return form;
    }

    // Closes the window as the user does, then ends the program's part of it.
    void Stop(std::unique_ptr<TFormMain>& form) {
        form->close();
        QApplication::processEvents();
        form.reset();
    }

    // The options file as the store reads it.
    std::unique_ptr<TElIniFile> ReadOptions() {
        auto store = std::make_unique<TElIniFile>();
        store->SetPath(IniPath());
        EXPECT_TRUE(store->Load());
        return store;
    }

    std::string IniPath() const { return Dir.File("VizErir.ini"); }

    // Without stored values the window takes two thirds of the screen's free area.
    static QSize FirstStartSize() {
        const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
        return QSize(available.width() * 2 / 3, available.height() * 2 / 3);
    }

    static TStrings Names(TElIniFile& store, const std::string& key, bool keys) {
        TStrings names;
        keys ? store.GetKeyNames(key, names) : store.GetValueNames(key, names);
        return names;
    }

    static int32_t Integer(TElIniFile& store, const std::string& key, const std::string& name) {
        int32_t value = -12345;
        EXPECT_TRUE(store.ReadInteger(key, name, -12345, value)) << key << " " << name;
        return value;
    }

    TTempDir Dir;
    TMessageSeam Seam;
};

} // namespace

TEST_F(FormPersistTest, AFirstRunWritesTheOptionsAtTheRootAndTheWindowUnderFormMain) {
    auto form = Start();
    EXPECT_EQ(QDir(QString::fromStdString(Dir.Path())).filePath("VizErir.ini"),
              form->OptionsPath());
    const int treeWidth = form->FolderTree1->Width();
    const int explorerHeight = form->GroupBoxExplorer->Height();
    const QPoint position = form->geometry().topLeft();
    const QSize size = form->size();
    Stop(form);

    const std::string text = ReadBytes(IniPath());
    EXPECT_EQ(0u, text.find(";Automatically generated file. DO NOT MODIFY!!!\r\n"));
    auto store = ReadOptions();
    EXPECT_EQ(
        TStrings({"AutoSave", "DefFont", "DefFontColor", "DefFontSize", "IniName", "IniSection",
                  "LastFile", "MinimizeOnClose", "MinimizeOnEsc", "Name", "ReopenFile",
                  "StorageType", "TabPosition", "Tag", "ToTray", "UseTreeFilter"}),
        Names(*store, "\\", false));
    EXPECT_EQ(2, Integer(*store, "\\", "StorageType"));
    EXPECT_EQ(1, Integer(*store, "\\", "MinimizeOnEsc"));
    std::string font;
    EXPECT_TRUE(store->ReadString("\\", "DefFontColor", "", font));
    EXPECT_EQ("clWindowText", font);

    EXPECT_EQ(TStrings({"FormMain"}), Names(*store, "\\", true));
    EXPECT_EQ(TStrings({"State", "Topmost", "Width", "Height", "Left", "Top"}),
              Names(*store, "\\FormMain", false));
    EXPECT_EQ(0, Integer(*store, "\\FormMain", "State"));
    EXPECT_EQ(size.width(), Integer(*store, "\\FormMain", "Width"));
    EXPECT_EQ(size.height(), Integer(*store, "\\FormMain", "Height"));
    EXPECT_EQ(position.x(), Integer(*store, "\\FormMain", "Left"));
    EXPECT_EQ(position.y(), Integer(*store, "\\FormMain", "Top"));
    EXPECT_EQ(TStrings({"FolderTree1", "GroupBoxExplorer"}), Names(*store, "\\FormMain", true));
    EXPECT_EQ(TStrings({"Width"}), Names(*store, "\\FormMain\\FolderTree1", false));
    EXPECT_EQ(treeWidth, Integer(*store, "\\FormMain\\FolderTree1", "Width"));
    EXPECT_EQ(TStrings({"Height"}), Names(*store, "\\FormMain\\GroupBoxExplorer", false));
    EXPECT_EQ(explorerHeight, Integer(*store, "\\FormMain\\GroupBoxExplorer", "Height"));
    EXPECT_TRUE(Seam.Messages.isEmpty());
}

TEST_F(FormPersistTest, TheWindowsPersistenceComponentListsTheTreeWidthAndTheExplorerHeight) {
    auto form = Start();
    const QByteArray expected = WindowPropsToStore();
    EXPECT_EQ(82, expected.size());
    EXPECT_EQ(expected, form->FormPersist()->PropsToStore());
    EXPECT_EQ(form->Options(), form->FormPersist()->Storage());
    EXPECT_EQ(
        TElFormPersist::SElPersistOptions(TElFormPersist::epoState | TElFormPersist::epoPosition |
                                          TElFormPersist::epoProperties | TElFormPersist::epoSize),
        form->FormPersist()->PersistOptions());
    EXPECT_FALSE(form->FormPersist()->TopMost());
    EXPECT_FALSE(form->FormPersist()->Flipped());
}

TEST_F(FormPersistTest, FiveRestartsGiveTheSameGeometryAndPanes) {
    auto form = Start();
    form->setGeometry(QRect(70, 90, 800, 640));
    QApplication::processEvents();
    form->GroupBoxExplorer->setProperty("Height", 250);
    const QRect geometry = form->geometry();
    Stop(form);
    for (int start = 1; start <= 5; ++start) {
        form = Start();
        EXPECT_EQ(geometry, form->geometry()) << "start " << start;
        EXPECT_EQ(250, form->GroupBoxExplorer->Height()) << "start " << start;
        Stop(form);
    }
}

TEST_F(FormPersistTest, TheLastFolderAndFileOpenAtTheNextStart) {
    TTempDir music;
    CopyStandardMp3(music.File("song.mp3"));
    const QString song = QString::fromStdString(music.File("song.mp3"));
    auto form = Start();
    ASSERT_TRUE(form->OpenPath(song));
    Stop(form);

    form = Start();
    EXPECT_EQ(QString::fromStdString(music.Path()), form->FileListBox->Directory());
    EXPECT_EQ("", form->ShownFile()) << "ReopenFile is off";
    form->ApplicationOptions()->ReopenFile = true;
    Stop(form);

    form = Start();
    EXPECT_EQ(song, form->ShownFile());
    Stop(form);
}

TEST_F(FormPersistTest, AFirstStartTakesTwoThirdsOfTheScreenAndGivesTheExplorerAboutHalf) {
    auto form = Start();
    EXPECT_EQ(FirstStartSize(), form->size());
    const double share = double(form->GroupBoxExplorer->Height()) / form->Splitter2->height();
    EXPECT_NEAR(0.45, share, 0.05);
    Stop(form);
}

TEST_F(FormPersistTest, TheNextStartBringsBackSizePositionAndBothPaneSizes) {
    auto form = Start();
    form->move(50, 60);
    form->resize(720, 700);
    QApplication::processEvents();
    form->FolderTree1->setProperty("Width", 260);
    form->GroupBoxExplorer->setProperty("Height", 210);
    ASSERT_EQ(260, form->FolderTree1->Width());
    ASSERT_EQ(210, form->GroupBoxExplorer->Height());
    Stop(form);

    form = Start();
    EXPECT_EQ(QPoint(50, 60), form->pos());
    EXPECT_EQ(QSize(720, 700), form->size());
    EXPECT_EQ(260, form->FolderTree1->Width());
    EXPECT_EQ(210, form->GroupBoxExplorer->Height());
    EXPECT_FALSE(form->isMaximized());
    Stop(form);
    EXPECT_TRUE(Seam.Messages.isEmpty());
}

TEST_F(FormPersistTest, AWindowClosedMaximisedComesBackMaximisedAndRestoresToItsNormalBounds) {
    auto form = Start();
    form->move(40, 30);
    form->resize(640, 600);
    QApplication::processEvents();
    form->showMaximized();
    QApplication::processEvents();
    ASSERT_TRUE(form->isMaximized());
    Stop(form);

    auto store = ReadOptions();
    EXPECT_EQ(2, Integer(*store, "\\FormMain", "State"));
    EXPECT_EQ(640, Integer(*store, "\\FormMain", "Width"));

    form = Start();
    EXPECT_TRUE(form->isMaximized());
    form->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(QSize(640, 600), form->size());
    EXPECT_EQ(QPoint(40, 30), form->pos());
}

TEST_F(FormPersistTest, AWindowDestroyedWithoutClosingStillSavesItsValues) {
    auto form = Start();
    form->resize(600, 580);
    QApplication::processEvents();
    form.reset();

    auto store = ReadOptions();
    EXPECT_EQ(600, Integer(*store, "\\FormMain", "Width"));
    EXPECT_EQ(580, Integer(*store, "\\FormMain", "Height"));
}

TEST_F(FormPersistTest, AHandEditedFileWithBadValuesStartsNormally) {
    WriteBytes(IniPath(), "garbage line without a separator\r\n"
                          "StorageType=9\r\n"
                          "Name=not a name!\r\n"
                          "MinimizeOnEsc=0\r\n"
                          "DefFontSize=big\r\n"
                          "[FormMain]\r\n"
                          "State=7\r\n"
                          "Width=-640\r\n"
                          "Height=480\r\n"
                          "Left=abc\r\n"
                          "Top=10\r\n"
                          "Topmost=maybe\r\n"
                          "[FormMain\\FolderTree1]\r\n"
                          "Width=-5\r\n"
                          "[FormMain\\GroupBoxExplorer]\r\n"
                          "Height=99999\r\n"
                          "=\r\n[\r\n[]]]\r\n\x01\x02\xff\r\n");
    auto form = Start();
    EXPECT_TRUE(form->isVisible());
    EXPECT_FALSE(form->isMaximized());
    EXPECT_FALSE(form->isMinimized());
    EXPECT_EQ(FirstStartSize(), form->size());
    EXPECT_GT(form->FolderTree1->Width(), 0);
    EXPECT_LT(form->GroupBoxExplorer->Height(), form->height());
    EXPECT_EQ(TElOptions::eosElIni, form->ApplicationOptions()->StorageType());
    EXPECT_TRUE(form->ApplicationOptions()->objectName().isEmpty());
    EXPECT_FALSE(form->ApplicationOptions()->MinimizeOnEsc);
    EXPECT_EQ(10, form->ApplicationOptions()->DefFontSize);
    Stop(form);

    EXPECT_TRUE(Seam.Messages.isEmpty());
    auto store = ReadOptions();
    EXPECT_EQ(2, Integer(*store, "\\", "StorageType"));
    EXPECT_EQ(0, Integer(*store, "\\", "MinimizeOnEsc"));
    EXPECT_EQ(FirstStartSize().width(), Integer(*store, "\\FormMain", "Width"));
}

// Sizes and positions from a hand-edited file, or one carried over from larger screens:
// the window is never larger than the screen, and one wholly off every screen comes back.
struct TStoredBounds {
    const char* Name;
    int Width, Height, Left, Top;
};

class FormPersistBoundsTest : public FormPersistTest,
                              public ::testing::WithParamInterface<TStoredBounds> {};

TEST_P(FormPersistBoundsTest, PutsTheWindowOnTheScreen) {
    const TStoredBounds& stored = GetParam();
    WriteBytes(IniPath(), "[FormMain]\r\nState=0\r\nWidth=" + std::to_string(stored.Width) +
                              "\r\nHeight=" + std::to_string(stored.Height) +
                              "\r\nLeft=" + std::to_string(stored.Left) +
                              "\r\nTop=" + std::to_string(stored.Top) + "\r\n");
    auto form = Start();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE(form->width(), screen.width());
    EXPECT_LE(form->height(), screen.height());
    EXPECT_TRUE(screen.intersects(QRect(form->pos(), form->size())))
        << form->pos().x() << "," << form->pos().y();
    Stop(form);
}

INSTANTIATE_TEST_SUITE_P(Stored, FormPersistBoundsTest,
                         ::testing::Values(TStoredBounds{"Huge", 100000, 100000, 0, 0},
                                           TStoredBounds{"FarRight", 400, 300, 90000, 20},
                                           TStoredBounds{"AboveAndLeft", 400, 300, -5000, -4000},
                                           TStoredBounds{"Extremes", 2147483647, 2147483647,
                                                         2147483647, -2147483647}),
                         [](const auto& test) { return std::string(test.param.Name); });

// An options file that cannot be written at exit is named in a message and kept as it was.
// A FIFO in its place is the hard case: reading it would hang the start and replacing it
// would destroy it, so the window starts with its defaults and says so at exit.
TEST_F(FormPersistTest, AnOptionsFileThatIsNoRegularFileGivesDefaultsAndIsNamedAtExit) {
    ASSERT_EQ(0, ::mkfifo(IniPath().c_str(), 0600));
    auto form = Start();
    form->resize(500, 400);
    Stop(form);

    ASSERT_EQ(1, Seam.Messages.size());
    EXPECT_TRUE(Seam.Messages[0].contains(QString::fromStdString(IniPath())))
        << Seam.Messages[0].toStdString();
    struct stat st {};
    EXPECT_TRUE(::stat(IniPath().c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// A program without a writable "VizErir.ini" of its own (an installed one) keeps the file in
// the user's configuration folder, makes that folder at the first exit, and finds it again.
TEST_F(FormPersistTest, WithoutAPortableFileTheOptionsGoToTheXdgConfigurationFolder) {
    ASSERT_FALSE(QFile::exists(QCoreApplication::applicationDirPath() + "/VizErir.ini"));
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(Dir.File("config")));
    const std::string expected = Dir.File("config/tagcantorell/VizErir.ini");

    auto form = std::make_unique<TFormMain>(&Seam);
    EXPECT_EQ(QString::fromStdString(expected), form->OptionsPath());
    form->show();
    QApplication::processEvents();
    form->resize(720, 700);
    QApplication::processEvents();
    Stop(form);
    EXPECT_TRUE(FileExists(expected));

    form = std::make_unique<TFormMain>(&Seam);
    form->show();
    QApplication::processEvents();
    EXPECT_EQ(QSize(720, 700), form->size());
    Stop(form);
    qputenv("XDG_CONFIG_HOME", saved);
    EXPECT_TRUE(Seam.Messages.isEmpty());
}
