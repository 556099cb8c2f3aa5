// tagcantorell-cli end to end with pictures: show's "images", set-v2's picture options and
// export-picture, on 2.3 and 2.4 tags, read back with TagLib and mutagen.
#include "tests/cli/CliRunner.h"
#include "tests/testsupport/ImageBytes.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QJsonArray>

#include <attachedpictureframe.h>
#include <id3v2tag.h>
#include <mpegfile.h>

#include <sys/stat.h>

using namespace cantorell::test;

namespace {

// Python with mutagen, when installed: the system's interpreter first, as CI has it.
QString MutagenPython() {
    for (const QString& python : {QStringLiteral("/usr/bin/python3"), QStringLiteral("python3")}) {
        QProcess process;
        process.start(python, {QStringLiteral("-c"), QStringLiteral("import mutagen")});
        if (process.waitForFinished(20000) && process.exitStatus() == QProcess::NormalExit &&
            process.exitCode() == 0)
            return python;
    }
    return {};
}

} // namespace

class CliPictureTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        CopyStandardMp3(Path);
        // A tag of the version under test, written by TagLib.
        TagLib::MPEG::File file(Path.c_str());
        file.ID3v2Tag(true)->setTitle("Song");
        ASSERT_TRUE(file.save(TagLib::MPEG::File::ID3v2, TagLib::File::StripOthers,
                              GetParam() == 4 ? TagLib::ID3v2::v4 : TagLib::ID3v2::v3));
        WriteBytes(Front, FrontBytes);
        WriteBytes(Back, BackBytes);
        WriteBytes(Other, OtherBytes);
    }
    QJsonArray Images() {
        const TCliResult shown = RunCli({"show", "--json", Q(Path)});
        EXPECT_EQ(0, shown.ExitCode) << shown.Err.toStdString();
        const QJsonObject v2 = shown.JsonLines().value(0)["id3v2"].toObject();
        EXPECT_EQ(QStringLiteral("2.%1").arg(GetParam()), v2["version"].toString());
        return v2["images"].toArray();
    }
    void Run(const QStringList& arguments, int expected = 0) {
        const TCliResult result = RunCli(arguments);
        ASSERT_EQ(expected, result.ExitCode) << result.Err.toStdString();
    }

    TTempDir Dir;
    std::string Path = Dir.File("song.mp3");
    std::string Front = Dir.File("front.png");
    std::string Back = Dir.File("back.jpg");
    std::string Other = Dir.File("other.bmp");
    const std::string FrontBytes = ImageBytes(64, 48, "PNG", qRgb(200, 10, 10));
    const std::string BackBytes = ImageBytes(40, 30, "JPEG", qRgb(10, 200, 10));
    const std::string OtherBytes = ImageBytes(20, 10, "BMP", qRgb(10, 10, 200));
};

TEST_P(CliPictureTest, AddsReplacesExportsAndRemovesPictures) {
    Run({"set-v2", Q(Path), "--picture", Q(Front)});
    Run({"set-v2", Q(Path), "--picture", Q(Back), "--picture-type", "4", "--picture-description",
         "R\u00fcckseite"});
    QJsonArray images = Images();
    ASSERT_EQ(2, images.size());
    const QJsonObject front = images[0].toObject();
    EXPECT_EQ(3, front["type"].toInt());
    EXPECT_EQ("Front cover", front["typeName"].toString());
    EXPECT_EQ("image/png", front["mime"].toString());
    EXPECT_EQ(static_cast<qint64>(FrontBytes.size()), front["bytes"].toInteger());
    EXPECT_EQ(64, front["width"].toInt());
    EXPECT_EQ(48, front["height"].toInt());
    const QJsonObject back = images[1].toObject();
    EXPECT_EQ("Back cover", back["typeName"].toString());
    EXPECT_EQ("image/jpeg", back["mime"].toString());
    EXPECT_EQ(QStringLiteral("R\u00fcckseite"), back["description"].toString());
    EXPECT_EQ(30, back["height"].toInt());

    // A BMP named like a PNG is still a BMP: the bytes say what it is.
    const std::string disguised = Dir.File("new-front.png");
    WriteBytes(disguised, OtherBytes);
    Run({"set-v2", Q(Path), "--picture", Q(disguised)});
    images = Images();
    ASSERT_EQ(2, images.size());
    EXPECT_EQ("image/bmp", images[0].toObject()["mime"].toString());
    EXPECT_EQ(3, images[0].toObject()["type"].toInt());

    const std::string out = Dir.File("exported.jpg");
    Run({"export-picture", Q(Path), Q(out), "--index", "2"});
    EXPECT_TRUE(BackBytes == ReadBytes(out));
    Run({"export-picture", Q(Path), Q(out)});
    EXPECT_TRUE(OtherBytes == ReadBytes(out));
    const TCliBytesResult stdoutExport = RunCliBytes({"export-picture", Path, "-", "--index", "2"});
    EXPECT_TRUE(BackBytes == stdoutExport.Out);

    Run({"set-v2", Q(Path), "--remove-pictures"});
    EXPECT_TRUE(Images().isEmpty());
    const TCliResult none = RunCli({"export-picture", Q(Path), Q(out)});
    EXPECT_EQ(1, none.ExitCode);
    EXPECT_TRUE(none.Err.contains("has no picture")) << none.Err.toStdString();
}

