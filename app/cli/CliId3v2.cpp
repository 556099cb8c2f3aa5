#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/DID3v2.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace cantorell::cli {

namespace {

QString VersionText(const TDID3v2& tag) {
    return tag.Exists ? QStringLiteral("2.") + QString::number(tag.VersionID) : QString();
}

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

QJsonArray ImagesJson(const TDID3v2& tag) {
    QJsonArray images;
    for (const TDID3v2::TPictureInfo& picture : tag.Pictures()) {
        QJsonObject image;
        image.insert(QStringLiteral("type"), picture.Type);
        image.insert(QStringLiteral("typeName"),
                     FromUtf8(std::string(PictureTypeName(picture.Type))));
        image.insert(QStringLiteral("mime"), FromUtf8(picture.Mime));
        image.insert(QStringLiteral("description"), FromUtf8(picture.Description));
        image.insert(QStringLiteral("bytes"), static_cast<qint64>(picture.Bytes));
        if (picture.Width > 0) {
            image.insert(QStringLiteral("width"), picture.Width);
            image.insert(QStringLiteral("height"), picture.Height);
        }
        images.append(image);
    }
    return images;
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

} // namespace

// The window's ID3v2 page and lyrics memo: the six fields, the comment it edits, the first
// lyrics, and what else the tag carries.
void ShowId3v2(const QString& path, TShowReport& report) {
    TDID3v2 tag;
    if (!tag.ReadFromFile(NativePath(path)))
        report.AddError(MsgCanNotRead + Shown(path));
    if (tag.FramesIgnored > 0)
        report.AddError(QStringLiteral("Only the first ") + QString::number(TDID3v2::MaxFrames) +
                        QStringLiteral(" frames of the ID3v2 tag were read; ") +
                        QString::number(tag.FramesIgnored) +
                        QStringLiteral(" more are not shown: ") + Shown(path));

    const QString comment = FromUtf8(tag.GetComment(tag.MainCommentIndex()));
    const QString lyrics = FromUtf8(tag.GetLyrics(0));
    QJsonArray comments;
    for (int i = 0; i < tag.Frames_Comments.Count(); ++i)
        comments.append(FromUtf8(tag.GetComment(i)));
    QJsonArray unsupported;
    QStringList unsupportedIds;
    for (int i = 0; i < tag.Frames_Unsupport.Count(); ++i) {
        const QString id = FromLatin1(tag.Frames_Unsupport.Items(i).FrameID);
        unsupported.append(id);
        unsupportedIds.append(id);
    }

    // Every frame of the tag, in file order: what a save keeps.
    QJsonArray frames;
    for (const std::string& id : tag.FrameIDs())
        frames.append(FromLatin1(id));

    QJsonObject json;
    json.insert(QStringLiteral("exists"), tag.Exists);
    json.insert(QStringLiteral("version"), VersionText(tag));
    json.insert(QStringLiteral("size"), tag.TagSize);
    json.insert(QStringLiteral("title"), FromUtf8(tag.Title));
    json.insert(QStringLiteral("artist"), FromUtf8(tag.Artist));
    json.insert(QStringLiteral("album"), FromUtf8(tag.Album));
    json.insert(QStringLiteral("track"), FromUtf8(tag.Track));
    json.insert(QStringLiteral("year"), FromUtf8(tag.Year));
    json.insert(QStringLiteral("genre"), FromUtf8(tag.Genre));
    json.insert(QStringLiteral("comment"), comment);
    json.insert(QStringLiteral("lyrics"), lyrics);
    json.insert(QStringLiteral("comments"), comments);
    const std::vector<TDID3v2::TPictureInfo> pictures = tag.Pictures();
    json.insert(QStringLiteral("pictures"), static_cast<int>(pictures.size()));
    json.insert(QStringLiteral("images"), ImagesJson(tag));
    json.insert(QStringLiteral("unsupported"), unsupported);
    json.insert(QStringLiteral("frames"), frames);
    report.Json.insert(QStringLiteral("id3v2"), json);

    if (!tag.Exists) {
        report.Lines.append(QStringLiteral("ID3v2: Tag Not Found"));
        return;
    }
    report.Lines.append(QStringLiteral("ID3v2: ") + VersionText(tag) + QStringLiteral(" (") +
                        QString::number(tag.TagSize) + QStringLiteral(" bytes)"));
    report.Lines.append(QStringLiteral("  Title: ") + Shown(FromUtf8(tag.Title)));
    report.Lines.append(QStringLiteral("  Artist: ") + Shown(FromUtf8(tag.Artist)));
    report.Lines.append(QStringLiteral("  Album: ") + Shown(FromUtf8(tag.Album)));
    report.Lines.append(QStringLiteral("  Track: ") + Shown(FromUtf8(tag.Track)));
    report.Lines.append(QStringLiteral("  Year: ") + Shown(FromUtf8(tag.Year)));
    report.Lines.append(QStringLiteral("  Genre: ") + Shown(FromUtf8(tag.Genre)));
    report.Lines.append(QStringLiteral("  Comment: ") + Indented(comment));
    report.Lines.append(QStringLiteral("  Lyrics: ") + Indented(lyrics));
    for (int i = 0; i < tag.Frames_Comments.Count(); ++i) {
        const TFrameItem& item = tag.Frames_Comments.Items(i);
        report.Lines.append(QStringLiteral("  Comment ") + QString::number(i + 1) +
                            QStringLiteral(" [") + Shown(FromUtf8(item.Description)) +
                            QStringLiteral("]: ") + Indented(FromUtf8(item.Data)));
    }
    report.Lines.append(QStringLiteral("  Pictures: ") + QString::number(pictures.size()));
    for (size_t i = 0; i < pictures.size(); ++i)
        report.Lines.append(QStringLiteral("  Picture ") + QString::number(i + 1) +
                            QStringLiteral(": ") + PictureLine(pictures[i]));
    report.Lines.append(QStringLiteral("  Unsupported: ") +
                        Shown(unsupportedIds.join(QLatin1Char(' '))));
}

int CommandSetV2(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes the given fields of the ID3v2 tag and saves it in its own version (2.3 or 2.4; "
        "a 2.2 tag and a new one are written as 2.3). Every frame that is not changed is kept "
        "byte for byte."));
    const TSharedFieldOptions shared;
    const QCommandLineOption track(QStringLiteral("track"), QStringLiteral("Track, e.g. 3/12."),
                                   QStringLiteral("N"));
    const QCommandLineOption genre(QStringLiteral("genre"), QStringLiteral("Genre."),
                                   QStringLiteral("G"));
    const QCommandLineOption comment(QStringLiteral("comment"),
                                     QStringLiteral("The comment that show reports; empty "
                                                    "removes it."),
                                     QStringLiteral("C"));
    const QCommandLineOption lyrics(QStringLiteral("lyrics"),
                                    QStringLiteral("The first lyrics text; empty removes it."),
                                    QStringLiteral("L"));
    const QCommandLineOption lyricsFile(QStringLiteral("lyrics-file"),
                                        QStringLiteral("Takes the lyrics from a UTF-8 text file."),
                                        QStringLiteral("F"));
    const QCommandLineOption bpm(QStringLiteral("bpm"),
                                 QStringLiteral("Beats per minute, 0 to 65535; 0 removes them."),
                                 QStringLiteral("N"));
    const QCommandLineOption picture(
        QStringLiteral("picture"),
        QStringLiteral("Adds the image (JPEG, PNG, GIF, WebP or BMP, at most 16 MB), or "
                       "replaces the picture of the same type."),
        QStringLiteral("FILE"));
    const QCommandLineOption pictureType(
        QStringLiteral("picture-type"),
        QStringLiteral("The picture's type, 0 to 20 (default 3, the front cover; 4 is the back "
                       "cover)."),
        QStringLiteral("N"));
    const QCommandLineOption pictureDescription(QStringLiteral("picture-description"),
                                                QStringLiteral("The picture's description."),
                                                QStringLiteral("D"));
    const QCommandLineOption removePictures(
        QStringLiteral("remove-pictures"),
        QStringLiteral("Removes every picture (before --picture adds one)."));
    parser.addOptions({shared.Title, shared.Artist, shared.Album, track, shared.Year, genre,
                       comment, lyrics, lyricsFile, bpm, picture, pictureType, pictureDescription,
                       removePictures});
    QString path;
    if (const int code = ParseFileCommand(parser, QStringLiteral("set-v2"), arguments, path);
        code >= 0)
        return code;
    if (parser.isSet(lyrics) && parser.isSet(lyricsFile)) {
        PrintError(QStringLiteral("set-v2: give either --lyrics or --lyrics-file"));
        return ecUsage;
    }
    uint16_t bpmValue = 0;
    if (parser.isSet(bpm)) {
        bool ok = false;
        const uint value = parser.value(bpm).toUInt(&ok);
        if (!ok || value > 0xFFFF) {
            PrintError(QStringLiteral("set-v2: --bpm takes a whole number from 0 to 65535"));
            return ecUsage;
        }
        bpmValue = static_cast<uint16_t>(value);
    }
    QString lyricsText = parser.value(lyrics);
    if (parser.isSet(lyricsFile)) {
        std::string bytes;
        if (!ReadInputFile(parser.value(lyricsFile), MaxLyricsFileSize,
                           QStringLiteral("A lyrics file"), bytes))
            return ecFailure;
        lyricsText = FromUtf8(bytes);
    }
    int pictureTypeValue = PictureTypeFrontCover;
    if (parser.isSet(pictureType)) {
        bool ok = false;
        pictureTypeValue = parser.value(pictureType).toInt(&ok);
        if (!ok || pictureTypeValue < 0 || pictureTypeValue >= PictureTypeCount) {
            PrintError(QStringLiteral("set-v2: --picture-type takes a number from 0 to ") +
                       QString::number(PictureTypeCount - 1));
            return ecUsage;
        }
    }
    if ((parser.isSet(pictureType) || parser.isSet(pictureDescription)) && !parser.isSet(picture)) {
        PrintError(QStringLiteral("set-v2: --picture-type and --picture-description go with "
                                  "--picture"));
        return ecUsage;
    }
    // The picture is checked before the file is touched: a file that is no image, or too
    // large to be a cover, is refused with its name.
    std::string image;
    if (parser.isSet(picture)) {
        const QString name = parser.value(picture);
        if (!ReadInputFile(name, MaxPictureFileSize, QStringLiteral("A picture"), image))
            return ecFailure;
        if (SniffImage(image).Mime.empty()) {
            PrintError(QStringLiteral("set-v2: ") + Shown(name) +
                       QStringLiteral(" is no JPEG, PNG, GIF, WebP or BMP image"));
            return ecFailure;
        }
    }

