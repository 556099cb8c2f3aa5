#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/DID3v2.h"

#include <cstdio>

namespace cantorell::cli {

namespace {

// A multi-line text in the plain block: later lines are indented under the label, so no
// line of a text can pass for a label line.
QString Indented(const QString& text) {
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace('\r', '\n');
    QStringList shown = lines.split('\n');
    for (QString& line : shown)
        line = Shown(line);
    return shown.join(QStringLiteral("\n    "));
}

// Reads an input file of at most `limit` bytes: a regular file only (a device such as
// /dev/zero would never end, a FIFO never open). `what` names it in the message.
bool ReadInputFile(const QString& name, int64_t limit, const QString& what, std::string& bytes) {
    TFileSystem& fs = TFileSystem::Default();
    auto file = fs.Open(NativePath(name), TOpenMode::omReadOnly);
    int64_t size = 0;
    if (!file || !file->Size(size)) {
        PrintError(MsgCanNotRead + Shown(name));
        return false;
    }
    if (size > limit) {
        PrintError(MsgCanNotRead + Shown(name) + QStringLiteral("\n") + what +
                   QStringLiteral(" is at most ") + QString::number(limit / (1024 * 1024)) +
                   QStringLiteral(" MB."));
        return false;
    }
    bytes.assign(static_cast<size_t>(size), '\0');
    const int64_t got = file->ReadAt(0, bytes.data(), size);
    if (got < 0) {
        PrintError(MsgCanNotRead + Shown(name));
        return false;
    }
    bytes.resize(static_cast<size_t>(got));
    return true;
}

// "Front cover, image/jpeg, 500 x 500, 34512 bytes, "description"".
QString PictureLine(const TDID3v2::TPictureInfo& picture) {
    QString line = FromUtf8(std::string(PictureTypeName(picture.Type))) + QStringLiteral(", ") +
                   Shown(FromUtf8(picture.Mime));
    if (picture.Width > 0)
        line += QStringLiteral(", %1 x %2").arg(picture.Width).arg(picture.Height);
    line += QStringLiteral(", %1 bytes").arg(picture.Bytes);
    if (!picture.Description.empty())
        line += QStringLiteral(", \"") + Shown(FromUtf8(picture.Description)) + '"';
    return line;
}

// set-v2's options in the order its help lists them; an option without a value name is a
// switch.
QList<QCommandLineOption> SetV2Options() {
    const TSharedFieldOptions shared;
    const auto option = [](const char* name, const char* help, const char* value = "") {
        return QCommandLineOption(QString::fromLatin1(name), QString::fromUtf8(help),
                                  QString::fromLatin1(value));
    };
    return {
        shared.Title,
        shared.Artist,
        shared.Album,
        option("track", "Track, e.g. 3/12.", "N"),
        shared.Year,
        option("genre", "Genre.", "G"),
        option("comment", "The comment that show reports; empty removes it.", "C"),
        option("lyrics", "The first lyrics text; empty removes it.", "L"),
        option("lyrics-file", "Takes the lyrics from a UTF-8 text file.", "F"),
        option("bpm", "Beats per minute, 0 to 65535; 0 removes them.", "N"),
        option("picture",
               "Adds the image (JPEG, PNG, GIF, WebP or BMP, at most 16 MB), or replaces the "
               "picture of the same type.",
               "FILE"),
        option("picture-type",
               "The picture's type, 0 to 20 (default 3, the front cover; 4 is the back cover).",
               "N"),
        option("picture-description", "The picture's description.", "D"),
        option("remove-pictures", "Removes every picture (before --picture adds one)."),
    };
}

// The text fields set-v2 sets as given, by the name of their option.
const std::pair<const char*, std::string TDID3v2::*> SetV2Texts[] = {
    {"title", &TDID3v2::Title}, {"artist", &TDID3v2::Artist}, {"album", &TDID3v2::Album},
    {"track", &TDID3v2::Track}, {"year", &TDID3v2::Year},     {"genre", &TDID3v2::Genre}};

// What set-v2 takes from files and numbers, read and checked before the file is touched.
struct TSetV2Values {
    uint16_t Bpm = 0;
    QString Lyrics;
    int PictureType = PictureTypeFrontCover;
    std::string Image;
};

// Each check returns -1 when set-v2 goes on, else the exit code; a failure is printed.
using TSetV2Check = int (*)(const QCommandLineParser& parser, TSetV2Values& values);

int CheckLyrics(const QCommandLineParser& parser, TSetV2Values& /*values*/) {
    if (parser.isSet(QStringLiteral("lyrics")) && parser.isSet(QStringLiteral("lyrics-file"))) {
        PrintError(QStringLiteral("set-v2: give either --lyrics or --lyrics-file"));
        return ecUsage;
    }
    return -1;
}

int CheckBpm(const QCommandLineParser& parser, TSetV2Values& values) {
    if (!parser.isSet(QStringLiteral("bpm")))
        return -1;
    bool ok = false;
    const uint value = parser.value(QStringLiteral("bpm")).toUInt(&ok);
    if (!ok || value > 0xFFFF) {
        PrintError(QStringLiteral("set-v2: --bpm takes a whole number from 0 to 65535"));
        return ecUsage;
    }
    values.Bpm = static_cast<uint16_t>(value);
    return -1;
}

int ReadLyrics(const QCommandLineParser& parser, TSetV2Values& values) {
    values.Lyrics = parser.value(QStringLiteral("lyrics"));
    if (!parser.isSet(QStringLiteral("lyrics-file")))
        return -1;
    std::string bytes;
    if (!ReadInputFile(parser.value(QStringLiteral("lyrics-file")), MaxLyricsFileSize,
                       QStringLiteral("A lyrics file"), bytes))
        return ecFailure;
    values.Lyrics = FromUtf8(bytes);
    return -1;
}

int CheckPictureOptions(const QCommandLineParser& parser, TSetV2Values& values) {
    const QString type = QStringLiteral("picture-type");
    if (parser.isSet(type)) {
        bool ok = false;
        values.PictureType = parser.value(type).toInt(&ok);
        if (!ok || values.PictureType < 0 || values.PictureType >= PictureTypeCount) {
            PrintError(QStringLiteral("set-v2: --picture-type takes a number from 0 to ") +
                       QString::number(PictureTypeCount - 1));
            return ecUsage;
        }
    }
    if ((parser.isSet(type) || parser.isSet(QStringLiteral("picture-description"))) &&
        !parser.isSet(QStringLiteral("picture"))) {
        PrintError(QStringLiteral("set-v2: --picture-type and --picture-description go with "
                                  "--picture"));
        return ecUsage;
    }
    return -1;
}

// A file that is no image, or too large to be a cover, is refused with its name.
int ReadPicture(const QCommandLineParser& parser, TSetV2Values& values) {
    if (!parser.isSet(QStringLiteral("picture")))
        return -1;
    const QString name = parser.value(QStringLiteral("picture"));
    if (!ReadInputFile(name, MaxPictureFileSize, QStringLiteral("A picture"), values.Image))
        return ecFailure;
    if (SniffImage(values.Image).Mime.empty()) {
        PrintError(QStringLiteral("set-v2: ") + Shown(name) +
                   QStringLiteral(" is no JPEG, PNG, GIF, WebP or BMP image"));
        return ecFailure;
    }
    return -1;
}

// The checks in the order their failures are reported.
const TSetV2Check SetV2Checks[] = {CheckLyrics, CheckBpm, ReadLyrics, CheckPictureOptions,
                                   ReadPicture};

void ApplySetV2(const QCommandLineParser& parser, const TSetV2Values& values, TDID3v2& tag) {
    for (const auto& [name, field] : SetV2Texts) {
        if (parser.isSet(QLatin1String(name)))
            tag.*field = ToUtf8(parser.value(QLatin1String(name)));
    }
    if (parser.isSet(QStringLiteral("comment")))
        tag.SetComment(ToUtf8(parser.value(QStringLiteral("comment"))), tag.MainCommentIndex());
    if (parser.isSet(QStringLiteral("lyrics")) || parser.isSet(QStringLiteral("lyrics-file")))
        tag.SetLyrics(ToUtf8(values.Lyrics), 0);
    if (parser.isSet(QStringLiteral("bpm")))
        tag.BPM = values.Bpm;
    if (parser.isSet(QStringLiteral("remove-pictures")))
        tag.RemovePictures();
    if (parser.isSet(QStringLiteral("picture")))
        tag.SetPicture(static_cast<uint8_t>(values.PictureType),
                       ToUtf8(parser.value(QStringLiteral("picture-description"))), values.Image);
}

// The IDs of the frames the tag keeps without knowing them.
QStringList UnsupportedIds(const TDID3v2& tag) {
    QStringList ids;
    for (int i = 0; i < tag.Frames_Unsupport.Count(); ++i)
        ids.append(FromLatin1(tag.Frames_Unsupport.Items(i).FrameID));
    return ids;
}

// The plain block's lines of a tag that exists.
QStringList Id3v2Lines(const TDID3v2& tag) {
    QStringList lines;
    lines.append(QStringLiteral("ID3v2: ") + QString::fromStdString(Id3v2VersionText(tag)) +
                 QStringLiteral(" (") + QString::number(tag.TagSize) + QStringLiteral(" bytes)"));
    lines.append(QStringLiteral("  Title: ") + Shown(FromUtf8(tag.Title)));
    lines.append(QStringLiteral("  Artist: ") + Shown(FromUtf8(tag.Artist)));
    lines.append(QStringLiteral("  Album: ") + Shown(FromUtf8(tag.Album)));
    lines.append(QStringLiteral("  Track: ") + Shown(FromUtf8(tag.Track)));
    lines.append(QStringLiteral("  Year: ") + Shown(FromUtf8(tag.Year)));
    lines.append(QStringLiteral("  Genre: ") + Shown(FromUtf8(tag.Genre)));
    lines.append(QStringLiteral("  Comment: ") +
                 Indented(FromUtf8(tag.GetComment(tag.MainCommentIndex()))));
    lines.append(QStringLiteral("  Lyrics: ") + Indented(FromUtf8(tag.GetLyrics(0))));
    for (int i = 0; i < tag.Frames_Comments.Count(); ++i) {
        const TFrameItem& item = tag.Frames_Comments.Items(i);
        lines.append(QStringLiteral("  Comment ") + QString::number(i + 1) + QStringLiteral(" [") +
                     Shown(FromUtf8(item.Description)) + QStringLiteral("]: ") +
                     Indented(FromUtf8(item.Data)));
    }
    const std::vector<TDID3v2::TPictureInfo> pictures = tag.Pictures();
    lines.append(QStringLiteral("  Pictures: ") + QString::number(pictures.size()));
    for (size_t i = 0; i < pictures.size(); ++i)
        lines.append(QStringLiteral("  Picture ") + QString::number(i + 1) + QStringLiteral(": ") +
                     PictureLine(pictures[i]));
    lines.append(QStringLiteral("  Unsupported: ") +
                 Shown(UnsupportedIds(tag).join(QLatin1Char(' '))));
    return lines;
}

} // namespace

// The window's ID3v2 page and lyrics memo: the six fields, the comment it edits, the first
// lyrics, and what else the tag carries.
void ShowId3v2(const QString& /*path*/, const TShowSections& sections, QStringList& lines) {
    if (sections.Id3v2.Exists)
        lines.append(Id3v2Lines(sections.Id3v2));
    else
        lines.append(QStringLiteral("ID3v2: Tag Not Found"));
}

int CommandSetV2(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes the given fields of the ID3v2 tag and saves it in its own version (2.3 or 2.4; "
        "a 2.2 tag and a new one are written as 2.3). Every frame that is not changed is kept "
        "byte for byte."));
    parser.addOptions(SetV2Options());
    QString path;
    if (const int code = ParseFileCommand(parser, QStringLiteral("set-v2"), arguments, path);
        code >= 0)
        return code;
    TSetV2Values values;
    for (const TSetV2Check check : SetV2Checks) {
        if (const int code = check(parser, values); code >= 0)
            return code;
    }
    TDID3v2 tag;
    const auto read = [&tag](const std::string& file) { return tag.ReadFromFile(file); };
    return EditTagFile(path, MsgCanNotSaveV2, read,
                       [&](const std::string& file, std::string& note) {
                           ApplySetV2(parser, values, tag);
                           if (tag.SaveToFile(file))
                               return true;
                           note = tag.FailureNote();
                           return false;
                       });
}

