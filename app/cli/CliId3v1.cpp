#include "Cli.h"

#include "platform/FileSystem.h"
#include "tags/ID3v1.h"

namespace cantorell::cli {

namespace {

const char* VersionText(const TID3v1& tag) {
    if (!tag.Exists())
        return "";
    return tag.VersionID() == TID3v1::Version11 ? "1.1" : "1.0";
}

} // namespace

// The keys in the order a JSON object keeps them.
void Id3v1Json(const TID3v1& tag, TJsonWriter& json) {
    json.BeginObject();
    json.Key("album").Latin1(tag.Album());
    json.Key("artist").Latin1(tag.Artist());
    json.Key("comment").Latin1(tag.Comment());
    json.Key("exists").Bool(tag.Exists());
    json.Key("genre").Latin1(tag.Genre());
    json.Key("genreId").Number(tag.GenreID());
    json.Key("title").Latin1(tag.Title());
    json.Key("track").Number(tag.Track());
    json.Key("version").Utf8(VersionText(tag));
    json.Key("year").Latin1(tag.Year());
    json.EndObject();
}

void ShowId3v1(const QString& path, const std::string& native, TShowReport& report) {
    TID3v1 tag;
    if (!tag.ReadFromFile(native))
        report.AddError(MsgCanNotRead + Shown(path));

    if (!report.Plain) {
        TJsonWriter json(report.Json["id3v1"]);
        Id3v1Json(tag, json);
        return;
    }

    if (!tag.Exists()) {
        report.Lines.append(QStringLiteral("ID3v1: Tag Not Found"));
        return;
    }
    report.Lines.append(QStringLiteral("ID3v1: ") + QLatin1String(VersionText(tag)));
    report.Lines.append(QStringLiteral("  Title: ") + Shown(FromLatin1(tag.Title())));
    report.Lines.append(QStringLiteral("  Artist: ") + Shown(FromLatin1(tag.Artist())));
    report.Lines.append(QStringLiteral("  Album: ") + Shown(FromLatin1(tag.Album())));
    report.Lines.append(QStringLiteral("  Year: ") + Shown(FromLatin1(tag.Year())));
    report.Lines.append(QStringLiteral("  Comment: ") + Shown(FromLatin1(tag.Comment())));
    report.Lines.append(QStringLiteral("  Track: ") + QString::number(tag.Track()));
    report.Lines.append(QStringLiteral("  Genre: ") + FromLatin1(tag.Genre()) +
                        QStringLiteral(" (") + QString::number(tag.GenreID()) +
                        QStringLiteral(")"));
}

int CommandSetV1(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Changes the given fields of the ID3v1 tag and saves it. Texts that ISO-8859-1 cannot "
        "hold are stored with '?'."));
    const TSharedFieldOptions shared;
    const QCommandLineOption comment(QStringLiteral("comment"), QStringLiteral("Comment."),
                                     QStringLiteral("C"));
    const QCommandLineOption track(
        QStringLiteral("track"),
        QStringLiteral("Track number as the window reads it: decimal, or hexadecimal after $ or "
                       "0x; a number above 255 keeps its low 8 bits, anything else is none."),
        QStringLiteral("N"));
    const QCommandLineOption genre(QStringLiteral("genre"),
                                   QStringLiteral("Genre name, or number 0 to 255."),
                                   QStringLiteral("NAME-or-NUMBER"));
    parser.addOptions(
        {shared.Title, shared.Artist, shared.Album, shared.Year, comment, track, genre});
    QString path;
    if (const int code = ParseFileCommand(parser, QStringLiteral("set-v1"), arguments, path);
        code >= 0)
        return code;

    const uint8_t trackNumber = parser.isSet(track) ? ParseTrack(parser.value(track)) : 0;
    uint8_t genreId = TID3v1::NoGenre;
    if (parser.isSet(genre) && !ParseGenre(parser.value(genre), genreId)) {
        PrintError(QStringLiteral("set-v1: unknown genre: ") + parser.value(genre));
        return ecUsage;
    }

    TID3v1 tag;
    const auto read = [&tag](const std::string& file) { return tag.ReadFromFile(file); };
    return EditTagFile(
        path, MsgCanNotSaveV1, read, [&](const std::string& file, std::string& note) {
            const std::pair<const QCommandLineOption*, void (TID3v1::*)(std::string_view)> texts[] =
                {{&shared.Title, &TID3v1::SetTitle},
                 {&shared.Artist, &TID3v1::SetArtist},
                 {&shared.Album, &TID3v1::SetAlbum},
                 {&shared.Year, &TID3v1::SetYear},
                 {&comment, &TID3v1::SetComment}};
            for (const auto& [option, setter] : texts) {
                if (parser.isSet(*option))
                    (tag.*setter)(ToLatin1(parser.value(*option)));
            }
            if (parser.isSet(track))
                tag.SetTrack(trackNumber);
            if (parser.isSet(genre))
                tag.SetGenreID(genreId);
            if (tag.SaveToFile(file))
                return true;
            note = TFileSystem::Default().FailureNote();
            return false;
        });
}

int CommandRemoveV1(const QStringList& arguments) {
    return RunRemoveCommand<TID3v1>(arguments, QStringLiteral("remove-v1"),
                                    QStringLiteral("Removes the ID3v1 tag from the file."),
                                    MsgCanNotRemoveV1);
}

} // namespace cantorell::cli
