// The window's command line: `tagcantorell [FILE|FOLDER]` opens the folder and shows the file,
// and the file is still shown once the window has been activated.
#include "app/CommandLine.h"
#include "app/FileListBox.h"
#include "app/main.h"
#include "tests/testsupport/TestFiles.h"
#include "tests/window/MessageSeam.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEvent>
#include <QLabel>
#include <QPlainTextEdit>

using namespace cantorell;
using namespace cantorell::test;

namespace {

class CommandLineTest : public ::testing::Test {
protected:
    // Starts the window as the program does: the command line first, then the window is
    // shown and activated.
    QString Start(const QStringList& paths) {
        const QString problem = OpenCommandLinePaths(Form, paths);
        Form.show();
        QEvent activate(QEvent::WindowActivate);
        QApplication::sendEvent(&Form, &activate);
        return problem;
    }

    QString Path(const std::string& name = {}) const {
        return QString::fromStdString(name.empty() ? Dir.Path() : Dir.File(name));
    }

    TTempDir Dir;
    TTempDir Settings;
    TMessageSeam Seam;
    TFormMain Form{&Seam, nullptr, QString::fromStdString(Settings.Path())};
};

} // namespace

TEST_F(CommandLineTest, AFileOpensItsFolderAndStaysShownAfterTheFirstActivation) {
    CopyStandardMp3(Dir.File("b.mp3"));
    CopyStandardMp3(Dir.File("a.mp3"));
    EXPECT_EQ("", Start({Path("b.mp3"), Path("a.mp3")}));
    EXPECT_EQ(Path(), Form.FileListBox->Directory());
    EXPECT_EQ(Path("b.mp3"), Form.ShownFile());
    EXPECT_EQ("b.mp3", Form.Panel1->text());
    EXPECT_FALSE(Form.MemoInfo->toPlainText().isEmpty());
    EXPECT_TRUE(Seam.Messages.isEmpty());
}

TEST_F(CommandLineTest, AFolderOrARelativePathOpensTheFolder) {
    QDir().mkpath(Path("sub"));
    CopyStandardMp3(Dir.File("sub/c.mp3"));
    EXPECT_EQ("", Start({Path("sub")}));
    EXPECT_EQ(Path("sub"), Form.FileListBox->Directory());
    EXPECT_TRUE(Form.ShownFile().isEmpty());

    const QString saved = QDir::currentPath();
    QDir::setCurrent(Path("sub"));
    EXPECT_EQ("", OpenCommandLinePaths(Form, {"c.mp3"}));
    QDir::setCurrent(saved);
    EXPECT_EQ(Path("sub/c.mp3"), Form.ShownFile());
}

TEST_F(CommandLineTest, AMissingPathIsNamedAndTheWindowStillStarts) {
    const QString problem = Start({Path("gone.mp3")});
    EXPECT_TRUE(problem.contains(Path("gone.mp3"))) << problem.toStdString();
    EXPECT_TRUE(Form.ShownFile().isEmpty());
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ("", OpenCommandLinePaths(Form, {}));
}

// Qt's own options are words after one dash; none of them may pass for --help or -v.
TEST(CommandLineParseTest, QtStyleOptionsAreNotTakenForHelpOrVersion) {
    QCommandLineParser parser;
    DescribeCommandLine(parser);
    parser.parse({"tagcantorell", "-stylesheet", "x.qss", "-reverse", "song.mp3"});
    EXPECT_FALSE(parser.isSet("help"));
    EXPECT_FALSE(parser.isSet("version"));
    parser.parse({"tagcantorell", "-v"});
    EXPECT_TRUE(parser.isSet("version"));
}