int CommandExportPicture(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes a picture of the ID3v2 tag to OUT ('-' for standard output), its bytes "
        "unchanged. Without --index: the front cover, else the first picture."));
    parser.addHelpOption();
    const QCommandLineOption index(QStringLiteral("index"),
                                   QStringLiteral("The picture's number as show lists it, from 1."),
                                   QStringLiteral("N"));
    parser.addOption(index);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The MP3 file."));
    parser.addPositionalArgument(QStringLiteral("OUT"), QStringLiteral("The image file to write."));
    QStringList files;
    if (const int code = ParseCommand(parser, QStringLiteral("export-picture"), arguments, 2,
                                      QStringLiteral("FILE and OUT are needed"), files);
        code >= 0)
        return code;
    int number = 0;
    if (parser.isSet(index)) {
        bool ok = false;
        number = parser.value(index).toInt(&ok);
        if (!ok || number < 1) {
            PrintError(QStringLiteral("export-picture: --index takes a number from 1"));
            return ecUsage;
        }
    }
    const QString& path = files[0];
    const QString& out = files[1];
    TDID3v2 tag;
    if (!tag.ReadFromFile(NativePath(path))) {
        PrintError(MsgCanNotRead + Shown(path));
        return ecFailure;
    }
    const std::vector<TDID3v2::TPictureInfo> pictures = tag.Pictures();
    int item = TDID3v2::MainPicture(pictures);
    if (number > 0)
        item = number <= static_cast<int>(pictures.size()) ? pictures[number - 1].Item : -1;
    std::string image;
    if (item < 0 || !tag.PictureData(item, image)) {
        PrintError(QStringLiteral("export-picture: ") + Shown(path) +
                   (number > 0 ? QStringLiteral(" has no picture ") + QString::number(number)
                               : QStringLiteral(" has no picture")));
        return ecFailure;
    }
    if (out == QLatin1String("-")) {
        std::fwrite(image.data(), 1, image.size(), stdout);
        return std::fflush(stdout) == 0 ? ecOk : ecFailure;
    }
    TFileSystem& fs = TFileSystem::Default();
    TReplaceOptions options;
    options.CreateMissing = true;
    if (!fs.ReplaceContent(NativePath(out), image, options)) {
        PrintError(FailureText(QStringLiteral("Cannot create file "), out));
        return ecFailure;
    }
    return ecOk;
}

} // namespace cantorell::cli