    TDID3v2 tag;
    const std::string file = NativePath(path);
    // The read, the change and the save are one step for every other save of the file.
    // A file that cannot be locked because it cannot be opened is named by the read.
    const auto lock = TFileSystem::Default().LockFile(file);
    if (!lock && !TFileSystem::Default().FailureNote().empty()) {
        PrintError(FailureText(MsgCanNotSaveV2, path));
        return ecFailure;
    }
    if (!tag.ReadFromFile(file)) {
        PrintError(MsgCanNotRead + Shown(path));
        return ecFailure;
    }
    const std::pair<const QCommandLineOption*, std::string*> fields[] = {
        {&shared.Title, &tag.Title}, {&shared.Artist, &tag.Artist}, {&shared.Album, &tag.Album},
        {&track, &tag.Track},        {&shared.Year, &tag.Year},     {&genre, &tag.Genre}};
    for (const auto& [option, field] : fields) {
        if (parser.isSet(*option))
            *field = ToUtf8(parser.value(*option));
    }
    if (parser.isSet(comment))
        tag.SetComment(ToUtf8(parser.value(comment)), tag.MainCommentIndex());
    if (parser.isSet(lyrics) || parser.isSet(lyricsFile))
        tag.SetLyrics(ToUtf8(lyricsText), 0);
    if (parser.isSet(bpm))
        tag.BPM = bpmValue;
    if (parser.isSet(removePictures))
        tag.RemovePictures();
    if (parser.isSet(picture))
        tag.SetPicture(static_cast<uint8_t>(pictureTypeValue),
                       ToUtf8(parser.value(pictureDescription)), image);
    if (!tag.SaveToFile(file)) {
        PrintError(FailureText(MsgCanNotSaveV2, path, tag.FailureNote()));
        return ecFailure;
    }
    return ecOk;
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
    if (!parser.parse(QStringList{QStringLiteral("export-picture")} + arguments)) {
        PrintError(QStringLiteral("export-picture: ") + parser.errorText());
        return ecUsage;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        PrintOut(parser.helpText());
        return ecOk;
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() != 2) {
        PrintError(QStringLiteral("export-picture: FILE and OUT are needed\n\n") +
                   parser.helpText());
        return ecUsage;
    }
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
    int item = tag.MainPicture();
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

int CommandRemoveV2(const QStringList& arguments) {
    return RunRemoveCommand(arguments, QStringLiteral("remove-v2"),
                            QStringLiteral("Removes the ID3v2 tag from the file."),
                            MsgCanNotRemoveV2, [](const std::string& file) {
                                TDID3v2 tag;
                                return tag.RemoveFromFile(file);
                            });
}

} // namespace cantorell::cli
