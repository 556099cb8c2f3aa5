#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/DID3v2.h"

#include <QJsonArray>
#include <QJsonObject>

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

// Reads a UTF-8 lyrics file: a regular file of at most MaxLyricsFileSize bytes (a device
// such as /dev/zero would never end, a FIFO never open).
bool ReadLyricsFile(const QString& name, QString& text) {
    TFileSystem& fs = TFileSystem::Default();
    auto file = fs.Open(NativePath(name), TOpenMode::omReadOnly);
    int64_t size = 0;
    if (!file || !file->Size(size)) {
        PrintError(MsgCanNotRead + Shown(name));
        return false;
    }
    if (size > MaxLyricsFileSize) {
        PrintError(MsgCanNotRead + Shown(name) + QStringLiteral("\nA lyrics file is at most ") +
                   QString::number(MaxLyricsFileSize / (1024 * 1024)) + QStringLiteral(" MB."));
        return false;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    const int64_t got = file->ReadAt(0, bytes.data(), size);
    if (got < 0) {
        PrintError(MsgCanNotRead + Shown(name));
        return false;
    }
    bytes.resize(static_cast<size_t>(got));
    text = FromUtf8(bytes);
    return true;
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
    json.insert(QStringLiteral("pictures"), tag.Frames_Images.Count());
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
    report.Lines.append(QStringLiteral("  Pictures: ") +
                        QString::number(tag.Frames_Images.Count()));
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
    parser.addOptions({shared.Title, shared.Artist, shared.Album, track, shared.Year, genre,
                       comment, lyrics, lyricsFile, bpm});
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
    if (parser.isSet(lyricsFile) && !ReadLyricsFile(parser.value(lyricsFile), lyricsText))
        return ecFailure;

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
    if (!tag.SaveToFile(file)) {
        PrintError(FailureText(MsgCanNotSaveV2, path, tag.FailureNote()));
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
