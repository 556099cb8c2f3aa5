// Where the window program keeps its options file and finds its README, on real folders.
#include "app/AppPaths.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QString>

#include <filesystem>
#include <ostream>
#include <unistd.h>

using namespace cantorell;
using namespace cantorell::test;

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

enum TBeside { bsNothing, bsFile, bsFolder };

struct TLocationCase {
    const char* Name;
    TBeside Beside;       // what is called "VizErir.ini" beside the program
    const char* XdgHome;  // "@" stands for the test's absolute configuration folder
    const char* Expected; // "@" as above; "~" the home folder; "=" beside the program
};

void PrintTo(const TLocationCase& c, std::ostream* out) {
    *out << c.Name;
}

class OptionsLocationTest : public ::testing::TestWithParam<TLocationCase> {};

} // namespace

TEST_P(OptionsLocationTest, PicksThePortableFileOrTheXdgConfigurationFolder) {
    const TLocationCase& c = GetParam();
    TTempDir dir;
    const std::string program = dir.File("bin");
    std::filesystem::create_directory(program);
    if (c.Beside == bsFile)
        WriteBytes(program + "/VizErir.ini", "");
    if (c.Beside == bsFolder)
        std::filesystem::create_directory(program + "/VizErir.ini");

    const auto expand = [&](QString text) {
        return text.replace("@", Q(dir.File("config")))
            .replace("~", Q(dir.File("home")))
            .replace("=", Q(program));
    };
    EXPECT_EQ(expand(c.Expected),
              OptionsFileLocation(Q(program), expand(c.XdgHome), Q(dir.File("home"))));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsLocationTest,
    ::testing::Values(
        TLocationCase{"WritableFileBeside", bsFile, "@", "=/VizErir.ini"},
        TLocationCase{"NothingBesideXdgSet", bsNothing, "@", "@/tagcantorell/VizErir.ini"},
        TLocationCase{"NothingBesideXdgUnset", bsNothing, "", "~/.config/tagcantorell/VizErir.ini"},
        TLocationCase{"RelativeXdgIsIgnored", bsNothing, "config",
                      "~/.config/tagcantorell/VizErir.ini"},
        TLocationCase{"AFolderBesideIsNoOptionsFile", bsFolder, "@", "@/tagcantorell/VizErir.ini"}),
    [](const auto& test) { return std::string(test.param.Name); });

// Root may write anywhere, so only an ordinary user sees a read-only file passed over.
TEST(OptionsLocationPermissionTest, AReadOnlyFileBesideTheProgramIsPassedOver) {
    if (geteuid() == 0)
        GTEST_SKIP() << "root can write a read-only file";
    TTempDir dir;
    WriteBytes(dir.File("VizErir.ini"), "");
    std::filesystem::permissions(dir.File("VizErir.ini"), std::filesystem::perms::owner_read);
    EXPECT_EQ(Q(dir.File("config/tagcantorell/VizErir.ini")),
              OptionsFileLocation(Q(dir.Path()), Q(dir.File("config")), Q(dir.Path())));
}

TEST(MakeFolderForTest, MakesEveryMissingFolderPrivateAndFailsBelowAFile) {
    TTempDir dir;
    EXPECT_TRUE(MakeFolderFor(Q(dir.File("a/b/c/VizErir.ini"))));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("a/b/c")));
    EXPECT_EQ(0700u, FileMode(dir.File("a")) & 0777u);
    EXPECT_EQ(0700u, FileMode(dir.File("a/b/c")) & 0777u);
    EXPECT_TRUE(MakeFolderFor(Q(dir.File("a/b/c/VizErir.ini"))));

    WriteBytes(dir.File("plain"), "x");
    EXPECT_FALSE(MakeFolderFor(Q(dir.File("plain/sub/VizErir.ini"))));
}

TEST(ReadmeFileTest, TakesTheReadmeBesideTheProgramElseTheInstalledOne) {
    TTempDir dir;
    const std::string program = dir.File("usr/bin");
    std::filesystem::create_directories(program);
    EXPECT_EQ(Q(dir.File("usr/share/doc/tagcantorell/README.md")), ReadmeFile(Q(program)));
    WriteBytes(program + "/README.md", "# Tag Cantorell\n");
    EXPECT_EQ(Q(program + "/README.md"), ReadmeFile(Q(program)));
}