TEST_P(CliPictureTest, TagLibAndMutagenReadTheAddedPictureByteForByte) {
    Run({"set-v2", Q(Path), "--picture", Q(Back), "--picture-type", "4"});
    {
        TagLib::MPEG::File file(Path.c_str());
        const auto& frames = file.ID3v2Tag()->frameListMap()["APIC"];
        ASSERT_EQ(1u, frames.size());
        auto* picture = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(frames.front());
        ASSERT_NE(nullptr, picture);
        EXPECT_EQ(TagLib::ID3v2::AttachedPictureFrame::BackCover, picture->type());
        EXPECT_EQ("image/jpeg", picture->mimeType().to8Bit());
        EXPECT_TRUE(BackBytes == std::string(picture->picture().data(), picture->picture().size()));
    }
    const QString python = MutagenPython();
    if (python.isEmpty())
        GTEST_SKIP() << "mutagen is not installed";
    QProcess mutagen;
    mutagen.start(python,
                  {"-c",
                   "import sys; from mutagen.id3 import ID3\n"
                   "tag = ID3(sys.argv[1])\n"
                   "for p in tag.getall('APIC'):\n"
                   "    print(tag.version[1], int(p.type), p.mime, p.data == open(sys.argv[2], "
                   "'rb').read())",
                   Q(Path), Q(Back)});
    ASSERT_TRUE(mutagen.waitForFinished(30000));
    EXPECT_EQ(QStringLiteral("%1 4 image/jpeg True\n").arg(GetParam()),
              QString::fromUtf8(mutagen.readAllStandardOutput()))
        << mutagen.readAllStandardError().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Versions, CliPictureTest, ::testing::Values(3, 4),
                         [](const auto& test) { return "V2" + std::to_string(test.param); });

struct TRefusedCase {
    const char* Name;
    // Makes the picture file at the path given.
    void (*Make)(const std::string& path);
    const char* Message;
};

class CliPictureRefusedTest : public ::testing::TestWithParam<TRefusedCase> {};

TEST_P(CliPictureRefusedTest, APictureThatIsNoImageOrTooLargeIsRefusedAndTheFileUntouched) {
    TTempDir dir;
    const std::string path = dir.File("song.mp3");
    CopyStandardMp3(path);
    const std::string before = ReadBytes(path);
    const std::string picture = dir.File("picture.png");
    GetParam().Make(picture);
    const TCliResult result = RunCli({"set-v2", Q(path), "--picture", Q(picture)});
    EXPECT_EQ(1, result.ExitCode);
    EXPECT_TRUE(result.Err.contains(Q(picture))) << result.Err.toStdString();
    EXPECT_TRUE(result.Err.contains(GetParam().Message)) << result.Err.toStdString();
    EXPECT_TRUE(before == ReadBytes(path));
}

INSTANTIATE_TEST_SUITE_P(
    Pictures, CliPictureRefusedTest,
    ::testing::Values(
        TRefusedCase{"Text", [](const std::string& p) { WriteBytes(p, "<svg>no raster</svg>"); },
                     "is no JPEG, PNG, GIF, WebP or BMP image"},
        TRefusedCase{"LargerThan16MB",
                     [](const std::string& p) {
                         WriteBytes(p, std::string("\x89PNG\r\n\x1A\n", 8) +
                                           std::string(16 * 1024 * 1024 + 1 - 8, '\0'));
                     },
                     "at most 16 MB"},
        TRefusedCase{"Fifo", [](const std::string& p) { ASSERT_EQ(0, ::mkfifo(p.c_str(), 0600)); },
                     "Can not read data from the file"},
        TRefusedCase{"Missing", [](const std::string&) {}, "Can not read data from the file"}),
    [](const auto& test) { return std::string(test.param.Name); });
