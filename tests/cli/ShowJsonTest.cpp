// show --json writes its lines with a writer of its own; they must stay byte for byte what
// QJsonDocument's compact form makes of the same values, which stays the reference here.
#include "app/cli/Cli.h"
#include "tags/DID3v2.h"
#include "tags/ID3v1.h"
#include "tags/MPEGaudio.h"
#include "tests/testsupport/Id3v1Builder.h"
#include "tests/testsupport/Id3v2Builder.h"
#include "tests/testsupport/ImageBytes.h"
#include "tests/testsupport/MpegBuilder.h"
#include "tests/testsupport/TestFiles.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <iterator>
#include <limits>
#include <random>

using namespace cantorell;
using namespace cantorell::cli;
using namespace cantorell::test;

namespace {

std::string QtLine(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

// The line as QJsonObject builds it from the same tag objects.
QJsonObject QtStream(const TMPEGaudio& audio) {
    QJsonObject json;
    json.insert("fileSize", static_cast<qint64>(audio.FileLength()));
    json.insert("version", QString::fromStdString(audio.Version()));
    json.insert("layer", QString::fromStdString(audio.Layer()));
    json.insert("channelMode", QString::fromStdString(audio.ChannelMode()));
    json.insert("vbr", audio.IsVBR());
    json.insert("bitRate", audio.BitRate());
    json.insert("sampleRate", audio.SampleRate());
    json.insert("encoderTag", FromLatin1(audio.EncoderTag()));
    return json;
}

QJsonObject QtId3v1(const TID3v1& tag) {
    QJsonObject json;
    json.insert("exists", tag.Exists());
    json.insert("version", !tag.Exists()                          ? QString()
                           : tag.VersionID() == TID3v1::Version11 ? "1.1"
                                                                  : "1.0");
    json.insert("title", FromLatin1(tag.Title()));
    json.insert("artist", FromLatin1(tag.Artist()));
    json.insert("album", FromLatin1(tag.Album()));
    json.insert("year", FromLatin1(tag.Year()));
    json.insert("comment", FromLatin1(tag.Comment()));
    json.insert("track", tag.Track());
    json.insert("genreId", tag.GenreID());
    json.insert("genre", FromLatin1(tag.Genre()));
    return json;
}

QJsonObject QtId3v2(const TDID3v2& tag) {
    QJsonArray comments, frames, images, unsupported;
    for (int i = 0; i < tag.Frames_Comments.Count(); ++i)
        comments.append(FromUtf8(tag.GetComment(i)));
    for (const std::string& id : tag.FrameIDs())
        frames.append(FromLatin1(id));
    for (int i = 0; i < tag.Frames_Unsupport.Count(); ++i)
        unsupported.append(FromLatin1(tag.Frames_Unsupport.Items(i).FrameID));
    for (const TDID3v2::TPictureInfo& picture : tag.Pictures()) {
        QJsonObject image{{"type", picture.Type},
                          {"typeName", FromUtf8(std::string(PictureTypeName(picture.Type)))},
                          {"mime", FromUtf8(picture.Mime)},
                          {"description", FromUtf8(picture.Description)},
                          {"bytes", static_cast<qint64>(picture.Bytes)}};
        if (picture.Width > 0) {
            image.insert("width", picture.Width);
            image.insert("height", picture.Height);
        }
        images.append(image);
    }
    QJsonObject json{{"exists", tag.Exists},
                     {"version", tag.Exists ? "2." + QString::number(tag.VersionID) : QString()},
                     {"size", tag.TagSize},
                     {"title", FromUtf8(tag.Title)},
                     {"artist", FromUtf8(tag.Artist)},
                     {"album", FromUtf8(tag.Album)},
                     {"track", FromUtf8(tag.Track)},
                     {"year", FromUtf8(tag.Year)},
                     {"genre", FromUtf8(tag.Genre)},
                     {"comment", FromUtf8(tag.GetComment(tag.MainCommentIndex()))},
                     {"lyrics", FromUtf8(tag.GetLyrics(0))},
                     {"comments", comments},
                     {"pictures", static_cast<int>(images.size())},
                     {"images", images},
                     {"unsupported", unsupported},
                     {"frames", frames}};
    return json;
}

// Texts that need escapes, or that QString::fromUtf8 reads other than byte for byte.
const std::string TrickyTexts[] = {
    "",
    "plain text",
    "\"quoted\" and back\\slash /",
    "\b\f\n\r\t",
    std::string("nul\0\x01\x1f\x7f", 7),
    "Gr\xC3\xBC\xC3\x9F"
    "e \xE2\x80\x93 \xE6\x97\xA5 \xF0\x9F\x8E\xB5",
    "\xC2\x85 C1 and \xEF\xBF\xBE \xF4\x8F\xBF\xBF",
    "\xEF\xBB\xBF"
    "leading mark",
    "inner \xEF\xBB\xBF mark",
    "bad \xC0\x80 \xE0\x80 \xED\xA0\x80 \xF5 \xFF",
    "cut short \xE2\x82",
    // How many U+FFFD QString::fromUtf8 makes of each kind of broken sequence, and which
    // byte-order marks it drops.
    "\xEF\xBB\xBF\xEF\xBB\xBF"
    "two marks",
    "\xEF\xBB\xBF",
    "\xEF\xBB",
    "\xEF\xBB\xBF\xFF after a mark",
    "\xC2",
    "\xF0\x9F\x8E",
    "\xF0\x9Fx \xE2\x82\xE2\x82\xAC \xC2\xC2\xA9",
    "\xE0\x80\x80 \xF0\x80\x80\x80 \xC1\xBF \xE0\x9F\xBF",
    "\xED\xBF\xBF \xF4\x90\x80\x80 \xF8\x88\x80\x80\x80 \xFC\x84\x80\x80\x80\x80",
    "\x80\xBF lone continuation bytes \xFE\xFF",
    "\xEF\xB7\x90 \xEF\xBF\xBF \xF4\x8F\xBF\xBF noncharacters",
};

class TrickyTextTest : public ::testing::TestWithParam<std::string> {};

TEST_P(TrickyTextTest, IsWrittenAsQJsonDocumentWritesItInEachForm) {
    const std::string& text = GetParam();
    const QString latin1 = FromLatin1(text);
    const QString utf8 = FromUtf8(text);
    std::string out;
    TJsonWriter json(out);
    json.BeginObject();
    json.Key("a").Latin1(text);
    json.Key("b").Utf8(text);
    json.Key("c").BeginArray();
    json.Latin1(text);
    json.Utf8(text);
    json.EndArray();
    json.EndObject();
    EXPECT_EQ(QtLine({{"a", latin1}, {"b", utf8}, {"c", QJsonArray{latin1, utf8}}}), out);
}

INSTANTIATE_TEST_SUITE_P(Texts, TrickyTextTest, ::testing::ValuesIn(TrickyTexts));

TEST(JsonWriterTest, WritesLoneSurrogatesAndNumbersAsQJsonDocument) {
    const QString lone = QString(QChar(0xD800)) + "x" + QChar(0xDC80) + QChar(0xD83C);
    const int64_t numbers[] = {0, -1, 255, std::numeric_limits<int64_t>::max(),
                               std::numeric_limits<int64_t>::min()};
    std::string out;
    TJsonWriter json(out);
    json.BeginObject();
    json.Key("n").BeginArray();
    for (const int64_t number : numbers)
        json.Number(number);
    json.Bool(true);
    json.Bool(false);
    json.Null();
    json.BeginObject();
    json.EndObject();
    json.EndArray();
    json.Key("s").Utf16(lone.toStdU16String());
    json.EndObject();
    QJsonArray qtNumbers;
    for (const int64_t number : numbers)
        qtNumbers.append(static_cast<qint64>(number));
    for (const QJsonValue& value :
         {QJsonValue(true), QJsonValue(false), QJsonValue(), QJsonValue(QJsonObject())})
        qtNumbers.append(value);
    EXPECT_EQ(QtLine({{"n", qtNumbers}, {"s", lone}}), out);
}

// Byte strings mostly of UTF-8 lead and continuation bytes, where decoders part ways.
TEST(JsonWriterTest, ReadsRandomBytesAsQStringFromUtf8Does) {
    const std::string pieces[] = {"a",    "\n",   "\x80", "\x8F",        "\x90", "\x9F",
                                  "\xA0", "\xBF", "\xC0", "\xC1",        "\xC2", "\xDF",
                                  "\xE0", "\xE1", "\xED", "\xEF",        "\xF0", "\xF3",
                                  "\xF4", "\xF5", "\xFF", "\xEF\xBB\xBF"};
    std::mt19937 random(20261208);
    for (int round = 0; round < 5000; ++round) {
        std::string text;
        for (unsigned count = random() % 12; count > 0; --count) {
            const unsigned pick = random() % (std::size(pieces) + 2);
            text += pick < std::size(pieces) ? pieces[pick]
                                             : std::string(1, static_cast<char>(random()));
        }
        std::string out;
        TJsonWriter json(out);
        json.BeginArray();
        json.Utf8(text);
        json.EndArray();
        const QJsonArray reference{QString::fromUtf8(text.data(), qsizetype(text.size()))};
        ASSERT_EQ(QJsonDocument(reference).toJson(QJsonDocument::Compact).toStdString(), out)
            << "bytes: " << QByteArray::fromStdString(text).toHex(' ').toStdString();
    }
}

std::string Frame(std::string_view id, std::string_view body) {
    return FrameV23(id, body);
}

std::string Audio() {
    return MpegFrames(TMpegHeader{}, 417, 4);
}

std::string Picture(std::string_view mime, uint8_t type, std::string_view description,
                    const std::string& image) {
    return std::string(1, '\3') + std::string(mime) + '\0' + static_cast<char>(type) +
           std::string(description) + '\0' + image;
}

struct TFileCase {
    const char* Name;
    std::string (*Build)();
    // The name as the shell passes it; bytes that are not UTF-8 become U+FFFD in the line.
    const char* FileName;
    std::vector<QString> Errors;
};

void PrintTo(const TFileCase& file, std::ostream* out) {
    *out << file.Name;
}

const TFileCase FileCases[] = {
    {"NoTags", Audio, "plain.mp3", {}},
    {"NoAudio",
     [] { return std::string(3000, 'x'); },
     "tab\there \"q\".mp3",
     {"Can not read data from the file: a\\x01b"}},
    {"BothTagsWithTrickyTexts",
     [] {
         const std::string frames =
             Frame("TIT2", TextBody(1, "\xFF\xFE" + Utf16LE("\"T\\\t\x01"))) +
             Frame("TPE1", TextBody(3, "bad \xC0\x80 \xEF\xBB\xBFok")) +
             Frame("TALB", TextBody(0, "Caf\xE9\x7F")) + Frame("TRCK", TextBody(0, "3/12")) +
             Frame("TYER", TextBody(0, "1999")) + Frame("TCON", TextBody(0, "(17)")) +
             Frame("COMM", DescribedBody(0, "eng", "", "main\r\nsecond")) +
             Frame("COMM", DescribedBody(3, "deu", "d\n", "\xE2\x80\x93")) +
             Frame("USLT", DescribedBody(0, "eng", "", "la\nla")) +
             Frame("XYZ1", std::string("\0\x80", 2));
         TId3v1Record v1{"T\x01\xFFtle", "\"A\"", "B\\", "2001", "C\n", 7, 17};
         return TId3v2Tag{3, 0, frames, 16}.Build() + Audio() + v1.Build();
     },
     "caf\xC3\xA9 \xFF\xFE.mp3",
     {"first \"error\"", "second\ttab"}},
    {"Pictures",
     [] {
         const std::string frames =
             Frame("APIC",
                   Picture("image/png", 3, "front \"c\"", ImageBytes(3, 2, "PNG", 0xFF0000))) +
             Frame("APIC", Picture("image/jpeg", 4, "", "not really an image"));
         return TId3v2Tag{4, 0, frames, 0}.Build() + Audio();
     },
     "\xEF\xBB\xBF"
     "mark.mp3",
     {}},
    {"Version10Record",
     [] {
         return Audio() +
                TId3v1Record{"", "", "", "", "thirty bytes of comment text!", -1, 255}.Build();
     },
     "cut \xE2\x82 \xED\xA0\x80\x01.mp3",
     {}},
};

class ShowJsonLineTest : public ::testing::TestWithParam<TFileCase> {};

TEST_P(ShowJsonLineTest, IsTheLineQJsonDocumentWrites) {
    const TFileCase& file = GetParam();
    TTempDir dir;
    const std::string path = dir.File("song.mp3");
    WriteBytes(path, file.Build());
    TShowSections sections;
    TMPEGaudio& audio = sections.Audio;
    TDID3v2& v2 = sections.Id3v2;
    TID3v1& v1 = sections.Id3v1;
    sections.StreamRead = audio.ReadFromFile(path);
    const bool streamRead = sections.StreamRead;
    ASSERT_TRUE(v2.ReadFromFile(path));
    ASSERT_TRUE(v1.ReadFromFile(path));

    TShowReport report;
    const QStringList errors(file.Errors.begin(), file.Errors.end());
    for (const QString& error : errors)
        report.Errors.push_back(error.toStdString());
    const QString name = ArgumentText(file.FileName);
    std::string line;
    AppendShowJsonLine(cli::NativePath(name), report, sections, line);

    const bool hasAudio = streamRead && HasMpegAudio(audio);
    const QJsonObject reference{{"file", JsonText(name)},
                                {"errors", QJsonArray::fromStringList(errors)},
                                {"stream", hasAudio ? QJsonValue(QtStream(audio)) : QJsonValue()},
                                {"id3v2", QtId3v2(v2)},
                                {"id3v1", QtId3v1(v1)}};
    EXPECT_EQ(QtLine(reference) + '\n', line);
}

INSTANTIATE_TEST_SUITE_P(Files, ShowJsonLineTest, ::testing::ValuesIn(FileCases),
                         [](const auto& test) { return std::string(test.param.Name); });

// A name must lead back to its own file, whatever its bytes.
TEST(ArgumentTextTest, GivesEveryNameBackThroughNativePath) {
    const char* names[] = {"a\xEF\xBB\xBF"
                           "b.mp3",
                           "\xEF\xBB\xBF", "bad\xFF\xC0\x80.mp3", "\xF0\x9F\x8E\xB5 \xED\xA0\x80",
                           "caf\xC3\xA9"};
    for (const char* name : names)
        EXPECT_EQ(std::string(name), cli::NativePath(ArgumentText(name)));
}

} // namespace
